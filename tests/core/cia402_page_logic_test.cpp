// The CiA402 page's device work on an operational simulated segment: the
// acceleration word of START, its pause before the goals, STOP's pause after
// the freeze, the outputs' enabling, and what a slave that is no bridge gets.
// The pauses are on a recording clock.
#include "tools/cia402_page_logic.hpp"

#include <gtest/gtest.h>

#include "bus/scan_thread.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "support/access_timeline.hpp"
#include "support/object_access_record.hpp"
#include "support/recording_clock.hpp"

namespace {

using testsupport::BusThreadsTest;

constexpr int kBridgeSlave = 1;
constexpr int kIoSlave = 2;

int32_t AccelerationWordOf(int slave) {
    int32_t word = 0;
    EXPECT_TRUE(ReadParenthesisedNumber(
        SdoReadAsText(static_cast<uint16_t>(slave), 0xF550, 4, kCoeInteger32), &word));
    return word;
}

class Cia402Logic : public BusThreadsTest {
  protected:
    testsupport::RecordingClock clock_;
};

TEST_F(Cia402Logic, StartWritesTheScansAccelerationWordAndNeverDividesByZero) {
    ScanToOp("ZR12,IO", 2);
    g_moveStop = 1;
    ASSERT_EQ(StartMove(kBridgeSlave, L"60", L"1000", L"2000"), L"");
    EXPECT_EQ(AccelerationWordOf(kBridgeSlave), 0x05B2D7E1 + 10);
    EXPECT_EQ(g_moveStop.load(), 0);
    for (int m = 1; m <= 4; ++m) {
        EXPECT_EQ(g_movePos[MotorSlot(0, m)].load(), 2000);
        EXPECT_EQ(g_moveSpeed[MotorSlot(0, m)].load(), 60u);
        EXPECT_EQ(g_ctrlWord[MotorSlot(0, m)].load() & 0x0F, 0x0F);
    }
    ASSERT_EQ(StartMove(kBridgeSlave, L"60", L"0", L"2000"), L"");
    EXPECT_EQ(AccelerationWordOf(kBridgeSlave), 0x05B2D7E1 + 10000);
    // Fields are read as "%d": leading blanks, digits up to the first other
    // character; a text without a number is refused with the field's message.
    ASSERT_EQ(StartMove(kBridgeSlave, L" 75rpm", L"500", L"3000 "), L"");
    EXPECT_EQ(g_cia402Speed.load(), 75);
    EXPECT_EQ(g_cia402Accel.load(), 500);
    EXPECT_EQ(g_cia402Pos.load(), 3000);
    EXPECT_EQ(StartMove(kBridgeSlave, L"60", L"fast", L"2000"), L"Speed Set Data Error !!!");
    EXPECT_EQ(StartMove(kBridgeSlave, L"s", L"500", L"2000"),
              L"Set Data Error , Speed = 1 ---- 2000");
    EXPECT_EQ(StartMove(kBridgeSlave, L"60", L"500", L"99999999999"),
              L"Pos Set Data Error !!!, Pos = 0 --- 100000000.");
    EXPECT_TRUE(boxes_.texts().empty()) << "the page shows the refusals";
}

TEST_F(Cia402Logic, ASlaveThatIsNoBridgeTouchesNoMotorsEntries) {
    ScanToOp("IO,ZR12", 2);
    for (auto& out : g_digOut) out = 9;
    WriteOutputs(1, 5, false);
    for (const auto& out : g_digOut) EXPECT_EQ(out.load(), 9u);
    int value = -1;
    EXPECT_FALSE(MotorOutputs(1, 0, &value));
    int32_t positions[4] = {};
    EXPECT_FALSE(ReadMotorPositions(1, positions));
    // Without a mailbox nothing is read: no value, not a zero.
    int32_t inputs = -1;
    EXPECT_EQ(ReadDigitalInputs(1, 1, &inputs), -1);
    EXPECT_EQ(ReadDigitalInputs(2, 0, &inputs), -2);
    g_cpioMode = 1;
    EXPECT_FALSE(ReadInputValue(1, &inputs));
    EXPECT_EQ(StartMove(1, L"60", L"1000", L"2000"), L"SlaveNo Selection Error");
    for (const auto& pos : g_movePos) EXPECT_EQ(pos.load(), 0);
}

// A bridge behind another slave: its own word and its own motors' entries, the
// goals set only after the 200 ms pause that follows the word.
TEST_F(Cia402Logic, StartOnABridgeThatIsNotSlave1WritesItsWordThenPausesBeforeTheGoals) {
    ScanToOp("IO,ZR12", 2);
    testsupport::RecordingClock& clock = clock_;
    std::vector<int32_t> goalsAtPause;
    clock.onPause = [&](int) {
        goalsAtPause.push_back(g_movePos[MotorSlot(0, 4)].load());
        EXPECT_EQ(AccelerationWordOf(2), 0x05B2D7E1 - 3333);
    };
    g_moveStop = 1;
    ASSERT_EQ(StartMove(2, L"60", L"-3", L"4000"), L"");
    EXPECT_EQ(clock.pauses, std::vector<int>{200});
    EXPECT_EQ(goalsAtPause, std::vector<int32_t>{0});
    EXPECT_EQ(g_moveStop.load(), 0);
    for (int m = 1; m <= 4; ++m) {
        EXPECT_EQ(g_movePos[MotorSlot(0, m)].load(), 4000) << m;
        EXPECT_EQ(g_ctrlWord[MotorSlot(0, m)].load() & 0x0F, 0x0F) << m;
    }
    EXPECT_EQ(g_movePos[MotorSlot(1, 1)].load(), 0);  // no row of a second bridge
    EXPECT_TRUE(boxes_.texts().empty());
}

// STOP freezes the ramp before its pause, whatever the pause lets run.
TEST_F(Cia402Logic, StopFreezesTheRampThenPauses200Ms) {
    ScanToOp("ZR12", 1);
    ASSERT_EQ(StartMove(1, L"60", L"1000", L"2000"), L"");
    clock_.pauses.clear();
    std::vector<int32_t> stoppedAtPause;
    clock_.onPause = [&](int) { stoppedAtPause.push_back(g_moveStop.load()); };
    StopMove();
    EXPECT_EQ(clock_.pauses, std::vector<int>{200});
    EXPECT_EQ(stoppedAtPause, std::vector<int32_t>{1});
}

// Every axis of every bridge, in order, 20 ms after each write.
TEST_F(Cia402Logic, OutputsAreEnabledOnEachAxisOfEachBridgeWithAPauseAfterEach) {
    ScanToOp("ZR12,IO,ZR02", 3);
    testsupport::ObjectAccessRecord record;
    for (const int slave : {1, 3}) {
        auto lock = segment().lock();
        auto& bridge = dynamic_cast<ecsim::BridgeDevice&>(
            segment().slave(static_cast<size_t>(slave)).device());
        for (uint16_t axis = 0; axis < 4; ++axis) {
            record.watch(bridge.dictionary(), slave, static_cast<uint16_t>(0x60FE + axis * 0x800),
                         2);
        }
    }
    testsupport::AccessTimeline timeline(clock_, [&] { return record.count(); });
    EnableBridgeOutputs();
    std::vector<std::string> expected;
    for (const char* slave : {"S1 ", "S3 "}) {
        for (const char* axis : {"60FE", "68FE", "70FE", "78FE"}) {
            expected.push_back(std::string(slave) + axis + ":02 < 15");
            expected.emplace_back("pause 20");
        }
    }
    EXPECT_EQ(timeline.merged(record.texts()), expected);
}

}  // namespace
