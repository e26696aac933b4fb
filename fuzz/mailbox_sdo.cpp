// The master's mailbox and SDO receive against a hostile slave: every message
// the slave's read mailbox offers is taken from the input, as are the mailbox
// sizes, the transfer asked for and which mailbox reads are lost on the way.
//
// Input: mailbox size (u16), operation (u8), buffer size (u16), index (u16),
// subindex (u8); then the offered messages, each a flags byte (bit 0: the first
// read of it is lost), a length (u16) and its bytes.
#include <algorithm>
#include <deque>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "support/byte_reader.hpp"
#include "support/register_line.hpp"

namespace {

using fuzzsupport::ByteReader;
using fuzzsupport::RegisterLine;

constexpr uint16_t kStation = 0x1001;
constexpr uint16_t kWriteMailbox = 0x1000;
constexpr uint16_t kReadMailbox = 0x1800;
constexpr uint16_t kSm0Status = ECT_REG_SM0STAT;
constexpr uint16_t kSm1Status = ECT_REG_SM1STAT;
constexpr uint8_t kMailboxFull = 0x08;
// Short enough that an input whose messages run out costs little.
constexpr int kTimeoutUs = 2000;

struct Offered {
    bool loseFirstRead = false;
    std::vector<uint8_t> bytes;
};

// An initiate upload response for `index`:`subindex`.
bool AnswersUpload(std::span<const uint8_t> m, uint16_t index, uint8_t subindex) {
    namespace sdo = ecat::sdo;
    return m.size() >= sdo::NormalDataOffset &&
           ecat::coe::service(m) == ecat::coe::ServiceSdoResponse &&
           (m[sdo::CommandOffset] & sdo::SpecifierMask) == sdo::ScsInitiateUpload &&
           ecat::get16(&m[sdo::IndexOffset]) == index && m[sdo::SubindexOffset] == subindex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint16_t mailboxSize = in.u16();
    const uint8_t operation = in.u8();
    const uint16_t bufferSize = in.u16();
    const uint16_t index = in.u16();
    const uint8_t subindex = in.u8();
    std::deque<Offered> offered;
    // Whether a message the master read answered an upload of exactly the object asked for.
    bool answeredThis = false;
    while (!in.empty()) {
        Offered m;
        m.loseFirstRead = (in.u8() & 0x01) != 0;
        const auto bytes = in.bytes(in.u16());
        m.bytes.assign(bytes.begin(), bytes.end());
        offered.push_back(std::move(m));
    }

    RegisterLine& wire = fuzzsupport::sharedLine();
    wire.reset(1);
    fuzzsupport::RegisterSlave& slave = wire.slave(1);
    slave.setWord(ECT_REG_STADR, kStation);
    const size_t readRoom = fuzzsupport::RegisterSlave::kMemory - kReadMailbox;
    slave.beforeRead = [&](uint16_t address, size_t length) {
        if (address <= kSm1Status && kSm1Status < address + length) {
            const bool full = !offered.empty();
            slave.mem[kSm1Status] = full ? kMailboxFull : 0;
        }
        if (address == kReadMailbox && length > 0) {
            if (offered.empty()) return false;
            Offered& m = offered.front();
            if (m.loseFirstRead) {
                m.loseFirstRead = false;
                return false;
            }
            std::fill_n(&slave.mem[kReadMailbox], std::min<size_t>(length, readRoom), 0);
            std::copy_n(m.bytes.begin(), std::min({m.bytes.size(), length, readRoom}),
                        &slave.mem[kReadMailbox]);
            // As the master reads it: the message and the zeros after it.
            answeredThis = answeredThis ||
                           AnswersUpload({&slave.mem[kReadMailbox], std::min(length, readRoom)},
                                         index, subindex);
            offered.pop_front();
        }
        return true;
    };
    slave.afterWrite = [&](uint16_t address, size_t) {
        // The repeat request is acknowledged at once.
        if (address == ECT_REG_SM1ACT) {
            slave.mem[ECT_REG_SM1CONTR] = slave.mem[ECT_REG_SM1ACT] & 0x02;
        }
        slave.mem[kSm0Status] = 0;  // the slave takes every message at once
    };

    ec_slavecount = 1;
    ec_slavet& s = ec_slave[1];
    s = ec_slavet{};
    s.configadr = kStation;
    s.mbx_l = mailboxSize;
    s.mbx_wo = kWriteMailbox;
    s.mbx_rl = mailboxSize;
    s.mbx_ro = kReadMailbox;
    s.mbx_proto = ECT_MBXPROT_COE;
    s.state = EC_STATE_PRE_OP;

    // Exactly the size the caller says, so that a write past it is caught.
    std::vector<uint8_t> buffer(bufferSize);
    switch (operation % 4) {
        case 0:
        case 1: {
            int psize = bufferSize;
            const boolean ca = operation % 4 == 1;
            const int wkc = ec_SDOread(1, index, subindex, ca, &psize, buffer.data(), kTimeoutUs);
            if (wkc > 0) {
                FUZZ_CHECK(psize >= 0 && psize <= bufferSize);
                // A success carries the value of the object asked for, never another's.
                if (!ca) FUZZ_CHECK(answeredThis);
            }
            break;
        }
        case 2: {
            for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
            const boolean ca = (operation & 0x10) != 0;
            ec_SDOwrite(1, index, subindex, ca, bufferSize, buffer.data(), kTimeoutUs);
            break;
        }
        default: {
            ec_mbxbuft mbx;
            ec_mbxreceive(1, &mbx, kTimeoutUs);
            break;
        }
    }
    fuzzsupport::drainErrors();
    return 0;
}
