// Whole firmware updates of a simulated bridge through the master, with the
// loader's faults switched on, and the refusals of OpenFile.
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

// Ticks the run as its dialog's timer would until it is idle; keeps what the
// ticks returned to show.
bool RunToIdle(SelfPrgLink& link, SelfPrgView& view, int seconds, std::vector<std::wstring>* said) {
    return testsupport::WaitUntil([] { return g_selfPrgState == 0; }, seconds,
                                  {.between =
                                       [&] {
                                           std::wstring text = SelfPrgStep(link, view);
                                           if (!text.empty()) said->push_back(std::move(text));
                                       },
                                   .pause = std::chrono::milliseconds(1)});
}

std::string Version(int slave) {
    return SdoReadAsText(static_cast<uint16_t>(slave), 0x100A, 0, kCoeVisibleString);
}

class SelfPrgOnBus : public ::testing::Test {
  protected:
    void Load(const std::string& image) {
        TempFile file(image);
        std::string reason;
        ASSERT_EQ(LoadSelfPrgFile(file.path(), &reason), SelfPrgFileLoad::Loaded) << reason;
    }
    void SetFaults(const Faults& faults) { bus_.bridge(kBridge).setLoaderFaults(faults); }
    // Starts a run of the loaded file and ticks it to its end.
    void Update() {
        ASSERT_EQ(StartSelfPrg(kBridge, link_, view_), L"");
        ASSERT_TRUE(RunToIdle(link_, view_, 120, &said_)) << view_.status();
        EXPECT_TRUE(boxes_.texts().empty()) << "the dialog shows what the run returns";
    }

    ToolBus bus_{"IO,ZR02"};
    RecordedBoxes boxes_;
    BusSelfPrgLink link_;
    RecordedView view_;
    std::vector<std::wstring> said_;
};

TEST_F(SelfPrgOnBus, AGoodFileGivesTheBridgeItsNewVersion) {
    ASSERT_EQ(Version(kBridge), "V1.07");
    // With the blank line an editor leaves at the end.
    Load(ecsim::sampleFirmwareImage() + "\r\n");
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 132 ,lostCnt = 0");
    EXPECT_EQ(said_, std::vector<std::wstring>{L"SlaveNo.2\r\nSoftware Update OK."});
    EXPECT_EQ(Version(kBridge), "V1.08");
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
}

TEST_F(SelfPrgOnBus, ALateReplyIsCountedAsLost) {
    Faults faults;
    faults.lateLines = 1;
    faults.lateReads = 15;  // after the ten polls of the first send
    SetFaults(faults);
    Load(ecsim::sampleFirmwareImage());
    Update();
    EXPECT_EQ(view_.status(), "SelfPrgOk , Lines= 131 ,lostCnt = 1");
    EXPECT_EQ(Version(kBridge), "V1.08");
}

// The pauses and restarts run on a recording clock; only the accesses are real.
TEST_F(SelfPrgOnBus, ALoaderThatNeverGetsReadyEndsInTheirErrorsAfterTheRetries) {
    testsupport::RecordingClock clock;
    const auto update = [&] {
        ASSERT_EQ(StartSelfPrg(kBridge, link_, view_), L"");
        // The dialog's ticks, 25 ms apart.
        for (int t = 0; t < 1000 && g_selfPrgState != 0; ++t) {
            clock.Pause(25);
            EXPECT_EQ(SelfPrgStep(link_, view_), L"");
        }
        ASSERT_EQ(g_selfPrgState, 0) << view_.status();
    };
    Load(ecsim::sampleFirmwareImage());
    Faults faults;
    faults.refuseProgramMode = true;
    SetFaults(faults);
    update();
    EXPECT_EQ(view_.status(), "SelfPrgError-001");
    EXPECT_EQ(g_selfPrgRetry, 0);

    faults = {};
    faults.neverReady = true;
    SetFaults(faults);
    update();
    EXPECT_EQ(view_.status(), "SelfPrgError-002");
    EXPECT_TRUE(view_.showed("SelfPrgStart...."));
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_EQ(Version(kBridge), "V1.07");
    // Three runs of three erases each reached the bridge.
    size_t erases = 0;
    for (const ecsim::VendorAccess& a : bus_.bridge(kBridge).accessRecord()) {
        erases += a.download && std::string(a.data.begin(), a.data.end()) == "!110.9\r\n" ? 1 : 0;
    }
    EXPECT_EQ(erases, 9u);
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
        SelfPrgStep(link_, view_);
        clock.Pause(25);
    }
    EXPECT_EQ(g_selfPrgState, 0);
    EXPECT_EQ(view_.status(), "SelfPrgError-001");
    EXPECT_LT(clock.Now() - decltype(clock.Now()){}, std::chrono::seconds(30));
    EXPECT_EQ(bus_.frames(), frames) << "the lost bridge was asked";
    EXPECT_EQ(g_selfPrgRetry, 0);
}

}  // namespace
