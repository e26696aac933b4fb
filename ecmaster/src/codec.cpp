#include "ecmaster/codec.hpp"

#include <algorithm>

namespace ecat {

std::string_view cmdName(Cmd cmd) {
    static constexpr std::string_view names[] = {"NOP",  "APRD", "APWR", "APRW", "FPRD",
                                                 "FPWR", "FPRW", "BRD",  "BWR",  "BRW",
                                                 "LRD",  "LWR",  "LRW",  "ARMW", "FRMW"};
    auto i = static_cast<size_t>(cmd);
    return i < std::size(names) ? names[i] : std::string_view{"?"};
}

namespace sii {
uint8_t headerCrc(std::span<const uint8_t> bytes) {
    uint8_t crc = 0xFF;
    for (size_t i = 0; i < bytes.size() && i < 14; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x07)
                               : static_cast<uint8_t>(crc << 1);
        }
    }
    return crc;
}
}  // namespace sii

namespace al {
std::string_view stateName(uint16_t state) {
    switch (state & StateMask) {
        case 0:
            return "NONE";
        case Init:
            return "INIT";
        case PreOp:
            return "PRE-OP";
        case Boot:
            return "BOOT";
        case SafeOp:
            return "SAFE-OP";
        case Op:
            return "OP";
        default:
            return "INVALID";
    }
}
}  // namespace al

namespace mbx {
bool putHeader(std::span<uint8_t> message, const Header& header) {
    if (message.size() < HeaderSize) return false;
    put16(&message[0], header.length);
    put16(&message[2], header.address);
    message[4] = header.channel;
    message[5] = static_cast<uint8_t>((header.type & 0x0F) | ((header.counter & 0x07) << 4));
    return true;
}

std::optional<Header> parseHeader(std::span<const uint8_t> message) {
    if (message.size() < HeaderSize) return std::nullopt;
    return Header{get16(&message[0]), get16(&message[2]), message[4],
                  static_cast<uint8_t>(message[5] & 0x0F),
                  static_cast<uint8_t>((message[5] >> 4) & 0x07)};
}

size_t contentLength(std::span<const uint8_t> message) {
    const std::optional<Header> header = parseHeader(message);
    return header ? std::min<size_t>(header->length, message.size() - HeaderSize) : 0;
}

std::vector<uint8_t> errorMessage(uint16_t detail, uint8_t counter) {
    std::vector<uint8_t> m(HeaderSize + ErrorLength, 0);
    putHeader(m, Header{ErrorLength, 0, 0, TypeError, counter});
    put16(&m[HeaderSize], ErrorService);
    put16(&m[ErrorDetailOffset], detail);
    return m;
}
}  // namespace mbx

namespace coe {
bool putHeaders(std::span<uint8_t> message, uint16_t length, uint8_t counter, uint16_t service) {
    if (message.size() < DataOffset) return false;
    mbx::putHeader(message, mbx::Header{length, 0, 0, mbx::TypeCoe, counter});
    put16(&message[HeaderOffset], static_cast<uint16_t>(service << ServiceShift));
    return true;
}

uint16_t service(std::span<const uint8_t> message) {
    if (message.size() < DataOffset) return 0;
    return get16(&message[HeaderOffset]) >> ServiceShift;
}
}  // namespace coe

namespace sdo {
size_t expeditedSize(uint8_t command) {
    if ((command & SizeIndicated) == 0) return ExpeditedData;
    return ExpeditedData - ((command >> 2) & 0x03);
}

uint8_t expeditedFlags(size_t size) {
    const size_t unused = ExpeditedData - std::clamp<size_t>(size, 1, ExpeditedData);
    return static_cast<uint8_t>(Expedited | SizeIndicated | (unused << 2));
}

size_t segmentSize(uint8_t command, size_t length) {
    if (length < InitiateLength) return 0;
    const size_t size = length - SegmentOverhead;
    return size == MinSegmentData ? size - ((command >> 1) & 0x07) : size;
}

uint8_t segmentFlags(size_t size, bool last) {
    const size_t unused = size < MinSegmentData ? MinSegmentData - size : 0;
    return static_cast<uint8_t>((last ? LastSegment : 0) | (unused << 1));
}

uint16_t segmentLength(size_t size) {
    return static_cast<uint16_t>(SegmentOverhead + std::max(size, MinSegmentData));
}

bool putCommand(std::span<uint8_t> message, uint16_t length, uint8_t counter, uint16_t service,
                uint8_t command) {
    if (message.size() <= CommandOffset) return false;
    coe::putHeaders(message, length, counter, service);
    message[CommandOffset] = command;
    return true;
}

bool putAddress(std::span<uint8_t> message, uint16_t index, uint8_t subindex) {
    if (message.size() <= SubindexOffset) return false;
    put16(&message[IndexOffset], index);
    message[SubindexOffset] = subindex;
    return true;
}
}  // namespace sdo

ParsedFrame parseFrame(std::span<uint8_t> frame) {
    ParsedFrame out;
    out.error = forEachDatagram(
        frame, [&](size_t pos, size_t) { out.datagrams.emplace_back(&frame[pos]); });
    if (!out.ok()) out.datagrams.clear();
    return out;
}

FrameBuilder::FrameBuilder() {
    std::fill(buf_.begin(), buf_.begin() + 6, 0xFF);
    std::copy(kMasterMac.begin(), kMasterMac.end(), buf_.begin() + 6);
    buf_[12] = static_cast<uint8_t>(kEtherType >> 8);
    buf_[13] = static_cast<uint8_t>(kEtherType & 0xFF);
    size_ = kEthHeaderSize + kEcatHeaderSize;
    put16(&buf_[kEthHeaderSize], static_cast<uint16_t>(kEcatTypeDatagrams << 12));
}

int FrameBuilder::add(Cmd cmd, uint8_t index, uint16_t adp, uint16_t ado, uint16_t length,
                      std::span<const uint8_t> data, uint16_t wkc) {
    // Even an empty datagram needs room for its header and working counter.
    if (length > 0x07FF || size_ + kDatagramHeaderSize + length + kWkcSize > kMaxFrameSize) {
        return -1;
    }
    if (!data.empty() && data.size() != length) return -1;
    if (count_ > 0) {
        // Mark the previous datagram as followed by another.
        uint8_t* prev = &buf_[lastHeader_];
        put16(prev + 6, get16(prev + 6) | 0x8000);
    }
    uint8_t* h = &buf_[size_];
    h[0] = static_cast<uint8_t>(cmd);
    h[1] = index;
    put16(h + 2, adp);
    put16(h + 4, ado);
    put16(h + 6, length);
    put16(h + 8, 0);
    uint8_t* d = h + kDatagramHeaderSize;
    if (data.empty()) {
        std::memset(d, 0, length);
    } else {
        std::memcpy(d, data.data(), length);
    }
    put16(d + length, wkc);
    lastHeader_ = size_;
    const int dataOffset = static_cast<int>(size_ + kDatagramHeaderSize);
    size_ += kDatagramHeaderSize + length + kWkcSize;
    ++count_;
    const auto ecatLength = static_cast<uint16_t>(size_ - kEthHeaderSize - kEcatHeaderSize);
    put16(&buf_[kEthHeaderSize], static_cast<uint16_t>((kEcatTypeDatagrams << 12) | ecatLength));
    return dataOffset;
}

int FrameBuilder::addLogical(Cmd cmd, uint8_t index, uint32_t logicalAddress, uint16_t length,
                             std::span<const uint8_t> data) {
    return add(cmd, index, static_cast<uint16_t>(logicalAddress),
               static_cast<uint16_t>(logicalAddress >> 16), length, data);
}

std::span<const uint8_t> FrameBuilder::finish() {
    if (size_ < kMinFrameSize) {
        std::memset(&buf_[size_], 0, kMinFrameSize - size_);
        return {buf_.data(), kMinFrameSize};
    }
    return {buf_.data(), size_};
}

}  // namespace ecat
