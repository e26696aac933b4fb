#include "motor/bridge_params.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "motor_bus.hpp"
#include "settings/access_level.hpp"
#include "settings/settings_values.hpp"

namespace {

using motortest::MotorBus;
using testsupport::PauseText;

constexpr uint16_t kParams = 0xF540;

int64_t Param(MotorBus& bus, uint8_t sub) {
    return bus.bridge(1).dictionary().getInt(kParams, sub);
}
void SetParam(MotorBus& bus, uint8_t sub, int64_t v) {
    bus.bridge(1).dictionary().setInt(kParams, sub, v);
}

BridgeParamTexts GoodTexts() {
    // Each at the longest length its field takes.
    return {L"1234", L"-12", L"3", L"7", L"-999", L"7fffff1f"};
}

TEST(BridgeParams, ReadIntoTheFieldsInDecimalAndDebugSetInHex) {
    MotorBus bus("ZR12,IO");
    testsupport::RecordingClock clock;
    g_accessLevel = kMakerLevel;
    SetParam(bus, 1, 10);
    SetParam(bus, 2, -3);
    SetParam(bus, 5, 2);
    SetParam(bus, 6, 4);
    SetParam(bus, 7, 1234);
    SetParam(bus, 3, 10);
    BridgeParamTexts texts;
    ReadBridgeParameters(1, texts);
    EXPECT_EQ(texts, (BridgeParamTexts{L"10", L"-3", L"2", L"4", L"1234", L"00a"}));

    // The service level reads DEBUGSet too, into the field it does not show.
    g_accessLevel = kServiceLevel;
    BridgeParamTexts service;
    ReadBridgeParameters(1, service);
    EXPECT_EQ(service, texts);

    // Ordinary level: DEBUGSet is not read; a slave that is no bridge changes nothing.
    g_accessLevel = 0;
    BridgeParamTexts fresh;
    ReadBridgeParameters(1, fresh);
    EXPECT_EQ(fresh[kDebugSet], L"");
    EXPECT_EQ(fresh[kDravokMode], L"10");
    ReadBridgeParameters(2, fresh);
    EXPECT_EQ(fresh[kDravokMode], L"10");

    // A read that uploads nothing (here: the bridge is known lost, which fails
    // as a timeout does) leaves its field as it was, never "0".
    g_accessLevel = kMakerLevel;
    SetSlaveLost(1, true);
    ReadBridgeParameters(1, texts);
    SetSlaveLost(1, false);
    EXPECT_EQ(texts, (BridgeParamTexts{L"10", L"-3", L"2", L"4", L"1234", L"00a"}));
}

TEST(BridgeParams, WrittenInsideTheConfigurationWindow) {
    MotorBus bus("ZR12");
    testsupport::RecordingClock clock;
    g_accessLevel = kServiceLevel;
    const BridgeParamWrite write = WriteBridgeParameters(1, GoodTexts());
    EXPECT_TRUE(write.written);
    EXPECT_EQ(write.message, L"");
    EXPECT_EQ(Param(bus, 1), 1234);
    EXPECT_EQ(Param(bus, 2), -12);
    EXPECT_EQ(Param(bus, 5), 3);
    EXPECT_EQ(Param(bus, 6), 7);
    EXPECT_EQ(Param(bus, 7), -999);
    EXPECT_EQ(Param(bus, 3), 0x7fffff1f);
    EXPECT_FALSE(bus.bridge(1).configWindowOpen());

    // The maker level reads DEBUGSet 10 as 00a and writes it back as 10.
    g_accessLevel = kMakerLevel;
    SetParam(bus, 3, 10);
    BridgeParamTexts texts;
    ReadBridgeParameters(1, texts);
    EXPECT_EQ(texts[kDebugSet], L"00a");
    SetParam(bus, 3, 0);
    ASSERT_TRUE(WriteBridgeParameters(1, texts).written);
    EXPECT_EQ(Param(bus, 3), 10);

    // The ordinary level writes five subindexes and leaves DEBUGSet alone.
    g_accessLevel = 0;
    BridgeParamTexts noDebug = GoodTexts();
    noDebug[kDebugSet] = L"";
    noDebug[kDravokMode] = L"55";
    ASSERT_TRUE(WriteBridgeParameters(1, noDebug).written);
    EXPECT_EQ(Param(bus, 1), 55);
    EXPECT_EQ(Param(bus, 3), 10);
}

TEST(BridgeParams, ReadAndWrittenInTheirOwnOrders) {
    using motortest::Read;
    using motortest::Write;
    MotorBus bus("ZR12");
    testsupport::RecordingClock clock;
    g_accessLevel = kMakerLevel;
    BridgeParamTexts texts;
    // The reads go without pauses; each write waits 10 ms but DEBUGSet's, the
    // window closes 50 ms after the last.
    EXPECT_EQ(bus.traced(clock, 1, [&] { ReadBridgeParameters(1, texts); }),
              (std::vector<std::string>{Read(kParams, 1), Read(kParams, 2), Read(kParams, 5),
                                        Read(kParams, 7), Read(kParams, 6), Read(kParams, 3)}));
    EXPECT_EQ(
        bus.traced(clock, 1, [&] { ASSERT_TRUE(WriteBridgeParameters(1, GoodTexts()).written); }),
        (std::vector<std::string>{
            Write(0xF550, 3, 0x6D3F1), PauseText(10), Write(kParams, 1, 1234), PauseText(10),
            Write(kParams, 2, -12), PauseText(10), Write(kParams, 5, 3), PauseText(10),
            Write(kParams, 6, 7), PauseText(10), Write(kParams, 7, -999), PauseText(10),
            Write(kParams, 3, 0x7fffff1f), PauseText(50), Write(0xF550, 3, 0), PauseText(10)}));

    // Below the service level DEBUGSet is neither read nor written.
    g_accessLevel = 0;
    EXPECT_EQ(bus.traced(clock, 1,
                         [&] {
                             ReadBridgeParameters(1, texts);
                             ASSERT_TRUE(WriteBridgeParameters(1, GoodTexts()).written);
                         }),
              (std::vector<std::string>{Read(kParams, 1),    Read(kParams, 2),
                                        Read(kParams, 5),    Read(kParams, 7),
                                        Read(kParams, 6),    Write(0xF550, 3, 0x6D3F1),
                                        PauseText(10),       Write(kParams, 1, 1234),
                                        PauseText(10),       Write(kParams, 2, -12),
                                        PauseText(10),       Write(kParams, 5, 3),
                                        PauseText(10),       Write(kParams, 6, 7),
                                        PauseText(10),       Write(kParams, 7, -999),
                                        PauseText(10),       PauseText(50),
                                        Write(0xF550, 3, 0), PauseText(10)}));
}

TEST(BridgeParams, EachBadFieldShowsItsMessageAndNothingGoesOut) {
    MotorBus bus("ZR12,IO");
    testsupport::RecordingClock clock;
    g_accessLevel = kMakerLevel;
    const struct {
        BridgeParam field;
        std::wstring text;
        std::wstring message;
    } cases[] = {
        {kDravokMode, L"12345", L"DravokMode Data Error"},
        {kDravokMode, L"", L"DravokMode Data Error"},
        {kExFun, L"1234", L"IoEnable Data Error"},
        {kExFun, L"", L"IoEnable Data Error"},
        {kMasterCode, L"", L"Master Mode Data Error"},
        {kMasterCode, L"12", L"Master Mode Data Error"},
        {kTqComCycle, L"", L"Tq1mSecFix Data Error"},
        {kTqComCycle, L"12", L"Tq1mSecFix Data Error"},
        {kOption, L"12345", L"Opsition Data Error"},
        {kOption, L"", L"Opsition Data Error"},
        {kDebugSet, L"123456789", L"DebugSet Data Error"},
        {kDebugSet, L"", L"DebugSet Data Error"},
        // A text that passes the length check but holds no number.
        {kDravokMode, L"ab", L"DravokMode Data Error"},
        {kDebugSet, L"xyz", L"DebugSet Data Error"},
    };
    const uint64_t frames = bus.frames();
    for (const auto& c : cases) {
        BridgeParamTexts texts = GoodTexts();
        texts[c.field] = c.text;
        const BridgeParamWrite write = WriteBridgeParameters(1, texts);
        EXPECT_FALSE(write.written);
        EXPECT_EQ(write.message, c.message);
    }
    EXPECT_EQ(bus.frames(), frames);  // no SDO traffic at all
    EXPECT_TRUE(clock.pauses.empty());
    EXPECT_EQ(Param(bus, 1), 1);

    // Only the first bad field is reported.
    BridgeParamTexts two = GoodTexts();
    two[kOption] = L"";
    two[kExFun] = L"";
    EXPECT_EQ(WriteBridgeParameters(1, two).message, L"IoEnable Data Error");

    // At the ordinary level an empty DEBUGSet is no error, and a non-bridge slave
    // is ignored without a message.
    g_accessLevel = 0;
    BridgeParamTexts texts = GoodTexts();
    texts[kDebugSet] = L"";
    const BridgeParamWrite good = WriteBridgeParameters(1, texts);
    EXPECT_TRUE(good.written);
    EXPECT_EQ(good.message, L"");
    const BridgeParamWrite notABridge = WriteBridgeParameters(2, two);
    EXPECT_FALSE(notABridge.written);
    EXPECT_EQ(notABridge.message, L"");
}

TEST(TakeParenthesisedValue, FindsTheNumberWithinTwentyFiveCharacters) {
    std::string v;
    EXPECT_TRUE(TakeParenthesisedValue("0x0000000a (10)", &v));
    EXPECT_EQ(v, "10");
    EXPECT_TRUE(TakeParenthesisedValue("0xfffffffd (-3)", &v));
    EXPECT_EQ(v, "-3");
    EXPECT_TRUE(TakeParenthesisedValue("()", &v));
    EXPECT_EQ(v, "");
    v = "keep";
    EXPECT_FALSE(TakeParenthesisedValue("NoData (1)", &v));
    EXPECT_FALSE(TakeParenthesisedValue("0x0000000a (10", &v));
    EXPECT_FALSE(TakeParenthesisedValue("Time:    1.000 SDO slave:1 (12)", &v));
    EXPECT_FALSE(TakeParenthesisedValue("", &v));
    EXPECT_EQ(v, "keep");
}

}  // namespace
