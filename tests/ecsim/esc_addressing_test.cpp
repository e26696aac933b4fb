// Addressing, working counters and register protection of the emulated slave
// controllers, frame by frame.
#include <gtest/gtest.h>

#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;

namespace {

ecsim::Segment threeSlaves() {
    return ecsim::Segment(*ecsim::parseSlaveList("ZR12,IO,ZR02", nullptr));
}

TEST(EscAddressing, BroadcastCountsEverySlaveAndAdvancesAdp) {
    auto seg = threeSlaves();
    const auto count = exchange(seg, req(Cmd::BRD, 0, reg::Type, 2));
    EXPECT_EQ(count.wkc, 3);
    EXPECT_EQ(count.adp, 3);
    const auto write = exchange(seg, req(Cmd::BWR, 0, reg::DlAlias, std::vector<uint8_t>{0}));
    EXPECT_EQ(write.wkc, 3);
    // Read/write: +3 per slave (read and write both happened).
    const auto rw = exchange(seg, req(Cmd::BRW, 0, reg::EventMask, le16(0x0004)));
    EXPECT_EQ(rw.wkc, 9);
}

TEST(EscAddressing, BroadcastReadReturnsTheOrOfAllSlaves) {
    auto seg = threeSlaves();
    // ESC types differ (bridges 0x11, I/O 0x04); features: only bridges have DC.
    const auto type = exchange(seg, req(Cmd::BRD, 0, reg::Type, 1));
    EXPECT_EQ(type.data[0], 0x11 | 0x04);
    assignStations(seg);
    write16(seg, 1, reg::EventMask, 0x0100);
    write16(seg, 2, reg::EventMask, 0x0002);
    const auto mask = exchange(seg, req(Cmd::BRD, 0, reg::EventMask, 2));
    EXPECT_EQ(ecat::get16(mask.data.data()), 0x0102);
}

TEST(EscAddressing, AutoIncrementAddressesByPosition) {
    auto seg = threeSlaves();
    assignStations(seg);
    for (size_t p = 1; p <= 3; ++p) {
        const auto adp = static_cast<uint16_t>(1 - static_cast<int>(p));
        const auto r = exchange(seg, req(Cmd::APRD, adp, reg::StationAddress, 2));
        EXPECT_EQ(r.wkc, 1);
        EXPECT_EQ(ecat::get16(r.data.data()), station(p));
        EXPECT_EQ(r.adp, static_cast<uint16_t>(adp + 3));  // every slave counted it up
    }
    EXPECT_EQ(exchange(seg, req(Cmd::APRD, 0xFFFD, reg::Type, 1)).wkc, 0);  // no fourth slave
    // APRW: +3 for the one slave; it returns the old value and keeps the new one.
    const auto rw = exchange(seg, req(Cmd::APRW, 0xFFFF, reg::StationAddress, le16(0x2222)));
    EXPECT_EQ(rw.wkc, 3);
    EXPECT_EQ(ecat::get16(rw.data.data()), station(2));
    EXPECT_EQ(seg.slave(2).stationAddress(), 0x2222);
}

TEST(EscAddressing, ConfiguredAddressAndAliasOnlyWhenEnabled) {
    auto seg = threeSlaves();
    assignStations(seg);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, station(3), reg::AlStatus, 2)).wkc, 1);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, 0x7777, reg::AlStatus, 2)).wkc, 0);
    EXPECT_EQ(exchange(seg, req(Cmd::FPWR, station(3), reg::EventMask, le16(4))).wkc, 1);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRW, station(3), reg::EventMask, le16(8))).wkc, 3);

    write16(seg, 3, reg::StationAlias, 0x0055);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, 0x0055, reg::Type, 1)).wkc, 0);
    writeBytes(seg, 3, reg::DlAlias, {0x01});
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, 0x0055, reg::Type, 1)).wkc, 1);
}

TEST(EscAddressing, ReadModifyWriteLetsTheAddressedSlaveReadAndTheOthersWrite) {
    auto seg = threeSlaves();
    assignStations(seg);
    // FRMW addressed to slave 1: it reads (+1), the two others write (+1 each).
    const auto frmw = exchange(seg, req(Cmd::FRMW, station(1), reg::EventMask, le16(0xAAAA)));
    EXPECT_EQ(frmw.wkc, 3);
    EXPECT_EQ(ecat::get16(frmw.data.data()), 0);  // slave 1's value travels on
    EXPECT_EQ(read16(seg, 1, reg::EventMask), 0);
    write16(seg, 1, reg::EventMask, 0x0F0F);
    exchange(seg, req(Cmd::FRMW, station(1), reg::EventMask, 2));
    EXPECT_EQ(read16(seg, 2, reg::EventMask), 0x0F0F);
    EXPECT_EQ(read16(seg, 3, reg::EventMask), 0x0F0F);
    // ARMW by position: the same rule.
    write16(seg, 2, reg::EventMask, 0x1234);
    const auto armw = exchange(seg, req(Cmd::ARMW, 0xFFFF, reg::EventMask, le16(0x7777)));
    EXPECT_EQ(armw.wkc, 3);
    EXPECT_EQ(ecat::get16(armw.data.data()), 0x1234);
    EXPECT_EQ(read16(seg, 3, reg::EventMask), 0x1234);
    EXPECT_EQ(read16(seg, 1, reg::EventMask), 0x7777);  // before the reader: the master's data
}

TEST(EscAddressing, ReadOnlyRegistersKeepTheirValueButCountTheWrite) {
    auto seg = threeSlaves();
    assignStations(seg);
    const uint16_t dl = read16(seg, 1, reg::DlStatus);
    // SM status bytes (0x0805, 0x080D) are single bytes between writable ones.
    const struct {
        uint16_t ado;
        size_t length;
    } protectedRegisters[] = {{reg::Type, 2},
                              {reg::Features, 2},
                              {reg::DlStatus, 2},
                              {reg::AlStatus, 2},
                              {reg::AlStatusCode, 2},
                              {reg::PdiControl, 2},
                              {reg::EepromPdiState, 1},
                              {0x0805, 1},
                              {0x080D, 1},
                              {reg::DcRecvTimeEpu, 8}};
    for (const auto& r : protectedRegisters) {
        const auto before = exchange(seg, req(Cmd::FPRD, station(1), r.ado, r.length)).data;
        const std::vector<uint8_t> junk(r.length, 0x5A);
        EXPECT_EQ(exchange(seg, req(Cmd::FPWR, station(1), r.ado, junk)).wkc, 1);
        EXPECT_EQ(exchange(seg, req(Cmd::FPRD, station(1), r.ado, r.length)).data, before)
            << "register 0x" << std::hex << r.ado;
    }
    EXPECT_EQ(read16(seg, 1, reg::DlStatus), dl);
}

TEST(EscAddressing, SlavesMarkTheSourceAddressAndLeaveUnknownCommandsAlone) {
    auto seg = threeSlaves();
    const auto r = exchange(seg, req(Cmd::NOP, 0, 0, 4));
    EXPECT_EQ(r.wkc, 0);
    EXPECT_EQ(r.frame[6], ecat::kMasterMac[0] | ecat::kSlaveMacBit);
    EXPECT_EQ(r.frame[7], ecat::kMasterMac[1]);
}

TEST(EscAddressing, SeveralDatagramsInOneFrameEachGetTheirOwnCounter) {
    auto seg = threeSlaves();
    assignStations(seg);
    const auto replies = exchange(
        seg, {req(Cmd::BRD, 0, reg::Type, 2), req(Cmd::FPRD, station(2), reg::StationAddress, 2),
              req(Cmd::APWR, 0xFFFE, reg::EventMask, le16(1))});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].wkc, 3);
    EXPECT_EQ(replies[1].wkc, 1);
    EXPECT_EQ(ecat::get16(replies[1].data.data()), station(2));
    EXPECT_EQ(replies[2].wkc, 1);
}

TEST(EscAddressing, LinkStatusShowsWhereTheLineEnds) {
    auto seg = threeSlaves();
    assignStations(seg);
    // Port 0 open and communicating on all; port 1 open except at the end.
    auto portOpen = [](uint16_t dl, int port) { return ((dl >> (8 + 2 * port)) & 3) == 2; };
    for (size_t p = 1; p <= 3; ++p) {
        const uint16_t dl = read16(seg, p, reg::DlStatus);
        EXPECT_TRUE(portOpen(dl, 0));
        EXPECT_EQ(portOpen(dl, 1), p < 3);
        EXPECT_FALSE(portOpen(dl, 2));
    }
}

}  // namespace
