// The scan and configuration thread against a simulated segment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bus/adapter_choice.hpp"
#include "bus/process_image.hpp"
#include "bus/scan_thread.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ecsim/bridge.hpp"
#include "ethercat.h"
#include "platform/adapters.hpp"
#include "support/coe_test_device.hpp"

namespace {

using testsupport::BusThreadsTest;
using testsupport::LogHas;
using testsupport::WaitUntil;

TEST_F(BusThreadsTest, ScanLogsEverySlaveAndRecordsTheBridgesBehindAnotherSlave) {
    ScanToOp("IO,ZR12:1-2,ZR02:", 3);
    const std::wstring log = g_strScanLog.copy();
    // A slave without a mailbox answers no upload: empty texts and zeros.
    EXPECT_EQ(
        log.rfind(L"( 3 ) slaves Device found\r\nS[1]:; vID:0x00000000 ; Soft:; sNo:0\r\n", 0), 0u)
        << log.c_str();
    const std::wregex bridgeLines(
        LR"(S\[2\]:Torvanelix ZR12; vID:0x[0-9a-f]{8} ; Soft:V[0-9.]+; sNo:[0-9]+\r\n)"
        LR"(S\[3\]:Torvanelix ZR02; vID:0x[0-9a-f]{8} ; Soft:V[0-9.]+; sNo:[0-9]+\r\n)");
    EXPECT_TRUE(std::regex_search(log, bridgeLines)) << log.c_str();
    EXPECT_NE(log.find(L"TQ[2.1]=ONline ; TQ[2.2]=ONline ; TQ[2.3]=OFFline; TQ[2.4]=OFFline\r\n"
                       L"TQ[3.1]=OFFline; TQ[3.2]=OFFline; TQ[3.3]=OFFline; TQ[3.4]=OFFline\r\n"),
              std::wstring::npos)
        << log.c_str();
    EXPECT_EQ(g_busReady, 1);
    EXPECT_EQ(g_scanRequest, 1);  // not taken on success
    EXPECT_EQ(g_slavesFound, 3);
    ASSERT_EQ(g_bridgeCount, 2);
    EXPECT_EQ(g_bridgeSlave[0], 2);
    EXPECT_EQ(g_bridgeModel[0], kModelZr12);
    EXPECT_EQ(g_bridgeSlave[1], 3);
    EXPECT_EQ(g_bridgeModel[1], kModelZr02);
    // The I/O terminal's 2 bytes each way come first.
    EXPECT_EQ(g_bridgeOutOffset[0], 2u);
    EXPECT_EQ(g_bridgeInOffset[0], 2u);
    EXPECT_EQ(g_bridgeOutOffset[1], 26u);
    EXPECT_EQ(g_bridgeInOffset[1], 26u);
    EXPECT_EQ(g_motorOnline[0], 1u);
    EXPECT_EQ(g_motorOnline[1], 1u);
    EXPECT_EQ(g_motorOnline[2], 0u);
    EXPECT_EQ(g_expectedWkc, 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC);
    EXPECT_TRUE(boxes_.texts().empty());
}

}  // namespace

namespace {

std::string ReadWithTest(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t type) {
    return SdoReadAsText(slave, index, subindex, type);
}

std::string FormatSdoDataOf(int32_t value) {
    uint8_t bytes[128] = {};
    std::memcpy(bytes, &value, sizeof value);
    return FormatSdoData(bytes, 4, 7);
}

TEST_F(BusThreadsTest, EachBridgeGetsItsAccelerationWordAndProcessDataFlows) {
    g_cia402Accel = 3;
    ScanToOp("ZR12,ZR01", 2);
    const std::string expected = FormatSdoDataOf(AccelerationWord(3));
    EXPECT_EQ(ReadWithTest(1, 0xF550, 4, 7), expected);
    EXPECT_EQ(ReadWithTest(2, 0xF550, 4, 7), expected);
    // Enable operation on motor 3 of the second bridge: the controlword goes out
    // in the bridge's block, and the statusword that comes back shows it.
    g_ctrlWord[MotorSlot(1, 3)] = 0x000F;
    EXPECT_TRUE(WaitUntil([] { return (g_statusWord[MotorSlot(1, 3)] & 0x6F) == 0x27; }));
    EXPECT_NE(g_statusWord[MotorSlot(0, 3)] & 0x6F, 0x27u);
    EXPECT_EQ(g_wkc, g_expectedWkc);
}

// A lost mark belongs to the bus the master had: a new scan starts without any,
// so that the slaves it finds are asked for their identities.
TEST_F(BusThreadsTest, AScanForgetsTheLostMarksOfTheBusBefore) {
    SetSlaveLost(2, true);
    ScanToOp("ZR12,ZR01", 2);
    EXPECT_FALSE(SlaveIsLost(2));
    EXPECT_EQ(g_bridgeCount.load(), 2);
}

TEST_F(BusThreadsTest, AFurtherScanAfterOpDoesNothing) {
    ScanToOp("ZR12", 1);
    const std::wstring log = g_strScanLog.copy();
    const int32_t cycles = g_cycleCount;
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([&] { return g_cycleCount > cycles + 10; }));
    EXPECT_EQ(g_strScanLog.copy(), log);
    EXPECT_EQ(g_bridgeCount, 1);
}

TEST_F(BusThreadsTest, OnlyTheExpectedSlavesAreIdentified) {
    ScanToOp("ZR12,ZR02,ZR01", 2);
    const std::wstring log = g_strScanLog.copy();
    EXPECT_EQ(log.rfind(L"( 3 ) slaves Device found\r\n", 0), 0u);
    EXPECT_NE(log.find(L"S[2]:"), std::wstring::npos);
    EXPECT_EQ(log.find(L"S[3]:"), std::wstring::npos);
    EXPECT_EQ(log.find(L"TQ[3."), std::wstring::npos);
    EXPECT_EQ(g_bridgeCount, 2);
}

TEST_F(BusThreadsTest, ACountRaisedDuringTheAttemptIdentifiesOnlyTheSlavesFound) {
    StartThreadsOn("IO", 1);
    // The I/O terminal has no distributed clock: its box comes after the slaves
    // were counted; the user then asks for three.
    boxes_.onBox([](const std::wstring&) { g_slaveCount = 3; });
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    const std::wstring log = g_strScanLog.copy();
    EXPECT_EQ(log.rfind(L"( 1 ) slaves Device found\r\nS[1]:", 0), 0u) << log.c_str();
    EXPECT_EQ(log.find(L"S[2]:"), std::wstring::npos) << log.c_str();
}

TEST_F(BusThreadsTest, TheFirstFifteenCharactersOfTheNameMakeABridgeCaseAndAll) {
    StartThreadsOn("ZR12,ZR12,ZR12,ZR12", 4);
    const char* names[] = {"torvanelix ZR01", "Torvanelix ZR0", "Torvanelix ZR01 rev.B",
                           "Torvanelix ZR12"};
    for (size_t position = 1; position <= 4; ++position) {
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        // The identity objects that every bridge has: a failed read would cost
        // the name read after it.
        auto& od = device->od();
        od.addString(0x1008, 0, names[position - 1]);
        od.addU32(0x1018, 1, 0x00000A5E, ecsim::Access::ReadOnly);
        od.addString(0x100A, 0, "V1.0");
        od.addU32(0x1018, 4, 4711, ecsim::Access::ReadOnly);
        device->addMapping(testsupport::kBridgeBits);
        segment().replaceDevice(position, std::move(device));
    }
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_busReady.load() == 1; }, 60));
    EXPECT_NE(g_strScanLog.copy().find(
                  L"S[3]:Torvanelix ZR01 rev.B; vID:0x00000a5e ; Soft:V1.0; sNo:4711\r\n"),
              std::wstring::npos)
        << g_strScanLog.copy().c_str();
    ASSERT_EQ(g_bridgeCount, 2);
    EXPECT_EQ(g_bridgeSlave[0], 3);
    EXPECT_EQ(g_bridgeModel[0], kModelZr01);
    EXPECT_EQ(g_bridgeSlave[1], 4);
    EXPECT_EQ(g_bridgeModel[1], kModelZr12);
    // The two slaves ahead count in the offsets all the same.
    EXPECT_EQ(g_bridgeOutOffset[0], 48u);
    EXPECT_EQ(g_bridgeInOffset[1], 72u);
}

TEST_F(BusThreadsTest, ABridgeAtSlave32IsLoggedButNotRecorded) {
    std::string slaves;
    for (int s = 1; s <= 30; ++s) slaves += "IO,";
    ScanToOp(slaves + "ZR12,ZR12", 32);
    const std::wstring log = g_strScanLog.copy();
    EXPECT_NE(log.find(L"S[32]:Torvanelix ZR12; vID:"), std::wstring::npos) << log.c_str();
    ASSERT_EQ(g_bridgeCount, 1);
    EXPECT_EQ(g_bridgeSlave[0], 31);
    EXPECT_EQ(g_bridgeOutOffset[0], 60u);  // thirty I/O terminals of 2 bytes ahead
    EXPECT_EQ(log.find(L"TQ[32."), std::wstring::npos);
}

TEST_F(BusThreadsTest, IdentityReadsThatFailAreLoggedAsTheLibraryErrorCutToTheirFields) {
    StartThreadsOn("ZR12", 1);
    auto device = std::make_unique<testsupport::CoeTestDevice>();  // no identity objects
    device->addMapping(testsupport::kBridgeBits);
    segment().replaceDevice(1, std::move(device));
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_busReady.load() == 1; }, 60));
    const std::wstring log = g_strScanLog.copy();
    // The vendor text is cut to 20 characters, the serial text read from its 21st
    // character to the end of its 29.
    const std::wregex line(LR"(S\[1\]:Time:[^;]+; vID:Time:.{15}; Soft:Time:[^;]+; sNo:.{9}\r\n)");
    EXPECT_TRUE(std::regex_search(log, line)) << log.c_str();
    EXPECT_EQ(g_bridgeCount, 0);
}

TEST_F(BusThreadsTest, AnAdapterThatCannotBeOpenedWaitsForTheNextScan) {
    StartThreadsOn("ZR12", 1);
    g_lanName.set("\\Device\\NPF_no-such-if0");
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([&] { return boxes_.texts().size() == 1; }));
    EXPECT_EQ(boxes_.texts()[0], L"Lan EtherNet Interface Name??");
    ASSERT_TRUE(WaitUntil([] { return g_scanRequest.load() == 0; }));
    EXPECT_EQ(g_strScanLog.copy(),
              L"No socket connection on \\Device\\NPF_no-such-if0\r\nExcecute as root\r\n");
    EXPECT_EQ(g_busReady, 0);
    // The next press tries the same name again.
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([&] { return boxes_.texts().size() == 2; }));
    EXPECT_EQ(testsupport::CountOf(g_strScanLog.copy(), L"No socket connection"), 2u);
}

// The scan log as it stood at each pause before a retry, in order (the scan
// thread writes, the test reads).
struct RetryLogs {
    std::vector<std::wstring> copy() const {
        std::lock_guard lock(mutex);
        return logs;
    }
    mutable std::mutex mutex;
    std::vector<std::wstring> logs;
};

std::shared_ptr<RetryLogs> RecordRetryLogs(testsupport::FastBusClock& clock) {
    auto retries = std::make_shared<RetryLogs>();
    clock.onPause([retries](int ms) {
        if (ms != 500) return;
        std::lock_guard lock(retries->mutex);
        retries->logs.push_back(g_strScanLog.copy());
    });
    return retries;
}

TEST_F(BusThreadsTest, TooFewSlavesAreRetriedWithAFreshLog) {
    StartThreadsOn("ZR12,ZR02", 3);
    const auto retries = RecordRetryLogs(busClock_);
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([&] { return retries->copy().size() >= 2; }));
    const std::vector<std::wstring> logs = retries->copy();
    EXPECT_EQ(logs[0], L"Device Not found ( 3 ) Slave at  configured.\r\n");
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(g_scanRequest, 1);
    EXPECT_EQ(g_busReady, 0);
    EXPECT_EQ(g_bridgeCount, 0);
    EXPECT_EQ(g_slavesFound, 2);  // found, though fewer than expected
    // The user powers the third slave... by expecting two: the next retry finds them.
    g_slaveCount = 2;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }));
    EXPECT_EQ(g_bridgeCount, 2);
}

// The line in front of a segment, under its name: while cut, every frame comes
// back as it went out, answered by no slave (and not waited for, as a frame
// that does not come back would be).
class CutLine : public ecmaster::FrameProcessor {
  public:
    explicit CutLine(ecsim::Segment& segment) : segment_(segment) {}
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        return cut ? ecmaster::Delivery{} : segment_.process(frame);
    }
    std::atomic<bool> cut{true};

  private:
    ecsim::Segment& segment_;
};

TEST_F(BusThreadsTest, NoSlaveIsRetriedAndEveryTwentiethRetryAsksTheUser) {
    StartThreadsOn("ZR12", 1);
    auto line = std::make_shared<CutLine>(segment());
    ecmaster::attachVirtualWire(bus_->name(), line);
    const auto retries = RecordRetryLogs(busClock_);
    // What the thread has done when the box is up.
    struct AtBox {
        std::atomic<int32_t> retries{-1};
        std::atomic<size_t> pauses{0};
    };
    auto atBox = std::make_shared<AtBox>();
    boxes_.onBox([retries, atBox](const std::wstring&) {
        if (atBox->retries.load() >= 0) return;
        atBox->pauses = retries->copy().size();
        atBox->retries = g_scanRetry.load();
    });
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([&] { return atBox->retries.load() >= 0; }, 60));
    EXPECT_EQ(boxes_.texts()[0], L"Device Not found!\r\nSlave Power On,  After Scan Please ");
    EXPECT_EQ(atBox->retries.load(), 20);
    EXPECT_EQ(atBox->pauses.load(), 20u) << "half a second before each retry";
    // One line per attempt piled up until the box; then the log starts afresh.
    ASSERT_TRUE(WaitUntil([&] { return retries->copy().size() > 20; }));
    const std::vector<std::wstring> logs = retries->copy();
    for (size_t attempt = 0; attempt < 20; ++attempt) {
        EXPECT_EQ(testsupport::CountOf(logs[attempt], L"Device Not found!\r\n"), attempt + 1);
    }
    EXPECT_EQ(logs[20], L"Device Not found!\r\n");
    EXPECT_EQ(g_slavesFound, 0);
    line->cut = false;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    EXPECT_EQ(g_bridgeCount, 1);
}

// A bridge that refuses OP while told to and works as a bridge in every other
// way.
class BridgeRefusingOp : public ecsim::Device {
  public:
    BridgeRefusingOp(const std::string& spec, std::shared_ptr<std::atomic<bool>> refuse)
        : bridge_(ecsim::makeBridgeDevice(ecsim::parseSlaveList(spec, nullptr)->front())),
          refuse_(std::move(refuse)) {}
    void onMailbox(std::span<const uint8_t> message, ecsim::MailboxOutbox& out) override {
        bridge_->onMailbox(message, out);
    }
    void onOutputs(std::span<const uint8_t> outputs) override { bridge_->onOutputs(outputs); }
    void fillInputs(std::span<uint8_t> inputs) override { bridge_->fillInputs(inputs); }
    uint16_t checkStateChange(uint16_t from, uint16_t to) override {
        if (to == EC_STATE_OPERATIONAL && refuse_->load()) return 0x001D;
        return bridge_->checkStateChange(from, to);
    }
    void onStateChange(uint16_t from, uint16_t to) override { bridge_->onStateChange(from, to); }
    void tick(ecsim::Clock::time_point now) override { bridge_->tick(now); }

  private:
    std::unique_ptr<ecsim::Device> bridge_;
    std::shared_ptr<std::atomic<bool>> refuse_;
};

// The attempt waits out the OP checks, reports the slave, still checks the
// motors and counts the bus as ready; the next Scan press runs a whole new
// attempt.
TEST_F(BusThreadsTest, ASlaveThatDoesNotReachOpIsReportedAndTheBusStillCountsAsReady) {
    StartThreadsOn("ZR12", 1);
    auto refuse = std::make_shared<std::atomic<bool>>(true);
    segment().replaceDevice(1, std::make_unique<BridgeRefusingOp>("ZR12:2-3", refuse));
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_scanRequest.load() == 0; }, 60));
    EXPECT_EQ(g_inOp, 0);
    EXPECT_EQ(g_busReady, 1);
    const std::wstring log = g_strScanLog.copy();
    EXPECT_NE(log.find(L"TQ[1.1]=OFFline; TQ[1.2]=ONline ; TQ[1.3]=ONline ; TQ[1.4]=OFFline\r\n"
                       L"Not all slaves reached operational state.\r\n"
                       L"Slave 1 State=0x14 StatusCode=0x001d : "),
              std::wstring::npos)
        << log.c_str();
    EXPECT_EQ(g_motorOnline[MotorSlot(0, 2)], 1u);
    EXPECT_EQ(g_motorOnline[MotorSlot(0, 3)], 1u);
    EXPECT_TRUE(boxes_.texts().empty());

    refuse->store(false);
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60)) << g_strScanLog.copy().c_str();
    EXPECT_EQ(g_strScanLog.copy().rfind(L"( 1 ) slaves Device found\r\nS[1]:", 0), 0u);
    EXPECT_FALSE(LogHas(g_strScanLog, L"Not all slaves"));
}

TEST_F(BusThreadsTest, AProcessImageBeyond4096BytesIsRefusedNotOverrun) {
    StartThreadsOn("ZR12,ZR12,ZR12", 3);
    // Three slaves of 700 bytes each way: 4200 bytes in all.
    for (size_t position = 1; position <= 3; ++position) {
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        device->addMapping(700 * 8);
        segment().replaceDevice(position, std::move(device));
    }
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto texts = boxes_.texts();
            return std::find(texts.begin(), texts.end(), L"Error! at IoConfig, Exit Program.") !=
                   texts.end();
        },
        60));
    EXPECT_NE(g_strScanLog.copy().find(L"( 3 ) slaves Device found\r\n"), std::wstring::npos);
    // The scan goes on to wait up to 8 s for SAFE-OP, which these slaves do not
    // reach; a stop ends that wait rather than sitting it out (a bound far from
    // both).
    const auto stopping = std::chrono::steady_clock::now();
    StopBusThreads();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(4));
}

TEST_F(BusThreadsTest, TheAdapterListIsMadeOnlyBeforeTheFirstScan) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("listed_adapters_" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "eth7");
    std::ofstream(root / "eth7" / "type") << "1\n";
    std::ofstream(root / "eth7" / "speed") << "1000\n";
    SetNetworkClassRoot(root.string());
    StartThreadsOn("ZR12", 1);
    g_lanScanState = 1;
    const bool listed = WaitUntil([] { return g_lanScanState.load() == 2; });
    const int32_t count = g_adapterCount;
    const std::string guid = g_adapterGuids[0];
    // After the first Scan a new request stays unanswered.
    g_scanRequest = 1;
    const bool reached = WaitUntil([] { return g_inOp.load() == 1; });
    g_lanScanState = 1;
    const int32_t cycles = g_cycleCount;
    WaitUntil([&] { return g_cycleCount > cycles + 5; });
    SetNetworkClassRoot("");
    std::filesystem::remove_all(root);
    ASSERT_TRUE(listed);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(guid, "eth7");
    EXPECT_TRUE(reached);
    EXPECT_EQ(g_lanScanState, 1);
}

TEST_F(BusThreadsTest, AutomaticChoiceTakesTheFirstEthernetAdapter) {
    bus_ = std::make_unique<testsupport::VirtualBus>("ZR12");
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("scan_adapters_" + std::to_string(getpid()));
    std::filesystem::create_directories(root / bus_->name());
    std::ofstream(root / bus_->name() / "type") << "1\n";
    SetNetworkClassRoot(root.string());
    g_selectLan = 0;
    g_lanName.set("\\Device\\NPF_old");
    g_slaveCount = 1;
    StartBusThreads();
    g_scanRequest = 1;
    const bool reached = WaitUntil([] { return g_inOp.load() == 1; }, 60);
    SetNetworkClassRoot("");
    std::filesystem::remove_all(root);
    ASSERT_TRUE(reached);
    EXPECT_EQ(g_lanName.get(), "\\Device\\NPF_" + bus_->name());
}

}  // namespace
