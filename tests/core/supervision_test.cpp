// The supervision thread keeps a simulated segment operational.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>

#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ecsim/device.hpp"
#include "ecsim/slave.hpp"
#include "ethercat.h"

namespace {

using testsupport::BusThreadsTest;
using testsupport::CountOf;
using testsupport::LogHas;
using testsupport::Narrow;
using testsupport::WaitUntil;

// A few further exchanges, each with the full working counter, counted from
// this call on.
bool ExchangesFullyAgain() {
    int32_t seen = -1;
    return WaitUntil([&seen] {
        if (g_wkc.load() != g_expectedWkc.load()) {
            seen = -1;
            return false;
        }
        if (seen < 0) seen = g_cycleCount.load();
        return g_cycleCount.load() > seen + 5;
    });
}

// The supervision's whole log after slave 2's SAFE-OP error was seen and
// acknowledged once.
void ExpectSlave2AcknowledgedAndSentToOp() {
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog,
                      L"WARNING[1] : Slave(2) is in SAFE_OP, change to OPERATIONAL\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    EXPECT_EQ(g_strSuperviseLog.copy(),
              L"ERROR[1] : Slave(2) is in SAFE_OP & ERROR, Attempting Ack\r\n"
              L"WARNING[1] : Slave(2) is in SAFE_OP, change to OPERATIONAL\r\n");
}

// A slave falls to SAFE-OP with error as a frame is lost: whichever the
// supervision sees first, the error is acknowledged once.
void ForceSafeOpErrorAndLoseAFrame(ecsim::Segment& segment, size_t position) {
    segment.forceSafeOpError(position, 0x001B);
    segment.dropNext(1);
}

// Loses the next process-data frame; the supervision's own frames pass.
void LoseOneProcessDataFrame(ecsim::Segment& segment) {
    auto pending = std::make_shared<std::atomic<bool>>(true);
    segment.loseWhen([pending](std::span<const uint8_t> frame) {
        std::vector<uint8_t> copy(frame.begin(), frame.end());
        for (const ecat::Datagram& d : ecat::parseFrame(copy).datagrams) {
            if (ecat::isLogical(d.cmd())) return pending->exchange(false);
        }
        return false;
    });
}

TEST_F(BusThreadsTest, ASlaveInSafeOpWithErrorIsAcknowledgedAndBroughtBackToOp) {
    ScanToOp("ZR12,ZR02", 2);
    ForceSafeOpErrorAndLoseAFrame(segment(), 2);
    ASSERT_NO_FATAL_FAILURE(ExpectSlave2AcknowledgedAndSentToOp());
    EXPECT_EQ(g_ackCount, 1);
    EXPECT_TRUE(ExchangesFullyAgain());
}

// Its outputs still counted, the slave keeps the working counter full: the
// supervision learns of the error from the segment's AL status.
TEST_F(BusThreadsTest, ASafeOpErrorWithAFullWorkingCounterIsAcknowledged) {
    ScanToOp("ZR12,ZR02", 2);
    segment().forceSafeOpError(2, 0x001B);
    ASSERT_NO_FATAL_FAILURE(ExpectSlave2AcknowledgedAndSentToOp());
    ASSERT_TRUE(WaitUntil([this] {
        auto hold = segment().lock();
        return segment().slave(2).alStatus() == EC_STATE_OPERATIONAL;
    }));
    EXPECT_TRUE(ExchangesFullyAgain());
}

TEST_F(BusThreadsTest, ALostFrameAloneWritesNothing) {
    ScanToOp("ZR12,ZR02", 2);
    // The short count stands for one cycle only: seen at the pause after it.
    auto shortCount = std::make_shared<std::atomic<bool>>(false);
    busClock_.onPause([shortCount](int) {
        if (g_wkc.load() < g_expectedWkc.load()) *shortCount = true;
    });
    LoseOneProcessDataFrame(segment());
    ASSERT_TRUE(WaitUntil([&] { return shortCount->load(); }));
    EXPECT_TRUE(ExchangesFullyAgain());
    EXPECT_EQ(g_strSuperviseLog.length(), 0u);
}

TEST_F(BusThreadsTest, APowerCycledSlaveIsLostRecoveredAndReconfigured) {
    ScanToOp("ZR12,ZR02", 2);
    segment().powerOff(2);
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(2) TimeOut(lost)\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    // Device work for it now fails at once; the slave before it is not lost.
    EXPECT_TRUE(SlaveIsLost(2));
    EXPECT_FALSE(SlaveIsLost(1));
    segment().powerOn(2);
    ASSERT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
    EXPECT_FALSE(SlaveIsLost(2));
    EXPECT_EQ(SdoReadAsText(2, 0x1008, 0, kCoeVisibleString), "Torvanelix ZR02");
    // Powered on in INIT at station address 0: found again by its position,
    // brought to SAFE-OP and then to OP.
    EXPECT_EQ(g_strSuperviseLog.copy(),
              L"ERROR[2] : Slave(2) TimeOut(lost)\r\n"
              L"MESSAGE[2] : Slave(2) recovered\r\n"
              L"MESSAGE[1] : Slave(2) reconfigured\r\n"
              L"WARNING[1] : Slave(2) is in SAFE_OP, change to OPERATIONAL\r\n");
    EXPECT_EQ(CountOf(g_strSuperviseLog.copy(), L"Slave(1)"), 0u);
}

// An application that refuses PRE-OP -> SAFE-OP as often as told to, and
// counts the refusals.
class SafeOpRefusal : public ecsim::Device {
  public:
    struct Control {
        std::atomic<int> toRefuse{0};
        std::atomic<int> refusals{0};
    };
    explicit SafeOpRefusal(std::shared_ptr<Control> control) : control_(std::move(control)) {}
    uint16_t checkStateChange(uint16_t from, uint16_t to) override {
        if (from != EC_STATE_PRE_OP || to != EC_STATE_SAFE_OP) return 0;
        int left = control_->toRefuse.load();
        do {
            if (left <= 0) return 0;
        } while (!control_->toRefuse.compare_exchange_weak(left, left - 1));
        control_->refusals.fetch_add(1);
        return 0x001E;  // invalid input configuration
    }

  private:
    std::shared_ptr<Control> control_;
};

TEST_F(BusThreadsTest, AReconfigureThatStopsShortOfSafeOpIsNoSuccess) {
    auto control = std::make_shared<SafeOpRefusal::Control>();
    StartThreadsOn("ZR12,IO", 2);
    segment().replaceDevice(2, std::make_unique<SafeOpRefusal>(control));
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    control->toRefuse = 1;
    segment().powerOff(2);
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(2) TimeOut(lost)\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    segment().powerOn(2);
    // Recovered in INIT, it gets to PRE-OP but not further: that reconfigure
    // waits out the master's state timeout and is no success; the next pass's
    // goes through. Logged both, the line would stand twice.
    ASSERT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
    EXPECT_EQ(control->refusals.load(), 1);
    EXPECT_EQ(CountOf(g_strSuperviseLog.copy(), L"MESSAGE[1] : Slave(2) reconfigured\r\n"), 1u)
        << Narrow(g_strSuperviseLog.copy());
}

TEST_F(BusThreadsTest, SlavesCutOffForAWhileAreFoundAgain) {
    ScanToOp("ZR12,ZR02", 2);
    segment().setDropRate(1.0);
    // No frame back: the working counter reads 0.
    EXPECT_TRUE(WaitUntil([] { return g_wkc.load() == 0; }));
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(1) TimeOut(lost)\r\n") &&
               LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(2) TimeOut(lost)\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    segment().setDropRate(0.0);
    ASSERT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
    // Answering at their addresses again they are found; one whose recovery ran
    // just as the frames came back is recovered instead.
    for (const wchar_t* slave : {L"Slave(1)", L"Slave(2)"}) {
        const std::wstring log = g_strSuperviseLog.copy();
        EXPECT_TRUE(
            LogHas(g_strSuperviseLog, std::wstring(L"MESSAGE[3] : ") + slave + L" found") ||
            LogHas(g_strSuperviseLog, std::wstring(L"MESSAGE[2] : ") + slave + L" recovered"))
            << Narrow(log);
    }
}

// A wire in front of the segment that loses chosen kinds of frame on their way
// back (the slaves still see them, so their outputs keep arriving).
class SelectiveWire : public ecmaster::FrameProcessor {
  public:
    enum class Loss { Nothing, StateReadsAndExchanges, Everything, RecoveryAndExchanges };

    explicit SelectiveWire(ecsim::Segment& segment) : segment_(segment) {}
    void lose(Loss loss) { loss_ = loss; }
    // Frames of ec_readstate seen so far: one or two per check pass.
    int stateReads() const { return stateReads_.load(); }

    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        bool exchange = false;
        bool stateRead = false;
        bool recovery = false;
        int statusReads = 0;
        for (const ecat::Datagram& d : ecat::parseFrame(frame).datagrams) {
            exchange = exchange || d.cmd() == ecat::Cmd::LRW;
            recovery = recovery || d.cmd() == ecat::Cmd::APRD;
            if (d.ado() == ECT_REG_ALSTAT && d.cmd() == ecat::Cmd::BRD) stateRead = true;
            if (d.ado() == ECT_REG_ALSTAT && d.cmd() == ecat::Cmd::FPRD) ++statusReads;
        }
        // A single status read is a state check; the state read asks all at once.
        stateRead = stateRead || statusReads > 1;
        if (stateRead) stateReads_.fetch_add(1);
        ecmaster::Delivery delivery = segment_.process(frame);
        switch (loss_.load()) {
            case Loss::Nothing:
                break;
            case Loss::StateReadsAndExchanges:
                delivery.lost = delivery.lost || stateRead || exchange;
                break;
            case Loss::Everything:
                delivery.lost = true;
                break;
            case Loss::RecoveryAndExchanges:
                delivery.lost = delivery.lost || recovery || exchange;
                break;
        }
        return delivery;
    }

  private:
    ecsim::Segment& segment_;
    std::atomic<Loss> loss_{Loss::Nothing};
    std::atomic<int> stateReads_{0};
};

// Puts a frame processor on the in-process wire under a name of its own.
struct AttachedWire {
    AttachedWire(std::string wireName, std::shared_ptr<ecmaster::FrameProcessor> processor)
        : name(std::move(wireName)) {
        ecmaster::attachVirtualWire(name, std::move(processor));
    }
    ~AttachedWire() { ecmaster::detachVirtualWire(name); }
    const std::string name;
};

TEST_F(BusThreadsTest, OnlyASlaveSilentInItsStateCheckIsLostAndAFoundOneIsReportedOnce) {
    StartThreadsOn("ZR12,ZR02", 2);
    auto wire = std::make_shared<SelectiveWire>(segment());
    const AttachedWire attached(bus_->name() + "-selective", wire);
    g_lanName.set(attached.name);
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    const auto passesGoOn = [&] {
        const int from = wire->stateReads();
        return WaitUntil([&] { return wire->stateReads() > from + 5; });
    };

    // Short exchanges keep the passes going; their state reads get no answer,
    // but each slave answers its own state check: nobody is lost.
    wire->lose(SelectiveWire::Loss::StateReadsAndExchanges);
    ASSERT_TRUE(passesGoOn());
    EXPECT_EQ(g_strSuperviseLog.length(), 0u) << Narrow(g_strSuperviseLog.copy());

    // Silent in their state checks too: both are lost.
    wire->lose(SelectiveWire::Loss::Everything);
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(1) TimeOut(lost)\r\n") &&
               LogHas(g_strSuperviseLog, L"ERROR[2] : Slave(2) TimeOut(lost)\r\n");
    })) << Narrow(g_strSuperviseLog.copy());

    // Their states read again while a recovery still gets no answer: each is
    // found, once, however many passes follow.
    wire->lose(SelectiveWire::Loss::RecoveryAndExchanges);
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"MESSAGE[3] : Slave(1) found\r\n") &&
               LogHas(g_strSuperviseLog, L"MESSAGE[3] : Slave(2) found\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    ASSERT_TRUE(passesGoOn());
    const std::wstring log = g_strSuperviseLog.copy();
    EXPECT_EQ(CountOf(log, L"\r\n"), 4u) << Narrow(log);
    for (const wchar_t* line :
         {L"ERROR[2] : Slave(1) TimeOut(lost)\r\n", L"ERROR[2] : Slave(2) TimeOut(lost)\r\n",
          L"MESSAGE[3] : Slave(1) found\r\n", L"MESSAGE[3] : Slave(2) found\r\n"}) {
        EXPECT_EQ(CountOf(log, line), 1u) << Narrow(line) << "\n" << Narrow(log);
    }
    wire->lose(SelectiveWire::Loss::Nothing);
    EXPECT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
}

// A wire in front of the segment that, on request, stalls every frame for a
// number of check passes: lost, or back later than any timeout of the master
// (a busy machine). It counts the passes by their state reads.
class StallingWire : public ecmaster::FrameProcessor {
  public:
    explicit StallingWire(ecsim::Segment& segment) : segment_(segment) {}
    // Stalls every frame until `passes` further passes began.
    void stall(int passes, std::chrono::microseconds late) {
        std::lock_guard lock(mutex_);
        late_ = late;
        passesLeft_ = passes + 1;
    }
    bool stalling() const {
        std::lock_guard lock(mutex_);
        return passesLeft_ > 0;
    }
    // Passes that read every slave's status one by one, as a pass does whose
    // all-slaves read does not show all of them in one state.
    int slaveBySlaveReads() const {
        std::lock_guard lock(mutex_);
        return slaveBySlaveReads_;
    }

    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        bool passBegins = false;
        int statusReads = 0;
        for (const ecat::Datagram& d : ecat::parseFrame(frame).datagrams) {
            if (d.ado() == ECT_REG_ALSTAT && d.cmd() == ecat::Cmd::BRD) passBegins = true;
            if (d.ado() == ECT_REG_ALSTAT && d.cmd() == ecat::Cmd::FPRD) ++statusReads;
        }
        ecmaster::Delivery delivery = segment_.process(frame);
        std::lock_guard lock(mutex_);
        if (statusReads > 1) ++slaveBySlaveReads_;
        if (passBegins && passesLeft_ > 0) --passesLeft_;
        if (passesLeft_ > 0) {
            delivery.lost = late_.count() == 0;
            delivery.delay = late_;
        }
        return delivery;
    }

  private:
    ecsim::Segment& segment_;
    mutable std::mutex mutex_;
    int passesLeft_ = 0;
    std::chrono::microseconds late_{0};
    int slaveBySlaveReads_ = 0;
};

class StallingWireTest : public BusThreadsTest {
  protected:
    void ScanToOpThroughTheWire() {
        StartThreadsOn("ZR12,ZR02", 2);
        wire_ = std::make_shared<StallingWire>(segment());
        attached_ = std::make_unique<AttachedWire>(bus_->name() + "-stalling", wire_);
        g_lanName.set(attached_->name);
        g_scanRequest = 1;
        ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    }
    void TearDown() override {
        StopBusThreads();
        attached_.reset();
        BusThreadsTest::TearDown();
    }

    std::shared_ptr<StallingWire> wire_;
    std::unique_ptr<AttachedWire> attached_;
};

// Frames that do not come back, or come back too late, for a few passes show
// nothing of the slaves: none is lost.
TEST_F(StallingWireTest, FramesLostOrLateForAFewPassesLoseNoSlave) {
    ASSERT_NO_FATAL_FAILURE(ScanToOpThroughTheWire());
    for (const auto late : {std::chrono::microseconds(0), std::chrono::microseconds(30000)}) {
        wire_->stall(3, late);
        ASSERT_TRUE(WaitUntil([&] { return !wire_->stalling(); }));
        ASSERT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
        EXPECT_FALSE(SlaveIsLost(1));
        EXPECT_FALSE(SlaveIsLost(2));
        EXPECT_EQ(g_strSuperviseLog.length(), 0u) << late.count() << " us late\n"
                                                  << Narrow(g_strSuperviseLog.copy());
    }
}

// A frame back without a slave's answer shows it gone: the pass that sees the
// slave silent marks it lost.
TEST_F(StallingWireTest, APoweredOffSlaveIsLostInThePassThatFindsItSilent) {
    ASSERT_NO_FATAL_FAILURE(ScanToOpThroughTheWire());
    const int before = wire_->slaveBySlaveReads();
    // The reads as the first pause after the mark finds them: the passes that
    // follow, however soon, do not count.
    auto atLost = std::make_shared<std::atomic<int>>(-1);
    busClock_.onPause([wire = wire_, atLost](int) {
        if (atLost->load() < 0 && SlaveIsLost(2)) atLost->store(wire->slaveBySlaveReads());
    });
    segment().powerOff(2);
    ASSERT_TRUE(WaitUntil([&] { return atLost->load() >= 0; })) << Narrow(g_strSuperviseLog.copy());
    EXPECT_LE(atLost->load() - before, 2);
    EXPECT_EQ(g_strSuperviseLog.copy(), L"ERROR[2] : Slave(2) TimeOut(lost)\r\n");
    EXPECT_FALSE(SlaveIsLost(1));
}

TEST_F(BusThreadsTest, TwentyAcknowledgementsRestartTheWholeBus) {
    ScanToOp("ZR12,ZR02", 2);
    // Only the restart takes a slave down to INIT.
    auto inits = std::make_shared<std::array<std::atomic<int>, 3>>();
    segment().setStateChangeHook([inits](size_t position, uint16_t, uint16_t to) {
        if (to == EC_STATE_INIT && position < inits->size()) (*inits)[position].fetch_add(1);
    });
    for (size_t ack = 1; ack <= 20; ++ack) {
        ForceSafeOpErrorAndLoseAFrame(segment(), ack % 2 + 1);
        ASSERT_TRUE(WaitUntil([&] {
            return CountOf(g_strSuperviseLog.copy(), L"Attempting Ack\r\n") == ack;
        })) << ack
            << "\n"
            << Narrow(g_strSuperviseLog.copy());
    }
    ASSERT_TRUE(WaitUntil([] {
        return LogHas(g_strSuperviseLog, L"ERROR[3] :All Init-->SafeOp-->OP(1)\r\n");
    })) << Narrow(g_strSuperviseLog.copy());
    EXPECT_EQ(busClock_.count(200), 3u) << "200 ms after each of the three steps";
    const std::wstring log = g_strSuperviseLog.copy();
    EXPECT_EQ(CountOf(log.substr(0, log.find(L"ERROR[3]")), L"Attempting Ack\r\n"), 20u)
        << Narrow(log);
    EXPECT_EQ((*inits)[1], 1);
    EXPECT_EQ((*inits)[2], 1);
    EXPECT_EQ(g_fullRestartCount, 1);
    EXPECT_TRUE(ExchangesFullyAgain()) << Narrow(g_strSuperviseLog.copy());
    EXPECT_LT(g_ackCount, 20);
}

}  // namespace
