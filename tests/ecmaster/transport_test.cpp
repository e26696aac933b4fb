// The transport: virtual-wire selection, indexes, out-of-order returns, loss,
// delay, padding and the thread-safety of waiting on several indexes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "../../ecmaster/src/port.hpp"
#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "support/wait_until.hpp"
#include "tiny_wire.hpp"

using namespace std::chrono;
using namespace ecmaster::detail;

namespace {

using testsupport::kPatientUs;

std::vector<uint8_t> brdFrame(int idx, uint16_t ado = 0x0000) {
    ecat::FrameBuilder b;
    b.add(ecat::Cmd::BRD, static_cast<uint8_t>(idx), 0, ado, 2);
    auto f = b.finish();
    return {f.begin(), f.end()};
}

TEST(Transport, UnknownInterfaceFails) {
    EXPECT_EQ(ec_init("no-such-interface-x"), 0);
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(ec_init(nullptr), 0);
}

TEST(Transport, CloseIsSafeWhenNotOpenAndInitWorksAgain) {
    ec_close();
    ec_close();
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    EXPECT_TRUE(portOpen());
    ec_close();
    EXPECT_FALSE(portOpen());
    uint8_t w[2] = {};
    EXPECT_EQ(ec_BRD(0, 0, 2, w, 1000), EC_NOFRAME);
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    EXPECT_EQ(ec_BRD(0, 0, 2, w, 1000), 1);
}

TEST(Transport, StripsTheWindowsDevicePrefix) {
    tinywire::TinyBus bus;
    const std::string win = "\\Device\\NPF_" + bus.name;
    ASSERT_GT(ec_init(win.c_str()), 0);
    uint8_t w[2] = {};
    EXPECT_EQ(ec_BRD(0, 0, 2, w, EC_TIMEOUTRET), 1);
}

TEST(Transport, IndexesAreHandedOutUntilExhausted) {
    std::vector<int> got;
    for (int i = 0; i < EC_MAXBUF; ++i) {
        const int idx = allocIndex();
        ASSERT_GE(idx, 0);
        ASSERT_LT(idx, EC_MAXBUF);
        for (int g : got) ASSERT_NE(g, idx);
        got.push_back(idx);
    }
    EXPECT_EQ(allocIndex(), -1);
    releaseIndex(got[3]);
    EXPECT_EQ(allocIndex(), got[3]);
    for (int g : got) releaseIndex(g);
}

TEST(Transport, FramesArePaddedToTheEthernetMinimum) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    uint8_t b = 0;
    EXPECT_EQ(ec_BWR(0, 0x0103, 1, &b, EC_TIMEOUTRET), 1);
    EXPECT_EQ(bus.wire->lastSize(), 60u);
}

TEST(Transport, WaitReturnsTheWkcOfTheLastDatagram) {
    tinywire::TinyBus bus;
    bus.wire->setSlaves(2);
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    const int idx = allocIndex();
    ecat::FrameBuilder b;
    b.add(ecat::Cmd::BRD, static_cast<uint8_t>(idx), 0, 0, 2);      // wkc 2
    b.add(ecat::Cmd::LRW, static_cast<uint8_t>(idx), 0, 0x100, 4);  // wkc 6
    std::array<uint8_t, EC_BUFSIZE> in{};
    size_t len = 0;
    ASSERT_TRUE(sendFrame(idx, b.finish()));
    EXPECT_EQ(waitFrame(idx, in, len, EC_TIMEOUTRET), 6);
    EXPECT_GE(len, 60u);
    EXPECT_EQ(in[6] & ecat::kSlaveMacBit, ecat::kSlaveMacBit);
    // Consumed: a second wait has nothing.
    EXPECT_EQ(waitFrame(idx, in, len, 500), EC_NOFRAME);
    EXPECT_EQ(len, 0u);
    releaseIndex(idx);
}

TEST(Transport, OutOfOrderFramesReachTheirWaiters) {
    tinywire::TinyBus bus;
    // The frame of the first index comes back long after the second's whole
    // wait: the second is not held up behind it.
    std::atomic<int> slowTag{-1};  // as the frame carries its index
    bus.wire->setDelayFn([&](const ecat::Datagram& d) {
        return d.index() == slowTag.load() ? microseconds(2 * kPatientUs) : microseconds(0);
    });
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    const int a = allocIndex();
    const int b = allocIndex();
    slowTag = indexTag(a);
    ASSERT_TRUE(sendFrame(a, brdFrame(a)));
    ASSERT_TRUE(sendFrame(b, brdFrame(b)));
    std::array<uint8_t, EC_BUFSIZE> in{};
    size_t len = 0;
    EXPECT_EQ(waitFrame(b, in, len, kPatientUs), 1);
    EXPECT_EQ(in[ecat::kEthHeaderSize + 3], b);  // the datagram index byte
    EXPECT_EQ(waitFrame(a, in, len, 4 * kPatientUs), 1);
    EXPECT_EQ(in[ecat::kEthHeaderSize + 3], a);
    releaseIndex(a);
    releaseIndex(b);
}

TEST(Transport, FramesReadByAnotherWaiterAreHandedOver) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    // Frame `a` returns first, but its owner only starts waiting after the
    // thread waiting for `b` has read both from the wire.
    std::atomic<int> slowTag{-1};  // as the frame carries its index
    bus.wire->setDelayFn([&](const ecat::Datagram& d) {
        return d.index() == slowTag.load() ? microseconds(3000) : microseconds(0);
    });
    const int a = allocIndex();
    const int b = allocIndex();
    slowTag = indexTag(b);
    ASSERT_TRUE(sendFrame(a, brdFrame(a)));
    ASSERT_TRUE(sendFrame(b, brdFrame(b)));
    std::array<uint8_t, EC_BUFSIZE> in{};
    size_t len = 0;
    EXPECT_EQ(waitFrame(b, in, len, kPatientUs), 1);
    EXPECT_EQ(waitFrame(a, in, len, 0), 1);  // already stored, no wait needed
    releaseIndex(a);
    releaseIndex(b);
}

TEST(Transport, LateFrameOfAnEarlierUseOfTheIndexIsNotTaken) {
    tinywire::TinyBus bus;
    bus.wire->setDelayFn([](const ecat::Datagram& d) {
        return d.ado() == 0x0000 ? microseconds(1000) : microseconds(4000);
    });
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    const int a = allocIndex();
    ASSERT_TRUE(sendFrame(a, brdFrame(a, 0x0000)));  // back after 1 ms: too late for its owner
    releaseIndex(a);
    std::vector<int> others;  // hold every other index, so `a` is handed out again
    for (int i = 0; i < EC_MAXBUF - 1; ++i) others.push_back(allocIndex());
    const int again = allocIndex();
    ASSERT_EQ(again, a);
    ASSERT_TRUE(sendFrame(again, brdFrame(again, 0x0130)));
    std::array<uint8_t, EC_BUFSIZE> in{};
    size_t len = 0;
    EXPECT_EQ(waitFrame(again, in, len, kPatientUs), 1);
    EXPECT_EQ(ecat::get16(&in[ecat::kEthHeaderSize + 2 + 4]), 0x0130);  // ADO of the new frame
    EXPECT_EQ(in[ecat::kEthHeaderSize + 3], again);
    releaseIndex(again);
    for (int o : others) releaseIndex(o);
}

TEST(Transport, LostFrameIsATimeoutAfterRetries) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    bus.wire->dropNext(1000000);
    uint8_t w[2] = {0x12, 0x34};
    const auto before = bus.wire->frames();
    const auto t0 = steady_clock::now();
    constexpr int kTimeout = 50 * EC_TIMEOUTRET;
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, w, kTimeout), EC_NOFRAME);
    EXPECT_GE(steady_clock::now() - t0, microseconds(kTimeout));
    // Re-sent after each EC_TIMEOUTRET slice, never sooner: at most one
    // frame per slice, and more than one unless the machine stalled for
    // nearly the whole timeout.
    EXPECT_GE(bus.wire->frames() - before, 2u);
    EXPECT_LE(bus.wire->frames() - before, static_cast<uint64_t>(kTimeout / EC_TIMEOUTRET));
    EXPECT_EQ(w[0], 0x12);  // untouched
    EXPECT_EQ(w[1], 0x34);
}

TEST(Transport, OneLostFrameIsRecoveredByTheRetry) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    bus.wire->dropNext(1);
    uint8_t w[2] = {};
    const auto before = bus.wire->frames();
    EXPECT_EQ(ec_BRD(0, 0, 2, w, kPatientUs), 1);
    EXPECT_EQ(bus.wire->frames() - before, 2u) << "the lost frame and its repetition";
    bus.wire->dropNext(1);
    // With a single slice there is no second attempt.
    EXPECT_EQ(ec_BRD(0, 0, 2, w, EC_TIMEOUTRET), EC_NOFRAME);
}

TEST(Transport, LateFrameWithinTheTimeoutIsTaken) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    bus.wire->setDelay(microseconds(3000));
    const uint8_t before[2] = {0x11, 0x11};
    bus.wire->poke(0, before);
    uint8_t w[2] = {};
    EXPECT_EQ(ec_BRD(0, 0, 2, w, 10000), 1);
    // A shorter timeout gives up, unless this thread itself came too late to
    // look; either way no count but the frame's own.
    const int early = ec_BRD(0, 0, 2, w, EC_TIMEOUTRET);
    EXPECT_TRUE(early == EC_NOFRAME || early == 1) << early;
    bus.wire->setDelay(microseconds(0));
    const uint8_t after[2] = {0x22, 0x22};
    bus.wire->poke(0, after);
    // Its frame, still on its way, answers no later exchange.
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(microseconds(200));
        ASSERT_EQ(ec_BRD(0, 0, 2, w, kPatientUs), 1);
        ASSERT_EQ(w[0], 0x22) << "a late frame was taken for a later exchange";
    }
}

TEST(Transport, ManyThreadsWaitingAtOnce) {
    tinywire::TinyBus bus;
    bus.wire->setDelayFn(
        [](const ecat::Datagram& d) { return microseconds((d.index() % 5) * 150); });
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::atomic<int> lost{0};
    std::atomic<int> wrong{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &lost, &wrong] {
            for (int i = 0; i < 150; ++i) {
                const uint16_t ado = static_cast<uint16_t>(0x1000 + t * 16);
                uint8_t out[4];
                ecat::put32(out, static_cast<uint32_t>(t << 24 | i));
                if (ec_FPWR(0x1001, ado, 4, out, kPatientUs) != 1) ++lost;
                uint8_t in[4] = {};
                if (ec_FPRD(0x1001, ado, 4, in, kPatientUs) != 1) {
                    ++lost;
                } else if (ecat::get32(in) != static_cast<uint32_t>(t << 24 | i)) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Transport, MoreThreadsThanIndexesTakeTurns) {
    tinywire::TinyBus bus;
    bus.wire->setDelay(microseconds(500));  // keeps many frames in flight
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    constexpr int kThreads = 3 * EC_MAXBUF;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 20; ++i) {
                uint8_t w[2];
                if (ec_BRD(0, 0, 2, w, 200000) != 1) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    // All indexes are free again.
    std::vector<int> got;
    for (int i = 0; i < EC_MAXBUF; ++i) got.push_back(allocIndex());
    for (int g : got) EXPECT_GE(g, 0);
    for (int g : got) releaseIndex(g);
}

TEST(Transport, CloseWhileOthersWaitEndsTheirWait) {
    tinywire::TinyBus bus;
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    bus.wire->dropNext(1000000);
    std::vector<std::thread> threads;
    std::atomic<int> nofr{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            uint8_t w[2];
            if (ec_BRD(0, 0, 2, w, 200000) == EC_NOFRAME) ++nofr;
        });
    std::this_thread::sleep_for(milliseconds(5));
    const auto t0 = steady_clock::now();
    ec_close();
    for (auto& th : threads) th.join();
    EXPECT_LT(steady_clock::now() - t0, milliseconds(300));
    EXPECT_EQ(nofr.load(), 4);
}

TEST(Transport, FindAdaptersListsLoopback) {
    ec_adaptert* list = ec_find_adapters();
    ASSERT_NE(list, nullptr);
    bool lo = false;
    for (ec_adaptert* a = list; a; a = a->next) lo = lo || std::string(a->name) == "lo";
    EXPECT_TRUE(lo);
    ec_free_adapters(list);
    ec_free_adapters(nullptr);
}

}  // namespace
