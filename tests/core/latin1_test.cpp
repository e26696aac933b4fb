#include "platform/latin1.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CStringToMultiByte, ConvertsLatin1CharactersToTheirByte) {
    char buffer[16];
    EXPECT_EQ(CStringToMultiByte(buffer, sizeof buffer, L"caf\u00e9"), 5);
    EXPECT_STREQ(buffer, "caf\xe9");
}

TEST(CStringToMultiByte, CutsATextThatDoesNotFit) {
    char buffer[4];
    EXPECT_LT(CStringToMultiByte(buffer, sizeof buffer, L"ABCDEF"), 0);
    EXPECT_STREQ(buffer, "ABC");
}

TEST(CStringToMultiByte, EmptiesTheDestinationForACharacterAboveLatin1) {
    char buffer[16] = "previous";
    EXPECT_LT(CStringToMultiByte(buffer, sizeof buffer, L"10 \u20ac"), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(CStringToMultiByte, LooksOnlyAtThePartThatFits) {
    char buffer[3];
    CStringToMultiByte(buffer, sizeof buffer, L"AB\u20ac");
    EXPECT_STREQ(buffer, "AB");
}

TEST(CStringToMultiByte, SizeOneGivesTheEmptyText) {
    char buffer[1] = {'x'};
    CStringToMultiByte(buffer, sizeof buffer, L"A");
    EXPECT_EQ(buffer[0], '\0');
}

// Every field edit converts text: a user's terminal must stay quiet.
TEST(CStringToMultiByte, WritesNothingToStandardOutput) {
    char buffer[4];
    testing::internal::CaptureStdout();
    CStringToMultiByte(buffer, sizeof buffer, L"AB");
    CStringToMultiByte(buffer, sizeof buffer, L"ABCDEF");
    CStringToMultiByte(buffer, sizeof buffer, L"\u20ac");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Latin1ToWide, MapsEveryByteToTheCharacterOfTheSameValue) {
    EXPECT_EQ(Latin1ToWide("a\xe9\xff"), std::wstring(L"a\u00e9\u00ff"));
}

}  // namespace
