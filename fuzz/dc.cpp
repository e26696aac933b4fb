// The distributed-clock computation against slaves whose latched receive
// times, local and system times and topology the input decides: ec_configdc
// (offsets and propagation delays along the tree) and ec_dcsync0 (the SYNC0
// start time).
//
// Input: slave count (u8, 1..8); per slave: flags (u8: bit 0 DC, bits 4-7 the
// active ports), parent (u8, taken modulo the position), the four port receive
// times (4 x u32), the local receive time (u64) and the system time (u64);
// then the slave for SYNC0 (u8), its cycle time (u32) and shift (u32).
#include <bit>

#include "ethercat.h"
#include "support/byte_reader.hpp"
#include "support/register_line.hpp"

namespace {

using fuzzsupport::ByteReader;
using fuzzsupport::RegisterLine;
using fuzzsupport::RegisterSlave;

constexpr size_t kMaxSlaves = 8;

// The receive time and system time registers keep what the input put there: a
// write to the first latches on a real slave, it does not store.
bool storesWrite(uint16_t address, size_t length) {
    return address + length <= ECT_REG_DCTIME0 || address >= ECT_REG_DCSYSOFFSET;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const size_t count = 1 + in.u8() % kMaxSlaves;
    RegisterLine& wire = fuzzsupport::sharedLine();
    wire.reset(count);
    ec_slavecount = static_cast<int>(count);
    for (size_t p = 1; p <= count; ++p) {
        RegisterSlave& r = wire.slave(p);
        ec_slavet& s = ec_slave[p];
        s = ec_slavet{};
        const uint8_t flags = in.u8();
        s.configadr = static_cast<uint16>(0x1000 + p);
        s.hasdc = (flags & 0x01) != 0;
        s.activeports = static_cast<uint8>(flags >> 4);
        s.topology = static_cast<uint8>(std::popcount(s.activeports));
        s.parent = static_cast<uint16>(in.u8() % p);
        r.setWord(ECT_REG_STADR, s.configadr);
        for (uint16_t port = 0; port < 4; ++port) {
            ecat::put32(&r.mem[ECT_REG_DCTIME0 + 4 * port], in.u32());
        }
        ecat::put64(&r.mem[ECT_REG_DCSOF], in.u64());
        ecat::put64(&r.mem[ECT_REG_DCSYSTIME], in.u64());
        r.storesWrite = storesWrite;
    }
    ec_configdc();
    const auto sync = static_cast<uint16>(1 + in.u8() % count);
    const uint32 cycle = in.u32();
    const auto shift = static_cast<int32>(in.u32());
    ec_dcsync0(sync, TRUE, cycle, shift);
    return 0;
}
