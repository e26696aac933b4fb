// The homing procedure on an operational simulated segment: the objects hm Start
// writes and its pauses between them, in order, the run the controlword pulse
// starts, its supervision, the halt, and the refusals that leave the device
// alone. The procedure's pauses are on a recording clock; each waits only until
// the exchange has carried the controlword it holds.
#include "tools/homing.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "support/access_timeline.hpp"
#include "support/exchange_wait.hpp"
#include "support/object_access_record.hpp"
#include "support/recording_clock.hpp"
#include "tools/axis_modes.hpp"

namespace {

using testsupport::BusThreadsTest;

// A ZR12 without a motor on channel 4, an I/O terminal and a ZR02.
constexpr char kSegment[] = "ZR12:1-3,IO,ZR02";
constexpr int kSlaves = 3;
constexpr int kIoSlave = 2;
constexpr int kZr02Slave = 3;

class HomingOnBus : public BusThreadsTest {
  protected:
    void SetUp() override {
        BusThreadsTest::SetUp();
        ScanToOp(kSegment, kSlaves);
        // What choosing the CoE page does to the axes.
        g_bridgeMode = kCoePage;
        g_moveStop = 1;
        ResetMotorOutputs();
        clock_.emplace();
        carry_ = testsupport::CarryNewControlWords();
        clock_->onPause = [this](int ms) { OnPause(ms); };
        SetAllMotorsHomingMode();
        // What the switch's pauses give the axes: time to show the new mode.
        ASSERT_TRUE(testsupport::WaitUntil([this] { return AllAxesShowHoming(); }));
        ResetMotorOutputs();
        clock_->pauses.clear();
        held_.clear();
    }
    void TearDown() override {
        timeline_.reset();
        clock_.reset();
        BusThreadsTest::TearDown();
    }
    void OnPause(int ms) {
        held_.push_back(g_ctrlWord[heldSlot_].load());
        if (carry_) carry_(ms);
    }

    // From now on: the accesses to the store word and to the homing objects of
    // every axis of `slave`, with the procedure's pauses between them (Log());
    // and the controlword of motor slot `slot` at each pause.
    void LogHoming(int slave, int slot) {
        record_.emplace();
        {
            auto lock = segment().lock();
            ecsim::ObjectDictionary& od = bridge(slave).dictionary();
            std::vector<uint16_t> objects{0xF550};
            for (uint16_t axis = 0; axis < 4; ++axis) {
                for (uint16_t index : {0x6098, 0x607C, 0x6099, 0x609A, 0x60F6}) {
                    objects.push_back(static_cast<uint16_t>(index + axis * 0x800));
                }
            }
            for (const uint16_t index : objects) {
                for (unsigned sub = 0; sub <= 0xFF; ++sub) {
                    record_->watch(od, slave, index, static_cast<uint8_t>(sub));
                }
            }
        }
        timeline_.emplace(
            *clock_, [this] { return record_->count(); }, [this](int ms) { OnPause(ms); });
        heldSlot_ = slot;
        held_.clear();
    }
    std::vector<std::string> Log() const { return timeline_->merged(record_->texts()); }

    ecsim::BridgeDevice& bridge(int slave) {
        return dynamic_cast<ecsim::BridgeDevice&>(
            segment().slave(static_cast<size_t>(slave)).device());
    }
    // An object of the simulated bridge, read by the device model itself.
    int64_t Object(int slave, uint16_t index, uint8_t sub = 0) {
        auto lock = segment().lock();
        return bridge(slave).dictionary().getInt(index, sub);
    }
    bool AllAxesShowHoming() {
        auto lock = segment().lock();
        for (const int slave : {1, kZr02Slave}) {
            for (size_t axis = 0; axis < 4; ++axis) {
                if (bridge(slave).axis(axis).modeDisplay() != ecsim::cia402::kModeHoming)
                    return false;
            }
        }
        return true;
    }
    int32_t MotorParam(int slave, int channel, int k) {
        auto lock = segment().lock();
        return bridge(slave).motor(static_cast<size_t>(channel - 1))->param(k);
    }

    // Supervises the run until it ends, a tick every 10 ms (the texts count
    // ticks, not time); every text it showed.
    std::vector<std::wstring> SuperviseToEnd(int seconds = 30) {
        std::vector<std::wstring> texts;
        EXPECT_TRUE(testsupport::WaitUntil([] { return g_homingActive.load() == 0; }, seconds,
                                           {.between = [&] { texts.push_back(SuperviseHoming()); },
                                            .pause = std::chrono::milliseconds(10)}))
            << "the run did not end";
        return texts;
    }

    std::optional<testsupport::RecordingClock> clock_;
    std::optional<testsupport::ObjectAccessRecord> record_;
    std::optional<testsupport::AccessTimeline> timeline_;
    std::vector<uint16_t> held_;  // the controlword of slot heldSlot_ at each pause
    int heldSlot_ = 0;
    // Lets the exchange carry a new controlword; empty once the bus is cut.
    std::function<void(int ms)> carry_;
};

HomingFields Stopper(int slave, int motor, const wchar_t* offset, const wchar_t* switchSpeed) {
    HomingFields fields;
    fields.slaveIndex = slave - 1;
    fields.motorIndex = motor - 1;
    fields.homingType = kHomingStopperCcw;
    fields.offset = offset;
    fields.switchSpeed = switchSpeed;
    fields.torque = L"55";
    return fields;
}

TEST_F(HomingOnBus, StopperHomingEndsAtTheOffsetAndASecondStartMeanwhileWritesNothing) {
    // About 0.45 s: long enough to press hm Start again and supervise 17 ticks.
    LogHoming(1, MotorSlot(0, 2));
    ASSERT_EQ(StartHoming(Stopper(1, 2, L"1234", L"100")), L"");
    EXPECT_EQ(g_homingActive.load(), 1);
    EXPECT_EQ(g_homingResult.load(), kHomingRunning);
    EXPECT_EQ(g_ctrlWord[MotorSlot(0, 2)].load(), 0x000F);
    // Motor 2's axis: StopperCCW, then offset, speeds, acceleration and K47, 50 ms
    // apart; the start bit is held 200 ms, after 200 ms without it.
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "pause 50", "S1 6898:00 < 2", "pause 50", "S1 687C:00 < 1234", "pause 50",
                         "S1 6899:01 < 100", "S1 6899:02 < 500", "pause 50", "S1 689A:00 < 500",
                         "pause 50", "S1 68F6:1B < 55", "pause 200", "pause 200"}));
    EXPECT_EQ(held_,
              (std::vector<uint16_t>{0x000F, 0x000F, 0x000F, 0x000F, 0x000F, 0x000F, 0x001F}));
    EXPECT_EQ(Object(1, 0x6898), 2);
    EXPECT_EQ(Object(1, 0x687C), 1234);
    EXPECT_EQ(Object(1, 0x6899, 1), 100);
    EXPECT_EQ(Object(1, 0x6899, 2), 500);
    EXPECT_EQ(Object(1, 0x689A), 500);
    EXPECT_EQ(MotorParam(1, 2, 47), 55);

    EXPECT_EQ(StartHoming(Stopper(1, 2, L"-99", L"40000")), L"Motor Homing!!!!");
    EXPECT_EQ(Log().size(), 13u) << "nothing written, no pause";
    EXPECT_EQ(Object(1, 0x687C), 1234);
    EXPECT_EQ(Object(1, 0x6899, 1), 100);

    const std::vector<std::wstring> texts = SuperviseToEnd();
    ASSERT_GT(texts.size(), 16u);
    EXPECT_EQ(texts[0], L"Homing Run ( Elapsed time: 0 ) ");
    EXPECT_EQ(texts[7], L"Homing Run ( Elapsed time: 0 ) ");
    EXPECT_EQ(texts[8], L"    ");
    EXPECT_EQ(texts[15], L"    ");
    EXPECT_EQ(texts[16], L"Homing Run ( Elapsed time: 0 ) ");
    const int seconds = static_cast<int>(texts.size()) / 32;
    EXPECT_EQ(texts.back(), L"Homing Run End. Time ( " + std::to_wstring(seconds) + L" ) .....");
    EXPECT_EQ(g_homingResult.load(), kHomingEnded);
    EXPECT_EQ(HomingStatusColour(g_homingResult.load()), 0x0000FFu);
    EXPECT_EQ(g_homingTicks.load(), 0);
    EXPECT_EQ(g_actualPos[MotorSlot(0, 2)].load(), 1234);
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(HomingOnBus, SwitchHomingOfMotor3MarksItsInputInK27AndUsesItsOwnObjects) {
    SdoWriteInt32(kZr02Slave, 0x70F6, 7, 12);  // K27 of motor 3
    LogHoming(kZr02Slave, MotorSlot(1, 3));
    HomingFields fields;
    fields.slaveIndex = kZr02Slave - 1;
    fields.motorIndex = 2;
    fields.storeFlag = 1;
    fields.homingType = kHomingSwitchCcw;
    fields.homingInput = 3;  // INPUT4
    fields.offset = L"-300";
    fields.switchSpeed = L"4000";
    fields.zeroSpeed = L"3000";
    fields.acceleration = L"2000";
    fields.torque = L"";  // not a switch type's field
    ASSERT_EQ(StartHoming(fields), L"");
    // The store word first, K27 read before any pause, and K27 written last.
    EXPECT_EQ(Log(), (std::vector<std::string>{"S3 F550:06 < 104441042", "S3 70F6:07 >", "pause 50",
                                               "S3 7098:00 < 4", "pause 50", "S3 707C:00 < -300",
                                               "pause 50", "S3 7099:01 < 4000", "S3 7099:02 < 3000",
                                               "pause 50", "S3 709A:00 < 2000", "pause 50",
                                               "S3 70F6:07 < 2011", "pause 200", "pause 200"}));
    EXPECT_EQ(held_.back(), 0x001F);

    EXPECT_EQ(Object(kZr02Slave, 0x7098), 4);
    EXPECT_EQ(Object(kZr02Slave, 0x707C), -300);
    EXPECT_EQ(Object(kZr02Slave, 0x7099, 1), 4000);
    EXPECT_EQ(Object(kZr02Slave, 0x7099, 2), 3000);
    EXPECT_EQ(Object(kZr02Slave, 0x709A), 2000);
    EXPECT_EQ(MotorParam(kZr02Slave, 3, 27), 2011);
    EXPECT_EQ(MotorParam(kZr02Slave, 3, 47), 30);  // factory value, untouched
    // The other axes and the other bridge keep their defaults.
    EXPECT_EQ(Object(kZr02Slave, 0x6098), 1);
    EXPECT_EQ(Object(kZr02Slave, 0x607C), 0);
    EXPECT_EQ(Object(1, 0x7098), 1);

    SuperviseToEnd();
    EXPECT_EQ(g_homingResult.load(), kHomingEnded);
    EXPECT_EQ(g_actualPos[MotorSlot(1, 3)].load(), -300);
}

TEST_F(HomingOnBus, RefusalsComeBeforeAnyHomingObjectIsWritten) {
    struct Case {
        HomingFields fields;
        const wchar_t* message;
    };
    std::vector<Case> cases;
    const auto add = [&](HomingFields fields, const wchar_t* message) {
        cases.push_back({std::move(fields), message});
    };
    const HomingFields good = Stopper(1, 1, L"0", L"500");
    add(Stopper(kIoSlave, 1, L"0", L"500"), L"Motor OffLine Error!!!");
    add(Stopper(1, 4, L"0", L"500"), L"Motor OffLine Error!!!");  // no motor fitted
    HomingFields f = good;
    f.offset = L"-32517";
    add(f, L"Data Error at hmOffset, data error");
    f.offset = L"32516";
    add(f, L"Data Error at hmOffset, data error");
    f.offset = L"";
    add(f, L"Data Error at hmOffset");
    f.offset = L"abc";
    add(f, L"Data Error at hmOffset");
    f = good;
    f.switchSpeed = L"0";
    add(f, L"Data Error at hmSpeed1, data error");
    f.switchSpeed = L"";
    add(f, L"Data Error at hmSpeed1");
    f = good;
    f.zeroSpeed = L"40001";
    add(f, L"Data Error at hmSpeed2, data error");
    f = good;
    f.acceleration = L"0";
    add(f, L"Data Error at hmAccel, data error");
    f.acceleration = L"";
    add(f, L"Data Error at hmAccel");
    f = good;
    f.torque = L"9";
    add(f, L"Data Error at hmK47, data error");
    f.torque = L"101";
    add(f, L"Data Error at hmK47, data error");
    f.torque = L"";
    add(f, L"Data Error at hmK47");
    for (const Case& c : cases) {
        EXPECT_EQ(StartHoming(c.fields), c.message);
    }
    // The motor of channel 4 answered once and has gone since: its parameters
    // cannot be read, and a switch homing needs K27.
    g_motorOnline[MotorSlot(0, 4)] = 1;
    f = Stopper(1, 4, L"0", L"500");
    f.homingType = kHomingSwitchCw;
    EXPECT_EQ(StartHoming(f), L"Data Error , at Read K27");
    f.switchSpeed = L"40001";  // the speeds are checked before K27 is read
    EXPECT_EQ(StartHoming(f), L"Data Error at hmSpeed1, data error");

    EXPECT_EQ(g_homingActive.load(), 0);
    EXPECT_EQ(g_homingResult.load(), kHomingNoRun);
    {
        // The store flag is 0 in every start above: the store word never went out.
        auto lock = segment().lock();
        for (const ecsim::VendorAccess& access : bridge(1).accessRecord()) {
            EXPECT_FALSE(access.index == 0xF550 && access.subindex == 6);
        }
    }
    for (int axis = 0; axis < 4; ++axis) {
        const auto offset = static_cast<uint16_t>(axis * 0x800);
        EXPECT_EQ(Object(1, 0x6098 + offset), 1) << "axis " << axis;
        EXPECT_EQ(Object(1, 0x607C + offset), 0) << "axis " << axis;
        EXPECT_EQ(Object(1, 0x6099 + offset, 1), 500) << "axis " << axis;
    }
    EXPECT_EQ(MotorParam(1, 1, 47), 30);
}

TEST_F(HomingOnBus, StopHmEndsASlowRunAsAHomingError) {
    ASSERT_EQ(StartHoming(Stopper(kZr02Slave, 1, L"5000", L"1")), L"");  // over a minute
    SuperviseHoming();
    StopHoming();
    SuperviseToEnd(10);
    EXPECT_EQ(g_homingResult.load(), kHomingError);
    EXPECT_EQ(HomingStatusColour(g_homingResult.load()), 0xFF00FFu);
    EXPECT_EQ(g_ctrlWord[MotorSlot(1, 1)].load(), 0x000F);
    EXPECT_NE(g_actualPos[MotorSlot(1, 1)].load(), 5000);
}

TEST_F(HomingOnBus, TheHaltIsHeld300MsAndAMotorErrorOutranksHomingAttained) {
    ASSERT_EQ(StartHoming(Stopper(1, 1, L"5000", L"1")), L"");  // over a minute
    const int slot = MotorSlot(0, 1);
    testsupport::RecordingClock clock;
    std::vector<uint16_t> held;
    clock.onPause = [&](int) { held.push_back(g_ctrlWord[slot].load()); };
    StopHoming();
    EXPECT_EQ(clock.pauses, std::vector<int>(6, 50));
    EXPECT_EQ(held, std::vector<uint16_t>(6, 0x010F));
    EXPECT_EQ(g_ctrlWord[slot].load(), 0x000F);

    // From here the test gives the run's statusword itself.
    StopBusThreads();
    g_statusWord[slot] = 0x0237;  // operation enabled, homing under way
    for (int tick = 0; tick < 40; ++tick) SuperviseHoming();
    ASSERT_EQ(g_homingActive.load(), 1);
    g_statusWord[slot] = 0x5237;  // motor error (bit 14) and homing attained (bit 12)
    EXPECT_EQ(SuperviseHoming(), L"Homing Run Motor ERROR  Time ( 1 ) .....");
    EXPECT_EQ(g_homingActive.load(), 0);
    EXPECT_EQ(g_homingResult.load(), kHomingMotorError);
    EXPECT_EQ(HomingStatusColour(g_homingResult.load()), 0xFF0000u);

    // Stop hm with no run active halts nothing, not even the last run's motor.
    clock.pauses.clear();
    held.clear();
    StopHoming();
    EXPECT_TRUE(clock.pauses.empty());
    EXPECT_EQ(g_ctrlWord[slot].load(), 0x000F);
}

TEST_F(HomingOnBus, ARunThatCannotReportEndsAfterTheHalt) {
    ASSERT_EQ(StartHoming(Stopper(1, 1, L"5000", L"1")), L"");
    // The exchange stops: the statusword never changes again, and no bridge is
    // lost. (An exchange still on its way brings the same running status.)
    g_busPause = 1;
    carry_ = nullptr;  // the image is no longer packed
    for (int tick = 0; tick < 200; ++tick) SuperviseHoming();
    EXPECT_EQ(g_homingActive.load(), 1);  // no time limit of its own
    EXPECT_EQ(StartHoming(Stopper(kZr02Slave, 1, L"0", L"500")), L"Motor Homing!!!!");

    StopHoming();
    std::wstring text;
    int ticks = 0;
    while (g_homingActive.load() != 0 && ticks < 1000) {
        text = SuperviseHoming();
        ++ticks;
    }
    EXPECT_EQ(g_homingActive.load(), 0);
    EXPECT_EQ(ticks, 64);
    // 1 + 200 + 64 ticks of 32 a second.
    EXPECT_EQ(text, L"Homing Run ERROR  timeOut , Time ( 8 ) .....");
    EXPECT_EQ(g_homingResult.load(), kHomingError);
}

// A bridge the bus has lost can report nothing: its run ends as a homing error
// at the next tick, and hm Start is free again.
TEST_F(HomingOnBus, ARunOnALostBridgeEndsAsAHomingErrorAtOnce) {
    ASSERT_EQ(StartHoming(Stopper(1, 1, L"5000", L"1")), L"");
    segment().powerOff(1);
    ASSERT_TRUE(testsupport::WaitUntil([] { return SlaveIsLost(1); }));
    carry_ = nullptr;  // the image is no longer packed
    EXPECT_EQ(SuperviseHoming(), L"Homing Run ERROR  timeOut , Time ( 0 ) .....");
    EXPECT_EQ(g_homingActive.load(), 0);
    EXPECT_EQ(g_homingResult.load(), kHomingError);
    EXPECT_EQ(StartHoming(Stopper(1, 1, L"0", L"500")), L"") << "no run is left active";
    EXPECT_EQ(SuperviseHoming(), L"Homing Run ERROR  timeOut , Time ( 0 ) .....");
}

TEST(HomingProcedure, FieldRangesAcceptTheirEnds) {
    HomingFields fields;
    HomingValues values;
    fields.offset = L"-32516";
    EXPECT_EQ(CheckHomingFields(fields, &values), L"");
    EXPECT_EQ(values.offset, -32516);
    fields.offset = L"32515";
    fields.switchSpeed = fields.zeroSpeed = fields.acceleration = L"1";
    fields.torque = L"10";
    EXPECT_EQ(CheckHomingFields(fields, &values), L"");
    EXPECT_EQ(values.torque, 10);
    fields.switchSpeed = fields.zeroSpeed = fields.acceleration = L"40000";
    fields.torque = L"100";
    EXPECT_EQ(CheckHomingFields(fields, &values), L"");
    EXPECT_EQ(values.acceleration, 40000);
    // A switch type does not look at the torque.
    fields.torque = L"";
    fields.homingType = kHomingSwitchCw;
    EXPECT_EQ(CheckHomingFields(fields, &values), L"");
}

TEST(HomingProcedure, K27MarksTheChosenInputDigit) {
    EXPECT_EQ(SetHomingInputDigit(12, 3), 2011);  // INPUT4
    EXPECT_EQ(SetHomingInputDigit(0, 0), 2);      // INPUT1 is the units digit
    EXPECT_EQ(SetHomingInputDigit(222222, 5), 211111);
    EXPECT_EQ(SetHomingInputDigit(999999, 2), 999299);
    EXPECT_EQ(SetHomingInputDigit(-5, 0), -5);
    EXPECT_EQ(SetHomingInputDigit(1000000, 0), 1000000);
    // Bad parameter or motor numbers are refused before any device access.
    int32_t value = 7;
    EXPECT_EQ(ReadMotorParamK(1, 100, &value, 1), -2);
    EXPECT_EQ(ReadMotorParamK(0, 27, &value, 1), -2);
    EXPECT_EQ(ReadMotorParamK(5, 27, &value, 1), -2);
    EXPECT_EQ(value, 7);
}

}  // namespace
