// Process data through FMMUs and buffered sync managers, the sync manager
// watchdog, and distributed-clock time stamps.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "ecsim/device.hpp"
#include "ecsim/slave.hpp"
#include "segment_frames.hpp"
#include "support/wait_until.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

// Inputs count up with every read; outputs are kept.
class CountingDevice : public ecsim::Device {
  public:
    void onOutputs(std::span<const uint8_t> outputs) override {
        lastOutputs.assign(outputs.begin(), outputs.end());
    }
    void fillInputs(std::span<uint8_t> inputs) override {
        ++reads;
        std::fill(inputs.begin(), inputs.end(), reads);
    }
    std::vector<uint8_t> lastOutputs;
    uint8_t reads = 0;
};

// Bridge at logical 0 (outputs 0..23, inputs 24..47), I/O behind it
// (outputs 48..49, inputs 50..51), both in OP.
class ProcessData : public ::testing::Test {
  protected:
    ProcessData() : seg(*ecsim::parseSlaveList("ZR12,IO", nullptr)) {
        auto d = std::make_unique<CountingDevice>();
        bridge = d.get();
        seg.replaceDevice(1, std::move(d));
        assignStations(seg);
        setUpBridgeMailbox(seg, 1);
        setUpBridgeProcessData(seg, 1, 0, 24);
        setUpIoProcessData(seg, 2, 48, 50);
        for (uint16_t state : {al::PreOp, al::SafeOp, al::Op}) {
            for (size_t p = 1; p <= 2; ++p) {
                EXPECT_EQ(requestState(seg, p, state).status, state);
            }
        }
    }
    Reply cycle(std::vector<uint8_t> image) {
        return exchange(seg, logical(Cmd::LRW, 0, std::move(image)));
    }
    ecsim::Segment seg;
    CountingDevice* bridge = nullptr;
};

TEST_F(ProcessData, LrwCountsTwoPerOutputSlaveAndOnePerInputSlave) {
    std::vector<uint8_t> image(52, 0);
    for (size_t i = 0; i < 24; ++i) image[i] = static_cast<uint8_t>(i + 1);
    image[48] = 0x34;
    image[49] = 0x12;
    auto r = cycle(image);
    EXPECT_EQ(r.wkc, 6);  // 2 slaves x (2 + 1)
    ASSERT_EQ(bridge->lastOutputs.size(), 24u);
    EXPECT_EQ(bridge->lastOutputs[0], 1);
    EXPECT_EQ(bridge->lastOutputs[23], 24);
    EXPECT_EQ(r.data[24], bridge->reads);  // inputs filled just before the read
    EXPECT_EQ(r.data[47], bridge->reads);
    EXPECT_EQ(std::vector<uint8_t>(r.data.begin(), r.data.begin() + 24),
              std::vector<uint8_t>(image.begin(), image.begin() + 24));
    // The I/O terminal echoes its outputs on the next read.
    r = cycle(image);
    EXPECT_EQ(r.data[50], 0x34);
    EXPECT_EQ(r.data[51], 0x12);
}

// The slave keeps track of which FMMUs and sync managers are on: a write of
// the activate byte alone must count as much as a whole new set-up.
TEST_F(ProcessData, AnFmmuOrSyncManagerSwitchedByItsActivateByteActsAtOnce) {
    const std::vector<uint8_t> image(52, 0);
    ASSERT_EQ(cycle(image).wkc, 6);
    writeBytes(seg, 1, reg::Fmmu0 + 12, {0});  // the bridge's output FMMU
    EXPECT_EQ(cycle(image).wkc, 4);
    writeBytes(seg, 1, reg::Fmmu0 + 12, {1});
    EXPECT_EQ(cycle(image).wkc, 6);

    writeBytes(seg, 1, reg::Sm0 + reg::SmSize * 3 + 6, {0});  // its input sync manager
    const uint8_t reads = bridge->reads;
    cycle(image);
    EXPECT_EQ(bridge->reads, reads);  // plain memory now: the device is not asked
    writeBytes(seg, 1, reg::Sm0 + reg::SmSize * 3 + 6, {1});
    cycle(image);
    EXPECT_EQ(bridge->reads, reads + 1);
}

TEST_F(ProcessData, LrdAndLwrCountOncePerSlaveAndOnlyTheirDirection) {
    EXPECT_EQ(exchange(seg, logical(Cmd::LRD, 0, std::vector<uint8_t>(52, 0))).wkc, 2);
    EXPECT_EQ(exchange(seg, logical(Cmd::LWR, 0, std::vector<uint8_t>(52, 9))).wkc, 2);
    EXPECT_EQ(bridge->lastOutputs, std::vector<uint8_t>(24, 9));
    // Only part of one slave's outputs: no complete buffer, but it took part.
    EXPECT_EQ(exchange(seg, logical(Cmd::LWR, 4, std::vector<uint8_t>(4, 7))).wkc, 1);
    EXPECT_EQ(bridge->lastOutputs, std::vector<uint8_t>(24, 9));
    // Nothing mapped there.
    EXPECT_EQ(exchange(seg, logical(Cmd::LRW, 0x10000, std::vector<uint8_t>(8, 0))).wkc, 0);
}

TEST_F(ProcessData, LogicalAddressesAtTheTopOfTheSpaceDoNotWrap) {
    writeFmmu(seg, 1, 0, 0xFFFFFFE8u, 24, 0x1100, 2);
    EXPECT_EQ(exchange(seg, logical(Cmd::LWR, 0xFFFFFFE8u, std::vector<uint8_t>(24, 4))).wkc, 1);
    EXPECT_EQ(bridge->lastOutputs, std::vector<uint8_t>(24, 4));
    EXPECT_EQ(exchange(seg, logical(Cmd::LWR, 0, std::vector<uint8_t>(8, 4))).wkc, 0);
}

TEST_F(ProcessData, OutputsReachTheDeviceOnlyInOp) {
    requestState(seg, 1, al::SafeOp);
    std::vector<uint8_t> image(52, 5);
    EXPECT_EQ(cycle(image).wkc, 6);  // exchanged, but kept safe
    EXPECT_TRUE(bridge->lastOutputs.empty());
    requestState(seg, 1, al::PreOp);
    EXPECT_EQ(cycle(image).wkc, 3);  // the bridge no longer takes part
}

TEST_F(ProcessData, WatchdogDropsToSafeOpWhenOutputsStop) {
    seg.setWatchdog(std::chrono::milliseconds(20));
    std::vector<uint8_t> image(52, 0);
    cycle(image);
    testsupport::WaitUntil([this] { return seg.slave(1).alStatus() != al::Op; }, 5,
                           {.between = [this] { seg.tick(); }});
    for (size_t p = 1; p <= 2; ++p) {
        const auto r = AlResult{read16(seg, p, reg::AlStatus), read16(seg, p, reg::AlStatusCode)};
        EXPECT_EQ(r.status, al::SafeOp | al::ErrorFlag);
        EXPECT_EQ(r.code, al::SmWatchdog);
    }
    // Acknowledged and back to OP with outputs flowing.
    EXPECT_EQ(requestState(seg, 1, al::SafeOp | al::ErrorFlag).status, al::SafeOp);
    EXPECT_EQ(requestState(seg, 1, al::Op).status, al::Op);
}

TEST_F(ProcessData, WatchdogSwitchedOffKeepsOp) {
    seg.setWatchdog(std::chrono::milliseconds(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    seg.tick();
    EXPECT_EQ(seg.slave(1).alStatus(), al::Op);
}

TEST_F(ProcessData, PhysicalAccessToAProcessDataAreaFollowsItsSyncManager) {
    // The input buffer is read by the master only; a write is refused.
    EXPECT_EQ(exchange(seg, req(Cmd::FPWR, station(1), 0x1180, 24)).wkc, 0);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, station(1), 0x1180, 24)).wkc, 1);
    EXPECT_EQ(exchange(seg, req(Cmd::FPWR, station(1), 0x1100, std::vector<uint8_t>(24, 3))).wkc,
              1);
    EXPECT_EQ(bridge->lastOutputs, std::vector<uint8_t>(24, 3));
}

TEST_F(ProcessData, ASyncManagerOverTheRegistersLeavesThemAlone) {
    // One broadcast gives every slave an input sync manager over all its registers.
    std::vector<uint8_t> block(8, 0);
    ecat::put16(&block[2], reg::RegisterSpaceSize);
    block[4] = 0x20;  // buffered, read by the master
    block[6] = 0x01;
    ASSERT_EQ(exchange(seg, req(Cmd::BWR, 0, reg::Sm0 + 5 * reg::SmSize, block)).wkc, 2);
    // The registers are read and written as before, not as process data.
    for (size_t p = 1; p <= 2; ++p) {
        EXPECT_EQ(read16(seg, p, reg::StationAddress), station(p));
        EXPECT_EQ(requestState(seg, p, al::SafeOp).status, al::SafeOp);
        writeSm(seg, p, 5, 0, 0, 0, false);
    }
    EXPECT_EQ(bridge->reads, 0) << "no input was filled into the registers";
}

class DistributedClocks : public ::testing::Test {
  protected:
    DistributedClocks() : seg(*ecsim::parseSlaveList("ZR12,IO,ZR01,ZR02", nullptr)) {
        assignStations(seg);
    }
    uint32_t read32(size_t p, uint16_t ado) {
        return ecat::get32(exchange(seg, req(Cmd::FPRD, station(p), ado, 4)).data.data());
    }
    uint64_t read64(size_t p, uint16_t ado) {
        return ecat::get64(exchange(seg, req(Cmd::FPRD, station(p), ado, 8)).data.data());
    }
    ecsim::Segment seg;
};

TEST_F(DistributedClocks, BroadcastWriteLatchesPortTimesWithTheReturnTrip) {
    EXPECT_EQ(exchange(seg, req(Cmd::BWR, 0, reg::DcRecvTime0, 4)).wkc, 4);
    // Features tell who has DC; the I/O terminal keeps zeros.
    EXPECT_EQ(read16(seg, 2, reg::Features) & 0x04, 0);
    EXPECT_EQ(read32(2, reg::DcRecvTime0), 0u);
    const uint32_t p0[] = {read32(1, reg::DcRecvTime0), read32(3, reg::DcRecvTime0),
                           read32(4, reg::DcRecvTime0)};
    const uint32_t p1[] = {read32(1, reg::DcRecvTime1), read32(3, reg::DcRecvTime1),
                           read32(4, reg::DcRecvTime1)};
    // The frame comes back through port 1 later the further the line goes on;
    // the last slave's port 1 is closed.
    const int64_t trip1 = static_cast<int64_t>(p1[0] - p0[0]);
    const int64_t trip3 = static_cast<int64_t>(p1[1] - p0[1]);
    EXPECT_GT(trip1, trip3);
    EXPECT_GT(trip3, 0);
    EXPECT_EQ(p1[2], 0u);
    EXPECT_EQ(static_cast<uint32_t>(read64(1, reg::DcRecvTimeEpu)), p0[0]);
}

TEST_F(DistributedClocks, SystemTimeFollowsTheOffsetAndFrmwDistributesIt) {
    exchange(seg, req(Cmd::BWR, 0, reg::DcRecvTime0, 4));
    const uint64_t local = read64(3, reg::DcRecvTimeEpu);
    const uint64_t target = 800'000'000'000'000'000ull;
    std::vector<uint8_t> offset(8);
    ecat::put64(offset.data(), target - local);
    writeBytes(seg, 3, reg::DcSystemOffset, offset);
    const uint64_t system = read64(3, reg::DcSystemTime);
    EXPECT_GE(system, target);
    EXPECT_LT(system, target + 10'000'000'000ull);  // within seconds of it
    // FRMW at the reference: it reads (+1), the three others write (+1 each).
    const auto r = exchange(seg, req(Cmd::FRMW, station(3), reg::DcSystemTime, 8));
    EXPECT_EQ(r.wkc, 4);
    EXPECT_GE(ecat::get64(r.data.data()), system);
}

}  // namespace
