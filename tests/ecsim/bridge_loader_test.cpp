// S-record lines and the bridge's firmware loader dialogue.
#include <gtest/gtest.h>

#include "bridge_test_util.hpp"
#include "ecsim/firmware_loader.hpp"
#include "ecsim/srecord.hpp"

namespace {

using namespace std::chrono_literals;
using bridgetest::Bridge;
using ecsim::parseSRecord;

constexpr uint32_t kUnlock = 0x7E2B;

// A small image: header "V2.00", two data records, a termination record.
const std::vector<std::string> kGoodFile = {
    "S008000056322E3030E1\r\n",
    "S1130000000102030405060708090A0B0C0D0E0F74\r\n",
    "S1130010101112131415161718191A1B1C1D1E1F64\r\n",
    "S9030000FC\r\n",
};

TEST(SRecord, AcceptsWellFormedRecordsOfEveryKind) {
    const auto header = parseSRecord(kGoodFile[0]);
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->isHeader());
    EXPECT_EQ(std::string(header->data.begin(), header->data.end()), "V2.00");

    const auto data = parseSRecord("S1130010101112131415161718191A1B1C1D1E1F64");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->type, 1);
    EXPECT_EQ(data->address, 0x0010u);
    EXPECT_EQ(data->data.size(), 16u);
    EXPECT_EQ(data->data[15], 0x1F);

    const auto s3 = parseSRecord("S30800001000AABBCCB6\n");
    ASSERT_TRUE(s3);
    EXPECT_EQ(s3->address, 0x1000u);
    EXPECT_EQ(s3->data, (std::vector<uint8_t>{0xAA, 0xBB, 0xCC}));

    const auto end = parseSRecord("s9030000fc");
    EXPECT_FALSE(end) << "the record mark is a capital S";
    ASSERT_TRUE(parseSRecord("S9030000fc"));
    EXPECT_TRUE(parseSRecord("S9030000fc")->isTermination());
    EXPECT_TRUE(parseSRecord("S70500000000FA")->isTermination());
}

TEST(SRecord, FormatsLinesThatParseBack) {
    const std::vector<uint8_t> data = {0x00, 0x7F, 0xFF};
    const std::string line = ecsim::formatSRecord(2, 0x012345, data);
    EXPECT_EQ(line, "S207012345007FFF11\r\n");
    const auto back = parseSRecord(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, 2);
    EXPECT_EQ(back->address, 0x012345u);
    EXPECT_EQ(back->data, data);
    EXPECT_EQ(ecsim::formatSRecord(9, 0, {}), "S9030000FC\r\n");
    EXPECT_EQ(ecsim::formatSRecord(4, 0, {}), "");
    EXPECT_EQ(ecsim::formatSRecord(1, 0, std::vector<uint8_t>(253)), "");
}

TEST(SRecord, RefusesDamagedLines) {
    EXPECT_FALSE(parseSRecord("S1130000000102030405060708090A0B0C0D0E0F75"));  // checksum
    EXPECT_FALSE(parseSRecord("S1120000000102030405060708090A0B0C0D0E0F74"));  // count
    EXPECT_FALSE(parseSRecord("S113000000010203040506070809GA0B0C0D0E0F74"));  // digit
    EXPECT_FALSE(parseSRecord("S1130000000102030405060708090A0B0C0D0E0F7"));   // odd
    EXPECT_FALSE(parseSRecord("S4030000FC"));                                  // reserved
    EXPECT_FALSE(parseSRecord("S3030000FC"));  // too short for a 4-byte address
    EXPECT_FALSE(parseSRecord("S9"));
    EXPECT_FALSE(parseSRecord(""));
}

class Loader : public ::testing::Test {
  protected:
    void send(std::string_view text) { ASSERT_EQ(bridge.writeText(0xF570, 0, text), 0u); }
    std::string reply() { return bridge.readText(0xF571, 0); }
    // Programming mode and erase, as the tool opens a download.
    void open() {
        ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
        send("!PRGMO\r\n");
        ASSERT_EQ(reply(), "PrgMod OK!\r\n");
        send("!110.9\r\n");
        EXPECT_EQ(reply().front(), 'N') << "still erasing";
        bridge.advance(100ms);
        EXPECT_EQ(reply().front(), 'N') << "still erasing";
        bridge.advance(400ms);
        ASSERT_EQ(reply(), "Down Load Ready\r\n");
    }
    Bridge bridge{ecsim::SlaveKind::ZR02};
};

TEST_F(Loader, NeedsTheUnlockWord) {
    EXPECT_EQ(bridge.writeText(0xF570, 0, "!PRGMO\r\n"), ecsim::abort_code::DeviceState);
    EXPECT_EQ(reply(), "NoData");
    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    EXPECT_TRUE(bridge.device.unlocked());
    // The next change to INIT locks the bridge again.
    bridge.device.onStateChange(0x02, 0x01);
    EXPECT_EQ(bridge.writeText(0xF570, 0, "!PRGMO\r\n"), ecsim::abort_code::DeviceState);
}

TEST_F(Loader, FlashesAGoodFileAndTakesItsHeaderAsVersion) {
    EXPECT_EQ(bridge.device.firmwareVersion(), "V1.07");
    open();
    send(kGoodFile[0]);
    EXPECT_EQ(reply(), "B00001\r\n");
    send(kGoodFile[1]);
    EXPECT_EQ(reply(), "B00002\r\n");
    send(kGoodFile[2]);
    EXPECT_EQ(reply(), "B00003\r\n");
    EXPECT_EQ(bridge.readText(0x100A, 0), "V1.07") << "unchanged until the end";
    send(kGoodFile[3]);
    EXPECT_EQ(reply(), "Flash Done\r\n");
    EXPECT_EQ(reply(), "NoData");
    EXPECT_EQ(bridge.readText(0x100A, 0), "V2.00");
}

TEST_F(Loader, AnswersABadLineWithAnErrorAndKeepsTheVersion) {
    open();
    send(kGoodFile[0]);
    EXPECT_EQ(reply(), "B00001\r\n");
    send("S1130000000102030405060708090A0B0C0D0E0F75\r\n");
    EXPECT_EQ(reply(), "Err:Sum\r\n");
    send(kGoodFile[1]);
    EXPECT_EQ(reply(), "B00002\r\n") << "a refused line is not counted";
    EXPECT_EQ(bridge.readText(0x100A, 0), "V1.07");
}

TEST_F(Loader, StartingOverDropsTheRepliesOfAnInterruptedDownload) {
    open();
    send(kGoodFile[0]);
    send(kGoodFile[1]);  // two line acknowledgements left unread
    send("!PRGMO\r\n");
    EXPECT_EQ(reply(), "PrgMod OK!\r\n");
    EXPECT_EQ(reply(), "NoData");
}

TEST_F(Loader, TheSampleImageFlashesItsNewVersion) {
    open();
    const std::string image = ecsim::sampleFirmwareImage();
    size_t lines = 0;
    std::string last;
    for (size_t at = 0; at < image.size();) {
        const size_t end = image.find('\n', at) + 1;
        ASSERT_NE(end, 0u) << "every line ends with a line feed";
        ASSERT_LT(end - at, 90u) << "short enough for the tool";
        send(image.substr(at, end - at));
        last = reply();
        ASSERT_TRUE(last.front() == 'B' || last.front() == 'F') << last;
        ++lines;
        at = end;
    }
    EXPECT_EQ(last, "Flash Done\r\n");
    EXPECT_EQ(lines, 131u);
    EXPECT_EQ(bridge.readText(0x100A, 0), std::string(ecsim::kSampleFirmwareVersion));
    EXPECT_NE(ecsim::kSampleFirmwareVersion, "V1.07");
}

TEST_F(Loader, AResentLineIsAnsweredOnceAndTakenOnce) {
    open();
    send(kGoodFile[0]);
    send(kGoodFile[0]);  // its answer was not read: a master's resend
    EXPECT_EQ(reply(), "B00001\r\n");
    EXPECT_EQ(reply(), "NoData") << "one answer, not a stale one before it";
    send(kGoodFile[1]);
    EXPECT_EQ(reply(), "B00002\r\n");
    EXPECT_EQ(bridge.device.loader().acceptedLines(), 2u);
}

TEST_F(Loader, SwitchedFaults) {
    ecsim::FirmwareLoader::Faults faults;
    faults.refuseProgramMode = true;
    bridge.device.setLoaderFaults(faults);
    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    send("!PRGMO\r\n");
    EXPECT_EQ(reply(), "Err:Prg\r\n");

    faults = {};
    faults.neverReady = true;
    bridge.device.setLoaderFaults(faults);
    send("!PRGMO\r\n");
    EXPECT_EQ(reply(), "PrgMod OK!\r\n");
    send("!110.9\r\n");
    bridge.advance(60s);
    EXPECT_EQ(reply(), "NoData");
    send(kGoodFile[0]);
    EXPECT_EQ(reply(), "Err:Seq\r\n") << "still erasing";

    faults = {};
    faults.mutedLines = 1;
    faults.lateLines = 1;
    faults.lateReads = 3;
    bridge.device.setLoaderFaults(faults);
    open();
    send(kGoodFile[0]);
    EXPECT_EQ(reply(), "NoData") << "muted";
    send(kGoodFile[0]);
    EXPECT_EQ(reply(), "NoData") << "the resend's answer comes late";
    send(kGoodFile[0]);  // a resend while the answer is on its way changes nothing
    EXPECT_EQ(reply(), "NoData");
    EXPECT_EQ(reply(), "B00001\r\n") << "with the third read";
    EXPECT_EQ(reply(), "NoData");
    send(kGoodFile[1]);
    EXPECT_EQ(reply(), "B00002\r\n") << "the faults are used up";

    // Silent: the mailbox takes the request and never answers.
    struct Outbox : ecsim::MailboxOutbox {
        void post(std::vector<uint8_t>) override { ++posted; }
        int posted = 0;
    } outbox;
    const std::vector<uint8_t> upload = {10,   0,    0,    0, 0, 0x13, 0x00, 0x20,
                                         0x40, 0x71, 0xF5, 0, 0, 0,    0,    0};
    bridge.device.onMailbox(upload, outbox);
    EXPECT_EQ(outbox.posted, 1);
    faults = {};
    faults.silent = true;
    bridge.device.setLoaderFaults(faults);
    bridge.device.onMailbox(upload, outbox);
    EXPECT_EQ(outbox.posted, 1);
}

TEST_F(Loader, RefusesLinesOutOfSequence) {
    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    send(kGoodFile[1]);
    EXPECT_EQ(reply(), "Err:Seq\r\n") << "no download opened";
    send("!110.9\r\n");
    EXPECT_EQ(reply(), "Err:Seq\r\n") << "erase needs programming mode";
    send("!XYZ\r\n");
    EXPECT_EQ(reply(), "Err:Cmd\r\n");
    send("\r\n");
    EXPECT_EQ(reply(), "B00000\r\n") << "blank lines are acknowledged, not counted";
    EXPECT_EQ(bridge.writeText(0xF570, 0, std::string(97, 'S')), ecsim::abort_code::LengthTooHigh);
}

}  // namespace
