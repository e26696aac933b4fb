// The SDO text helpers and the motor text channel against simulated bridges,
// through the master (slaves in PRE-OP, no bus threads).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "core/message_box_recorder.hpp"
#include "ethercat.h"
#include "settings/settings_values.hpp"
#include "support/all_layers.hpp"
#include "support/coe_test_device.hpp"
#include "support/fast_bus_clock.hpp"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

class MotorChannelTest : public ::testing::Test {
  protected:
    void Open(const std::string& slaves,
              const std::function<void(ecsim::Segment&)>& prepare = nullptr) {
        testsupport::ResetAllLayers();
        bus_ = std::make_unique<testsupport::VirtualBus>(slaves);
        if (prepare) prepare(bus_->segment());
        ASSERT_GT(ec_init(bus_->name().c_str()), 0);
        ASSERT_GT(ec_config_init(FALSE), 0);
        while (EcatError) ec_elist2string();
    }
    void TearDown() override {
        bus_.reset();
        testsupport::ResetAllLayers();
    }
    void RecordBridges(int count, int firstSlave = 1) {
        for (int b = 0; b < count; ++b) g_bridgeSlave[b] = firstSlave + b;
        g_bridgeCount = count;
    }
    static std::string Reply(uint16_t slave, int motor) {
        return SdoReadAsText(slave, static_cast<uint16_t>(ObjMotorResponse + motor), 0,
                             kCoeVisibleString);
    }

    // The online check's and the drain's pauses, as values.
    testsupport::FastBusClock busClock_;
    testsupport::MessageBoxRecorder boxes_;
    std::unique_ptr<testsupport::VirtualBus> bus_;
};

TEST_F(MotorChannelTest, SendTqlLineChecksBeforeAnyDeviceAccess) {
    Open("IO,ZR12");
    RecordBridges(1, 2);
    EXPECT_EQ(SendTqlLine(1, 9, "?99.1"), -1);  // not a bridge, whatever the motor
    EXPECT_EQ(SendTqlLine(3, 1, "?99.1"), -1);
    EXPECT_EQ(SendTqlLine(2, 0, "?99.1"), -2);
    EXPECT_EQ(SendTqlLine(2, 5, "?99.1"), -2);
    EXPECT_EQ(SendTqlLine(2, 1, "?"), -3);
    EXPECT_EQ(SendTqlLine(2, 1, std::string(61, ' ').c_str()), -3);
    EXPECT_EQ(SendTqlLine(2, 1, nullptr), -3);
    EXPECT_TRUE(Reply(2, 1).starts_with("N")) << "a refused line reached the motor";
    g_bridgeCount = 0;
    EXPECT_EQ(SendTqlLine(2, 1, "?99.1"), -1);
}

TEST_F(MotorChannelTest, LinesOfTwoToSixtyBytesReachTheMotor) {
    Open("ZR12");
    RecordBridges(1);
    EXPECT_EQ(SendTqlLine(1, 3, "?99.1"), 0);
    EXPECT_TRUE(Reply(1, 3).starts_with("Ux")) << Reply(1, 3);
    EXPECT_EQ(SendTqlLine(1, 3, "?9"), 0);
    EXPECT_FALSE(Reply(1, 3).starts_with("N"));
    std::string sixty = "?99.1";
    while (sixty.size() + 6 <= 60) sixty += ",?99.1";
    sixty.resize(60, ' ');
    EXPECT_EQ(SendTqlLine(1, 3, sixty.c_str()), 0);
    EXPECT_TRUE(Reply(1, 3).starts_with("Ux"));
}

TEST_F(MotorChannelTest, UartSpeedCodeReachesTheChannel) {
    Open("ZR01");
    RecordBridges(1);
    EXPECT_EQ(SetBridgeUartSpeed(2, 1, 6), -1);
    EXPECT_EQ(SetBridgeUartSpeed(1, 5, 6), -2);
    SdoWriteInt32(1, 0xF550, 3, 0x6D3F1);  // open the configuration window
    EXPECT_EQ(SetBridgeUartSpeed(1, 2, 6), 0);
    // Channel and motor speeds differ now: the line is lost on the way.
    SendTqlLine(1, 2, "?99.1");
    EXPECT_TRUE(Reply(1, 2).starts_with("N"));
    EXPECT_EQ(SetBridgeUartSpeed(1, 2, 0), 0);
    SendTqlLine(1, 2, "?99.1");
    EXPECT_TRUE(Reply(1, 2).starts_with("Ux"));
}

// The error is reported once; the good read after it is not lost to the flag
// the library leaves set, and a refused download is reported by the write.
TEST_F(MotorChannelTest, ARefusedUploadIsReportedOnceAndTheNextReadStands) {
    Open("ZR12");
    SdoWriteInt32(1, 0x6060, 0, 8);
    EXPECT_TRUE(SdoReadAsText(1, 0x2FFF, 0, kCoeInteger32).starts_with("Time:"));
    const SdoText next = SdoReadText(1, 0x6060, 0, kCoeInteger8);
    EXPECT_TRUE(next.uploaded);
    EXPECT_EQ(next.text, "0x08 8");
    EXPECT_FALSE(EcatError);
    // A refused write reports its own refusal; the next read is not charged with it.
    EXPECT_TRUE(SdoWriteInt32(1, 0x2FFF, 0, 1).starts_with("Time:"));
    EXPECT_EQ(SdoReadAsText(1, 0x6060, 0, kCoeInteger8), "0x08 8");
    EXPECT_EQ(SdoWriteInt32(1, 0x6060, 0, 8), "");
    // An entry from before the write (an emergency) is not its outcome, nor
    // that of the read after it.
    ec_errort emergency{};
    emergency.Etype = EC_ERR_TYPE_EMERGENCY;
    emergency.Slave = 1;
    ec_pusherror(&emergency);
    EXPECT_NE(SdoWriteInt32(1, 0x2FFF, 0, 1).find("SDO slave:1 index:2fff.00"), std::string::npos);
    ec_pusherror(&emergency);
    EXPECT_EQ(SdoReadAsText(1, 0x6060, 0, kCoeInteger8), "0x08 8");
    // A slave that does not answer leaves no entry: the write says so itself.
    EXPECT_EQ(SdoWriteInt32(9, 0x6060, 0, 8), kSlaveNoAnswerText);
}

// A scan's access to a device that lacks an object leaves the library's entry
// behind: a later read of another slave shows its own value, and a failed one
// its own refusal, never that entry.
TEST_F(MotorChannelTest, AReadReportsOnlyWhatItsOwnTransferDid) {
    Open("ZR12,ZR02");
    SdoWriteInt32(1, 0x6060, 0, 8);
    const auto leaveRefusalOfSlave2 = [] {
        int32_t value = 0;
        int size = sizeof value;
        ASSERT_LE(ec_SDOread(2, 0x2FFF, 0, FALSE, &size, &value, EC_TIMEOUTRXM), 0);
        ASSERT_TRUE(EcatError);
    };
    leaveRefusalOfSlave2();
    const SdoText good = SdoReadText(1, 0x6060, 0, kCoeInteger8);
    EXPECT_TRUE(good.uploaded);
    EXPECT_EQ(good.text, "0x08 8");
    leaveRefusalOfSlave2();
    const SdoText refused = SdoReadText(1, 0x2FFE, 0, kCoeInteger32);
    EXPECT_FALSE(refused.uploaded);
    EXPECT_TRUE(refused.errorText);
    EXPECT_NE(refused.text.find("SDO slave:1 index:2ffe.00"), std::string::npos) << refused.text;
}

// An access of a lost slave whose wait was given up may log while another read
// runs: a failed read still shows its own refusal, never that entry. (Here
// another thread logs whenever the list is empty, as it is once the read has
// taken its entries off.)
TEST_F(MotorChannelTest, AFailedReadShowsItsOwnRefusalWhileAnotherThreadLogs) {
    Open("ZR12");
    std::atomic<bool> stop{false};
    std::thread other([&stop] {
        ec_errort emergency{};
        emergency.Etype = EC_ERR_TYPE_EMERGENCY;
        emergency.Slave = 2;
        while (!stop) {
            if (!ec_iserror()) ec_pusherror(&emergency);
        }
    });
    int foreign = 0;
    for (int i = 0; i < 2000; ++i) {
        const SdoText refused = SdoReadText(1, 0x2FFE, 0, kCoeInteger32);
        if (!refused.errorText ||
            refused.text.find("SDO slave:1 index:2ffe.00") == std::string::npos) {
            ++foreign;
        }
    }
    stop = true;
    other.join();
    EXPECT_EQ(foreign, 0);
}

TEST_F(MotorChannelTest, AStringOf127BytesComesBackWholeALongerOneAsTheLibraryError) {
    Open("ZR12", [](ecsim::Segment& segment) {
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        device->od().addString(0x2000, 0, std::string(127, 'a'), ecsim::Access::ReadOnly);
        device->od().addString(0x2001, 0, std::string(128, 'b'), ecsim::Access::ReadOnly);
        segment.replaceDevice(1, std::move(device));
    });
    EXPECT_EQ(SdoReadAsText(1, 0x2000, 0, kCoeVisibleString), std::string(127, 'a'));
    EXPECT_TRUE(SdoReadAsText(1, 0x2001, 0, kCoeVisibleString).starts_with("Time:"));
}

TEST_F(MotorChannelTest, ReadObjectInt16TakesTheNumberInParentheses) {
    Open("ZR12");
    SdoWriteInt32(1, 0x6860, 0, 6);
    int16_t value = -1;
    EXPECT_EQ(ReadObjectInt16(1, 0x6860, &value), 2);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(ReadObjectInt16(1, 0x2FFF, &value), -1);  // the error text
    EXPECT_EQ(value, 0);
    EXPECT_EQ(ReadObjectInt16(1, 0x6860, &value), 2);  // the next read is not lost
    EXPECT_EQ(value, 6);
}

TEST_F(MotorChannelTest, DrainEmptiesEveryReplyQueue) {
    Open("ZR12,ZR02");
    RecordBridges(2);
    for (int i = 0; i < 3; ++i) {
        SendTqlLine(1, 1, "?99.1");
        SendTqlLine(2, 4, "?99.1");
    }
    DrainMotorReplies();
    EXPECT_TRUE(Reply(1, 1).starts_with("N"));
    EXPECT_TRUE(Reply(2, 4).starts_with("N"));
}

// Reply objects whose uploads the test counts: each gives `replies` texts before
// "N", or fails when `replies` is negative.
struct CountedReplies {
    std::atomic<int> uploads{0};
};

ecsim::Entry CountedQueue(std::shared_ptr<CountedReplies> counts, int replies,
                          std::function<void()> onEach = nullptr) {
    ecsim::Entry entry;
    entry.type = ecsim::DataType::VisibleString;
    entry.access = ecsim::Access::ReadOnly;
    auto left = std::make_shared<int>(replies);
    entry.onUpload = [counts, left, onEach](std::vector<uint8_t>& data) {
        counts->uploads.fetch_add(1);
        if (onEach) onEach();
        if (*left < 0) return ecsim::abort_code::ProtocolTimeout;
        const std::string text = *left > 0 ? "Ux=1" : "N";
        if (*left > 0) --*left;
        data.assign(text.begin(), text.end());
        return ecsim::abort_code::None;
    };
    return entry;
}

// The scan thread's drain takes the SDO lock read by read: a page's read waits
// for one upload, not for a whole drain.
TEST_F(MotorChannelTest, AReadOfAnotherThreadGetsInBetweenTheDrainsReads) {
    auto motor1 = std::make_shared<CountedReplies>();
    auto other = std::make_shared<CountedReplies>();
    auto drainReadsAtOther = std::make_shared<std::atomic<int>>(-1);
    Open("ZR12", [&](ecsim::Segment& segment) {
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        device->od().add(ObjMotorResponse + 1, 0, CountedQueue(motor1, 30));
        for (int m = 2; m <= 4; ++m) {
            device->od().add(static_cast<uint16_t>(ObjMotorResponse + m), 0,
                             CountedQueue(std::make_shared<CountedReplies>(), 0));
        }
        device->od().add(0x2000, 0, CountedQueue(other, 0, [motor1, drainReadsAtOther] {
                             drainReadsAtOther->store(motor1->uploads.load());
                         }));
        segment.replaceDevice(1, std::move(device));
    });
    RecordBridges(1);
    std::thread drain(DrainMotorReplies);
    testsupport::WaitUntil([&] { return motor1->uploads.load() > 0; }, 10,
                           {.pause = std::chrono::milliseconds(1)});
    SdoReadAsText(1, 0x2000, 0, kCoeVisibleString);
    drain.join();
    EXPECT_EQ(motor1->uploads.load(), 31);
    EXPECT_GT(drainReadsAtOther->load(), 0);
    EXPECT_LT(drainReadsAtOther->load(), 31) << "the read waited for the whole drain";
}

// A read that fails or brings nothing ends a motor's drain: a bridge that does
// not answer costs one read a motor, not 32.
TEST_F(MotorChannelTest, ADrainStopsAtTheFirstReadThatFails) {
    auto counts = std::make_shared<CountedReplies>();
    Open("ZR12", [&](ecsim::Segment& segment) {
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        for (int m = 1; m <= 4; ++m) {
            device->od().add(static_cast<uint16_t>(ObjMotorResponse + m), 0,
                             CountedQueue(counts, -1));
        }
        segment.replaceDevice(1, std::move(device));
    });
    RecordBridges(1);
    DrainMotorReplies();
    EXPECT_EQ(counts->uploads.load(), 4);
}

// Once the supervision holds a slave lost, its reads and writes end as ones that
// timed out, without a frame on the wire and without an entry on the error
// list; cleared, the slave is asked again.
TEST_F(MotorChannelTest, ALostSlaveIsNotAskedUntilItIsBack) {
    Open("ZR12,ZR02");
    RecordBridges(2);
    SendTqlLine(2, 1, "?99.1");  // a reply waits in motor 1's queue
    const std::string mode = SdoReadAsText(2, 0x6060, 0, kCoeInteger8);
    const uint64_t frames = bus_->segment().framesProcessed();
    SetSlaveLost(2, true);
    const SdoText read = SdoReadText(2, ObjMotorResponse + 1, 0, kCoeVisibleString);
    EXPECT_FALSE(read.uploaded);
    EXPECT_EQ(read.text, "");  // what a read that timed out gives
    EXPECT_EQ(SdoReadAsText(2, 0x6060, 0, kCoeInteger16), "0x0000 (0)");
    EXPECT_EQ(SdoWriteInt32(2, 0x6060, 0, 77), kSlaveNoAnswerText) << "as a write that timed out";
    EXPECT_EQ(SendTqlLine(2, 2, "?99.1"), 0);
    RecordBridges(1, 2);
    DrainMotorReplies();
    EXPECT_EQ(bus_->segment().framesProcessed(), frames) << "a frame went to the lost slave";
    EXPECT_FALSE(EcatError);
    EXPECT_FALSE(SlaveIsLost(1));

    SetSlaveLost(2, false);
    EXPECT_TRUE(Reply(2, 1).starts_with("Ux")) << "the queued reply was taken";
    EXPECT_EQ(SdoReadAsText(2, 0x6060, 0, kCoeInteger8), mode) << "the write went out";

    // Numbers the master cannot hold are never lost, and marking them is harmless.
    for (int slave : {-1, 0, EC_MAXSLAVE, 70000}) {
        SetSlaveLost(slave, true);
        EXPECT_FALSE(SlaveIsLost(slave)) << slave;
    }
}

TEST_F(MotorChannelTest, OnlineCheckFlagsAnsweringMotorsAndKeepsEarlierFlags) {
    Open("ZR12:13,ZR01:");
    RecordBridges(2);
    g_motorOnline[MotorSlot(1, 4)] = 1;  // answered in an earlier scan
    SendTqlLine(1, 1, "?99.1");          // a stale reply the check drains first
    CheckMotorsOnline();
    EXPECT_EQ(g_strScanLog.copy(),
              L"TQ[1.1]=ONline ; TQ[1.2]=OFFline; TQ[1.3]=ONline ; TQ[1.4]=OFFline\r\n"
              L"TQ[2.1]=OFFline; TQ[2.2]=OFFline; TQ[2.3]=OFFline; TQ[2.4]=ONline\r\n");
}

// A bridge whose motors answer by script: each reply depends on how many
// queries the motor has had and how many reads since the last one.
using ReplyScript = std::function<std::string(int queries, int readsSinceQuery)>;

void FitScriptedBridge(ecsim::Segment& segment, const std::array<ReplyScript, 4>& scripts) {
    auto device = std::make_unique<testsupport::CoeTestDevice>();
    for (int m = 1; m <= 4; ++m) {
        auto counts = std::make_shared<std::pair<int, int>>(0, 0);  // queries, reads since
        ecsim::Entry command;
        command.type = ecsim::DataType::VisibleString;
        command.access = ecsim::Access::WriteOnly;
        command.maxLength = 64;
        command.onDownload = [counts](std::span<const uint8_t> line) {
            if (std::string(line.begin(), line.end()) == "?99.1") *counts = {counts->first + 1, 0};
            return ecsim::abort_code::None;
        };
        device->od().add(static_cast<uint16_t>(ObjMotorCommand + m), 0, command);
        ecsim::Entry reply;
        reply.type = ecsim::DataType::VisibleString;
        reply.access = ecsim::Access::ReadOnly;
        reply.onUpload = [counts, script = scripts[m - 1]](std::vector<uint8_t>& data) {
            const std::string text = script(counts->first, ++counts->second);
            data.assign(text.begin(), text.end());
            return ecsim::abort_code::None;
        };
        device->od().add(static_cast<uint16_t>(ObjMotorResponse + m), 0, reply);
    }
    segment.replaceDevice(1, std::move(device));
}

// Two queries with two reads each, and only a reply that begins "Ux" counts.
TEST_F(MotorChannelTest, OnlineCheckQueriesTwiceReadsTwiceAndTakesOnlyUx) {
    Open("ZR12", [](ecsim::Segment& segment) {
        FitScriptedBridge(
            segment,
            {// Answers at the last chance: the second read after the second query.
             [](int q, int r) { return q == 2 && r == 2 ? "Ux=1" : "N"; },
             // Replies that are not the online answer.
             [](int q, int) { return q > 0 ? "Uv=1" : "N"; },
             [](int q, int) { return q > 0 ? "vUx=1" : "N"; },
             // Would answer only to a third query or at a third read.
             [](int q, int r) { return q == 3 || (q > 0 && r == 3) ? "Ux=1" : "N"; }});
    });
    RecordBridges(1);
    CheckMotorsOnline();
    EXPECT_EQ(g_strScanLog.copy(),
              L"TQ[1.1]=ONline ; TQ[1.2]=OFFline; TQ[1.3]=OFFline; TQ[1.4]=OFFline\r\n");
    EXPECT_EQ(g_motorOnline[MotorSlot(0, 1)], 1u);
    for (int m = 2; m <= 4; ++m) EXPECT_EQ(g_motorOnline[MotorSlot(0, m)], 0u) << m;
    // The drain's and the bridge's 20 ms, 10 ms after each query and 2 ms after
    // each read that is not the answer.
    const std::vector<int> unanswered = {10, 2, 2, 10, 2, 2};
    std::vector<int> expected = {20, 20, 10, 2, 2, 10, 2};
    for (int m = 2; m <= 4; ++m)
        expected.insert(expected.end(), unanswered.begin(), unanswered.end());
    EXPECT_EQ(busClock_.pauses(), expected);
}

TEST_F(MotorChannelTest, OnlineCheckCoversTheFirstSixteenBridgesOnly) {
    // Motors that answer at once keep the check short.
    std::string slaves = "ZR01";
    for (int i = 1; i < 20; ++i) slaves += ",ZR01";
    Open(slaves);
    RecordBridges(20);
    CheckMotorsOnline();
    const std::wstring log = g_strScanLog.copy();
    EXPECT_NE(log.find(L"TQ[16.1]=ONline ; "), std::wstring::npos);
    EXPECT_EQ(log.find(L"TQ[17."), std::wstring::npos);
    EXPECT_EQ(g_motorOnline[MotorSlot(15, 1)], 1u);
    EXPECT_EQ(g_motorOnline[MotorSlot(16, 1)], 0u);
    EXPECT_EQ(busClock_.count(20), 32u) << "a drain and a check for each of sixteen";
}

TEST_F(MotorChannelTest, WithoutBridgesTheOnlineCheckAppendsNothing) {
    Open("IO");
    CheckMotorsOnline();
    EXPECT_EQ(g_strScanLog.length(), 0u);
}

}  // namespace
