// The text form of an upload by CoE data type.
#include <gtest/gtest.h>

#include <cstring>

#include "bus/scan_thread.hpp"
#include "bus/sdo_text.hpp"

namespace {

std::string Formatted(std::vector<uint8_t> bytes, uint16_t type) {
    bytes.resize(128, 0);
    return FormatSdoData(bytes.data(), 127, type);
}

TEST(FormatSdoData, SignedIntegersShowTheValueWidenedTo32BitsInHex) {
    EXPECT_EQ(Formatted({0xFE, 0xFF}, 3), "0xfffffffe (-2)");
    EXPECT_EQ(Formatted({0x08, 0x00}, 3), "0x0008 (8)");
    EXPECT_EQ(Formatted({0xFF}, 2), "0xffffffff -1");
    EXPECT_EQ(Formatted({0x05}, 2), "0x05 5");
    EXPECT_EQ(Formatted({0x78, 0x56, 0x34, 0x12}, 4), "0x12345678 (305419896)");
    EXPECT_EQ(Formatted({0xFF, 0xFF, 0xFF, 0xFF}, 16), "0xffffffff (-1)");
}

TEST(FormatSdoData, UnsignedIntegers) {
    EXPECT_EQ(Formatted({0xC8}, 5), "0xc8 200");
    EXPECT_EQ(Formatted({0x34, 0x12}, 6), "0x1234 4660");
    EXPECT_EQ(Formatted({0xFF, 0xFF, 0xFF, 0xFF}, 7), "0xffffffff 4294967295");
    EXPECT_EQ(Formatted({0x01, 0x00, 0x00, 0x00}, 22), "0x00000001 1");
    EXPECT_EQ(Formatted({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 21),
              "0xffffffffffffffff -1");
    EXPECT_EQ(Formatted({0x02, 0, 0, 0, 0, 0, 0, 0x80}, 27),
              "0x8000000000000002 9223372036854775810");
    EXPECT_EQ(Formatted({0xA5}, 48), "0xa5");
    EXPECT_EQ(Formatted({0x03}, 55), "0x3");
}

TEST(FormatSdoData, BooleansRealsAndStrings) {
    EXPECT_EQ(Formatted({0x02}, 1), "TRUE");
    EXPECT_EQ(Formatted({0x00}, 1), "FALSE");
    float f = 1.5f;
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &f, 4);
    EXPECT_EQ(Formatted(bytes, 8), "1.500000");
    double d = -2.25;
    bytes.resize(8);
    std::memcpy(bytes.data(), &d, 8);
    EXPECT_EQ(Formatted(bytes, 17), "-2.250000");
    EXPECT_EQ(Formatted({'U', 'x', '=', 'A', 0, 'z'}, 9), "Ux=A");
    EXPECT_EQ(Formatted(std::vector<uint8_t>(127, 'q'), 9), std::string(127, 'q'));
}

TEST(FormatSdoData, OctetStringsUseTheUploadedSize) {
    std::vector<uint8_t> bytes = {0x01, 0xAB, 0x00};
    bytes.resize(128, 0);
    EXPECT_EQ(FormatSdoData(bytes.data(), 3, 10), "0x01 0xab 0x00 ");
    EXPECT_EQ(FormatSdoData(bytes.data(), 0, 10), "");
    EXPECT_EQ(FormatSdoData(bytes.data(), 127, 10).size(), 127u * 5);
}

TEST(FormatSdoData, TypesWithoutATextForm) {
    for (uint16_t type : {0, 11, 15, 18, 20, 23, 26, 28, 47, 56, 0xFFFF}) {
        EXPECT_EQ(Formatted({1, 2, 3, 4}, type), "Unknown type") << type;
    }
}

TEST(AccelerationWord, AddsTenThousandByAccelerationAndNeverDividesByZero) {
    EXPECT_EQ(AccelerationWord(1000), 0x05B2D7E1 + 10);
    EXPECT_EQ(AccelerationWord(3), 0x05B2D7E1 + 3333);
    EXPECT_EQ(AccelerationWord(10001), 0x05B2D7E1);
    EXPECT_EQ(AccelerationWord(0), 0x05B2D7E1 + 10000);
    EXPECT_EQ(AccelerationWord(-3), 0x05B2D7E1 - 3333);
}

}  // namespace
