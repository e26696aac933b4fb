// A CoE object dictionary of typed entries with access rights, and the SDO
// server that answers the master's mailbox requests from it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/device.hpp"
#include "ethercat.h"

namespace ecsim {

// The standard CoE data type indices, as the master's API names them.
enum class DataType : uint16_t {
    Boolean = ECT_BOOLEAN,
    Integer8 = ECT_INTEGER8,
    Integer16 = ECT_INTEGER16,
    Integer32 = ECT_INTEGER32,
    Unsigned8 = ECT_UNSIGNED8,
    Unsigned16 = ECT_UNSIGNED16,
    Unsigned32 = ECT_UNSIGNED32,
    Real32 = ECT_REAL32,
    VisibleString = ECT_VISIBLE_STRING,
    OctetString = ECT_OCTET_STRING,
    Integer64 = ECT_INTEGER64,
    Unsigned64 = ECT_UNSIGNED64,
};

enum class Access : uint8_t { ReadOnly, WriteOnly, ReadWrite };

// SDO abort codes a real slave gives.
namespace abort_code = ecat::sdo::abort_code;

// One subindex. Plain entries keep `value` (little-endian bytes); entries with
// hooks compute reads and react to writes (a motor line object, a reply queue).
struct Entry {
    DataType type = DataType::Unsigned32;
    Access access = Access::ReadWrite;
    std::vector<uint8_t> value;
    // Largest download a string or octet entry takes (0 = the size of `value`).
    size_t maxLength = 0;
    // Returns an abort code or 0. Without a hook a download is stored (numeric
    // entries take any length up to 4 bytes and keep the low bytes).
    // Numeric entries hand the hook the value already cut or zero-extended to the
    // type's width; string and octet entries the bytes as downloaded.
    std::function<uint32_t(std::span<const uint8_t> data)> onDownload;
    // Returns an abort code or 0 and fills `data`. Without a hook `value` is read.
    std::function<uint32_t(std::vector<uint8_t>& data)> onUpload;
};

class ObjectDictionary {
  public:
    void add(uint16_t index, uint8_t subindex, Entry entry);

    // Shorthands for plain entries.
    void addU8(uint16_t index, uint8_t sub, uint8_t v, Access a = Access::ReadWrite);
    void addU16(uint16_t index, uint8_t sub, uint16_t v, Access a = Access::ReadWrite);
    void addU32(uint16_t index, uint8_t sub, uint32_t v, Access a = Access::ReadWrite);
    void addI8(uint16_t index, uint8_t sub, int8_t v, Access a = Access::ReadWrite);
    void addI16(uint16_t index, uint8_t sub, int16_t v, Access a = Access::ReadWrite);
    void addI32(uint16_t index, uint8_t sub, int32_t v, Access a = Access::ReadWrite);
    void addString(uint16_t index, uint8_t sub, std::string_view text, Access a = Access::ReadOnly,
                   size_t maxLength = 0);

    bool has(uint16_t index, uint8_t sub) const;
    bool hasObject(uint16_t index) const;
    Entry* find(uint16_t index, uint8_t sub);

    // SDO semantics: abort code or 0.
    uint32_t upload(uint16_t index, uint8_t sub, std::vector<uint8_t>& out);
    uint32_t download(uint16_t index, uint8_t sub, std::span<const uint8_t> data);
    // Complete access: subindex 0 (as a u8 padded to 16 bits) then every
    // subindex from 1 in order, or from `sub` (0 or 1) as the master asks.
    uint32_t uploadComplete(uint16_t index, uint8_t sub, std::vector<uint8_t>& out);
    uint32_t downloadComplete(uint16_t index, uint8_t sub, std::span<const uint8_t> data);

    // Direct access for the device model (no access-right checks, no hooks).
    int64_t getInt(uint16_t index, uint8_t sub) const;  // sign-extends signed types
    void setInt(uint16_t index, uint8_t sub, int64_t v);
    std::string getString(uint16_t index, uint8_t sub) const;
    void setString(uint16_t index, uint8_t sub, std::string_view text);

  private:
    std::map<std::pair<uint16_t, uint8_t>, Entry> entries_;
};

// One mapped object of a PDO and the PDOs of one direction, as a device model
// describes its process data.
struct PdoEntryDesc {
    uint16_t index = 0;
    uint8_t subindex = 0;
    uint8_t bits = 0;
};
struct PdoDesc {
    uint16_t index = 0;  // 0x1600.. (outputs) or 0x1A00.. (inputs)
    std::vector<PdoEntryDesc> entries;
};

// Adds the standard objects a master reads to size the process data: sync
// manager types 0x1C00 (mailbox out, mailbox in, outputs, inputs), the
// assignments 0x1C12 (outputs) and 0x1C13 (inputs), and one mapping object per
// PDO (sub 0 = count, sub n = index << 16 | subindex << 8 | bits).
void addPdoObjects(ObjectDictionary& od, std::span<const PdoDesc> outputs,
                   std::span<const PdoDesc> inputs);

// Answers CoE mailbox messages (SDO upload/download: expedited, normal,
// segmented, complete access) from a dictionary, and sends emergencies.
class CoeServer {
  public:
    // The most a segmented download may announce: what the slave can keep
    // until its last segment. More is refused at once, out of memory.
    static constexpr size_t kDownloadBuffer = 4096;

    CoeServer(ObjectDictionary& od, uint16_t mailboxOutSize);

    // A complete mailbox message from the master (6-byte mailbox header included).
    // Non-CoE messages get a mailbox error reply.
    void handle(std::span<const uint8_t> message, MailboxOutbox& out);
    void emergency(uint16_t errorCode, uint8_t errorRegister, std::span<const uint8_t, 5> data,
                   MailboxOutbox& out);

  private:
    struct Transfer;        // a segmented transfer in progress
    struct Request;         // the SDO request being answered
    uint8_t nextCounter();  // the slave's own mailbox counter, 1..7
    // One per SDO command the master may send.
    void initiateDownload(const Request& r, MailboxOutbox& out);
    void downloadSegment(const Request& r, MailboxOutbox& out);
    void initiateUpload(const Request& r, MailboxOutbox& out);
    void uploadSegment(const Request& r, MailboxOutbox& out);
    // Whether a segment continues the transfer in progress in its direction with
    // the expected toggle; if not, the transfer is aborted.
    bool continues(const Request& r, bool upload, MailboxOutbox& out);
    void abortTransfer(uint16_t index, uint8_t subindex, uint32_t code, MailboxOutbox& out);
    uint32_t store(bool completeAccess, uint16_t index, uint8_t subindex,
                   std::span<const uint8_t> data);
    ObjectDictionary& od_;
    uint16_t outSize_;
    std::shared_ptr<Transfer> transfer_;
    uint8_t counter_ = 0;
};

}  // namespace ecsim
