// The firmware update's state machine against a scripted loader: what each
// state accepts, what it counts and shows, how a run fails, starts again and
// ends, and how long one tick may hold the window.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "core/message_box_recorder.hpp"
#include "scripted_loader.hpp"
#include "support/all_layers.hpp"
#include "tools/self_prg.hpp"

namespace {

using namespace std::chrono_literals;
using tooltest::RecordedView;
using tooltest::ScriptedLoader;
using Replies = std::vector<std::string>;

const std::string kHeader = "S008000056322E3030E1\r\n";
const std::string kData = "S1130000000102030405060708090A0B0C0D0E0F74\r\n";
const std::string kEnd = "S9030000FC\r\n";
const std::string kFile = kHeader + kData + kEnd;

class SelfPrgMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::ResetAllLayers();
        // Slaves 1 and 2 are bridges, 3 is not.
        g_bridgeSlave[0] = 1;
        g_bridgeSlave[1] = 2;
        g_bridgeCount = 2;
    }
    void TearDown() override {
        EXPECT_TRUE(boxes_.texts().empty()) << "the dialog shows what the run returns";
        testsupport::ResetAllLayers();
    }

    // Puts bytes into the run's buffer as they are, unchecked.
    static void PutFile(const std::string& data) {
        std::memcpy(g_selfPrgBuf, data.data(), data.size());
        g_selfPrgBuf[data.size()] = '\0';
        g_selfPrgFileLen = static_cast<int32_t>(data.size());
        g_selfPrgFileLoaded = 1;
    }
    void Tick() {
        link_.now += 25ms;
        Say(SelfPrgStep(link_, view_));
    }
    // Ticks until the run is in `state`; false when it never gets there.
    bool TickToState(int state) {
        for (int t = 0; t < 20000 && g_selfPrgState != state; ++t) Tick();
        return g_selfPrgState == state;
    }
    bool RunToIdle() { return TickToState(0); }
    bool Start(int slave = 2) { return Say(StartSelfPrg(slave, link_, view_)); }
    // Keeps what a call returned to show; true when that was nothing.
    bool Say(const std::wstring& text) {
        if (!text.empty()) said_.push_back(text);
        return text.empty();
    }

    std::vector<std::wstring> said_;
    testsupport::MessageBoxRecorder boxes_;
    ScriptedLoader link_;
    RecordedView view_;
};

TEST_F(SelfPrgMachine, AGoodRunEndsOkWithItsCountsAndTheBridgeItStartedOn) {
    PutFile(kFile);
    ASSERT_TRUE(Start(2));
    EXPECT_EQ(g_selfPrgState, 1);
    EXPECT_EQ(view_.status(), "SelfPrgStart....");
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 0");
    EXPECT_EQ(said_, std::vector<std::wstring>{L"SlaveNo.2\r\nSoftware Update OK."});
    EXPECT_EQ(link_.sent,
              (Replies{"<unlock 2>", "!PRGMO\r\n", "!110.9\r\n", kHeader, kData, kEnd}));
    EXPECT_EQ(link_.slaves, (std::vector<int>{2, 2, 2, 2, 2}));
    // Start, the unlock word, the mode command, entering the erase, the erase,
    // before the first line, and after each line.
    EXPECT_EQ(link_.pauses, (std::vector<int>{100, 10, 100, 200, 3000, 30, 1, 1, 1}));
    EXPECT_TRUE(view_.showed("Erease Flash Memory..."));
    EXPECT_TRUE(view_.showed("Down Load Ready\r\n"));
    EXPECT_TRUE(view_.showed("SelfPrgLines = 2"));
    EXPECT_EQ(g_selfPrgRetry, 0);
    EXPECT_EQ(g_selfPrgReadPos, 0);
    EXPECT_EQ(g_selfPrgLines, 0);
}

TEST_F(SelfPrgMachine, StartRefusesAnythingButAnIdleRunWithAFileOnABridge) {
    EXPECT_FALSE(Start(2));
    EXPECT_FALSE(Start(3));
    g_bridgeCount = 0;
    EXPECT_FALSE(Start(1));
    g_bridgeCount = 2;
    PutFile(kFile);
    ASSERT_TRUE(Start(1));
    EXPECT_FALSE(Start(2));
    EXPECT_EQ(said_, (std::vector<std::wstring>{
                         L"Please OpenSendFile!", L"Self Update Board Select Error!",
                         L"Self Update Board Select Error!", L"SelfPrgRun!..."}));
    EXPECT_EQ(link_.sent, Replies{"<unlock 1>"}) << "a refusal writes nothing";
    EXPECT_EQ(g_selfPrgSlave, 1);
}

TEST_F(SelfPrgMachine, ProgrammingModeWantsTwelveCharactersPrgAndAnOAtSeven) {
    PutFile(kFile);
    int asked = 0;
    link_.answer = [&](const std::string& text) -> Replies {
        if (text != "!PRGMO\r\n") return ScriptedLoader::GoodLoader()(text);
        return {++asked <= 5 ? "PrgMod OK!\r" : "PrgMod OK!\r\n"};
    };
    ASSERT_TRUE(Start(2));
    for (int t = 0; t < 40 && g_selfPrgRetry == 0; ++t) Tick();
    EXPECT_EQ(link_.CountSent("!PRGMO\r\n"), 5u) << "eleven characters are not enough";
    EXPECT_EQ(g_selfPrgRetry, 1);

    // The run waits for its restart without holding the window, and stays busy.
    EXPECT_NE(g_selfPrgState, 0);
    EXPECT_FALSE(Start(1));
    EXPECT_EQ(said_, std::vector<std::wstring>{L"SelfPrgRun!..."});
    for (int t = 0; t < 40 && link_.CountSent("<unlock 2>") == 1; ++t) Tick();
    EXPECT_EQ(link_.CountSent("<unlock 2>"), 2u) << "restarted on the run's own bridge";
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 0");
    EXPECT_EQ(g_selfPrgRetry, 0);
}

TEST_F(SelfPrgMachine, ThreeFailuresEndTheRunWithTheStatesErrorText) {
    PutFile(kFile);
    // Never "Down": a 15-character reply is shown but not taken.
    link_.answer = [](const std::string& text) -> Replies {
        if (text == "!110.9\r\n") return {"Down Load Ready", "Down Load Ready", "Down Load Ready"};
        return ScriptedLoader::GoodLoader()(text);
    };
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgError-002");
    EXPECT_TRUE(view_.showed("Down Load Ready"));
    EXPECT_TRUE(view_.showed("NoData"));
    EXPECT_EQ(link_.CountSent("<unlock 2>"), 3u);
    EXPECT_EQ(link_.CountSent("!110.9\r\n"), 9u);
    EXPECT_EQ(link_.reads, 3 * (1 + 30));  // the mode replies and ten polls a pass
    EXPECT_EQ(g_selfPrgRetry, 0);
    EXPECT_TRUE(said_.empty());

    // Sixteen characters are.
    link_.answer = [](const std::string& text) -> Replies {
        if (text == "!110.9\r\n") return {"Down Load Ready!"};
        return ScriptedLoader::GoodLoader()(text);
    };
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 0");

    // No reply to the mode command at all.
    link_.answer = [](const std::string&) { return Replies{}; };
    ASSERT_TRUE(Start(1));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgError-001");
}

// A failed run starts again on its own once the pause of the state that failed
// has passed, counted from the failure, whatever the ticks do meanwhile.
TEST_F(SelfPrgMachine, AFailedRunStartsAgainAfterThePauseOfItsState) {
    PutFile(kFile);
    const struct {
        std::string unanswered;
        std::chrono::milliseconds pause;
    } failures[] = {{"!PRGMO\r\n", 550ms}, {"!110.9\r\n", 1250ms}, {kHeader, 2250ms}};
    for (const auto& f : failures) {
        link_.answer = [&f](const std::string& text) -> Replies {
            if (text == f.unanswered) return {};
            return ScriptedLoader::GoodLoader()(text);
        };
        ASSERT_TRUE(Start(2));
        for (int t = 0; t < 20000 && g_selfPrgRetry == 0; ++t) Tick();
        ASSERT_EQ(g_selfPrgRetry, 1) << f.unanswered;
        const auto failedAt = link_.now;
        const size_t unlocks = link_.CountSent("<unlock 2>");
        // Ticks a millisecond apart find the moment.
        auto restartedAt = failedAt;
        for (int ms = 0; ms < 5000 && link_.CountSent("<unlock 2>") == unlocks; ++ms) {
            restartedAt = link_.now += 1ms;
            Say(SelfPrgStep(link_, view_));
        }
        EXPECT_EQ(restartedAt - failedAt, f.pause) << f.unanswered;
        link_.answer = ScriptedLoader::GoodLoader();
        ASSERT_TRUE(RunToIdle());
        EXPECT_EQ(g_selfPrgRetry, 0);
    }
    EXPECT_EQ(said_, std::vector<std::wstring>(3, L"SlaveNo.2\r\nSoftware Update OK."));
}

TEST_F(SelfPrgMachine, LineRepliesAreJudgedByTheirFirstCharacters) {
    PutFile(kFile);
    int dataSends = 0;
    link_.answer = [&](const std::string& text) -> Replies {
        // Five characters decide nothing, nor a 'B' without CR and LF at 6 and 7.
        if (text == kHeader) return {"B0001", "B00001\rX", "B00001\r\n"};
        if (text == kData) {
            // 'E' ends a send at once; accepted at the third send.
            return {++dataSends < 3 ? "Err:Sum\r\n" : "B00002\r\n"};
        }
        if (text == kEnd) return {"Flash!"};
        return ScriptedLoader::GoodLoader()(text);
    };
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 1");
    EXPECT_EQ(link_.CountSent(kHeader), 1u);
    EXPECT_EQ(link_.CountSent(kData), 3u);
    // After the header's line: 1 ms, then 2 ms after each undecided poll. After
    // each 'E' the next send follows without a pause.
    std::vector<int> linePauses;
    for (int p : link_.pauses) {
        if (p <= 2) linePauses.push_back(p);
    }
    EXPECT_EQ(linePauses, (std::vector<int>{1, 2, 2, 1, 1, 1, 1}));

    // The next run counts its own resends only.
    link_.answer = ScriptedLoader::GoodLoader();
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 0");
}

TEST_F(SelfPrgMachine, ARefusedLineStopsTheRunWithTheLoadersRefusal) {
    PutFile(kFile);
    g_selfPrgRetry = 1;
    // Refused once, then never answered again: the refusal is what the run shows.
    bool refused = false;
    link_.answer = [&](const std::string& text) -> Replies {
        if (text == kData) {
            if (refused) return {};
            refused = true;
            return {"Err:Sum\r\n"};
        }
        return ScriptedLoader::GoodLoader()(text);
    };
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "Err:Sum\r\n");
    EXPECT_EQ(link_.CountSent(kData), 30u);
    EXPECT_EQ(link_.CountSent("<unlock 2>"), 1u) << "no restart";
    EXPECT_EQ(g_selfPrgRetry, 1);
    EXPECT_EQ(g_selfPrgReadPos, 0);

    // The next run begins with the first line again.
    link_.sent.clear();
    link_.answer = ScriptedLoader::GoodLoader();
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(link_.sent,
              (Replies{"<unlock 2>", "!PRGMO\r\n", "!110.9\r\n", kHeader, kData, kEnd}));
}

TEST_F(SelfPrgMachine, TheLastLineAcceptedByEitherTestIsASuccess) {
    // Blank lines after the termination record, as editors leave them: each is
    // acknowledged with 'B', the last one too.
    PutFile(kFile + "\r\n\r\n");
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 5 ,lostCnt = 0");
    EXPECT_EQ(said_, std::vector<std::wstring>{L"SlaveNo.2\r\nSoftware Update OK."});

    // Data that ends without a line feed: the last line never goes.
    said_.clear();
    g_selfPrgRetry = 2;
    PutFile(kHeader + "S9030000FC");
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgError-004 , Lines= 1");
    EXPECT_EQ(link_.CountSent("S9030000FC"), 0u);
    EXPECT_EQ(g_selfPrgRetry, 0);
    EXPECT_TRUE(said_.empty());
}

TEST_F(SelfPrgMachine, TheBarFollowsTheBytesTaken) {
    // 200 lines of 50 bytes: ten a tick, so 5000 of 10000 bytes after ten ticks.
    std::string file;
    for (int i = 0; i < 200; ++i) file += std::string(48, 'S') + "\r\n";
    PutFile(file);
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(TickToState(3));
    view_.progress.clear();
    for (int t = 0; t < 10; ++t) Tick();
    EXPECT_EQ(g_selfPrgReadPos, 5000);
    EXPECT_EQ(view_.progress.back(), 55);
    EXPECT_EQ(view_.progress.front(), 500 * 94 / 10000 + 8);
}

TEST_F(SelfPrgMachine, ATickWithASilentBridgeLeavesOffInTimeAndTheNextGoesOn) {
    PutFile(kFile);
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(TickToState(3));
    // From now on every access times out after 700 ms and reads the library's
    // error text.
    link_.answer = [](const std::string&) { return Replies{}; };
    link_.readWhenEmpty = "Time:0.7 SDO slave:2 index:F571.00 error:Timeout";
    link_.accessTime = 700ms;
    const size_t sendsBefore = link_.sent.size();
    auto longest = 0ms;
    for (int t = 0; t < 1000 && g_selfPrgRetry == 0; ++t) {
        const auto before = link_.now + 25ms;
        Tick();
        longest = std::max(
            longest, std::chrono::duration_cast<std::chrono::milliseconds>(link_.now - before));
    }
    // Half a second, then the access under way and its pause.
    EXPECT_LE(longest, 500ms + 700ms + 2ms);
    // Thirty sends of eleven accesses each were carried from tick to tick.
    EXPECT_EQ(link_.sent.size() - sendsBefore, 30u);
    EXPECT_EQ(link_.CountSent(kHeader), 30u);
    EXPECT_EQ(g_selfPrgRetry, 1);

    // Back to a good loader, the restarted run ends well.
    link_.accessTime = 1ms;
    link_.answer = ScriptedLoader::GoodLoader();
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 3 ,lostCnt = 0");
}

}  // namespace
