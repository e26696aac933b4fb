// The EtherCAT wire format, shared by the master and the simulated segment:
// frame and datagram building and parsing, register addresses, SII layout,
// AL states and status codes, and the mailbox, CoE and SDO message layouts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ecat {

// ---- little-endian access into byte buffers ----
inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) {
    return static_cast<uint64_t>(get32(p)) | (static_cast<uint64_t>(get32(p + 4)) << 32);
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// ---- sizes ----
inline constexpr uint16_t kEtherType = 0x88A4;
inline constexpr size_t kEthHeaderSize = 14;
inline constexpr size_t kEcatHeaderSize = 2;
inline constexpr size_t kDatagramHeaderSize = 10;
inline constexpr size_t kWkcSize = 2;
inline constexpr size_t kMinFrameSize = 60;    // without FCS; veth does not pad for us
inline constexpr size_t kMaxFrameSize = 1514;  // without FCS
inline constexpr size_t kMaxDatagramData =
    kMaxFrameSize - kEthHeaderSize - kEcatHeaderSize - kDatagramHeaderSize - kWkcSize;
inline constexpr uint16_t kEcatTypeDatagrams = 1;

// The source address the master sends from; every slave sets the locally
// administered bit (0x02) of its first byte on the way through.
inline constexpr std::array<uint8_t, 6> kMasterMac{0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
inline constexpr uint8_t kSlaveMacBit = 0x02;

enum class Cmd : uint8_t {
    NOP = 0,
    APRD = 1,
    APWR = 2,
    APRW = 3,
    FPRD = 4,
    FPWR = 5,
    FPRW = 6,
    BRD = 7,
    BWR = 8,
    BRW = 9,
    LRD = 10,
    LWR = 11,
    LRW = 12,
    ARMW = 13,
    FRMW = 14,
};

std::string_view cmdName(Cmd cmd);
inline bool isAutoIncrement(Cmd c) {
    return c == Cmd::APRD || c == Cmd::APWR || c == Cmd::APRW || c == Cmd::ARMW;
}
inline bool isConfigured(Cmd c) {
    return c == Cmd::FPRD || c == Cmd::FPWR || c == Cmd::FPRW || c == Cmd::FRMW;
}
inline bool isBroadcast(Cmd c) {
    return c == Cmd::BRD || c == Cmd::BWR || c == Cmd::BRW;
}
inline bool isLogical(Cmd c) {
    return c == Cmd::LRD || c == Cmd::LWR || c == Cmd::LRW;
}

// ---- ESC registers ----
namespace reg {
inline constexpr uint16_t Type = 0x0000;
inline constexpr uint16_t Revision = 0x0001;
inline constexpr uint16_t Build = 0x0002;
inline constexpr uint16_t FmmuCount = 0x0004;
inline constexpr uint16_t SmCount = 0x0005;
inline constexpr uint16_t RamSize = 0x0006;
inline constexpr uint16_t PortDescriptor = 0x0007;
inline constexpr uint16_t Features = 0x0008;
inline constexpr uint16_t StationAddress = 0x0010;
inline constexpr uint16_t StationAlias = 0x0012;
inline constexpr uint16_t DlControl = 0x0100;
inline constexpr uint16_t DlPort = 0x0101;
inline constexpr uint16_t DlAlias = 0x0103;
inline constexpr uint16_t DlStatus = 0x0110;
inline constexpr uint16_t AlControl = 0x0120;
inline constexpr uint16_t AlStatus = 0x0130;
inline constexpr uint16_t AlStatusCode = 0x0134;
inline constexpr uint16_t PdiControl = 0x0140;
inline constexpr uint16_t EventMask = 0x0200;
inline constexpr uint16_t RxErrors = 0x0300;
inline constexpr uint16_t WatchdogDivider = 0x0400;
inline constexpr uint16_t WatchdogTimePdi = 0x0410;
inline constexpr uint16_t WatchdogTimePd = 0x0420;
inline constexpr uint16_t EepromConfig = 0x0500;
inline constexpr uint16_t EepromPdiState = 0x0501;
inline constexpr uint16_t EepromControl = 0x0502;
inline constexpr uint16_t EepromAddress = 0x0504;
inline constexpr uint16_t EepromData = 0x0508;
inline constexpr uint16_t Fmmu0 = 0x0600;
inline constexpr uint16_t FmmuSize = 16;
inline constexpr uint16_t Sm0 = 0x0800;
inline constexpr uint16_t SmSize = 8;
inline constexpr uint16_t DcRecvTime0 = 0x0900;
inline constexpr uint16_t DcRecvTime1 = 0x0904;
inline constexpr uint16_t DcRecvTime2 = 0x0908;
inline constexpr uint16_t DcRecvTime3 = 0x090C;
inline constexpr uint16_t DcSystemTime = 0x0910;
inline constexpr uint16_t DcRecvTimeEpu = 0x0918;
inline constexpr uint16_t DcSystemOffset = 0x0920;
inline constexpr uint16_t DcSystemDelay = 0x0928;
inline constexpr uint16_t DcSystemDiff = 0x092C;
inline constexpr uint16_t DcSpeedStart = 0x0930;
inline constexpr uint16_t DcFilterDepth = 0x0934;
inline constexpr uint16_t DcCyclicUnit = 0x0980;
inline constexpr uint16_t DcSyncActivation = 0x0981;
inline constexpr uint16_t DcStartTime = 0x0990;
inline constexpr uint16_t DcSync0Cycle = 0x09A0;
inline constexpr uint16_t DcSync1Cycle = 0x09A4;
inline constexpr uint32_t RegisterSpaceSize = 0x1000;  // process RAM starts here
inline constexpr uint32_t AddressSpaceSize = 0x10000;  // physical addresses are 16-bit
}  // namespace reg

// Sync manager control byte and status bits.
namespace sm {
inline constexpr uint8_t ModeMask = 0x03;
inline constexpr uint8_t ModeBuffered = 0x00;
inline constexpr uint8_t ModeMailbox = 0x02;
inline constexpr uint8_t DirMask = 0x0C;
inline constexpr uint8_t DirEcatReads = 0x00;
inline constexpr uint8_t DirEcatWrites = 0x04;
inline constexpr uint8_t StatusMailboxFull = 0x08;
inline constexpr uint8_t ActivateEnable = 0x01;
inline constexpr uint8_t ActivateRepeat = 0x02;
inline constexpr uint8_t PdiRepeatAck = 0x02;
}  // namespace sm

// EEPROM control/status register 0x0502.
namespace eep {
inline constexpr uint16_t WriteEnable = 0x0001;
inline constexpr uint16_t Read8Bytes = 0x0040;
inline constexpr uint16_t CmdMask = 0x0700;
inline constexpr uint16_t CmdRead = 0x0100;
inline constexpr uint16_t CmdWrite = 0x0200;
inline constexpr uint16_t CmdReload = 0x0400;
inline constexpr uint16_t ErrChecksum = 0x0800;
inline constexpr uint16_t ErrNotLoaded = 0x1000;
inline constexpr uint16_t ErrNack = 0x2000;
inline constexpr uint16_t ErrWriteEnable = 0x4000;
inline constexpr uint16_t ErrMask = 0x7800;
inline constexpr uint16_t Busy = 0x8000;
}  // namespace eep

// ---- SII layout ----
namespace sii {
inline constexpr uint16_t PdiControl = 0x0000;
inline constexpr uint16_t Alias = 0x0004;
inline constexpr uint16_t Checksum = 0x0007;
inline constexpr uint16_t Vendor = 0x0008;
inline constexpr uint16_t Product = 0x000A;
inline constexpr uint16_t Revision = 0x000C;
inline constexpr uint16_t Serial = 0x000E;
inline constexpr uint16_t BootRxMailbox = 0x0014;
inline constexpr uint16_t BootTxMailbox = 0x0016;
inline constexpr uint16_t RxMailboxOffset = 0x0018;
inline constexpr uint16_t RxMailboxSize = 0x0019;
inline constexpr uint16_t TxMailboxOffset = 0x001A;
inline constexpr uint16_t TxMailboxSize = 0x001B;
inline constexpr uint16_t MailboxProtocols = 0x001C;
inline constexpr uint16_t SizeCode = 0x003E;
inline constexpr uint16_t Version = 0x003F;
inline constexpr uint16_t FirstCategory = 0x0040;

inline constexpr uint16_t CatStrings = 10;
inline constexpr uint16_t CatGeneral = 30;
inline constexpr uint16_t CatFmmu = 40;
inline constexpr uint16_t CatSyncManager = 41;
inline constexpr uint16_t CatTxPdo = 50;
inline constexpr uint16_t CatRxPdo = 51;
inline constexpr uint16_t CatEnd = 0xFFFF;

// CRC-8 (poly 0x07, init 0xFF) over the first 14 bytes; stored in word 7's low byte.
uint8_t headerCrc(std::span<const uint8_t> first14Bytes);
}  // namespace sii

// ---- AL states and status codes ----
namespace al {
inline constexpr uint16_t Init = 0x01;
inline constexpr uint16_t PreOp = 0x02;
inline constexpr uint16_t Boot = 0x03;
inline constexpr uint16_t SafeOp = 0x04;
inline constexpr uint16_t Op = 0x08;
inline constexpr uint16_t StateMask = 0x0F;
inline constexpr uint16_t ErrorFlag = 0x10;  // status: error indication; control: acknowledge

inline constexpr uint16_t NoError = 0x0000;
inline constexpr uint16_t UnspecifiedError = 0x0001;
inline constexpr uint16_t InvalidStateChange = 0x0011;
inline constexpr uint16_t UnknownState = 0x0012;
inline constexpr uint16_t BootstrapNotSupported = 0x0013;
inline constexpr uint16_t InvalidMailboxConfigBoot = 0x0015;
inline constexpr uint16_t InvalidMailboxConfig = 0x0016;
inline constexpr uint16_t InvalidSmConfig = 0x0017;
inline constexpr uint16_t SmWatchdog = 0x001B;
inline constexpr uint16_t InvalidOutputConfig = 0x001D;
inline constexpr uint16_t InvalidInputConfig = 0x001E;

std::string_view stateName(uint16_t state);
}  // namespace al

// ---- mailbox messages (ETG.1000.4, mailbox header) ----
namespace mbx {
// Every message starts with a 6-byte header: length (u16, the bytes after the
// header), address (u16), channel (bits 0-5) and priority (bits 6-7) in one
// byte, then type (bits 0-3) and counter (bits 4-6) in the last.
inline constexpr size_t HeaderSize = 6;
inline constexpr uint8_t TypeError = 0x00;
inline constexpr uint8_t TypeCoe = 0x03;

// A type-0 message: service 1 and the error detail, 4 bytes after the header.
inline constexpr uint16_t ErrorService = 0x0001;
inline constexpr uint16_t ErrorLength = 4;
inline constexpr size_t ErrorDetailOffset = HeaderSize + 2;
// The error details, as the master's error texts and the simulated slaves use them.
inline constexpr uint16_t ErrNone = 0;
inline constexpr uint16_t ErrSyntax = 1;
inline constexpr uint16_t ErrUnsupportedProtocol = 2;
inline constexpr uint16_t ErrInvalidChannel = 3;
inline constexpr uint16_t ErrServiceNotSupported = 4;
inline constexpr uint16_t ErrInvalidHeader = 5;
inline constexpr uint16_t ErrSizeTooShort = 6;
inline constexpr uint16_t ErrNoMoreMemory = 7;
inline constexpr uint16_t ErrInvalidSize = 8;

struct Header {
    uint16_t length = 0;
    uint16_t address = 0;
    uint8_t channel = 0;  // channel and priority, as one byte
    uint8_t type = 0;
    uint8_t counter = 0;  // 1..7; 0 from a sender that does not count
};

// Writes `header` into the front of `message`; false (nothing written) when
// `message` is shorter than a header.
bool putHeader(std::span<uint8_t> message, const Header& header);
// The header at the front of `message`; nullopt when it is shorter than one.
std::optional<Header> parseHeader(std::span<const uint8_t> message);
// The bytes after the header that belong to the message: its length field,
// trusted only as far as `message` reaches.
size_t contentLength(std::span<const uint8_t> message);
// A sender's counter cycles 1..7, never 0.
inline uint8_t nextCounter(uint8_t counter) {
    return static_cast<uint8_t>(counter % 7 + 1);
}
// A complete mailbox error message carrying `detail`.
std::vector<uint8_t> errorMessage(uint16_t detail, uint8_t counter);
}  // namespace mbx

// ---- CoE (ETG.1000.6 5.6) ----
namespace coe {
// The 2-byte CoE header follows the mailbox header: number (bits 0-8) and
// service (bits 12-15). Offsets count from the start of the whole message.
inline constexpr size_t HeaderSize = 2;
inline constexpr size_t HeaderOffset = mbx::HeaderSize;
inline constexpr size_t DataOffset = HeaderOffset + HeaderSize;
inline constexpr uint16_t ServiceShift = 12;
inline constexpr uint16_t ServiceEmergency = 1;
inline constexpr uint16_t ServiceSdoRequest = 2;
inline constexpr uint16_t ServiceSdoResponse = 3;

// An emergency: error code (u16), error register (u8) and 5 bytes of data.
inline constexpr uint16_t EmergencyLength = HeaderSize + 8;
inline constexpr size_t EmergencyCodeOffset = DataOffset;
inline constexpr size_t EmergencyRegisterOffset = DataOffset + 2;
inline constexpr size_t EmergencyDataOffset = DataOffset + 3;

// Writes the mailbox header (type CoE, `length` bytes after it) and the CoE
// header of `service`; false (nothing written) when `message` is too short.
bool putHeaders(std::span<uint8_t> message, uint16_t length, uint8_t counter, uint16_t service);
// The service of a CoE message; 0 when `message` is too short for the CoE header.
uint16_t service(std::span<const uint8_t> message);
}  // namespace coe

// ---- SDO transfers (ETG.1000.6 5.6.2) ----
namespace sdo {
// Offsets in the whole message: the command byte follows the CoE header; an
// initiate (or abort) then carries index, subindex and a 4-byte field (the
// expedited data, the total size or the abort code), a segment its data.
inline constexpr size_t CommandOffset = coe::DataOffset;
inline constexpr size_t IndexOffset = CommandOffset + 1;
inline constexpr size_t SubindexOffset = CommandOffset + 3;
inline constexpr size_t FieldOffset = CommandOffset + 4;
inline constexpr size_t NormalDataOffset = CommandOffset + 8;  // after the total size
inline constexpr size_t SegmentDataOffset = CommandOffset + 1;

// Mailbox lengths: an initiate message without data, and what a segment adds
// to its data. A segment carries at least 7 bytes, an expedited initiate 4.
inline constexpr uint16_t InitiateLength = coe::HeaderSize + 8;
inline constexpr uint16_t SegmentOverhead = coe::HeaderSize + 1;
inline constexpr size_t MinSegmentData = InitiateLength - SegmentOverhead;
inline constexpr size_t ExpeditedData = 4;

// The command specifier, bits 5-7 of the command byte, of requests and of responses.
inline constexpr uint8_t SpecifierMask = 0xE0;
inline constexpr uint8_t CcsDownloadSegment = 0x00;
inline constexpr uint8_t CcsInitiateDownload = 0x20;
inline constexpr uint8_t CcsInitiateUpload = 0x40;
inline constexpr uint8_t CcsUploadSegment = 0x60;
inline constexpr uint8_t ScsUploadSegment = 0x00;
inline constexpr uint8_t ScsDownloadSegment = 0x20;
inline constexpr uint8_t ScsInitiateUpload = 0x40;
inline constexpr uint8_t ScsInitiateDownload = 0x60;
inline constexpr uint8_t Abort = 0x80;

// Initiate flags.
inline constexpr uint8_t SizeIndicated = 0x01;
inline constexpr uint8_t Expedited = 0x02;
inline constexpr uint8_t CompleteAccess = 0x10;
// Segment flags.
inline constexpr uint8_t Toggle = 0x10;
inline constexpr uint8_t LastSegment = 0x01;

// The data bytes of an expedited initiate: 4 less the unused count (bits 2-3)
// when the size is indicated, else 4.
size_t expeditedSize(uint8_t command);
// The flags of an expedited initiate of `size` bytes (1..4; more counts as 4),
// to be combined with its specifier.
uint8_t expeditedFlags(size_t size);
// The data bytes of a segment whose message has mailbox length `length`: a
// minimal segment says in bits 1-3 how many of its 7 bytes are unused. 0 when
// `length` is shorter than a minimal segment.
size_t segmentSize(uint8_t command, size_t length);
// The flags (toggle aside) and the mailbox length of a segment carrying `size`
// bytes; one shorter than 7 bytes is padded and says how many are unused.
uint8_t segmentFlags(size_t size, bool last);
uint16_t segmentLength(size_t size);

// Writes the mailbox and CoE headers (type CoE, `length` bytes after the
// mailbox header, `service`) and the command byte; false (nothing written)
// when `message` is too short for them.
bool putCommand(std::span<uint8_t> message, uint16_t length, uint8_t counter, uint16_t service,
                uint8_t command);
// Writes the index and subindex of an initiate or abort; false (nothing
// written) when `message` is too short for them.
bool putAddress(std::span<uint8_t> message, uint16_t index, uint8_t subindex);

// Abort codes (ETG.1000.6 table 41): what a slave sends and the master names.
namespace abort_code {
inline constexpr uint32_t None = 0;
inline constexpr uint32_t ToggleBit = 0x05030000;
inline constexpr uint32_t ProtocolTimeout = 0x05040000;
inline constexpr uint32_t CommandSpecifier = 0x05040001;
inline constexpr uint32_t OutOfMemory = 0x05040005;
inline constexpr uint32_t UnsupportedAccess = 0x06010000;
inline constexpr uint32_t WriteOnly = 0x06010001;
inline constexpr uint32_t ReadOnly = 0x06010002;
inline constexpr uint32_t SubindexNotWritable = 0x06010003;
inline constexpr uint32_t CompleteAccess = 0x06010004;
inline constexpr uint32_t ExceedsMailbox = 0x06010005;
inline constexpr uint32_t MappedToRxPdo = 0x06010006;
inline constexpr uint32_t ObjectMissing = 0x06020000;
inline constexpr uint32_t NotMappable = 0x06040041;
inline constexpr uint32_t MappingTooLong = 0x06040042;
inline constexpr uint32_t ParameterIncompatible = 0x06040043;
inline constexpr uint32_t DeviceIncompatible = 0x06040047;
inline constexpr uint32_t HardwareError = 0x06060000;
inline constexpr uint32_t LengthMismatch = 0x06070010;
inline constexpr uint32_t LengthTooHigh = 0x06070012;
inline constexpr uint32_t LengthTooLow = 0x06070013;
inline constexpr uint32_t SubindexMissing = 0x06090011;
inline constexpr uint32_t ValueRange = 0x06090030;
inline constexpr uint32_t ValueTooHigh = 0x06090031;
inline constexpr uint32_t ValueTooLow = 0x06090032;
inline constexpr uint32_t MaximumBelowMinimum = 0x06090036;
inline constexpr uint32_t GeneralError = 0x08000000;
inline constexpr uint32_t CannotStore = 0x08000020;
inline constexpr uint32_t LocalControl = 0x08000021;
inline constexpr uint32_t DeviceState = 0x08000022;
inline constexpr uint32_t NoObjectDictionary = 0x08000023;
}  // namespace abort_code
}  // namespace sdo

// ---- datagrams ----

// One datagram inside a frame buffer. `base` points at its 10-byte header; the
// accessors read and write the frame in place (slaves modify frames as they pass).
class Datagram {
  public:
    explicit Datagram(uint8_t* base) : base_(base) {}

    Cmd cmd() const { return static_cast<Cmd>(base_[0]); }
    uint8_t index() const { return base_[1]; }
    uint16_t adp() const { return get16(base_ + 2); }
    uint16_t ado() const { return get16(base_ + 4); }
    uint32_t logicalAddress() const { return get32(base_ + 2); }
    uint16_t length() const { return get16(base_ + 6) & 0x07FF; }
    bool circulating() const { return (get16(base_ + 6) & 0x4000) != 0; }
    bool more() const { return (get16(base_ + 6) & 0x8000) != 0; }
    uint16_t irq() const { return get16(base_ + 8); }
    uint8_t* data() const { return base_ + kDatagramHeaderSize; }
    std::span<uint8_t> payload() const { return {data(), length()}; }
    uint16_t wkc() const { return get16(data() + length()); }
    size_t totalSize() const { return kDatagramHeaderSize + length() + kWkcSize; }

    void setAdp(uint16_t v) { put16(base_ + 2, v); }
    void setWkc(uint16_t v) { put16(data() + length(), v); }
    void addWkc(uint16_t v) { setWkc(static_cast<uint16_t>(wkc() + v)); }
    void setCirculating(bool on) {
        uint16_t f = get16(base_ + 6);
        put16(base_ + 6, on ? (f | 0x4000) : (f & ~0x4000));
    }
    void orIrq(uint16_t bits) { put16(base_ + 8, irq() | bits); }

  private:
    uint8_t* base_;
};

// A frame parsed in place. On failure `error` says why and `datagrams` is empty.
struct ParsedFrame {
    std::vector<Datagram> datagrams;
    std::string_view error;  // empty when the frame is good
    bool ok() const { return error.empty(); }
};

// Walks the datagrams of an Ethernet frame carrying EtherCAT datagrams without
// allocating: calls f(offset of a datagram's header, its size with data and
// wkc) for each in turn. Never reads past `frame`; the EtherCAT length field,
// not the frame size, delimits the content. Returns why the frame is malformed
// (`f` has then seen the datagrams before the bad part), empty when it is good.
template <class F>
std::string_view forEachDatagram(std::span<const uint8_t> frame, F&& f) {
    if (frame.size() < kEthHeaderSize + kEcatHeaderSize) {
        return "frame shorter than the Ethernet and EtherCAT headers";
    }
    if (((frame[12] << 8) | frame[13]) != kEtherType) return "not an EtherCAT frame";
    const uint16_t header = get16(&frame[kEthHeaderSize]);
    if ((header >> 12) != kEcatTypeDatagrams) return "EtherCAT type is not datagrams";
    const size_t start = kEthHeaderSize + kEcatHeaderSize;
    const size_t end = start + (header & 0x07FF);
    if (end > frame.size()) return "EtherCAT length runs past the frame";
    for (size_t pos = start;;) {
        if (end - pos < kDatagramHeaderSize + kWkcSize) {
            return "datagram header runs past the EtherCAT length";
        }
        const uint16_t flags = get16(&frame[pos + 6]);
        const size_t total = kDatagramHeaderSize + (flags & 0x07FF) + kWkcSize;
        if (end - pos < total) return "datagram data runs past the EtherCAT length";
        f(pos, total);
        pos += total;
        if ((flags & 0x8000) == 0) return {};
    }
}

// Parses an Ethernet frame carrying EtherCAT datagrams, as forEachDatagram walks it.
ParsedFrame parseFrame(std::span<uint8_t> frame);

// Builds one frame of datagrams. The builder owns its buffer; finish() pads to
// the Ethernet minimum and returns the bytes to send.
class FrameBuilder {
  public:
    FrameBuilder();

    // Appends a datagram; returns the offset of its data in the frame, or -1 when
    // it does not fit. `data` may be empty (the payload is zeroed) or `length` bytes.
    int add(Cmd cmd, uint8_t index, uint16_t adp, uint16_t ado, uint16_t length,
            std::span<const uint8_t> data = {}, uint16_t wkc = 0);
    int addLogical(Cmd cmd, uint8_t index, uint32_t logicalAddress, uint16_t length,
                   std::span<const uint8_t> data = {});

    size_t datagramCount() const { return count_; }
    std::span<const uint8_t> finish();
    std::span<uint8_t> bytes() { return {buf_.data(), size_}; }

  private:
    // Written as datagrams are added and padded by finish(); never read beyond
    // that, so not cleared up front (a frame is built for every round trip).
    std::array<uint8_t, kMaxFrameSize> buf_;
    size_t size_ = 0;
    size_t count_ = 0;
    size_t lastHeader_ = 0;
};

}  // namespace ecat
