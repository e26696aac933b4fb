#include "bus/sdo_text.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "bus/bus_stop.hpp"
#include "bus/busy_wait.hpp"
#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/little_endian.hpp"
#include "ethercat.h"
#include "settings/number_text.hpp"

namespace {

constexpr size_t kTextBytes = 1024;

constexpr int kMaxDrainReads = 32;

// Every access holds this lock for its transfer and the error entries it
// leaves, so no two of the scan thread and the GUI thread ever overlap; a drain
// takes it read by read, so that no thread waits for more than one upload of
// another.
std::mutex sdoLock;

// One upload, owned by the access that makes it: a wait for it that was given
// up leaves the access writing here, where nobody reads any more.
struct Upload {
    uint8_t data[kSdoMaxUpload + 1] = {};
    int size = kSdoMaxUpload;
    int wkc = EC_TIMEOUT;
};

// What a read that uploaded nothing formats: zeros of the full size.
const Upload kNothingUploaded;

// Entries on the list before a transfer are not its own: a scan's accesses, an
// access whose wait was given up, emergencies. No window reports them, so they
// are dropped, which also keeps the list from overflowing; charged to the next
// transfer, they would stand in place of its value or its own refusal.
void DropEarlierEntries() {
    while (ec_poperror(nullptr)) {
    }
}

// The library's one-line text of `entry` ("Time:..."). Formatted apart from the
// list: an access whose wait was given up may add to the list at any moment.
std::string ErrorText(const ec_errort& entry) {
    const char* text = ecx_err2string(entry);
    return text != nullptr ? std::string(text) : std::string();
}

// Takes the entries that a transfer with `slave` left off the list and returns
// the text of its failure: its last entry for `slave`, as the refusal comes
// last, after any emergency or mailbox error logged while it waited; empty when
// it left none. Every SDO of the program runs under sdoLock, so only an access
// whose wait was given up, which belongs to a lost slave, can add an entry of
// another slave meanwhile; that one is dropped like the earlier ones.
std::string OwnErrorText(uint16_t slave) {
    std::vector<ec_errort> entries;
    ec_errort entry{};
    while (ec_poperror(&entry)) entries.push_back(entry);
    const auto own = std::find_if(entries.rbegin(), entries.rend(),
                                  [slave](const ec_errort& e) { return e.Slave == slave; });
    return own != entries.rend() ? ErrorText(*own) : std::string();
}

// One SDO transfer with `slave`, `access`, run with sdoLock held: it is charged
// with no entry left before it, and not waited for once the supervision holds
// the slave lost. True when it ran to its end; `error` gets the text of its own
// failure entry, empty when it left none.
bool Transfer(uint16_t slave, std::function<void()> access, std::string* error) {
    DropEarlierEntries();
    const bool done = WaitForDevice(std::move(access), [slave] { return SlaveIsLost(slave); });
    *error = OwnErrorText(slave);
    return done;
}

// SdoReadText with sdoLock held. A slave the supervision holds lost is not
// asked, and one lost while it is asked is not waited for: the read ends as one
// that timed out, with nothing uploaded.
SdoText ReadAsTextLocked(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t dataType) {
    std::shared_ptr<Upload> upload;
    const Upload* shown = &kNothingUploaded;
    if (!SlaveIsLost(slave)) {
        upload = std::make_shared<Upload>();
        const auto read = [upload, slave, index, subindex] {
            upload->wkc = ec_SDOread(slave, index, subindex, FALSE, &upload->size, upload->data,
                                     kSdoTimeoutUs);
        };
        std::string error;
        if (Transfer(slave, read, &error)) shown = upload.get();
        if (shown->wkc <= 0 && !error.empty()) return {false, error, true};
    }
    return {shown->wkc > 0, FormatSdoData(shown->data, shown->size, dataType), false};
}

std::string FormatOctets(const uint8_t* data, int size) {
    std::string text;
    for (int i = 0; i < size && text.size() + 5 < kTextBytes; ++i) {
        text += FormatText<kTextBytes>("0x%2.2x ", static_cast<unsigned>(data[i]));
    }
    return text;
}

}  // namespace

std::string FormatSdoData(const uint8_t* data, int size, uint16_t dataType) {
    switch (dataType) {
        case ECT_BOOLEAN:
            return data[0] != 0 ? "TRUE" : "FALSE";
        case ECT_INTEGER8: {
            const int value = ReadLittleEndian<int8_t>(data);
            return FormatText<kTextBytes>("0x%2.2x %d", static_cast<unsigned>(value), value);
        }
        case ECT_INTEGER16: {
            const int value = ReadLittleEndian<int16_t>(data);
            return FormatText<kTextBytes>("0x%4.4x (%d)", static_cast<unsigned>(value), value);
        }
        case ECT_INTEGER32:
        case ECT_INTEGER24: {
            const int32_t value = ReadLittleEndian<int32_t>(data);
            return FormatText<kTextBytes>("0x%8.8x (%d)", static_cast<unsigned>(value), value);
        }
        case ECT_UNSIGNED8: {
            const unsigned value = data[0];
            return FormatText<kTextBytes>("0x%2.2x %u", value, value);
        }
        case ECT_UNSIGNED16: {
            const unsigned value = ReadLittleEndian<uint16_t>(data);
            return FormatText<kTextBytes>("0x%4.4x %u", value, value);
        }
        case ECT_UNSIGNED32:
        case ECT_UNSIGNED24: {
            const unsigned value = ReadLittleEndian<uint32_t>(data);
            return FormatText<kTextBytes>("0x%8.8x %u", value, value);
        }
        case ECT_REAL32:
            return FormatText<kTextBytes>("%f", static_cast<double>(ReadLittleEndian<float>(data)));
        case ECT_REAL64:
            return FormatText<kTextBytes>("%f", ReadLittleEndian<double>(data));
        case ECT_VISIBLE_STRING:
            return std::string(reinterpret_cast<const char*>(data),
                               strnlen(reinterpret_cast<const char*>(data), kSdoMaxUpload));
        case ECT_OCTET_STRING:
            return FormatOctets(data, size < 0 ? 0 : (size > kSdoMaxUpload ? kSdoMaxUpload : size));
        case ECT_INTEGER64: {
            const long long value = ReadLittleEndian<int64_t>(data);
            return FormatText<kTextBytes>("0x%16.16llx %lld",
                                          static_cast<unsigned long long>(value), value);
        }
        case ECT_UNSIGNED64: {
            const unsigned long long value = ReadLittleEndian<uint64_t>(data);
            return FormatText<kTextBytes>("0x%16.16llx %llu", value, value);
        }
        default:
            if (dataType >= ECT_BIT1 && dataType <= ECT_BIT8)
                return FormatText<kTextBytes>("0x%x", unsigned{data[0]});
            return "Unknown type";
    }
}

SdoText SdoReadText(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t dataType) {
    std::lock_guard lock(sdoLock);
    return ReadAsTextLocked(slave, index, subindex, dataType);
}

std::string SdoReadAsText(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t dataType) {
    return SdoReadText(slave, index, subindex, dataType).text;
}

int QueriedBridgeCount() {
    return std::min(g_bridgeCount.load(), kMaxQueriedBridges);
}

void DrainMotorReplies() {
    const int count = QueriedBridgeCount();
    for (int b = 0; b < count && !BusThreadsStopping(); ++b) {
        BusSleep(20);
        const uint16_t slave = SlaveOfBridge(b);
        for (int m = 1; m <= kMotorsPerBridge; ++m) {
            const auto reply = static_cast<uint16_t>(ObjMotorResponse + m);
            // A read that fails or brings nothing ends the motor's drain: a
            // silent bridge costs one read a motor, not a full queue of them.
            for (int read = 0; read < kMaxDrainReads; ++read) {
                const SdoText text = SdoReadText(slave, reply, 0, kCoeVisibleString);
                if (!text.uploaded || text.text.empty() || text.text.starts_with('N')) break;
                BusSleep(2);
            }
        }
    }
}

std::string SdoShownText(const SdoText& read) {
    if (read.uploaded || read.errorText) return read.text;
    return kSlaveNoAnswerText;
}

std::string SdoWriteBytes(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t size,
                          const void* data) {
    std::lock_guard lock(sdoLock);
    // A slave the supervision holds lost is not asked: the write ends as one
    // that timed out.
    if (SlaveIsLost(slave)) return kSlaveNoAnswerText;
    // The access owns its bytes and its result: a wait for it may be given up.
    const auto* first = static_cast<const uint8_t*>(data);
    auto bytes = std::make_shared<std::vector<uint8_t>>(first, first + (first ? size : 0));
    auto result = std::make_shared<int>(EC_TIMEOUT);
    const auto write = [bytes, result, slave, index, subindex] {
        *result = ec_SDOwrite(slave, index, subindex, FALSE, static_cast<int>(bytes->size()),
                              bytes->data(), kSdoTimeoutUs);
    };
    std::string error;
    const int wkc = Transfer(slave, write, &error) ? *result : EC_TIMEOUT;
    if (wkc > 0) return {};
    return error.empty() ? std::string(kSlaveNoAnswerText) : error;
}

std::string SdoWriteInt32(uint16_t slave, uint16_t index, uint8_t subindex, int32_t value) {
    uint8_t bytes[4];
    PutLittleEndian32(bytes, value);
    return SdoWriteBytes(slave, index, subindex, sizeof bytes, bytes);
}

bool TakeParenthesisedValue(std::string_view reply, std::string* value) {
    constexpr size_t kValueScanChars = 25;
    if (!reply.empty() && reply[0] == 'N') return false;
    const std::string_view head = reply.substr(0, kValueScanChars);
    const size_t open = head.find('(');
    if (open == std::string_view::npos) return false;
    const size_t close = head.find(')', open + 1);
    if (close == std::string_view::npos) return false;
    *value = std::string(head.substr(open + 1, close - open - 1));
    return true;
}

bool ReadParenthesisedNumber(std::string_view reply, int32_t* value) {
    std::string inside;
    return TakeParenthesisedValue(reply, &inside) && ReadLeadingInteger(inside, value);
}

int ReadObjectInt16(uint16_t slave, uint16_t index, int16_t* value) {
    *value = 0;
    int32_t number = 0;
    if (!ReadParenthesisedNumber(SdoReadAsText(slave, index, 0, kCoeInteger16), &number)) {
        return -1;
    }
    *value = static_cast<int16_t>(number);
    return 2;
}
