// The axis-mode operations write every axis of every bridge on an operational
// simulated segment; their writes, reads and pauses are checked as one list.
#include "tools/axis_modes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ecsim/bridge.hpp"
#include "ethercat.h"
#include "support/access_timeline.hpp"
#include "support/axis_display.hpp"
#include "support/coe_test_device.hpp"
#include "support/object_access_record.hpp"
#include "support/recording_clock.hpp"

namespace {

using testsupport::BusThreadsTest;
using testsupport::ObjectAccessRecord;
using testsupport::ObjectRead;
using testsupport::ObjectWrite;
using testsupport::PauseText;
using testsupport::RecordingClock;
using testsupport::WaitUntil;

using Texts = std::vector<std::string>;

uint16_t Modes(int axis) {
    return static_cast<uint16_t>(0x6060 + axis * 0x800);
}
uint16_t Display(int axis) {
    return static_cast<uint16_t>(0x6061 + axis * 0x800);
}

// Records the accesses to the four axes' mode and mode display objects of
// `od`, the dictionary of `slave`.
void WatchAxes(ecsim::ObjectDictionary& od, int slave, ObjectAccessRecord& record) {
    for (int axis = 0; axis < 4; ++axis) {
        record.watch(od, slave, Modes(axis));
        record.watch(od, slave, Display(axis));
    }
}
// The same for the simulated bridge at `slave`, whose display then shows the
// written mode at once.
void WatchBridgeAxes(ecsim::Segment& segment, int slave, ObjectAccessRecord& record) {
    auto lock = segment.lock();
    auto& bridge =
        dynamic_cast<ecsim::BridgeDevice&>(segment.slave(static_cast<size_t>(slave)).device());
    testsupport::ShowWrittenModesAtOnce(bridge.dictionary());
    WatchAxes(bridge.dictionary(), slave, record);
}

// Runs `op` and gives what it did to the watched objects, with its pauses.
Texts Traced(RecordingClock& clock, const ObjectAccessRecord& record,
             const std::function<void()>& op) {
    const size_t base = record.count();
    testsupport::AccessTimeline timeline(clock, [&] { return record.count() - base; });
    op();
    const Texts all = record.texts();
    return timeline.merged(Texts(all.begin() + static_cast<std::ptrdiff_t>(base), all.end()));
}

// A switch of every axis of `slaves` to `mode`, `pause` after each write,
// `end` after the last.
Texts ExpectedSwitch(std::initializer_list<int> slaves, int mode, int pause, int end) {
    Texts list;
    for (const int slave : slaves) {
        for (int axis = 0; axis < 4; ++axis) {
            list.push_back(ObjectWrite(slave, Modes(axis), mode));
            list.push_back(PauseText(pause));
        }
    }
    list.push_back(PauseText(end));
    return list;
}

// The read-back of one bridge: `passes` passes of a pause and a display read
// per axis, then eight copy passes of four pauses and one more.
void AddReadBack(Texts& list, int slave, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        for (int axis = 0; axis < 4; ++axis) {
            list.push_back(PauseText(20));
            list.push_back(ObjectRead(slave, Display(axis)));
        }
    }
    for (int pass = 0; pass < 8; ++pass) {
        for (int axis = 0; axis < 5; ++axis) list.push_back(PauseText(20));
    }
}

// The switch to mode 8 of `slaves`, each read back in `passes` passes.
Texts ExpectedCsp(std::initializer_list<int> slaves, std::initializer_list<int> passes) {
    Texts list;
    for (const int slave : slaves) {
        for (int axis = 0; axis < 4; ++axis) {
            list.push_back(ObjectWrite(slave, Modes(axis), 8));
            list.push_back(PauseText(20));
        }
    }
    auto pass = passes.begin();
    for (const int slave : slaves) AddReadBack(list, slave, *pass++);
    list.push_back(PauseText(20));
    return list;
}

constexpr int kBridges = 2;
constexpr int32_t kFarAway = 100000000;

int16_t AxisObject(int bridge, int axis, uint16_t base) {
    int16_t value = -1;
    ReadObjectInt16(static_cast<uint16_t>(g_bridgeSlave[bridge].load()),
                    static_cast<uint16_t>(base + axis * 0x800), &value);
    return value;
}

void ExpectEveryAxis(int16_t mode, uint16_t control) {
    for (int b = 0; b < kBridges; ++b) {
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(AxisObject(b, axis, 0x6060), mode) << "bridge " << b << " axis " << axis;
            EXPECT_EQ(g_ctrlWord[MotorSlot(b, axis + 1)], control);
        }
    }
}

int32_t TargetInImage(int bridge, int motor) {
    auto lock = LockProcessImage();
    const uint8_t* p = ec_slave[0].outputs + g_bridgeOutOffset[bridge] + 6 * (motor - 1) + 2;
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24);
}

TEST_F(BusThreadsTest, ModeSwitchesReachEveryAxis) {
    ScanToOp("ZR12,ZR02", kBridges);
    RecordingClock clock;
    ObjectAccessRecord record;
    for (const int slave : {1, 2}) WatchBridgeAxes(segment(), slave, record);
    int result = -1;
    EXPECT_EQ(Traced(clock, record, [&] { result = SetAllMotorsHomingMode(); }),
              ExpectedSwitch({1, 2}, kModeHoming, 30, 100));
    EXPECT_EQ(result, 0);
    ExpectEveryAxis(kModeHoming, 0x0007);
    EXPECT_EQ(Traced(clock, record, [&] { result = SetAllMotorsMode101(); }),
              ExpectedSwitch({1, 2}, kModeTql, 30, 100));
    EXPECT_EQ(result, 0);
    ExpectEveryAxis(kModeTql, 0x0007);
    EXPECT_EQ(Traced(clock, record, [&] { result = SetCpioMode(1); }),
              ExpectedSwitch({1, 2}, kModeCpio, 30, 500));
    EXPECT_EQ(result, 0);
    ExpectEveryAxis(kModeCpio, 0xC00F);
    EXPECT_EQ(Traced(clock, record, [&] { result = SetCpioMode(0); }),
              ExpectedSwitch({1, 2}, kModeCsp, 30, 500));
    EXPECT_EQ(result, 0);
    ExpectEveryAxis(kModeCsp, 0x000F);
}

TEST_F(BusThreadsTest, SwitchingToCspHoldsEveryAxisAtItsActualPosition) {
    ScanToOp("ZR12,ZR02", kBridges);
    RecordingClock clock;
    ObjectAccessRecord record;
    for (const int slave : {1, 2}) WatchBridgeAxes(segment(), slave, record);
    g_moveStop = 1;
    // Targets far from where the axes stand: an axis in mode 8 moves toward its
    // target in bounded steps, so it is still on its way when the switch pins
    // every target to the actual position.
    SetAllMotorsMode101();
    for (int slot = 0; slot < kBridges * 4; ++slot) g_targetPos[slot] = kFarAway + slot;
    std::vector<std::wstring> said{L"not run"};
    EXPECT_EQ(Traced(clock, record, [&] { said = SetAllMotorsCspMode(); }),
              ExpectedCsp({1, 2}, {1, 1}));
    EXPECT_TRUE(said.empty()) << "a bridge did not report mode 8";
    for (int b = 0; b < kBridges; ++b) {
        for (int m = 1; m <= 4; ++m) {
            const int slot = MotorSlot(b, m);
            EXPECT_EQ(g_targetPos[slot], g_actualPos[slot]) << slot;
            EXPECT_NE(g_targetPos[slot], kFarAway + slot);
            EXPECT_EQ(AxisObject(b, m - 1, 0x6061), kModeCsp);
        }
    }
    // The image carries the same targets (the packing may have refreshed them).
    EXPECT_TRUE(WaitUntil([] { return TargetInImage(1, 4) == g_targetPos[MotorSlot(1, 4)]; }));
}

// The switch writes each axis's target into its own channel's target field and
// nowhere else: not over a controlword, not into the neighbours' bytes.
TEST_F(BusThreadsTest, SwitchingToCspWritesOnlyTheTargetFieldsOfTheBlock) {
    ScanToOp("IO,ZR12,IO", 3);
    ASSERT_EQ(g_bridgeCount, 1);
    ASSERT_EQ(g_bridgeOutOffset[0], 2u);
    // Without the threads nothing else writes the image: what it holds afterwards
    // is the switch's doing alone.
    StopBusThreads();
    RecordingClock clock;
    ObjectAccessRecord record;
    WatchBridgeAxes(segment(), 2, record);
    const int32_t actual[4] = {0x01020304, -2, 0x7F6E5D4C, -0x12345678};
    for (int m = 1; m <= 4; ++m) g_actualPos[MotorSlot(0, m)] = actual[m - 1];
    const size_t area = ec_slave[0].Obytes;
    ASSERT_EQ(area, 28u);  // 2 + 24 + 2
    {
        auto lock = LockProcessImage();
        std::fill_n(ec_slave[0].outputs, area, uint8_t{0xA5});
        std::fill_n(ec_slave[0].outputs + 2, 24, uint8_t{0xEE});
    }
    std::vector<std::wstring> said{L"not run"};
    EXPECT_EQ(Traced(clock, record, [&] { said = SetAllMotorsCspMode(); }), ExpectedCsp({2}, {1}));
    EXPECT_TRUE(said.empty());

    std::vector<uint8_t> expected = {0xA5, 0xA5};
    for (const int32_t value : actual) {
        const auto bits = static_cast<uint32_t>(value);
        expected.insert(expected.end(),
                        {0xEE, 0xEE, static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                         static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)});
    }
    expected.insert(expected.end(), {0xA5, 0xA5});
    auto lock = LockProcessImage();
    EXPECT_EQ(std::vector<uint8_t>(ec_slave[0].outputs, ec_slave[0].outputs + area), expected);
}

// What a scripted bridge's axis shows as its mode at the n-th read (from 1).
using ShownMode = std::function<int8_t(int axis, int read)>;

// A bridge whose axes take every mode written and show what `shown` says;
// counts the reads of axis 1's mode display; its axes' objects go into `record`.
std::shared_ptr<std::atomic<int>> FitScriptedBridge(ecsim::Segment& segment, size_t position,
                                                    ObjectAccessRecord& record, ShownMode shown) {
    auto reads = std::make_shared<std::atomic<int>>(0);
    auto device = std::make_unique<testsupport::CoeTestDevice>();
    auto& od = device->od();
    od.addString(0x1008, 0, "Torvanelix ZR02");
    od.addString(0x100A, 0, "V1.00");
    od.addU32(0x1018, 1, 0x0A3E, ecsim::Access::ReadOnly);
    od.addU32(0x1018, 4, 7, ecsim::Access::ReadOnly);
    for (int axis = 0; axis < 4; ++axis) {
        od.addI8(Modes(axis), 0, 0);
        ecsim::Entry display;
        display.type = ecsim::DataType::Integer8;
        display.access = ecsim::Access::ReadOnly;
        display.value = {0};
        display.onUpload = [axis, shown, reads,
                            count = std::make_shared<int>(0)](std::vector<uint8_t>& data) {
            if (axis == 0) reads->fetch_add(1);
            data = {static_cast<uint8_t>(shown(axis, ++*count))};
            return ecsim::abort_code::None;
        };
        od.add(Display(axis), 0, display);
    }
    device->addMapping(testsupport::kBridgeBits);
    WatchAxes(od, static_cast<int>(position), record);
    segment.replaceDevice(position, std::move(device));
    return reads;
}

class AxisReadBack : public BusThreadsTest {
  protected:
    // A ZR12 and, behind it, a bridge scripted by `shown`, operational, both
    // watched in `record_`; gives the count of the scripted axis 1's reads.
    std::shared_ptr<std::atomic<int>> ScanWithScriptedBridge(ShownMode shown) {
        StartThreadsOn("ZR12,ZR02", kBridges);
        auto reads = FitScriptedBridge(segment(), 2, record_, std::move(shown));
        g_scanRequest = 1;
        EXPECT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
        const std::wstring scanLog = g_strScanLog.copy();
        EXPECT_EQ(g_bridgeCount, kBridges) << std::string(scanLog.begin(), scanLog.end());
        WatchBridgeAxes(segment(), 1, record_);
        // The scan's reads of the vendor objects this device lacks left their
        // errors on the master's list, and a read returns the next of them in
        // place of its value: taken off here, so that the passes are the
        // switch's own.
        for (const char* e = ec_elist2string(); e != nullptr && e[0] != '\0';
             e = ec_elist2string()) {
        }
        g_moveStop = 1;
        return reads;
    }

    ObjectAccessRecord record_;
};

TEST_F(AxisReadBack, EachBridgeIsReadBackOnItsOwnAndReportedOnItsOwn) {
    const auto reads = ScanWithScriptedBridge([](int, int) { return int8_t{0}; });
    RecordingClock clock;
    // The first bridge switches; the second starts with its flags clear, gets all
    // 50 passes and its own fault.
    std::vector<std::wstring> said;
    EXPECT_EQ(Traced(clock, record_, [&] { said = SetAllMotorsCspMode(); }),
              ExpectedCsp({1, 2}, {1, 50}));
    EXPECT_EQ(said, std::vector<std::wstring>{L"Error Mode Change fault!!!"});
    EXPECT_EQ(reads->load(), 50);
    for (int axis = 0; axis < 4; ++axis) EXPECT_EQ(AxisObject(0, axis, 0x6061), kModeCsp);
}

TEST_F(AxisReadBack, AnAxisSeenInModeEightOnceCountsAsSwitched) {
    // Axis 1 shows mode 8 at its first read only, the others from their second.
    ScanWithScriptedBridge([](int axis, int read) {
        return static_cast<int8_t>((axis == 0 ? read == 1 : read >= 2) ? kModeCsp : 0);
    });
    RecordingClock clock;
    std::vector<std::wstring> said{L"not run"};
    EXPECT_EQ(Traced(clock, record_, [&] { said = SetAllMotorsCspMode(); }),
              ExpectedCsp({1, 2}, {1, 2}));
    EXPECT_TRUE(said.empty());
}

// Without a bridge the switches touch no controlword and show nothing.
TEST_F(BusThreadsTest, WithoutBridgesTheSwitchesWriteNothing) {
    RecordingClock clock;
    g_bridgeSlave[0] = 1;
    for (auto& control : g_ctrlWord) control = 0x1234;
    EXPECT_EQ(SetAllMotorsMode101(), 0);
    EXPECT_EQ(SetAllMotorsHomingMode(), 0);
    EXPECT_TRUE(SetAllMotorsCspMode().empty());
    EXPECT_EQ(SetCpioMode(1), 0);
    for (const auto& control : g_ctrlWord) EXPECT_EQ(control, 0x1234);
    // Only the closing pauses.
    EXPECT_EQ(clock.pauses, (std::vector<int>{100, 100, 20, 500}));
}

}  // namespace
