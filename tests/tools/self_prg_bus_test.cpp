// Whole firmware updates of a simulated bridge through the master, with the
// loader's faults switched on: what reaches the bridge and the run's pauses,
// in order; and the refusals of OpenFile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "bus/sdo_text.hpp"
#include "ecsim/firmware_loader.hpp"
#include "scripted_loader.hpp"
#include "support/recording_clock.hpp"
#include "support/wait_until.hpp"
#include "tool_bus.hpp"

namespace {

using motortest::RecordedBoxes;
using tooltest::RecordedView;
using tooltest::TempFile;
using tooltest::ToolBus;
using Faults = ecsim::FirmwareLoader::Faults;

constexpr int kBridge = 2;  // "IO,ZR02": the bridge is the second slave

// One access of the run to the bridge, as text: "unlock" for the unlock word,
// "< TEXT" for a command or line written, ">" for a reply read.
std::vector<std::string> RunAccesses(ecsim::BridgeDevice& bridge) {
    std::vector<std::string> texts;
    for (const ecsim::VendorAccess& a : bridge.accessRecord()) {
        if (a.index == ObjSelfPrgCommand && a.download) {
            texts.push_back("< " + std::string(a.data.begin(), a.data.end()));
        } else if (a.index == ObjSelfPrgResponse && !a.download) {
            texts.emplace_back(">");
        } else if (a.index == 0xF550 && a.subindex == 2 && a.download) {
            texts.emplace_back("unlock");
        } else {
            texts.push_back(motortest::AccessText(a));
        }
    }
    return texts;
}

// The file's lines as the run sends them, each with its line feed.
std::vector<std::string> LinesOf(const std::string& image) {
    std::vector<std::string> lines;
    for (size_t from = 0; from < image.size();) {
        const size_t end = image.find('\n', from) + 1;
        lines.push_back(image.substr(from, end - from));
        from = end;
    }
    return lines;
}

// What a good loader receives before the first line, and the run's pauses until
// then: Start, the unlock word, the mode command, entering the erase, the erase,
// before the first line.
const std::vector<std::string> kAccessesBeforeLines = {"unlock", "< !PRGMO\r\n", ">",
                                                       "< !110.9\r\n", ">"};
const std::vector<int> kPausesBeforeLines = {100, 10, 100, 200, 3000, 30};

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Version(int slave) {
    return SdoReadAsText(static_cast<uint16_t>(slave), 0x100A, 0, kCoeVisibleString);
}

// The run's pauses and restarts are on a recording clock and the simulated
// loader erases at once, so a whole update takes only its device accesses.
class SelfPrgOnBus : public ::testing::Test {
  protected:
    SelfPrgOnBus() { bridge().setLoaderEraseTime(std::chrono::milliseconds(0)); }

    ecsim::BridgeDevice& bridge() { return bus_.bridge(kBridge); }
    void Load(const std::string& image) {
        TempFile file(image);
        std::string reason;
        ASSERT_EQ(LoadSelfPrgFile(file.path(), &reason), SelfPrgFileLoad::Loaded) << reason;
    }
    void SetFaults(const Faults& faults) { bridge().setLoaderFaults(faults); }
    // Starts a run of the loaded file and ticks it to its end as its dialog's
    // timer would, 25 ms apart (time that passes, not a pause of the run).
    void Update() {
        bridge().clearAccessRecord();
        ASSERT_EQ(StartSelfPrg(kBridge, link_, view_), L"");
        for (int t = 0; t < 2000 && g_selfPrgState != 0; ++t) {
            clock_.Advance(25);
            std::wstring text = SelfPrgStep(link_, view_);
            if (!text.empty()) said_.push_back(std::move(text));
        }
        ASSERT_EQ(g_selfPrgState, 0) << view_.status();
        EXPECT_TRUE(boxes_.texts().empty()) << "the dialog shows what the run returns";
    }
    // Each line sent once and answered at the first read.
    static std::vector<std::string> Sent(const std::vector<std::string>& lines) {
        std::vector<std::string> texts;
        for (const std::string& line : lines)
            texts = texts + std::vector<std::string>{"< " + line, ">"};
        return texts;
    }

    ToolBus bus_{"IO,ZR02"};
    testsupport::RecordingClock clock_;
    RecordedBoxes boxes_;
    BusSelfPrgLink link_;
    RecordedView view_;
    std::vector<std::wstring> said_;
};

TEST_F(SelfPrgOnBus, AGoodFileGivesTheBridgeItsNewVersion) {
    ASSERT_EQ(Version(kBridge), "V1.07");
    // With the blank line an editor leaves at the end.
    const std::string image = ecsim::sampleFirmwareImage() + "\r\n";
    Load(image);
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 132 ,lostCnt = 0");
    EXPECT_EQ(said_, std::vector<std::wstring>{L"SlaveNo.2\r\nSoftware Update OK."});
    EXPECT_EQ(Version(kBridge), "V1.08");
    const std::vector<std::string> lines = LinesOf(image);
    ASSERT_EQ(lines.size(), 132u);
    EXPECT_EQ(RunAccesses(bridge()), kAccessesBeforeLines + Sent(lines));
    EXPECT_EQ(clock_.pauses, kPausesBeforeLines + std::vector<int>(132, 1))
        << "1 ms after each line";
}

TEST_F(SelfPrgOnBus, ABadChecksumStopsTheRunWithTheLoadersReply) {
    std::string image = ecsim::sampleFirmwareImage();
    const size_t line3 = image.find("\r\n", image.find("\r\n") + 2) + 2;
    const size_t sum = image.find("\r\n", line3) - 1;
    image[sum] = image[sum] == '0' ? '1' : '0';
    Load(image);
    Update();
    EXPECT_EQ(view_.status(), "Err:Sum\r\n");
    EXPECT_TRUE(said_.empty());
    EXPECT_EQ(Version(kBridge), "V1.07");
    EXPECT_EQ(g_selfPrgRetry, 0);
    // The refused line goes thirty times, each send at once after its refusal.
    const std::vector<std::string> lines = LinesOf(image);
    std::vector<std::string> accesses = kAccessesBeforeLines + Sent({lines[0], lines[1]});
    for (int send = 0; send < 30; ++send) accesses = accesses + Sent({lines[2]});
    EXPECT_EQ(RunAccesses(bridge()), accesses);
    EXPECT_EQ(clock_.pauses, kPausesBeforeLines + std::vector<int>(32, 1));
}

TEST_F(SelfPrgOnBus, ALateReplyIsCountedAsLost) {
    Faults faults;
    faults.lateLines = 1;
    faults.lateReads = 15;  // after the ten polls of the first send
    SetFaults(faults);
    const std::string image = ecsim::sampleFirmwareImage();
    Load(image);
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 131 ,lostCnt = 1");
    EXPECT_EQ(Version(kBridge), "V1.08");
    // The first line: ten polls 2 ms apart, the same line again, and its reply
    // at the fifth poll of that send.
    const std::vector<std::string> lines = LinesOf(image);
    std::vector<std::string> first{"< " + lines[0]};
    for (int poll = 0; poll < 10; ++poll) first.emplace_back(">");
    first.push_back("< " + lines[0]);
    for (int poll = 0; poll < 5; ++poll) first.emplace_back(">");
    EXPECT_EQ(RunAccesses(bridge()),
              kAccessesBeforeLines + first +
                  Sent(std::vector<std::string>(lines.begin() + 1, lines.end())));
    EXPECT_EQ(clock_.pauses, kPausesBeforeLines + std::vector<int>{1} + std::vector<int>(10, 2) +
                                 std::vector<int>{1} + std::vector<int>(4, 2) +
                                 std::vector<int>(130, 1));
}

TEST_F(SelfPrgOnBus, ALoaderThatNeverGetsReadyEndsInTheirErrorsAfterTheRetries) {
    Load(ecsim::sampleFirmwareImage());
    Faults faults;
    faults.refuseProgramMode = true;
    SetFaults(faults);
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgError-001");
    EXPECT_EQ(g_selfPrgRetry, 0);
    // Three runs of five mode commands, each answered with the refusal.
    std::vector<std::string> accesses;
    for (int run = 0; run < 3; ++run) {
        accesses = accesses + std::vector<std::string>{"unlock"};
        for (int attempt = 0; attempt < 5; ++attempt) {
            accesses = accesses + std::vector<std::string>{"< !PRGMO\r\n", ">"};
        }
    }
    EXPECT_EQ(RunAccesses(bridge()), accesses);

    faults = {};
    faults.neverReady = true;
    SetFaults(faults);
    clock_.pauses.clear();
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgError-002");
    EXPECT_TRUE(view_.showed("SelfPrgStart...."));
    EXPECT_TRUE(said_.empty());
    EXPECT_EQ(Version(kBridge), "V1.07");
    // Three runs of three erases each reached the bridge, each erase followed by
    // ten polls 100 ms apart.
    std::vector<std::string> run = {"unlock", "< !PRGMO\r\n", ">"};
    std::vector<int> runPauses = {100, 10, 100, 200};
    for (int erase = 0; erase < 3; ++erase) {
        run.emplace_back("< !110.9\r\n");
        run.insert(run.end(), 10, ">");
        runPauses.push_back(3000);
        runPauses.insert(runPauses.end(), 10, 100);
    }
    EXPECT_EQ(RunAccesses(bridge()), run + run + run);
    EXPECT_EQ(clock_.pauses, runPauses + runPauses + runPauses);
}

TEST(SelfPrgOpenFile, RefusalsKeepTheFileLoadedBefore) {
    ToolBus bus("ZR02");
    std::string reason;
    const std::string good = "S9030000FC\r\n";
    {
        TempFile file(good);
        ASSERT_EQ(LoadSelfPrgFile(file.path(), &reason), SelfPrgFileLoad::Loaded);
    }
    auto expectGoodStillLoaded = [&] {
        EXPECT_EQ(g_selfPrgFileLoaded, 1);
        EXPECT_EQ(std::string(g_selfPrgBuf, static_cast<size_t>(g_selfPrgFileLen.load())), good);
    };

    const struct {
        std::string data;
        const char* reason;
    } refused[] = {
        {"", "the file is empty"},
        {good + std::string("S1\0\r\n", 5), "line 2 holds a NUL byte"},
        {std::string(89, 'S') + "\r\n" + good,
         "line 1 is too long (90 bytes or more before its line feed)"},
        {"S9030000FC", "line 1, the last, has no line feed"},
    };
    for (const auto& r : refused) {
        TempFile file(r.data);
        reason.clear();
        EXPECT_EQ(LoadSelfPrgFile(file.path(), &reason), SelfPrgFileLoad::Refused);
        EXPECT_EQ(reason, r.reason);
        expectGoodStillLoaded();
    }

    std::string big;
    while (big.size() < kFirmwareFileMaxBytes) big += std::string(78, 'S') + "\r\n";
    big.resize(kFirmwareFileMaxBytes);
    {
        TempFile file(big);
        EXPECT_EQ(LoadSelfPrgFile(file.path(), &reason), SelfPrgFileLoad::TooBig);
        expectGoodStillLoaded();
    }

    // Nothing is read from what cannot be read, or is no file with an end.
    reason.clear();
    EXPECT_EQ(LoadSelfPrgFile("/nonexistent/firmware.srec", &reason), SelfPrgFileLoad::Refused);
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_EQ(LoadSelfPrgFile(std::filesystem::temp_directory_path().string(), &reason),
              SelfPrgFileLoad::Refused);
    EXPECT_EQ(reason, "not a regular file");
    const std::string fifo = TempFile("", "pipe").path();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(LoadSelfPrgFile(fifo, &reason), SelfPrgFileLoad::Refused);
    EXPECT_EQ(reason, "not a regular file");
    std::filesystem::remove(fifo);
    expectGoodStillLoaded();
}

// A bridge that goes off in the middle of the download: once the supervision
// holds it lost, every step fails at once, and the run ends with its failure
// status within 30 s of its own time, restarts and all, without a frame more.
TEST_F(SelfPrgOnBus, ARunWhoseBridgeIsLostEndsWithItsFailureStatusQuickly) {
    Load(ecsim::sampleFirmwareImage());
    ASSERT_EQ(StartSelfPrg(kBridge, link_, view_), L"");
    ASSERT_TRUE(testsupport::WaitUntil(
        [] { return g_selfPrgLines >= 20; }, 60,
        {.between = [&] { SelfPrgStep(link_, view_); }, .pause = std::chrono::milliseconds(1)}));
    bus_.segment().powerOff(kBridge);
    SetSlaveLost(kBridge, true);
    testsupport::RecordingClock clock;
    const uint64_t frames = bus_.frames();
    // The dialog's timer ticks every 25 ms of the run's time.
    for (int tick = 0; tick < 2000 && g_selfPrgState != 0; ++tick) {
        EXPECT_EQ(SelfPrgStep(link_, view_), L"");
        clock.Advance(25);
    }
    EXPECT_EQ(g_selfPrgState, 0);
    EXPECT_EQ(view_.status(), "SelfPrgError-001");
    EXPECT_LT(clock.Now() - decltype(clock.Now()){}, std::chrono::seconds(30));
    EXPECT_EQ(bus_.frames(), frames) << "the lost bridge was asked";
    EXPECT_EQ(g_selfPrgRetry, 0);
}

}  // namespace
