// Faults a segment can be given: lost and late frames, slaves losing power,
// a forced SAFE-OP error.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

class Faults : public ::testing::Test {
  protected:
    Faults() : seg(*ecsim::parseSlaveList("ZR12,IO,ZR02", nullptr)) { assignStations(seg); }
    uint16_t countSlaves() { return exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).wkc; }
    ecsim::Segment seg;
};

TEST_F(Faults, DropNextLosesExactlyThatManyFramesAfterTheSlavesActed) {
    seg.dropNext(2);
    const uint64_t before = seg.framesProcessed();
    EXPECT_TRUE(exchange(seg, req(Cmd::FPWR, station(1), reg::EventMask, le16(0x0077))).lost);
    EXPECT_TRUE(exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).lost);
    EXPECT_FALSE(exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).lost);
    EXPECT_EQ(seg.framesProcessed(), before + 3);
    EXPECT_EQ(read16(seg, 1, reg::EventMask), 0x0077);  // lost on the way back
}

TEST_F(Faults, DropRateLosesAboutThatShareAndDelayIsReported) {
    seg.setDropRate(0.5);
    int lost = 0;
    for (int i = 0; i < 400; ++i)
        lost += exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).lost ? 1 : 0;
    EXPECT_GT(lost, 100);
    EXPECT_LT(lost, 300);
    seg.setDropRate(0.0);
    EXPECT_FALSE(exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).lost);
    EXPECT_THROW(seg.setDropRate(1.5), std::invalid_argument);

    seg.setDelay(std::chrono::microseconds(1500));
    ecat::FrameBuilder b;
    b.add(Cmd::BRD, 1, 0, reg::Type, 2);
    auto bytes = b.finish();
    std::vector<uint8_t> frame(bytes.begin(), bytes.end());
    EXPECT_EQ(seg.process(frame).delay, std::chrono::microseconds(1500));
}

TEST_F(Faults, PoweredOffSlaveBreaksTheLine) {
    seg.powerOff(2);
    EXPECT_EQ(countSlaves(), 1);
    // The slave before the break closed its port 1.
    EXPECT_EQ((read16(seg, 1, reg::DlStatus) >> 10) & 3, 1);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, station(3), reg::Type, 1)).wkc, 0);
    seg.powerOff(1);
    EXPECT_TRUE(exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).lost);
    seg.powerOn(1);
    EXPECT_EQ(countSlaves(), 1);
    EXPECT_THROW(seg.powerOff(4), std::out_of_range);
}

TEST_F(Faults, PowerOnComesBackInInitWithoutAddressAndEverythingReset) {
    setUpBridgeMailbox(seg, 3);
    requestState(seg, 3, al::PreOp);
    write16(seg, 3, reg::StationAlias, 0x0099);
    std::vector<std::tuple<size_t, uint16_t, uint16_t>> logged;
    seg.setStateChangeHook([&](size_t p, uint16_t f, uint16_t t) { logged.emplace_back(p, f, t); });
    seg.powerOff(3);
    seg.powerOn(3);
    EXPECT_EQ(countSlaves(), 3);
    const auto address = exchange(seg, req(Cmd::APRD, 0xFFFE, reg::StationAddress, 2));
    EXPECT_EQ(ecat::get16(address.data.data()), 0);
    EXPECT_EQ(seg.slave(3).alStatus(), al::Init);
    EXPECT_EQ(seg.slave(3).memory()[0x0806] & 0x01, 0);                    // sync managers cleared
    EXPECT_EQ(ecat::get16(&seg.slave(3).memory()[reg::StationAlias]), 0);  // alias from the EEPROM
    const std::vector<std::tuple<size_t, uint16_t, uint16_t>> expected{{3, al::PreOp, al::Init}};
    EXPECT_EQ(logged, expected);
}

TEST_F(Faults, ForcedSafeOpErrorFromOpAndBelow) {
    setUpIoProcessData(seg, 2, 0, 2);
    for (uint16_t s : {al::PreOp, al::SafeOp, al::Op}) requestState(seg, 2, s);
    seg.forceSafeOpError(2, al::SmWatchdog);
    EXPECT_EQ(read16(seg, 2, reg::AlStatus), al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(read16(seg, 2, reg::AlStatusCode), al::SmWatchdog);
    // Below SAFE-OP the slave keeps its state and shows the error.
    seg.forceSafeOpError(1, 0x0001);
    EXPECT_EQ(read16(seg, 1, reg::AlStatus), al::Init | al::ErrorFlag);
    EXPECT_EQ(read16(seg, 1, reg::AlStatusCode), 0x0001);
}

TEST_F(Faults, DamagedFramesAreDestroyed) {
    ecat::FrameBuilder b;
    b.add(Cmd::BRD, 1, 0, reg::Type, 2);
    auto bytes = b.finish();
    std::vector<uint8_t> frame(bytes.begin(), bytes.end());
    ecat::put16(&frame[14], 0x1000 | 0x7FF);  // length past the frame
    EXPECT_TRUE(seg.process(frame).lost);
}

TEST_F(Faults, SeveralThreadsMayDriveTheSegmentAtOnce) {
    // Two masters' worth of frames, ticks and fault commands at the same time:
    // every frame is processed whole, none is counted twice.
    std::atomic<int> complete{0};
    auto sender = [&] {
        for (int i = 0; i < 300; ++i) {
            if (exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).wkc == 3) ++complete;
        }
    };
    const uint64_t before = seg.framesProcessed();
    std::thread a(sender);
    std::thread b(sender);
    std::thread faults([&] {
        for (int i = 0; i < 100; ++i) {
            seg.tick();
            seg.forceSafeOpError(2, al::SmWatchdog);
            seg.setDelay(std::chrono::microseconds(i));
        }
    });
    a.join();
    b.join();
    faults.join();
    EXPECT_EQ(complete.load(), 600);
    EXPECT_EQ(seg.framesProcessed(), before + 600);
}

}  // namespace
