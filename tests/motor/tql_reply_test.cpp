#include "motor/tql_reply.hpp"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    int result;
    int32_t parameter = -99;
    int32_t value = -99;
    int32_t id = -99;
};

Parsed Parse(const char* text) {
    Parsed p{};
    p.parameter = p.value = p.id = -99;
    p.result = ParseTqlParameterReply(text, &p.parameter, &p.value, &p.id);
    return p;
}

TEST(ParseTqlParameterReply, GoodRepliesGiveParameterValueAndId) {
    Parsed p = Parse("K16.1=4,K23.1=9,K70.1=0,K67.1=1,K37.1=10");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 16);
    EXPECT_EQ(p.value, 4);  // the value ends at the comma
    EXPECT_EQ(p.id, 1);

    p = Parse("K7.2=-3");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 7);
    EXPECT_EQ(p.value, -3);
    EXPECT_EQ(p.id, 2);

    p = Parse("k37.5=+10\r\n");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 37);
    EXPECT_EQ(p.value, 10);
    EXPECT_EQ(p.id, 5);
}

TEST(ParseTqlParameterReply, AKAnywhereStartsOver) {
    Parsed p = Parse("xyz");
    EXPECT_EQ(p.result, -4);
    p = Parse("K16.1=K23.1=9");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 23);
    EXPECT_EQ(p.value, 9);
    p = Parse("K1K70.3=0");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 70);
    EXPECT_EQ(p.id, 3);
}

TEST(ParseTqlParameterReply, BadRepliesGiveTheirCodesAndLeaveTheOutputs) {
    EXPECT_EQ(Parse("K123.1=5").result, -1);  // three-digit parameter number
    EXPECT_EQ(Parse("K16.6=4").result, -2);   // ID 6
    EXPECT_EQ(Parse("K16.0=4").result, -2);
    EXPECT_EQ(Parse("K16.1:4").result, -3);
    EXPECT_EQ(Parse("Ux=TQ-A").result, -4);
    EXPECT_EQ(Parse("K.1=4").result, -5);
    EXPECT_EQ(Parse("").result, 0);
    EXPECT_EQ(Parse("K16.1=").result, 0);  // ends right after '='
    EXPECT_EQ(Parse("K16").result, 0);     // ends after the parameter number
    EXPECT_EQ(Parse("K").result, 0);

    const Parsed p = Parse("K16.9=4");
    EXPECT_EQ(p.parameter, -99);
    EXPECT_EQ(p.value, -99);
    EXPECT_EQ(p.id, -99);
}

TEST(ParseTqlParameterReply, AValueThatIsNoNumberMatchesNothing) {
    Parsed p = Parse("K70.1=abc");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.parameter, 70);
    EXPECT_EQ(p.value, kTqlNoValue);
    p = Parse("K70.1=-");
    EXPECT_EQ(p.value, kTqlNoValue);
    p = Parse("K70.1=99999999999");
    EXPECT_EQ(p.value, 2147483647);
}

}  // namespace
