// Board initialisation on a simulated bridge: what the set procedure writes, in
// which order, what it refuses before writing, and the read-back it shows.
#include "tools/board_identity.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus/sdo_text.hpp"
#include "ecsim/bridge.hpp"
#include "support/coe_test_device.hpp"
#include "support/narrow.hpp"
#include "support/recording_clock.hpp"
#include "tool_bus.hpp"

namespace {

using testsupport::Narrow;
using tooltest::ToolBus;

int64_t Value(ecsim::BridgeDevice& bridge, uint16_t index, uint8_t sub) {
    return bridge.dictionary().getInt(index, sub);
}

TEST(BoardIdentity, ZR02And123AreWrittenAndReadBack) {
    ToolBus bus("ZR12");
    testsupport::RecordingClock clock;
    EXPECT_EQ(SetBoardIdentity(1, L"123", 1),
              L"------ Set BoardInfo ----\r\nBoardBype : 0x00000002 (2)"
              L"\r\nBoardNo : 0x0000007b (123)");
    ecsim::BridgeDevice& bridge = bus.bridge(1);
    for (uint8_t c = 0; c < 4; ++c) EXPECT_EQ(Value(bridge, 0xF511 + c, 1), 2) << int(c);
    EXPECT_EQ(SdoReadAsText(1, 0x1018, 4, kCoeInteger32), "0x0000007b (123)")
        << "the serial number the master reads";
    EXPECT_EQ(g_boardInitSlave, 1);
}

TEST(BoardIdentity, ZR12WritesItsKindsInChannelOrderAfterTheIdentity) {
    ToolBus bus("IO,ZR01");
    testsupport::RecordingClock clock;
    const std::wstring shown = SetBoardIdentity(2, L"-05", 2);
    EXPECT_EQ(clock.pauses, (std::vector<int>{10, 10, 10, 10, 10, 10, 10, 50}))
        << "a pause after each write, the longer one before the read-back";
    using motortest::Read;
    using motortest::Write;
    EXPECT_EQ(bus.received(2),
              (std::vector<std::string>{
                  Write(0xF550, 2, 0x7E2B), Write(0xF540, 0x0C, -5), Write(0xF540, 0x0B, 3),
                  Write(0xF511, 1, 1), Write(0xF512, 1, 1), Write(0xF513, 1, 2),
                  Write(0xF514, 1, 2), Read(0xF540, 0x0B), Read(0xF540, 0x0C)}));
    const int64_t kinds[] = {1, 1, 2, 2};
    for (uint8_t c = 0; c < 4; ++c) {
        EXPECT_EQ(Value(bus.bridge(2), 0xF511 + c, 1), kinds[c]) << int(c);
    }
    EXPECT_NE(shown.find(L"BoardNo : 0xfffffffb (-5)"), std::wstring::npos) << Narrow(shown);
}

// A read-back that uploaded nothing shows why, never a number.
TEST(BoardIdentity, AReadBackThatReadNothingShowsNoNumber) {
    ToolBus bus("IO,ZR02");
    testsupport::RecordingClock clock;
    // A bridge that no longer answers: here the I/O terminal, which has no mailbox.
    g_bridgeSlave[0] = 1;
    EXPECT_EQ(SetBoardIdentity(1, L"123", 1),
              L"------ Set BoardInfo ----\r\nBoardBype : Slave does not answer"
              L"\r\nBoardNo : Slave does not answer");

    // A slave that refuses: each read shows its own refusal, not a write's.
    testsupport::fitCoeDevices(bus.segment(), {2});
    g_bridgeSlave[0] = 2;
    const std::wstring shown = SetBoardIdentity(2, L"123", 1);
    EXPECT_NE(shown.find(L"BoardBype : Time:"), std::wstring::npos) << Narrow(shown);
    EXPECT_NE(shown.find(L"index:f540.0b error:06020000"), std::wstring::npos) << Narrow(shown);
    EXPECT_NE(shown.find(L"BoardNo : Time:"), std::wstring::npos) << Narrow(shown);
    EXPECT_NE(shown.find(L"index:f540.0c error:06020000"), std::wstring::npos) << Narrow(shown);
    EXPECT_EQ(shown.find(L"0x0"), std::wstring::npos) << Narrow(shown);
}

TEST(BoardIdentity, BadTextsAndTypesAreRefusedBeforeAnythingIsWritten) {
    ToolBus bus("IO,ZR02");
    testsupport::RecordingClock clock;
    const uint64_t frames = bus.frames();
    const struct {
        const wchar_t* serial;
        int type;
        const wchar_t* message;
    } refused[] = {
        {L"12", 0, L"Board No Set  Data Error!"},
        {L"1234567890123456789012345678901", 0, L"Board No Set  Data Error!"},
        // A number, but 31 characters.
        {L"1abcdefghijklmnopqrstuvwxyzabcd", 0, L"Board No Set  Data Error!"},
        {L"abc", 0, L"Board No Set  Data Error!"},
        {L" x42", 0, L"Board No Set  Data Error!"},
        {L"4294967296", 0, L"Board No Set  Data Error!"},
        {L"123", 3, L"Init Error 001!!!"},
        {L"123", -1, L"Init Error 001!!!"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(SetBoardIdentity(2, r.serial, r.type), r.message) << Narrow(r.serial);
    }
    EXPECT_EQ(bus.frames(), frames) << "no device access";
    EXPECT_TRUE(bus.received(2).empty());
    EXPECT_TRUE(clock.pauses.empty());

    // A slave that is no bridge: nothing at all.
    EXPECT_EQ(SetBoardIdentity(1, L"123", 0), L"");
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(g_boardInitSlave, 1);

    // The length's ends, and the number at the start of the text.
    SetBoardIdentity(2, L"0042", 1);
    EXPECT_EQ(Value(bus.bridge(2), 0xF540, 0x0C), 42);
    SetBoardIdentity(2, L"987654321-abcdefghijklmnopqrst", 1);
    EXPECT_EQ(Value(bus.bridge(2), 0xF540, 0x0C), 987654321) << "30 characters, its number";
    SetBoardIdentity(2, L" 77 is the number", 1);
    EXPECT_EQ(Value(bus.bridge(2), 0xF540, 0x0C), 77);
}

}  // namespace
