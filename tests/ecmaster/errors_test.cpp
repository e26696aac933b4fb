// The error list and its texts.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ethercat.h"

namespace {

void drain() {
    ec_errort e;
    while (ec_poperror(&e)) {
    }
}

ec_errort sdoError(uint16_t slave, uint16_t index, uint8_t sub, uint32_t code) {
    ec_errort e{};
    e.Time = {523, 723000};
    e.Slave = slave;
    e.Index = index;
    e.SubIdx = sub;
    e.Etype = EC_ERR_TYPE_SDO_ERROR;
    e.AbortCode = static_cast<int32>(code);
    return e;
}

class ErrorList : public ::testing::Test {
  protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }
};

TEST_F(ErrorList, EntriesLeaveInOrderAndTheFlagDropsOnlyOnAnEmptyPop) {
    EXPECT_FALSE(ec_iserror());
    for (uint16_t i = 1; i <= 3; ++i) {
        const ec_errort e = sdoError(i, 0x2000, 0, 0x06020000);
        ec_pusherror(&e);
    }
    EXPECT_TRUE(ec_iserror());
    EXPECT_TRUE(EcatError);
    ec_errort out{};
    for (uint16_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(ec_poperror(&out));
        EXPECT_EQ(out.Slave, i);
        EXPECT_TRUE(out.Signal);
    }
    EXPECT_FALSE(ec_iserror());
    EXPECT_TRUE(EcatError) << "still set until a pop finds the list empty";
    EXPECT_FALSE(ec_poperror(&out));
    EXPECT_FALSE(EcatError);
}

TEST_F(ErrorList, AFullListDropsItsOldestEntries) {
    for (uint16_t i = 1; i <= EC_MAXELIST + 6; ++i) {
        const ec_errort e = sdoError(i, 0x2000, 0, 0);
        ec_pusherror(&e);
    }
    ec_errort out{};
    int count = 0;
    uint16_t first = 0;
    uint16_t last = 0;
    while (ec_poperror(&out)) {
        if (count++ == 0) first = out.Slave;
        last = out.Slave;
    }
    EXPECT_EQ(count, EC_MAXELIST);
    EXPECT_EQ(first, 7);
    EXPECT_EQ(last, EC_MAXELIST + 6);
}

TEST_F(ErrorList, TextsOfEveryKindStartWithTheTime) {
    const ec_errort sdo = sdoError(1, 0x1018, 1, 0x06010002);
    ec_pusherror(&sdo);
    ec_errort emergency{};
    emergency.Time = {523, 723000};
    emergency.Slave = 1;
    emergency.Etype = EC_ERR_TYPE_EMERGENCY;
    emergency.ErrorCode = 0x8130;
    ec_pusherror(&emergency);
    ec_errort mbx = emergency;
    mbx.Etype = EC_ERR_TYPE_MBX_ERROR;
    mbx.ErrorCode = 2;
    ec_pusherror(&mbx);
    ec_packeterror(3, 0x2002, 4, 3);
    ec_errort other{};
    other.Etype = EC_ERR_TYPE_FOE_ERROR;
    other.AbortCode = 0x8001;
    ec_pusherror(&other);

    EXPECT_EQ(std::string(ec_elist2string()),
              "Time:     523.723 SDO slave:1 index:1018.01 error:06010002 "
              "Attempt to write to a read only object\n");
    EXPECT_EQ(std::string(ec_elist2string()), "Time:     523.723 EMERGENCY slave:1 error:8130\n");
    EXPECT_EQ(std::string(ec_elist2string()),
              "Time:     523.723 MBX slave:1 error:0002 The mailbox protocol is not supported\n");
    const std::string packet = ec_elist2string();
    EXPECT_EQ(packet.rfind("Time:", 0), 0u);
    EXPECT_NE(packet.find(" PACKET slave:3 index:2002.04 error:3\n"), std::string::npos) << packet;
    const std::string rest = ec_elist2string();
    EXPECT_EQ(rest.rfind("Time:", 0), 0u);
    EXPECT_NE(rest.find(" error:00008001\n"), std::string::npos) << rest;
    EXPECT_EQ(std::string(ec_elist2string()), "") << "empty list";
    EXPECT_FALSE(EcatError);
}

TEST_F(ErrorList, CodeTextsKnowTheStandardCodesAndSayUnknownOtherwise) {
    EXPECT_STREQ(ec_sdoerror2string(0x06020000),
                 "The object does not exist in the object directory");
    EXPECT_STREQ(ec_sdoerror2string(0x05030000), "Toggle bit not changed");
    EXPECT_STREQ(ec_sdoerror2string(0x12345678), "Unknown");
    EXPECT_STREQ(ec_mbxerror2string(8), "The length of data is inconsistent");
    EXPECT_STREQ(ec_mbxerror2string(0x99), "Unknown");
}

TEST_F(ErrorList, EachThreadFormatsIntoItsOwnBuffer) {
    const ec_errort a = sdoError(1, 0x2000, 0, 0x06020000);
    const ec_errort b = sdoError(2, 0x2000, 0, 0x06020000);
    ec_pusherror(&a);
    ec_pusherror(&b);
    const char* mine = ec_elist2string();
    const std::string before = mine;
    std::string theirs;
    std::thread other([&] { theirs = ec_elist2string(); });
    other.join();
    EXPECT_EQ(std::string(mine), before) << "another thread's text must not overwrite this one";
    EXPECT_NE(before.find("slave:1"), std::string::npos);
    EXPECT_NE(theirs.find("slave:2"), std::string::npos);
}

}  // namespace
