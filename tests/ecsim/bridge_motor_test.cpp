// The Tarnquisel motor interpreter and the bridge's motor text channel.
#include <gtest/gtest.h>

#include "bridge_test_util.hpp"
#include "ecsim/tql_motor.hpp"

namespace {

using bridgetest::Bridge;
using ecsim::MotorKind;
using ecsim::SerialSpeed;
using ecsim::SlaveKind;
using ecsim::TqlMotor;
using Replies = std::vector<std::string>;

constexpr uint32_t kWindowKey = 0x6D3F1;

TEST(TqlMotor, IgnoresBlankLinesAndSplitsCommandsAtCommas) {
    TqlMotor m(MotorKind::A);
    EXPECT_TRUE(m.runLine("  \r\n").empty());
    EXPECT_TRUE(m.runLine("").empty());
    EXPECT_EQ(m.runLine(" K16.1 ,, K23.1\r\n"), (Replies{"K16.1=2", "K23.1=5"}));
}

TEST(TqlMotor, SetsParametersOnlyWhenUnlockedWithItsOwnWord) {
    TqlMotor a(MotorKind::A);
    EXPECT_TRUE(a.runLine("K16.1=4").empty());
    EXPECT_EQ(a.param(16), 2) << "a locked motor ignores settings";

    EXPECT_TRUE(a.runLine("W.1=6042").empty());  // the kind-B word does not open kind A
    a.runLine("K16.1=4");
    EXPECT_EQ(a.param(16), 2);

    a.runLine("W.1=358");
    EXPECT_FALSE(a.locked());
    a.runLine("K16.1=4,K23.1=-9");
    EXPECT_EQ(a.param(16), 4);
    EXPECT_EQ(a.param(23), -9);

    a.runLine("W.1=1");  // any other word locks again
    EXPECT_TRUE(a.locked());
    a.runLine("K16.1=7");
    EXPECT_EQ(a.param(16), 4);

    TqlMotor b(MotorKind::B);
    b.runLine("W.1=6042,K70.1=0");
    EXPECT_EQ(b.param(70), 0);
}

TEST(TqlMotor, ReportsErrorsThatNeverLookLikeNothingOrATimeout) {
    TqlMotor m(MotorKind::A);
    m.runLine("W.1=358");
    const Replies bad = m.runLine("HELLO,K100.1,K16.1=abc,?12.1,K.1,W.1,?99");
    ASSERT_EQ(bad.size(), 7u);
    EXPECT_EQ(bad[2], "E:VAL");
    for (const std::string& r : bad) EXPECT_EQ(r.front(), 'E') << r;
    // Commands for another ID address nobody on this channel.
    EXPECT_TRUE(m.runLine("?99.2,K16.3=1").empty());
}

TEST(TqlMotor, AnswersMotionQueries) {
    TqlMotor m(MotorKind::A);
    m.setPosition(-1234);
    EXPECT_EQ(m.runLine("?96.1,?97.1"), (Replies{"Px=-1234", "Vx=0"}));
}

TEST(TqlMotor, SerialSpeedFollowsK20ByKind) {
    TqlMotor a(MotorKind::A);
    TqlMotor b(MotorKind::B);
    EXPECT_EQ(a.serialSpeed(), SerialSpeed::Baud38400);
    a.runLine("W.1=358,K20.1=6");
    b.runLine("W.1=6042,K20.1=8");
    EXPECT_EQ(a.serialSpeed(), SerialSpeed::Baud170k);
    EXPECT_EQ(b.serialSpeed(), SerialSpeed::Baud170k);
    // A value the motor cannot run at is refused rather than stranding it.
    EXPECT_EQ(a.runLine("K20.1=8"), Replies{"E:VAL"});
    EXPECT_EQ(a.param(20), 6);
    a.runLine("K20.1=3");
    EXPECT_EQ(a.serialSpeed(), ecsim::channelSpeed(3));
}

// ---- the channel objects of the bridge ----

TEST(MotorChannel, PassesALineOnlyWhenChannelAndMotorSpeedsMatch) {
    Bridge bridge(SlaveKind::ZR12);
    EXPECT_EQ(bridge.tql(3, "?99.1"), Replies{"Ux=TQ-B 3.04"});

    // The motor moves to 170 kbit/s (kind B: K20=8); the channel still runs 38400.
    EXPECT_TRUE(bridge.tql(3, "W.1=6042,K20.1=8").empty());
    EXPECT_TRUE(bridge.tql(3, "?99.1").empty()) << "lost on the wire";

    ASSERT_EQ(bridge.write(0xF550, 3, kWindowKey), 0u);
    ASSERT_EQ(bridge.write(0xF513, 2, 6), 0u);
    EXPECT_EQ(bridge.device.channelSpeedCode(2), 6u);
    EXPECT_EQ(bridge.tql(3, "?99.1"), Replies{"Ux=TQ-B 3.04"});

    // Kind A pairs code 6 with K20=6: with K20=8 it would never be heard again.
    ASSERT_EQ(bridge.write(0xF511, 2, 6), 0u);
    EXPECT_TRUE(bridge.tql(1, "?99.1").empty());
    bridge.write(0xF511, 2, 0);
    bridge.tql(1, "W.1=358,K20.1=6");
    bridge.write(0xF511, 2, 6);
    EXPECT_EQ(bridge.tql(1, "?99.1"), Replies{"Ux=TQ-A 2.10"});
    // The other channels are untouched.
    EXPECT_EQ(bridge.tql(2, "?99.1"), Replies{"Ux=TQ-A 2.10"});
}

TEST(MotorChannel, RepliesOfTheSpeedChangingLineStillArrive) {
    Bridge bridge(SlaveKind::ZR01);
    EXPECT_EQ(bridge.tql(1, "W.1=358,K20.1=6,K20.1"), Replies{"K20.1=6"});
    EXPECT_EQ(bridge.device.motor(0)->param(20), 6);
}

TEST(MotorChannel, QueuesRepliesOldestFirstAndAnswersNWhenEmpty) {
    Bridge bridge(SlaveKind::ZR02);
    for (int i = 0; i < 70; ++i) {
        ASSERT_EQ(bridge.writeText(0xF582, 0, "?99.1,K16.1"), 0u);
    }
    EXPECT_EQ(bridge.device.pendingReplies(1), 128u) << "bounded, oldest dropped";
    const Replies replies = bridge.drain(2);
    ASSERT_EQ(replies.size(), 128u);
    for (size_t i = 0; i < replies.size(); i += 2) {
        EXPECT_EQ(replies[i], "Ux=TQ-B 3.04");
        EXPECT_EQ(replies[i + 1], "K16.1=2");
    }
    const std::string empty = bridge.readText(0xF592, 0);
    EXPECT_EQ(empty, "NoData");
    EXPECT_TRUE(bridge.drain(1).empty()) << "each channel has its own queue";
}

TEST(MotorChannel, RefusesLinesLongerThan64Bytes) {
    Bridge bridge;
    const std::string line64 = "?99.1" + std::string(59, ' ');
    EXPECT_EQ(bridge.writeText(0xF581, 0, line64), 0u);
    EXPECT_EQ(bridge.drain(1).size(), 1u);
    EXPECT_EQ(bridge.writeText(0xF581, 0, line64 + " "), ecsim::abort_code::LengthTooHigh);
    EXPECT_TRUE(bridge.drain(1).empty());
}

TEST(MotorChannel, AMissingMotorNeverAnswers) {
    Bridge bridge(SlaveKind::ZR12, {true, false, true, true});
    EXPECT_EQ(bridge.device.motor(1), nullptr);
    EXPECT_EQ(bridge.writeText(0xF582, 0, "?99.1"), 0u);
    EXPECT_EQ(bridge.readText(0xF592, 0).front(), 'N');
    // Its parameters cannot be fetched through the axis either.
    std::vector<uint8_t> data;
    EXPECT_EQ(bridge.device.dictionary().upload(0x68F6, 7, data), ecsim::abort_code::CannotStore);
}

TEST(MotorChannel, MapsK21ToK99OntoTheAxisParameterObject) {
    Bridge bridge(SlaveKind::ZR12);
    bridge.tql(4, "W.1=6042,K27.1=12,K47.1=55");
    EXPECT_EQ(bridge.readInt(0x78F6, 0x07), 12);
    EXPECT_EQ(bridge.readInt(0x78F6, 0x1B), 55);
    // The bridge writes them without a motor unlock (homing does that).
    ASSERT_EQ(bridge.write(0x78F6, 0x07, 2011), 0u);
    EXPECT_EQ(bridge.tql(4, "K27.1"), Replies{"K27.1=2011"});
    EXPECT_EQ(bridge.write(0x78F6, 0x07, -5), 0u);
    EXPECT_EQ(bridge.readInt(0x78F6, 0x07), -5);
    EXPECT_EQ(bridge.readInt(0x78F6, 0), 79);
}

TEST(MotorChannel, MotorKindsFollowTheModel) {
    for (auto [kind, kinds] : {std::pair{SlaveKind::ZR01, std::array{1, 1, 1, 1}},
                               std::pair{SlaveKind::ZR02, std::array{2, 2, 2, 2}},
                               std::pair{SlaveKind::ZR12, std::array{1, 1, 2, 2}}}) {
        Bridge bridge(kind);
        for (size_t c = 0; c < 4; ++c) {
            EXPECT_EQ(static_cast<int>(bridge.device.motor(c)->kind()), kinds[c]);
            EXPECT_EQ(bridge.readInt(static_cast<uint16_t>(0xF511 + c), 1), kinds[c]);
            EXPECT_TRUE(bridge.device.motor(c)->locked());
            EXPECT_EQ(bridge.device.channelSpeedCode(c), 0u);
        }
    }
}

}  // namespace
