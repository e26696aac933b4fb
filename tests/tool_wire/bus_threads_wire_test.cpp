// The tool's scan, process-data and supervision threads against zrsim across a
// veth pair, as the program meets a simulated bus.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/scan_thread.hpp"
#include "bus/sdo_text.hpp"
#include "core/message_box_recorder.hpp"
#include "ecsim/firmware_loader.hpp"
#include "ethercat.h"
#include "settings/settings_values.hpp"
#include "support/all_layers.hpp"
#include "support/narrow.hpp"
#include "support/netns.hpp"
#include "support/wait_until.hpp"
#include "support/working_folder.hpp"
#include "tools/axis_modes.hpp"
#include "tools/cia402_page_logic.hpp"
#include "tools/eeprom_image.hpp"
#include "tools/scripted_loader.hpp"
#include "tools/tool_bus.hpp"

namespace {

using testsupport::Narrow;
using testsupport::PrivateNetwork;
using testsupport::WaitUntil;

class ToolOnWire : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::ResetAllLayers(); }
    void TearDown() override {
        StopBusThreads();
        ec_close();
        if (sim_) sim_->stop();
        InstallEepromJobs(nullptr, nullptr);
        testsupport::ResetAllLayers();
    }
    // zrsim serves `slaves`; the tool scans them through the adapter name as the
    // settings file keeps it.
    void ScanToOp(const std::string& slaves, int count) {
        sim_ = std::make_unique<testsupport::Zrsim>(slaves);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
        g_selectLan = 1;
        g_lanName.set(std::string("\\Device\\NPF_") + PrivateNetwork::kMasterIf);
        g_slaveCount = count;
        StartBusThreads();
        g_scanRequest = 1;
        ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60))
            << Narrow(g_strScanLog.copy()) << sim_->output();
    }

    testsupport::MessageBoxRecorder boxes_;
    std::unique_ptr<testsupport::Zrsim> sim_;
};

TEST_F(ToolOnWire, ScanReachesOpAndLogsTheIdentities) {
    WIRE_TIER_OR_SKIP();
    ScanToOp("ZR12,IO,ZR02:1", 3);
    const std::string log = Narrow(g_strScanLog.copy());
    const std::regex expected(
        "\\( 3 \\) slaves Device found\r\n"
        "S\\[1\\]:Torvanelix ZR12; vID:0x[0-9a-f]{8} ; Soft:V[0-9.]+; sNo:[0-9]+\r\n"
        "S\\[2\\]:; vID:0x00000000 ; Soft:; sNo:0\r\n"
        "S\\[3\\]:Torvanelix ZR02; vID:0x[0-9a-f]{8} ; Soft:V[0-9.]+; sNo:[0-9]+\r\n"
        "TQ\\[1.1\\]=ONline ; TQ\\[1.2\\]=ONline ; TQ\\[1.3\\]=ONline ; TQ\\[1.4\\]=ONline\r\n"
        "TQ\\[3.1\\]=ONline ; TQ\\[3.2\\]=OFFline; TQ\\[3.3\\]=OFFline; TQ\\[3.4\\]=OFFline\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
    EXPECT_EQ(g_busReady, 1);
    ASSERT_EQ(g_bridgeCount, 2);
    EXPECT_EQ(g_bridgeSlave[0], 1);
    EXPECT_EQ(g_bridgeSlave[1], 3);
    EXPECT_EQ(g_bridgeOutOffset[1], 26u);
    EXPECT_EQ(g_bridgeInOffset[1], 26u);
    EXPECT_TRUE(boxes_.texts().empty());
    // The exchange goes on with the full working counter.
    const int32_t cycles = g_cycleCount;
    EXPECT_TRUE(WaitUntil([&] { return g_cycleCount > cycles + 10; }, 20));
    EXPECT_EQ(g_wkc, g_expectedWkc);
}

TEST_F(ToolOnWire, SupervisionBringsBackAPowerCycledSlave) {
    WIRE_TIER_OR_SKIP();
    ScanToOp("ZR12,ZR02", 2);
    ASSERT_EQ(sim_->control("power-off 2"), "ok");
    ASSERT_TRUE(WaitUntil(
        [] {
            return Narrow(g_strSuperviseLog.copy()).find("ERROR[2] : Slave(2) TimeOut(lost)\r\n") !=
                   std::string::npos;
        },
        30))
        << Narrow(g_strSuperviseLog.copy());
    ASSERT_EQ(sim_->control("power-on 2"), "ok");
    EXPECT_TRUE(WaitUntil(
        [] {
            return Narrow(g_strSuperviseLog.copy())
                       .find("WARNING[1] : Slave(2) is in SAFE_OP, change to OPERATIONAL\r\n") !=
                   std::string::npos;
        },
        30))
        << Narrow(g_strSuperviseLog.copy());
    EXPECT_TRUE(WaitUntil([] { return g_wkc.load() == g_expectedWkc.load(); }, 30));
}

// A bridge power-cycled while a page polls it, as the CiA402 page polls its
// inputs: once supervision has it back in OP, the very first read works.
TEST_F(ToolOnWire, TheFirstReadAfterAPowerCycleWorks) {
    WIRE_TIER_OR_SKIP();
    ScanToOp("ZR12,ZR02", 2);
    std::atomic<bool> polling{true};
    std::thread poller([&] {
        while (polling) {
            SdoReadText(1, 0x60FD, 0, kCoeInteger32);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto logged = [](const char* line) {
        return WaitUntil(
            [line] { return Narrow(g_strSuperviseLog.copy()).find(line) != std::string::npos; },
            30);
    };
    ASSERT_EQ(sim_->control("power-off 1"), "ok");
    EXPECT_TRUE(logged("ERROR[2] : Slave(1) TimeOut(lost)\r\n"))
        << Narrow(g_strSuperviseLog.copy());
    ASSERT_EQ(sim_->control("power-on 1"), "ok");
    EXPECT_TRUE(logged("WARNING[1] : Slave(1) is in SAFE_OP, change to OPERATIONAL\r\n"))
        << Narrow(g_strSuperviseLog.copy());
    EXPECT_TRUE(WaitUntil([] { return g_wkc.load() == g_expectedWkc.load(); }, 30));
    polling = false;
    poller.join();

    const SdoText name = SdoReadText(1, 0x1008, 0, kCoeVisibleString);
    EXPECT_TRUE(name.uploaded) << name.text;
    EXPECT_EQ(name.text, "Torvanelix ZR12");
}

TEST_F(ToolOnWire, EepromReadJobSavesTheFirstSlavesEepromAsIntelHex) {
    WIRE_TIER_OR_SKIP();
    testsupport::ScopedWorkingFolder folder;
    InstallEepromImageJobs();
    ScanToOp("ZR12,IO", 2);
    g_eepromRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_eepromRequest.load() == 0; }, 60))
        << Narrow(g_strSuperviseLog.copy());
    const std::string log = Narrow(g_strSuperviseLog.copy());
    EXPECT_NE(log.find(" Vendor ID        : 00000A3E\r\n"
                       " Product Code     : 00005212\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" Size             : 000F = 2048 bytes\r\n"), std::string::npos);
    EXPECT_NE(log.find("--- Slave[1] EEPROM  Read End ---\r\n\r\n"), std::string::npos);

    std::ifstream in(kEepromReadFileName, std::ios::binary);
    std::stringstream file;
    file << in.rdbuf();
    std::array<uint8_t, kHexImageBytes> image{};
    HexCoverage covered;
    const HexLoad load = ParseIntelHex(file.str(), image, covered);
    EXPECT_EQ(load.result, kHexLoaded);
    EXPECT_EQ(load.start, 0u);
    EXPECT_EQ(load.length, 2048u);
    // The identity words as the log shows them, and the end of the categories.
    EXPECT_EQ(image[0x10], 0x3E);
    EXPECT_EQ(image[0x11], 0x0A);
    EXPECT_EQ(image[0x14], 0x12);
    EXPECT_EQ(image[0x15], 0x52);
    EXPECT_EQ(image[2047], 0xFF);
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(ToolOnWire, FlashesABridgeWhileTheBusRuns) {
    WIRE_TIER_OR_SKIP();
    ScanToOp("IO,ZR02", 2);
    // One reply lost on the way: the line goes again and counts as lost.
    ASSERT_EQ(sim_->control("loader 2 mute 1"), "ok");
    {
        tooltest::TempFile image(ecsim::sampleFirmwareImage());
        std::string reason;
        ASSERT_EQ(LoadSelfPrgFile(image.path(), &reason), SelfPrgFileLoad::Loaded) << reason;
    }
    BusSelfPrgLink link;
    tooltest::RecordedView view;
    ASSERT_EQ(StartSelfPrg(2, link, view), L"");
    std::vector<std::wstring> said;
    ASSERT_TRUE(WaitUntil([] { return g_selfPrgState.load() == 0; }, 120,
                          {.between =
                               [&] {
                                   std::wstring text = SelfPrgStep(link, view);
                                   if (!text.empty()) said.push_back(std::move(text));
                               }}))
        << view.status();
    EXPECT_EQ(view.status(), "SelfPrgOk , Lines= 131 ,lostCnt = 1");
    EXPECT_EQ(said, std::vector<std::wstring>{L"SlaveNo.2\r\nSoftware Update OK."});
    EXPECT_EQ(SdoReadAsText(2, 0x100A, 0, kCoeVisibleString), "V1.08");
    EXPECT_TRUE(WaitUntil([] { return g_wkc.load() == g_expectedWkc.load(); }, 10))
        << "the exchange goes on";
}

// What the CiA402 page does after the change to its tab: the four motors of the
// chosen bridge move to P, and its outputs come back on its inputs.
TEST_F(ToolOnWire, Cia402PageMovesTheMotorsAndSwitchesTheOutputsOfABridge) {
    WIRE_TIER_OR_SKIP();
    ScanToOp("IO,ZR02", 2);
    g_moveStop = 1;
    SetAllMotorsCspMode();
    EnableBridgeOutputs();
    ASSERT_EQ(StartMove(2, L"2000", L"1000", L"40000"), L"");
    EXPECT_TRUE(WaitUntil(
        [] {
            int32_t positions[4] = {};
            return ReadMotorPositions(2, positions) && positions[0] == 40000 &&
                   positions[1] == 40000 && positions[2] == 40000 && positions[3] == 40000;
        },
        30));
    WriteOutputs(2, 5, false);
    int32_t inputs = 0;
    EXPECT_EQ(ReadDigitalInputs(2, 1, &inputs), 0);
    EXPECT_EQ(inputs, 5);
    EXPECT_TRUE(boxes_.texts().empty());
}

}  // namespace
