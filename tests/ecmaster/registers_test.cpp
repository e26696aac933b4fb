// The register helpers against the simulated segment: each reaches the slave
// chosen by its index through its station address, words go out little-endian,
// and a slave that does not answer is told apart from a read word.
#include <gtest/gtest.h>

#include "ecsim/slave.hpp"
#include "pre_op_bus.hpp"

namespace {

constexpr uint16_t kUserRam = 0x0F80;  // free for the application, no side effects

using RegisterHelpers = PreOpBus;

TEST_F(RegisterHelpers, ReachTheChosenSlaveByItsStationAddress) {
    EXPECT_EQ(ec_writeregw(3, kUserRam, 0x2345), 1);
    {
        auto lock = bus.segment().lock();
        const auto ram = bus.segment().slave(3).memory().subspan(kUserRam, 2);
        EXPECT_EQ(ram[0], 0x45);
        EXPECT_EQ(ram[1], 0x23);
        EXPECT_EQ(bus.segment().slave(1).memory()[kUserRam], 0);
    }
    uint16 word = 0;
    EXPECT_EQ(ec_readregw(3, kUserRam, &word), 1);
    EXPECT_EQ(word, 0x2345);
    EXPECT_EQ(ec_readregw(2, ECT_REG_ALSTAT, &word), 1);
    EXPECT_EQ(word, EC_STATE_PRE_OP);

    uint8 bytes[3] = {0xA1, 0xB2, 0xC3};
    EXPECT_EQ(ec_writereg(2, kUserRam, bytes, sizeof bytes), 1);
    uint8 back[4] = {};
    EXPECT_EQ(ecx_readreg(&ecx_context, 2, kUserRam, back, sizeof back), 1);
    EXPECT_EQ(back[0], 0xA1);
    EXPECT_EQ(back[2], 0xC3);
    EXPECT_EQ(back[3], 0x00);
}

TEST_F(RegisterHelpers, NoAnswerLeavesTheWordAndNothingIsSentPastTheTable) {
    bus.segment().powerOff(3);
    uint16 word = 0xBEEF;
    EXPECT_EQ(ec_readregw(3, ECT_REG_ALSTAT, &word), 0);
    EXPECT_EQ(word, 0xBEEF);
    EXPECT_EQ(ec_writeregw(3, kUserRam, 1), 0);

    const uint64_t frames = bus.segment().framesProcessed();
    EXPECT_EQ(ec_readregw(EC_MAXSLAVE, ECT_REG_ALSTAT, &word), EC_NOFRAME);
    EXPECT_EQ(ecx_readregw(nullptr, 1, ECT_REG_ALSTAT, &word), EC_NOFRAME);
    EXPECT_EQ(bus.segment().framesProcessed(), frames);
}

}  // namespace
