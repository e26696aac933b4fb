// The datagram primitives: addressing bytes on the wire, SOEM's copy rules and
// results, word helpers, the ecx_ forms and the AL status texts.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "tiny_wire.hpp"

namespace {

class Primitives : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GT(ec_init(bus.name.c_str()), 0); }
    tinywire::TinyBus bus;
};

TEST_F(Primitives, ReadsCopyTheReturnedData) {
    const uint8_t v[4] = {1, 2, 3, 4};
    bus.wire->poke(0x0130, v);
    uint8_t d[4] = {};
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(d, v, 4));
    std::memset(d, 0, 4);
    EXPECT_EQ(ec_APRD(0, 0x0130, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(d, v, 4));
    std::memset(d, 0, 4);
    EXPECT_EQ(ec_BRD(0, 0x0130, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(d, v, 4));
    std::memset(d, 0, 4);
    EXPECT_EQ(ec_LRD(0x0130, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(d, v, 4));
    EXPECT_EQ(ec_FPRDw(0x1001, 0x0130, EC_TIMEOUTRET), 0x0201);
    EXPECT_EQ(ec_APRDw(0, 0x0132, EC_TIMEOUTRET), 0x0403);
}

TEST_F(Primitives, WritesReachTheSlaveAndLeaveTheCallerAlone) {
    bus.wire->setScribble(true);  // the returned datagram data is garbage
    uint8_t d[4] = {9, 8, 7, 6};
    EXPECT_EQ(ec_FPWR(0x1001, 0x0200, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(d[0], 9);
    EXPECT_EQ(bus.wire->peek8(0x0200)[0], 9);
    EXPECT_EQ(ec_APWR(0, 0x0210, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ec_BWR(0, 0x0220, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ec_LWR(0x0230, 4, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(d, "\x09\x08\x07\x06", 4));
    EXPECT_EQ(ec_FPWRw(0x1001, 0x0240, 0xBEEF, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ec_APWRw(0, 0x0242, 0xCAFE, EC_TIMEOUTRET), 1);
    auto m = bus.wire->peek8(0x0240);
    EXPECT_EQ(ecat::get16(&m[0]), 0xBEEF);
    EXPECT_EQ(ecat::get16(&m[2]), 0xCAFE);
}

TEST_F(Primitives, ReadWithWkcZeroLeavesTheBufferAlone) {
    bus.wire->setSlaves(0);  // frame returns, nobody answered
    uint8_t d[2] = {0x55, 0xAA};
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, d, EC_TIMEOUTRET), 0);
    EXPECT_EQ(d[0], 0x55);
    EXPECT_EQ(d[1], 0xAA);
    EXPECT_EQ(ec_FPRDw(0x1001, 0x0130, EC_TIMEOUTRET), 0);
    // wkc 0 is an answer: no retry.
    const auto before = bus.wire->frames();
    EXPECT_EQ(ec_BRD(0, 0, 2, d, 10000), 0);
    EXPECT_EQ(bus.wire->frames() - before, 1u);
}

TEST_F(Primitives, LrwExchangesData) {
    const uint8_t in[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    bus.wire->poke(0x0300, in);
    uint8_t d[4] = {1, 2, 3, 4};
    EXPECT_EQ(ec_LRW(0x0300, 4, d, EC_TIMEOUTRET), 3);
    EXPECT_EQ(0, std::memcmp(d, in, 4));
    EXPECT_EQ(bus.wire->peek8(0x0300)[0], 1);
}

TEST_F(Primitives, ContextFormsUseThePort) {
    ASSERT_NE(ecx_context.port, nullptr);
    uint8_t d[2] = {0x34, 0x12};
    EXPECT_EQ(ecx_FPWR(ecx_context.port, 0x1001, 0x0400, 2, d, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ecx_FPWRw(ecx_context.port, 0x1001, 0x0402, htoes(0x5678), EC_TIMEOUTRET), 1);
    uint8_t r[4] = {};
    EXPECT_EQ(ecx_FPRD(ecx_context.port, 0x1001, 0x0400, 4, r, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ecat::get16(r), 0x1234);
    EXPECT_EQ(ecat::get16(r + 2), 0x5678);
    EXPECT_EQ(ecx_FPRD(nullptr, 0x1001, 0x0400, 4, r, EC_TIMEOUTRET), EC_NOFRAME);
}

TEST_F(Primitives, TooLongIsRefused) {
    static uint8_t big[2000];
    EXPECT_EQ(ec_BWR(0, 0, 1600, big, EC_TIMEOUTRET), EC_NOFRAME);
}

TEST(AlStatusText, KnownAndUnknownCodes) {
    EXPECT_STREQ(ec_ALstatuscode2string(0x0000), "No error");
    EXPECT_STREQ(ec_ALstatuscode2string(0x0011), "Invalid requested state change");
    EXPECT_STREQ(ec_ALstatuscode2string(0x001B), "Sync manager watchdog");
    EXPECT_STREQ(ec_ALstatuscode2string(0x0083), "Temperature too high");
    EXPECT_STREQ(ec_ALstatuscode2string(0x00F0), "Application controller available");
    EXPECT_STREQ(ec_ALstatuscode2string(0x0005), "Unknown");
    EXPECT_STREQ(ec_ALstatuscode2string(0xFFFF), "Unknown");
    const uint16_t all[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x06, 0x07, 0x0E, 0x11, 0x12, 0x13,
                            0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E,
                            0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29,
                            0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35,
                            0x36, 0x37, 0x41, 0x42, 0x43, 0x44, 0x45, 0x4F, 0x50, 0x51, 0x52,
                            0x60, 0x61, 0x70, 0x80, 0x81, 0x82, 0x83, 0xF0};
    for (uint16_t c : all) EXPECT_STRNE(ec_ALstatuscode2string(c), "Unknown") << std::hex << c;
}

}  // namespace
