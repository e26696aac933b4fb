// CoE SDO upload and download: expedited, normal and segmented transfers, with
// complete access. Every transfer holds the slave's mailbox lock from the flush
// of stale messages to the last reply; its timeout bounds the whole transfer.
#include <algorithm>
#include <cstring>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "mailbox.hpp"

namespace {

using namespace ecmaster::detail;
namespace mbx = ecat::mbx;
namespace coe = ecat::coe;
namespace sdo = ecat::sdo;

constexpr uint16_t kSmallestMailbox = mbx::HeaderSize + sdo::InitiateLength;

// The API's names of the request command bytes are the wire's.
static_assert(ECT_SDO_DOWN_INIT == (sdo::CcsInitiateDownload | sdo::SizeIndicated));
static_assert(ECT_SDO_DOWN_EXP == (sdo::CcsInitiateDownload | sdo::Expedited | sdo::SizeIndicated));
static_assert(ECT_SDO_DOWN_INIT_CA == (ECT_SDO_DOWN_INIT | sdo::CompleteAccess));
static_assert(ECT_SDO_UP_REQ == sdo::CcsInitiateUpload);
static_assert(ECT_SDO_UP_REQ_CA == (sdo::CcsInitiateUpload | sdo::CompleteAccess));
static_assert(ECT_SDO_SEG_UP_REQ == sdo::CcsUploadSegment && ECT_SDO_ABORT == sdo::Abort);

// The reply as the slave sent it; its length field is trusted only as far as
// the read mailbox reaches.
class Reply {
  public:
    Reply(const uint8_t* m, uint16_t readMailboxSize)
        : m_(m, readMailboxSize), length_(mbx::contentLength(m_)) {}
    bool isCoe() const { return mbx::parseHeader(m_)->type == mbx::TypeCoe; }
    uint16_t service() const { return coe::service(m_); }
    uint8_t command() const { return m_[sdo::CommandOffset]; }
    uint16_t index() const { return ecat::get16(&m_[sdo::IndexOffset]); }
    uint8_t subindex() const { return m_[sdo::SubindexOffset]; }
    uint32_t field() const { return ecat::get32(&m_[sdo::FieldOffset]); }
    size_t length() const { return length_; }
    const uint8_t* at(size_t offset) const { return &m_[offset]; }

    bool isAbort() const {
        return isCoe() &&
               (service() == coe::ServiceSdoRequest || service() == coe::ServiceSdoResponse) &&
               command() == sdo::Abort;
    }
    // An SDO response of the given command specifier.
    bool isResponse(uint8_t specifier) const {
        return isCoe() && service() == coe::ServiceSdoResponse &&
               (command() & sdo::SpecifierMask) == specifier;
    }
    size_t segmentBytes() const { return sdo::segmentSize(command(), length_); }

  private:
    std::span<const uint8_t> m_;
    size_t length_;
};

// Clears `mbx` and writes the mailbox and CoE headers of an SDO request and its command.
void startRequest(ec_mbxbuft& mbx, uint16 slave, size_t length, uint8_t command) {
    std::memset(mbx, 0, sizeof mbx);
    sdo::putCommand(mbx, static_cast<uint16_t>(length), nextMailboxCounter(slave),
                    coe::ServiceSdoRequest, command);
}

void startInitiate(ec_mbxbuft& mbx, uint16 slave, size_t length, uint8_t command, uint16 index,
                   uint8 subindex) {
    startRequest(mbx, slave, length, command);
    sdo::putAddress(mbx, index, subindex);
}

using Deadline = PollPacer::Clock::time_point;

// One request and its reply within what is left of the transfer's time; none is
// sent once that has run out.
int exchange(uint16 slave, ec_mbxbuft& request, ec_mbxbuft& reply, Deadline deadline) {
    if (PollPacer::Clock::now() >= deadline) return EC_TIMEOUT;
    const int wkc = ec_mbxsend(slave, &request, timeLeftUs(deadline));
    if (wkc <= 0) return wkc;
    return ec_mbxreceive(slave, &reply, timeLeftUs(deadline));
}

// The object an initiate request names: its index and subindex, or with
// complete access the whole object.
struct Target {
    uint16 index;
    uint8 subindex;
    bool completeAccess;
};

enum class Answer {
    Ours,        // the response of the kind asked for, or an abort, for the target
    Earlier,     // an SDO message that answers another request
    Unexpected,  // no SDO message at all
};

// A segment response names no object: before the initiate's answer it can only
// belong to a transfer given up earlier.
Answer classify(const Reply& r, const Target& target, uint8_t specifier) {
    if (!r.isCoe()) return Answer::Unexpected;
    const bool abort = r.isAbort();
    if (!abort && r.service() != coe::ServiceSdoResponse) return Answer::Unexpected;
    const uint8_t kind = abort ? sdo::Abort : r.command() & sdo::SpecifierMask;
    switch (kind) {
        case sdo::ScsUploadSegment:
        case sdo::ScsDownloadSegment:
            return Answer::Earlier;
        case sdo::ScsInitiateUpload:
        case sdo::ScsInitiateDownload:
        case sdo::Abort: {
            const bool same = r.index() == target.index &&
                              (target.completeAccess || r.subindex() == target.subindex);
            return same && (abort || kind == specifier) ? Answer::Ours : Answer::Earlier;
        }
        default:
            return Answer::Unexpected;
    }
}

// Sends an initiate request and receives its answer. A stale reply (the answer
// to a request whose transfer failed, which the slave sent all the same) is
// dropped; a stale reply for the same object cannot be told apart and is taken.
int initiate(uint16 slave, ec_mbxbuft& request, ec_mbxbuft& reply, const Target& target,
             uint8_t specifier, Deadline deadline) {
    const int wkc = ec_mbxsend(slave, &request, timeLeftUs(deadline));
    if (wkc <= 0) return wkc;
    for (;;) {
        const int got = ec_mbxreceive(slave, &reply, timeLeftUs(deadline));
        if (got <= 0) return got;
        if (classify(Reply(reply, ec_slave[slave].mbx_rl), target, specifier) != Answer::Earlier) {
            return got;
        }
        if (PollPacer::Clock::now() >= deadline) return EC_TIMEOUT;
    }
}

// The initiate reply that lets a transfer go on: the response asked for, for the target.
bool initiateAccepted(const Reply& r, const Target& target, uint8_t specifier) {
    return !r.isAbort() && classify(r, target, specifier) == Answer::Ours;
}

// The segment reply that lets a transfer go on: the response asked for, with the toggle sent.
bool segmentAccepted(const Reply& r, uint8_t specifier, uint8_t toggle) {
    return r.isResponse(specifier) && (r.command() & sdo::Toggle) == toggle;
}

constexpr uint16_t kPacketUnexpected = 1;
constexpr uint16_t kPacketBufferTooSmall = 3;

// Records why a reply ended the transfer: the slave's abort code, or an
// unexpected message. Returns the transfer's result, 0.
int refuse(uint16 slave, uint16 index, uint8 subindex, const Reply& reply) {
    if (reply.isAbort()) {
        ec_errort e{};
        e.AbortCode = static_cast<int32>(reply.field());
        pushError(slave, EC_ERR_TYPE_SDO_ERROR, index, subindex, e);
    } else {
        ec_packeterror(slave, index, subindex, kPacketUnexpected);
    }
    return 0;
}

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
    if (psize == nullptr || (p == nullptr && *psize > 0) || slave >= EC_MAXSLAVE) return 0;
    // The record is looked at under the lock: a new configuration clears it
    // only while no transfer holds it.
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(slave));
    if (!hasSdoMailbox(slave)) return 0;
    const Deadline deadline = deadlineIn(timeout);  // for the whole transfer
    const uint16_t readSize = ec_slave[slave].mbx_rl;
    ec_mbxbuft request;
    ec_mbxbuft reply;
    ec_mbxreceive(slave, &reply, 0);  // drop a stale message (its notifications are logged)

    const Target target{index, CA && subindex > 1 ? uint8{1} : subindex, CA != FALSE};
    const uint8_t upload = sdo::CcsInitiateUpload | (CA ? sdo::CompleteAccess : 0);
    startInitiate(request, slave, sdo::InitiateLength, upload, index, target.subindex);
    int wkc = initiate(slave, request, reply, target, sdo::ScsInitiateUpload, deadline);
    if (wkc <= 0) return wkc;
    Reply r(reply, readSize);
    if (!initiateAccepted(r, target, sdo::ScsInitiateUpload)) {
        return refuse(slave, index, subindex, r);
    }

    const size_t capacity = *psize > 0 ? static_cast<size_t>(*psize) : 0;
    auto* out = static_cast<uint8_t*>(p);
    if ((r.command() & sdo::Expedited) != 0) {
        const size_t size = sdo::expeditedSize(r.command());
        if (size > capacity) {
            ec_packeterror(slave, index, subindex, kPacketBufferTooSmall);
            return 0;
        }
        std::memcpy(out, r.at(sdo::FieldOffset), size);
        *psize = static_cast<int>(size);
        return wkc;
    }
    const size_t total = r.field();
    if (total > capacity) {
        ec_packeterror(slave, index, subindex, kPacketBufferTooSmall);
        return 0;
    }
    if (r.length() < sdo::InitiateLength) return refuse(slave, index, subindex, r);
    size_t received = std::min(total, r.length() - sdo::InitiateLength);
    if (received > 0) std::memcpy(out, r.at(sdo::NormalDataOffset), received);

    uint8_t toggle = 0;
    while (received < total) {
        startRequest(request, slave, sdo::InitiateLength, sdo::CcsUploadSegment | toggle);
        wkc = exchange(slave, request, reply, deadline);
        if (wkc <= 0) return wkc;
        Reply seg(reply, readSize);
        if (!segmentAccepted(seg, sdo::ScsUploadSegment, toggle)) {
            return refuse(slave, index, subindex, seg);
        }
        const size_t n = seg.segmentBytes();
        const bool last = (seg.command() & sdo::LastSegment) != 0;
        // More than announced would run past the caller's buffer; an empty
        // segment that is not the last would keep the transfer going for ever.
        if (received + n > total || (n == 0 && !last)) {
            ec_packeterror(slave, index, subindex, kPacketUnexpected);
            return 0;
        }
        std::memcpy(out + received, seg.at(sdo::SegmentDataOffset), n);
        received += n;
        if (last) break;
        toggle ^= sdo::Toggle;
    }
    *psize = static_cast<int>(received);
    return wkc;
}

int ec_SDOwrite(uint16 Slave, uint16 Index, uint8 SubIndex, boolean CA, int psize, const void* p,
                int Timeout) {
    if (psize < 0 || (p == nullptr && psize > 0) || Slave >= EC_MAXSLAVE) return 0;
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(Slave));
    if (!hasSdoMailbox(Slave)) return 0;
    const Deadline deadline = deadlineIn(Timeout);  // for the whole transfer
    const uint16_t writeSize = ec_slave[Slave].mbx_l;
    const uint16_t readSize = ec_slave[Slave].mbx_rl;
    const auto* in = static_cast<const uint8_t*>(p);
    const auto size = static_cast<size_t>(psize);
    ec_mbxbuft request;
    ec_mbxbuft reply;
    ec_mbxreceive(Slave, &reply, 0);  // drop a stale message (its notifications are logged)

    const Target target{Index, CA && SubIndex > 1 ? uint8{1} : SubIndex, CA != FALSE};
    const uint8 sub = target.subindex;
    if (size >= 1 && size <= sdo::ExpeditedData && !CA) {
        startInitiate(request, Slave, sdo::InitiateLength,
                      sdo::CcsInitiateDownload | sdo::expeditedFlags(size), Index, sub);
        std::memcpy(request + sdo::FieldOffset, in, size);
        const int wkc = initiate(Slave, request, reply, target, sdo::ScsInitiateDownload, deadline);
        if (wkc <= 0) return wkc;
        if (Reply r(reply, readSize); !initiateAccepted(r, target, sdo::ScsInitiateDownload)) {
            return refuse(Slave, Index, SubIndex, r);
        }
        return wkc;
    }

    // Normal transfer: as much as fits in the first message, the rest in segments.
    const size_t firstRoom = writeSize - sdo::NormalDataOffset;
    const size_t first = std::min(size, firstRoom);
    const uint8_t download =
        sdo::CcsInitiateDownload | sdo::SizeIndicated | (CA ? sdo::CompleteAccess : 0);
    startInitiate(request, Slave, sdo::InitiateLength + first, download, Index, sub);
    ecat::put32(request + sdo::FieldOffset, static_cast<uint32_t>(size));
    if (first > 0) std::memcpy(request + sdo::NormalDataOffset, in, first);
    int wkc = initiate(Slave, request, reply, target, sdo::ScsInitiateDownload, deadline);
    if (wkc <= 0) return wkc;
    if (Reply r(reply, readSize); !initiateAccepted(r, target, sdo::ScsInitiateDownload)) {
        return refuse(Slave, Index, SubIndex, r);
    }

    const size_t segmentRoom = writeSize - sdo::SegmentDataOffset;
    uint8_t toggle = 0;
    for (size_t sent = first; sent < size;) {
        const size_t n = std::min(size - sent, segmentRoom);
        const bool last = sent + n == size;
        startRequest(request, Slave, sdo::segmentLength(n),
                     sdo::CcsDownloadSegment | toggle | sdo::segmentFlags(n, last));
        std::memcpy(request + sdo::SegmentDataOffset, in + sent, n);
        wkc = exchange(Slave, request, reply, deadline);
        if (wkc <= 0) return wkc;
        Reply seg(reply, readSize);
        if (!segmentAccepted(seg, sdo::ScsDownloadSegment, toggle)) {
            return refuse(Slave, Index, SubIndex, seg);
        }
        sent += n;
        toggle ^= sdo::Toggle;
    }
    return wkc;
}
