// Mailbox exchange with one slave: full-length writes of the write mailbox
// (SM0) and reads of the read mailbox (SM1) against a real deadline, the repeat
// request after a lost read, and emergencies and mailbox errors logged to the
// error list while the wait goes on.
//
// A sync manager in mailbox mode refuses (working counter 0) a write while its
// mailbox is full and a read while it is empty, and neither has any effect
// then. So a write goes out without a look at SM0's status first, and every
// poll of the read mailbox reads SM1's status and, right behind it in the same
// frame, the whole mailbox: a message that waits comes back with that frame.
#include "mailbox.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "datagrams.hpp"
#include "ecmaster/codec.hpp"

namespace ecmaster::detail {

std::recursive_mutex& mailboxLock(uint16_t slave) {
    static std::array<std::recursive_mutex, EC_MAXSLAVE> locks;
    return locks[slave < EC_MAXSLAVE ? slave : 0];
}

uint8_t nextMailboxCounter(uint16_t slave) {
    ec_slavet& s = ec_slave[slave];
    s.mbx_cnt = ecat::mbx::nextCounter(s.mbx_cnt);
    return s.mbx_cnt;
}

namespace {

// What a slave's read mailbox last gave (held under the slave's mailbox lock).
struct ReadMailbox {
    uint8_t lastCounter = 0;  // of the last message read; 0 when it did not count
    // A repeat was asked for after a lost frame that may have read nothing: the
    // next message may be the last one again.
    bool repeatInDoubt = false;
};

std::array<ReadMailbox, EC_MAXSLAVE> readMailboxes;

ReadMailbox& readMailbox(uint16_t slave) {
    return readMailboxes[slave < EC_MAXSLAVE ? slave : 0];
}

}  // namespace

void mailboxStateClear(uint16_t slave) {
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(slave));
    readMailbox(slave) = {};
}

void PollPacer::pause() {
    // An answer often comes within a round trip or two: poll at once first,
    // then wait 5, 10, 20, 40 ... us between polls, up to the ceiling.
    constexpr unsigned kImmediatePolls = 3;
    ++polls_;
    if (polls_ <= kImmediatePolls) return;
    const unsigned shift = std::min(polls_ - kImmediatePolls - 1, 16u);
    const auto step = std::chrono::microseconds(std::min(ceilingUs_, 5u << shift));
    std::this_thread::sleep_until(std::min(Clock::now() + step, deadline_));
}

}  // namespace ecmaster::detail

namespace {

using namespace ecmaster::detail;

namespace mbx = ecat::mbx;
namespace coe = ecat::coe;

// The API's names of the mailbox types and CoE services are the wire's.
static_assert(ECT_MBXT_ERR == mbx::TypeError && ECT_MBXT_COE == mbx::TypeCoe);
static_assert(ECT_COES_EMERGENCY == coe::ServiceEmergency &&
              ECT_COES_SDOREQ == coe::ServiceSdoRequest &&
              ECT_COES_SDORES == coe::ServiceSdoResponse);

bool validSlave(uint16 slave) {
    return slave >= 1 && slave <= ec_slavecount && slave < EC_MAXSLAVE;
}

// One write's wait for its frame: what is left of the deadline, yet never less
// than a frame's usual round trip nor more than three of them.
int attemptTimeout(const PollPacer& pacer) {
    return std::clamp(timeLeftUs(pacer.deadline()), EC_TIMEOUTRET, EC_TIMEOUTRET3);
}

// Asks the slave to put its last message into the read mailbox again (the read
// that fetched it never came back) and waits for its acknowledge.
bool requestRepeat(const ec_slavet& s, uint8 activate, PollPacer& pacer) {
    const uint8 flipped = activate ^ ecat::sm::ActivateRepeat;
    // A lost write is simply written again: the same value twice toggles nothing.
    for (;;) {
        uint8 write = flipped;
        if (ec_FPWR(s.configadr, ECT_REG_SM1ACT, 1, &write, EC_TIMEOUTRET) > 0) break;
        if (pacer.expired()) return false;
        pacer.pause();
    }
    for (;;) {
        uint8 pdi = 0;
        const int wkc = ec_FPRD(s.configadr, ECT_REG_SM1CONTR, 1, &pdi, EC_TIMEOUTRET);
        if (wkc > 0 && (pdi & ecat::sm::PdiRepeatAck) == (flipped & ecat::sm::ActivateRepeat)) {
            return true;
        }
        if (pacer.expired()) return false;
        pacer.pause();
    }
}

// SM1's status and activate bytes, as a poll reads them.
int readSm1Status(const ec_slavet& s, uint8 (&status)[2]) {
    return ec_FPRD(s.configadr, ECT_REG_SM1STAT, 2, status, EC_TIMEOUTRET);
}

// One poll of the read mailbox: SM1's status and activate bytes, and a read of
// the mailbox that fills `mbx` (mbx_rl bytes) only when it took a message.
struct Poll {
    int statusWkc = EC_NOFRAME;
    uint8 status[2] = {0, 0};
    int readWkc = EC_NOFRAME;
    bool oneFrame = false;  // the status and the read shared a frame
    bool full() const { return statusWkc > 0 && (status[0] & ecat::sm::StatusMailboxFull) != 0; }
    // A read of the mailbox area counts as a message only while SM1 guards it.
    // A slave that was power-cycled comes back with its sync managers cleared:
    // until they are configured again, the area is plain memory that any read
    // takes, zeros that would look like a mailbox error message.
    bool tookMessage() const {
        return readWkc > 0 && statusWkc > 0 && (status[1] & ecat::sm::ActivateEnable) != 0;
    }
    // The frame with the read was lost: it may have taken a message all the same.
    bool readLost() const { return oneFrame && statusWkc == EC_NOFRAME; }
};

Poll pollReadMailbox(const ec_slavet& s, ec_mbxbuft& mbx) {
    Poll p;
    DatagramPart parts[] = {{ecat::Cmd::FPRD, s.configadr, ECT_REG_SM1STAT, 2, p.status, true},
                            {ecat::Cmd::FPRD, s.configadr, s.mbx_ro, s.mbx_rl, mbx, true}};
    if (fitInOneFrame(parts)) {
        datagramsInOneFrame(parts, EC_TIMEOUTRET);
        p.statusWkc = parts[0].wkc;
        p.readWkc = parts[1].wkc;
        p.oneFrame = true;
        return p;
    }
    // A read mailbox too large to share a frame: the read follows a full status.
    p.statusWkc = readSm1Status(s, p.status);
    if (p.full()) p.readWkc = ec_FPRD(s.configadr, s.mbx_ro, s.mbx_rl, mbx, EC_TIMEOUTRET);
    return p;
}

// Logs an emergency or a mailbox error found in the read mailbox. True when the
// message was one of those (the caller then keeps waiting for its reply).
bool consumeNotification(uint16 slave, std::span<const uint8_t> m) {
    const uint8_t type = mbx::parseHeader(m)->type;
    ec_errort e{};
    if (type == mbx::TypeError) {
        e.ErrorCode = ecat::get16(&m[mbx::ErrorDetailOffset]);
        pushError(slave, EC_ERR_TYPE_MBX_ERROR, 0, 0, e);
        return true;
    }
    if (type == mbx::TypeCoe && coe::service(m) == coe::ServiceEmergency) {
        e.ErrorCode = ecat::get16(&m[coe::EmergencyCodeOffset]);
        e.ErrorReg = m[coe::EmergencyRegisterOffset];
        // The 5 data bytes as the error entry holds them: a byte and two words.
        const size_t data = coe::EmergencyDataOffset;
        e.b1 = m[data];
        e.w1 = ecat::get16(&m[data + 1]);
        e.w2 = ecat::get16(&m[data + 3]);
        pushError(slave, EC_ERR_TYPE_EMERGENCY, 0, 0, e);
        return true;
    }
    return false;
}

}  // namespace

int ec_mbxsend(uint16 slave, ec_mbxbuft* mbx, int timeout) {
    if (!validSlave(slave) || mbx == nullptr) return 0;
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(slave));
    const ec_slavet& s = ec_slave[slave];
    if (s.mbx_l == 0 || s.mbx_l > EC_MAXMBX) return 0;
    PollPacer pacer(deadlineIn(timeout));
    for (;;) {
        // The sync manager completes only when its last byte is written: always
        // the full length. Refused while the slave has not taken the last one. A
        // write whose frame was lost may have reached the slave all the same; it
        // is written again while the time lasts, as the slave drops a message that
        // repeats the last one's counter.
        const int wkc = ec_FPWR(s.configadr, s.mbx_wo, s.mbx_l, *mbx, attemptTimeout(pacer));
        if (wkc > 0 || pacer.expired()) return wkc;
        pacer.pause();
    }
}

int ec_mbxreceive(uint16 slave, ec_mbxbuft* mbx, int timeout) {
    if (!validSlave(slave) || mbx == nullptr) return 0;
    std::lock_guard<std::recursive_mutex> guard(mailboxLock(slave));
    const ec_slavet& s = ec_slave[slave];
    if (s.mbx_rl == 0 || s.mbx_rl > EC_MAXMBX) return 0;
    ReadMailbox& state = readMailbox(slave);
    PollPacer pacer(deadlineIn(timeout));
    // A frame that read the mailbox was lost and no repeat has been asked for
    // since: it may have taken a message, and only a repeat brings that back.
    bool readInDoubt = false;
    for (;;) {  // at least one poll, even with timeout 0
        const Poll poll = pollReadMailbox(s, *mbx);
        if (poll.tookMessage()) {
            std::memset(*mbx + s.mbx_rl, 0, sizeof(ec_mbxbuft) - s.mbx_rl);
            const uint8_t counter = mbx::parseHeader(*mbx)->counter;
            const bool again = state.repeatInDoubt && counter != 0 && counter == state.lastCounter;
            state.repeatInDoubt = false;
            state.lastCounter = counter;
            if (!again && !consumeNotification(slave, *mbx)) return poll.readWkc;
            if (pacer.expired()) return EC_TIMEOUT;
            continue;
        }
        if (poll.full()) {
            // The read of a waiting message failed: the slave may count it as read.
            std::memset(*mbx, 0, sizeof(ec_mbxbuft));
            readInDoubt = false;
            if (!requestRepeat(s, poll.status[1], pacer)) return EC_TIMEOUT;
            if (pacer.expired()) return EC_TIMEOUT;
            continue;
        }
        readInDoubt = readInDoubt || poll.readLost();
        if (readInDoubt && !pacer.expired()) {
            // If no message waits now, the slave is asked to repeat its last
            // one; should that be the message read before, its counter tells.
            // Until SM1's status is read, the doubt stays: the poll's frame and
            // this read may both be late on a busy machine.
            uint8 status[2] = {0, 0};
            if (poll.statusWkc > 0 && !poll.readLost()) {
                status[0] = poll.status[0];
                status[1] = poll.status[1];
            } else if (readSm1Status(s, status) <= 0) {
                continue;
            }
            readInDoubt = false;
            if ((status[0] & ecat::sm::StatusMailboxFull) == 0) {
                if (!requestRepeat(s, status[1], pacer)) return EC_TIMEOUT;
                state.repeatInDoubt = true;
            }
            continue;
        }
        if (pacer.expired()) return poll.statusWkc > 0 ? EC_TIMEOUT : poll.statusWkc;
        pacer.pause();
    }
}
