#include "support/register_line.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ethercat.h"

namespace fuzzsupport {

namespace {

using ecat::Cmd;

// Read-modify-write commands count here as reads: the addressed slave reads,
// as the reference clock does, and no other slave of these lines writes.
bool reads(Cmd c) {
    return c == Cmd::APRD || c == Cmd::FPRD || c == Cmd::BRD || c == Cmd::APRW || c == Cmd::FPRW ||
           c == Cmd::BRW || c == Cmd::ARMW || c == Cmd::FRMW;
}
bool writes(Cmd c) {
    return c == Cmd::APWR || c == Cmd::FPWR || c == Cmd::BWR || c == Cmd::APRW || c == Cmd::FPRW ||
           c == Cmd::BRW;
}

}  // namespace

void RegisterLine::reset(size_t slaves) {
    slaves_.assign(slaves, RegisterSlave{});
}

void RegisterLine::pass(RegisterSlave& slave, ecat::Datagram& d) {
    const Cmd cmd = d.cmd();
    bool addressed = false;
    if (ecat::isAutoIncrement(cmd)) {
        addressed = d.adp() == 0;
        d.setAdp(static_cast<uint16_t>(d.adp() + 1));
    } else if (ecat::isConfigured(cmd)) {
        addressed = d.adp() == slave.station();
    } else if (ecat::isBroadcast(cmd)) {
        addressed = true;
        d.setAdp(static_cast<uint16_t>(d.adp() + 1));
    }
    const size_t length = d.length();
    const uint32_t address = d.ado();
    if (!addressed || address + length > RegisterSlave::kMemory) return;
    const auto at = static_cast<uint16_t>(address);
    // What the master sent, before a read-write puts the old contents in its place.
    std::array<uint8_t, 0x800> incoming;
    std::memcpy(incoming.data(), d.data(), length);
    uint16_t counted = 0;
    if (reads(cmd) && (!slave.beforeRead || slave.beforeRead(at, length))) {
        uint8_t* out = d.data();
        if (ecat::isBroadcast(cmd)) {
            for (size_t i = 0; i < length; ++i) out[i] |= slave.mem[address + i];
        } else {
            std::memcpy(out, &slave.mem[address], length);
        }
        if (slave.afterRead) slave.afterRead(at, {out, length});
        counted = 1;
    }
    if (writes(cmd)) {
        if (!slave.storesWrite || slave.storesWrite(at, length)) {
            std::memcpy(&slave.mem[address], incoming.data(), length);
            if (slave.afterWrite) slave.afterWrite(at, length);
        }
        counted = static_cast<uint16_t>(counted + (counted != 0 ? 2 : 1));
    }
    d.addWkc(counted);
}

ecmaster::Delivery RegisterLine::process(std::span<uint8_t> frame) {
    auto parsed = ecat::parseFrame(frame);
    if (!parsed.ok()) return {true, {}};
    for (RegisterSlave& slave : slaves_) {
        for (ecat::Datagram& d : parsed.datagrams) pass(slave, d);
    }
    frame[6] |= ecat::kSlaveMacBit;
    return {};
}

RegisterLine& sharedLine() {
    static const std::shared_ptr<RegisterLine> line = [] {
        auto l = std::make_shared<RegisterLine>(1);
        const char* name = "fuzzline";
        ecmaster::attachVirtualWire(name, l);
        if (ec_init(name) <= 0) {
            std::fprintf(stderr, "the master cannot open the virtual wire %s\n", name);
            std::abort();
        }
        return l;
    }();
    return *line;
}

void drainErrors() {
    ec_errort e;
    while (ec_poperror(&e)) {
    }
}

}  // namespace fuzzsupport

// Every target on the register line opens it before the first input, so that
// the master's start-up is not fuzzed as part of an input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::sharedLine();
    return 0;
}
