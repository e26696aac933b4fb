// CoE SDO upload and download: expedited, normal and segmented transfers, with
// complete access. Every transfer holds the slave's mailbox lock from the flush
// of stale messages to the last reply.
#include <algorithm>
#include <cstring>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "mailbox.hpp"

namespace {

using namespace ecmaster::detail;

// Offsets in an SDO message (after the 6-byte mailbox and 2-byte CoE headers).
constexpr size_t kCommand = kCoeDataOffset;
constexpr size_t kIndex = kCommand + 1;
constexpr size_t kSubindex = kCommand + 3;
constexpr size_t kField = kCommand + 4;        // expedited data, total size or abort code
constexpr size_t kNormalData = kCommand + 8;   // data of a normal initiate
constexpr size_t kSegmentData = kCommand + 1;  // data of a segment
constexpr uint16_t kInitiateLength = 10;       // mailbox length of an initiate message
constexpr uint16_t kSegmentOverhead = 3;       // CoE header + command byte
constexpr size_t kMinSegmentData = 7;
constexpr uint16_t kSmallestMailbox = kMbxHeaderSize + kInitiateLength;

constexpr uint8_t kMbxTypeCoe = 0x03;
constexpr uint16_t kServiceRequest = 2;
constexpr uint16_t kServiceResponse = 3;
constexpr uint8_t kToggle = 0x10;
constexpr uint8_t kAbort = 0x80;

// The reply as the slave sent it; its length field is trusted only as far as
// the read mailbox reaches.
class Reply {
  public:
    Reply(const uint8_t* m, uint16_t readMailboxSize) : m_(m) {
        length_ = std::min<size_t>(ecat::get16(m), readMailboxSize - kMbxHeaderSize);
    }
    bool isCoe() const { return (m_[kMbxTypeOffset] & 0x0F) == kMbxTypeCoe; }
    uint16_t service() const { return ecat::get16(m_ + kCoeHeaderOffset) >> kCoeServiceShift; }
    uint8_t command() const { return m_[kCommand]; }
    uint16_t index() const { return ecat::get16(m_ + kIndex); }
    uint8_t subindex() const { return m_[kSubindex]; }
    uint32_t field() const { return ecat::get32(m_ + kField); }
    size_t length() const { return length_; }
    const uint8_t* at(size_t offset) const { return m_ + offset; }

    bool isAbort() const {
        return isCoe() && (service() == kServiceRequest || service() == kServiceResponse) &&
               command() == kAbort;
    }
    // An SDO response of the given command specifier (bits 5-7).
    bool isResponse(uint8_t specifier) const {
        return isCoe() && service() == kServiceResponse && (command() & 0xE0) == specifier;
    }
    // Bytes a segment carries: the mailbox length less its headers, and a
    // minimal segment says in bits 1-3 how many of its 7 bytes are unused.
    size_t segmentBytes() const {
        if (length_ < kInitiateLength) return 0;
        size_t n = length_ - kSegmentOverhead;
        if (n == kMinSegmentData) n -= (command() >> 1) & 0x07;
        return n;
    }

  private:
    const uint8_t* m_;
    size_t length_;
};

// Clears `mbx` and writes the mailbox and CoE headers of an SDO request and its command.
void startRequest(ec_mbxbuft& mbx, uint16 slave, size_t length, uint8_t command) {
    std::memset(mbx, 0, sizeof mbx);
    ecat::put16(mbx, static_cast<uint16_t>(length));
    mbx[kMbxTypeOffset] = static_cast<uint8_t>(kMbxTypeCoe | (nextMailboxCounter(slave) << 4));
    ecat::put16(mbx + kCoeHeaderOffset, kServiceRequest << kCoeServiceShift);
    mbx[kCommand] = command;
}

void startInitiate(ec_mbxbuft& mbx, uint16 slave, size_t length, uint8_t command, uint16 index,
                   uint8 subindex) {
    startRequest(mbx, slave, length, command);
    ecat::put16(mbx + kIndex, index);
    mbx[kSubindex] = subindex;
}

int exchange(uint16 slave, ec_mbxbuft& request, ec_mbxbuft& reply, int timeout) {
    const int wkc = ec_mbxsend(slave, &request, EC_TIMEOUTTXM);
    if (wkc <= 0) return wkc;
    return ec_mbxreceive(slave, &reply, timeout);
}

// Records why a reply ended the transfer: the slave's abort code, or an
// unexpected message. Returns the transfer's result, 0.
int refuse(uint16 slave, uint16 index, uint8 subindex, const Reply& reply) {
    if (reply.isAbort()) {
        ec_errort e{};
        e.AbortCode = static_cast<int32>(reply.field());
        pushError(slave, EC_ERR_TYPE_SDO_ERROR, index, subindex, e);
    } else {
        ec_packeterror(slave, index, subindex, 1);
    }
    return 0;
}

constexpr uint16_t kPacketUnexpected = 1;
constexpr uint16_t kPacketBufferTooSmall = 3;

// The slave answers SDOs only with mailboxes large enough for an initiate message.
bool hasSdoMailbox(uint16 slave) {
    if (slave < 1 || slave > ec_slavecount || slave >= EC_MAXSLAVE) return false;
    const ec_slavet& s = ec_slave[slave];
    return s.mbx_l >= kSmallestMailbox && s.mbx_l <= EC_MAXMBX && s.mbx_rl >= kSmallestMailbox &&
           s.mbx_rl <= EC_MAXMBX;
}

}  // namespace

int ec_SDOread(uint16 slave, uint16 index, uint8 subindex, boolean CA, int* psize, void* p,
               int timeout) {
    if (psize == nullptr || (p == nullptr && *psize > 0) || !hasSdoMailbox(slave)) return 0;
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(slave));
    const uint16_t readSize = ec_slave[slave].mbx_rl;
    ec_mbxbuft request;
    ec_mbxbuft reply;
    ec_mbxreceive(slave, &reply, 0);  // drop a stale message (its notifications are logged)

    const uint8 sub = CA && subindex > 1 ? 1 : subindex;
    startInitiate(request, slave, kInitiateLength, CA ? ECT_SDO_UP_REQ_CA : ECT_SDO_UP_REQ, index,
                  sub);
    int wkc = exchange(slave, request, reply, timeout);
    if (wkc <= 0) return wkc;
    Reply r(reply, readSize);
    if (!r.isResponse(0x40) || r.index() != index) return refuse(slave, index, subindex, r);

    const size_t capacity = *psize > 0 ? static_cast<size_t>(*psize) : 0;
    auto* out = static_cast<uint8_t*>(p);
    if ((r.command() & 0x02) != 0) {  // expedited; n (bits 2-3) counts unused bytes if s is set
        const size_t size = (r.command() & 0x01) != 0 ? 4 - ((r.command() >> 2) & 0x03) : 4;
        if (size > capacity) {
            ec_packeterror(slave, index, subindex, kPacketBufferTooSmall);
            return 0;
        }
        std::memcpy(out, r.at(kField), size);
        *psize = static_cast<int>(size);
        return wkc;
    }
    const size_t total = r.field();
    if (total > capacity) {
        ec_packeterror(slave, index, subindex, kPacketBufferTooSmall);
        return 0;
    }
    if (r.length() < kInitiateLength) return refuse(slave, index, subindex, r);
    size_t received = std::min(total, r.length() - kInitiateLength);
    if (received > 0) std::memcpy(out, r.at(kNormalData), received);

    uint8_t toggle = 0;
    while (received < total) {
        startRequest(request, slave, kInitiateLength, ECT_SDO_SEG_UP_REQ | toggle);
        wkc = exchange(slave, request, reply, timeout);
        if (wkc <= 0) return wkc;
        Reply seg(reply, readSize);
        if (!seg.isResponse(0x00) || (seg.command() & kToggle) != toggle) {
            return refuse(slave, index, subindex, seg);
        }
        const size_t n = seg.segmentBytes();
        const bool last = (seg.command() & 0x01) != 0;
        // More than announced would run past the caller's buffer; an empty
        // segment that is not the last would keep the transfer going for ever.
        if (received + n > total || (n == 0 && !last)) {
            ec_packeterror(slave, index, subindex, kPacketUnexpected);
            return 0;
        }
        std::memcpy(out + received, seg.at(kSegmentData), n);
        received += n;
        if (last) break;
        toggle ^= kToggle;
    }
    *psize = static_cast<int>(received);
    return wkc;
}

int ec_SDOwrite(uint16 Slave, uint16 Index, uint8 SubIndex, boolean CA, int psize, const void* p,
                int Timeout) {
    if (psize < 0 || (p == nullptr && psize > 0) || !hasSdoMailbox(Slave)) return 0;
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(Slave));
    const uint16_t writeSize = ec_slave[Slave].mbx_l;
    const uint16_t readSize = ec_slave[Slave].mbx_rl;
    const auto* in = static_cast<const uint8_t*>(p);
    const auto size = static_cast<size_t>(psize);
    ec_mbxbuft request;
    ec_mbxbuft reply;
    ec_mbxreceive(Slave, &reply, 0);  // drop a stale message (its notifications are logged)

    const uint8 sub = CA && SubIndex > 1 ? 1 : SubIndex;
    auto initiateAccepted = [&](const Reply& r) {
        return r.isResponse(0x60) && r.index() == Index && r.subindex() == sub;
    };
    if (size >= 1 && size <= 4 && !CA) {  // expedited; n counts the unused bytes
        startInitiate(request, Slave, kInitiateLength,
                      static_cast<uint8_t>(ECT_SDO_DOWN_EXP | ((4 - size) << 2)), Index, sub);
        std::memcpy(request + kField, in, size);
        const int wkc = exchange(Slave, request, reply, Timeout);
        if (wkc <= 0) return wkc;
        Reply r(reply, readSize);
        return initiateAccepted(r) ? wkc : refuse(Slave, Index, SubIndex, r);
    }

    // Normal transfer: as much as fits in the first message, the rest in segments.
    const size_t firstRoom = writeSize - kNormalData;
    const size_t first = std::min(size, firstRoom);
    startInitiate(request, Slave, kInitiateLength + first,
                  CA ? ECT_SDO_DOWN_INIT_CA : ECT_SDO_DOWN_INIT, Index, sub);
    ecat::put32(request + kField, static_cast<uint32_t>(size));
    if (first > 0) std::memcpy(request + kNormalData, in, first);
    int wkc = exchange(Slave, request, reply, Timeout);
    if (wkc <= 0) return wkc;
    if (Reply r(reply, readSize); !initiateAccepted(r)) return refuse(Slave, Index, SubIndex, r);

    const size_t segmentRoom = writeSize - kSegmentData;
    uint8_t toggle = 0;
    for (size_t sent = first; sent < size;) {
        const size_t n = std::min(size - sent, segmentRoom);
        const bool last = sent + n == size;
        uint8_t command = toggle | (last ? 0x01 : 0x00);
        size_t length = kSegmentOverhead + n;
        if (n < kMinSegmentData) {  // a segment always carries 7 bytes; say how many are unused
            command |= static_cast<uint8_t>((kMinSegmentData - n) << 1);
            length = kInitiateLength;
        }
        startRequest(request, Slave, length, command);
        std::memcpy(request + kSegmentData, in + sent, n);
        wkc = exchange(Slave, request, reply, Timeout);
        if (wkc <= 0) return wkc;
        Reply seg(reply, readSize);
        if (!seg.isResponse(0x20) || (seg.command() & kToggle) != toggle) {
            return refuse(Slave, Index, SubIndex, seg);
        }
        sent += n;
        toggle ^= kToggle;
    }
    return wkc;
}
