// The EEPROM jobs as the scan thread's service loop runs them on a simulated
// segment: the first slave's EEPROM read into a file, patched from a file, and a
// read that the slave stops answering half-way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus/scan_thread.hpp"
#include "core/bus_fixture.hpp"
#include "core/hex_record.hpp"
#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ecsim/slave.hpp"
#include "ethercat.h"
#include "support/failing_disk.hpp"
#include "support/working_folder.hpp"
#include "tools/eeprom_image.hpp"

namespace {

using testsupport::CountOf;
using testsupport::Narrow;
using testsupport::WaitUntil;

std::string SuperviseLog() {
    return Narrow(g_strSuperviseLog.copy());
}

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One data record line with its line end.
std::string Record(uint32_t address, const std::vector<uint8_t>& data) {
    return testsupport::HexRecord(address, data) + "\n";
}

// Passes every frame to the segment; once armed, switches the first slave off
// as the master fetches EEPROM data (register 0x0508 of position 0) for the
// n-th time, so that this and every later access goes unanswered.
class PowerCutAtEepromRead : public ecmaster::FrameProcessor {
  public:
    explicit PowerCutAtEepromRead(ecsim::Segment& segment) : segment_(segment) {}
    void arm(int reads) { remaining_ = reads; }
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        if (remaining_.load() > 0 && FetchesEepromData(frame) && --remaining_ == 0) {
            segment_.powerOff(1);
        }
        return segment_.process(frame);
    }

  private:
    static bool FetchesEepromData(std::span<uint8_t> frame) {
        for (const auto& d : ecat::parseFrame(frame).datagrams) {
            if (d.cmd() == ecat::Cmd::APRD && d.adp() == 0 && d.ado() == ecat::reg::EepromData) {
                return true;
            }
        }
        return false;
    }
    ecsim::Segment& segment_;
    std::atomic<int> remaining_{0};
};

class EepromJobs : public testsupport::BusThreadsTest {
  protected:
    void SetUp() override {
        BusThreadsTest::SetUp();
        InstallEepromImageJobs();
        folder_ = std::make_unique<testsupport::ScopedWorkingFolder>();
    }
    void TearDown() override {
        BusThreadsTest::TearDown();
        InstallEepromJobs(nullptr, nullptr);
        folder_.reset();
    }
    // Sets the request and waits until the job has taken it back.
    void RunJob(int request) {
        g_eepromRequest = request;
        ASSERT_TRUE(WaitUntil([] { return g_eepromRequest.load() == 0; }, 60)) << SuperviseLog();
    }
    std::vector<uint8_t> EepromBytes(size_t position) {
        auto lock = segment().lock();
        std::vector<uint8_t> bytes;
        for (uint16_t word : segment().slave(position).eeprom().words()) {
            bytes.push_back(static_cast<uint8_t>(word));
            bytes.push_back(static_cast<uint8_t>(word >> 8));
        }
        return bytes;
    }
    void WriteFile(const std::string& text) {
        std::ofstream(kEepromWriteFileName, std::ios::binary) << text;
    }

    std::unique_ptr<testsupport::ScopedWorkingFolder> folder_;
};

TEST_F(EepromJobs, ReadWritesTheWholeEepromByItsSizeWordAndLogsTheIdentity) {
    // A terminal first: 4-byte EEPROM reads, 1 KiB (size word 7).
    ScanToOp("IO@1024,ZR12", 2);
    const auto eeprom = EepromBytes(1);
    RunJob(1);

    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%02X%02X", eeprom[15], eeprom[14]);
    const std::string block = std::string() +
                              "--- Slave[1] EEPROM Slave Info ---\r\n\r\n"
                              " PDI Control      : 0004\r\n"
                              " PDI Config       : 0000\r\n"
                              " Config Alias     : 0000\r\n"
                              " Checksum         : " +
                              checksum +
                              "\r\n"
                              " Vendor ID        : 00000B17\r\n"
                              " Product Code     : 00001616\r\n"
                              " Revision Number  : 00010000\r\n"
                              " Serial Number    : 00A10001\r\n"
                              " Mailbox Protocol : 0000\r\n"
                              " Size             : 0007 = 1024 bytes\r\n"
                              " Version          : 0001\r\n\r\n";
    const std::string log = SuperviseLog();
    ASSERT_NE(log.find(block), std::string::npos) << log;
    EXPECT_GT(log.find("--- Slave[1] EEPROM  Read End ---\r\n\r\n"), log.find(block));

    const std::string file = ReadFile(kEepromReadFileName);
    EXPECT_EQ(CountOf(std::wstring(file.begin(), file.end()), L"\n"), 33u);
    std::array<uint8_t, kHexImageBytes> image{};
    HexCoverage covered;
    const HexLoad load = ParseIntelHex(file, image, covered);
    EXPECT_EQ(load.result, kHexLoaded);
    EXPECT_EQ(load.start, 0u);
    ASSERT_EQ(load.length, 1024u);
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), image.begin()));
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(EepromJobs, WriteOfANewSerialNumberChangesOnlyItsBytes) {
    ScanToOp("ZR12,IO", 2);
    const auto before = EepromBytes(1);
    // The master has the slave's SII in its cache.
    EXPECT_EQ(ec_siigetbyte(1, 0x1C), before[0x1C]);

    // A wrong checksum: the box, and nothing written.
    WriteFile(Record(0x1C, {0x78, 0x56, 0x34, 0x12}).replace(17, 2, "00"));
    RunJob(2);
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::wstring>{L"EEPROM Read File Hex Invalid checksum.\n"});
    EXPECT_EQ(EepromBytes(1), before);
    EXPECT_EQ(SuperviseLog().find("Write End"), std::string::npos);

    boxes_.clear();
    WriteFile(Record(0x1C, {0x78, 0x56, 0x34, 0x12}) + ":00000001FF\n");
    RunJob(2);
    auto expected = before;
    expected[0x1C] = 0x78;
    expected[0x1D] = 0x56;
    expected[0x1E] = 0x34;
    expected[0x1F] = 0x12;
    EXPECT_EQ(EepromBytes(1), expected);
    const std::string log = SuperviseLog();
    EXPECT_NE(log.find(" Serial Number    : 12345678\r\n\r\n"
                       "EEPROM  Write................\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("--- Slave[1] EEPROM  Write End ---\r\n\r\n"), std::string::npos);
    EXPECT_TRUE(boxes_.texts().empty());
    // The master reads the new bytes, not its cached ones.
    EXPECT_EQ(ec_siigetbyte(1, 0x1C), 0x78);
}

TEST_F(EepromJobs, AWritePastTheEepromsEndIsLoggedAsFailedAndAMalformedFileWritesNothing) {
    ScanToOp("IO@1024,ZR12", 2);
    const auto before = EepromBytes(1);
    // The terminal's identity as it stands, a word at the EEPROM's end and one past it.
    WriteFile(Record(0x0010, std::vector<uint8_t>(before.begin() + 0x10, before.begin() + 0x1C)) +
              Record(0x03FE, {0x11, 0x22}) + Record(0x0400, {0x33, 0x44}));
    RunJob(2);
    const std::string log = SuperviseLog();
    EXPECT_NE(log.find("--- Slave[1] EEPROM Slave Info (Write) ---\r\n\r\n"
                       " Vendor ID        : 00000B17\r\n"
                       " Product Code     : 00001616\r\n"
                       " Revision Number  : 00010000\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("--- Slave[1] EEPROM  Write Failed at byte 0x0400 ---\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Write End"), std::string::npos);
    EXPECT_EQ(EepromBytes(1)[0x03FE], 0x11);  // what fitted went in

    // A line of 10 characters: the format box, and the EEPROM left alone.
    const auto written = EepromBytes(1);
    WriteFile(Record(0x0010, {0xAA}) + ":000000010\n");
    RunJob(2);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"EEPROM Invalid Intel Hex format.\n"});
    EXPECT_EQ(EepromBytes(1), written);
    EXPECT_NE(written, before);
}

// The tool runs as root: the read file is written whole or not at all, and
// never through a link.
TEST_F(EepromJobs, TheReadFileIsNeverWrittenThroughALinkNorLeftHalfWritten) {
    ScanToOp("IO@1024,ZR12", 2);
    std::ofstream("elsewhere") << "precious\n";
    std::filesystem::create_symlink("elsewhere", kEepromReadFileName);
    RunJob(1);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"EEPROM BIN File (Intel) Write Error"});
    EXPECT_EQ(ReadFile("elsewhere"), "precious\n");
    EXPECT_TRUE(std::filesystem::is_symlink(kEepromReadFileName));
    EXPECT_EQ(CountOf(g_strSuperviseLog.copy(), L"Read End"), 1u);

    boxes_.clear();
    std::filesystem::remove(kEepromReadFileName);
    std::ofstream(kEepromReadFileName) << "old\n";
    {
        testsupport::FailingDisk full;
        RunJob(1);
    }
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"EEPROM BIN File (Intel) Write Error"});
    EXPECT_EQ(ReadFile(kEepromReadFileName), "old\n");
    EXPECT_EQ(CountOf(g_strSuperviseLog.copy(), L"Read End"), 2u);
}

TEST(EepromSize, TheSizeWordCountsKibibitsUpToTheImage) {
    EXPECT_EQ(EepromSizeBytes(0x0007), 1024u);
    EXPECT_EQ(EepromSizeBytes(0x00FE), 32640u);
    for (const uint16_t word : {0x00FF, 0x0100, 0x7FFF, 0xFFFF}) {
        EXPECT_EQ(EepromSizeBytes(word), 32768u) << word;
    }
}

TEST_F(EepromJobs, BytesBetweenFarApartRecordsStayAsTheEepromHadThem) {
    ScanToOp("ZR12,IO", 2);
    const auto before = EepromBytes(1);
    // One byte at an odd address: its word's other byte comes from the EEPROM.
    WriteFile(Record(0x0081, {0xA5}) + Record(0x07F0, {0x01, 0x02, 0x03, 0x04}) + ":00000001FF\n");
    RunJob(2);
    auto expected = before;
    expected[0x0081] = 0xA5;
    for (uint8_t i = 0; i < 4; ++i) expected[0x07F0 + i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(EepromBytes(1), expected);
    EXPECT_NE(SuperviseLog().find("--- Slave[1] EEPROM  Write End ---"), std::string::npos);
}

// A pipe under the file's name is refused at once: opening it would hold the
// scan thread until someone wrote to it.
TEST_F(EepromJobs, AWriteFileThatIsNoRegularFileIsRefusedWithoutWaiting) {
    ScanToOp("ZR12,IO", 2);
    const auto before = EepromBytes(1);
    ASSERT_EQ(::mkfifo(kEepromWriteFileName, 0600), 0);
    g_eepromRequest = 2;
    const bool ended = WaitUntil([] { return g_eepromRequest.load() == 0; }, 60);
    if (!ended) {
        // A job stuck in opening the pipe is let go, so that the test fails
        // instead of hanging.
        const int writer = ::open(kEepromWriteFileName, O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"EEPROM BIN File Read Error"});
    EXPECT_EQ(EepromBytes(1), before);
    EXPECT_EQ(SuperviseLog().find("Write End"), std::string::npos);
}

TEST_F(EepromJobs, AReadTheSlaveStopsAnsweringIsLoggedAsFailedAndLeavesNoFile) {
    StartThreadsOn("ZR12,IO", 2);
    auto wire = std::make_shared<PowerCutAtEepromRead>(segment());
    ecmaster::attachVirtualWire(bus_->name(), wire);
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60)) << Narrow(g_strScanLog.copy());

    // 8-byte reads: 16 for the header, then the 5th of the rest is lost.
    wire->arm(21);
    RunJob(1);
    const std::string log = SuperviseLog();
    EXPECT_NE(log.find("--- Slave[1] EEPROM Slave Info ---"), std::string::npos) << log;
    EXPECT_NE(log.find("--- Slave[1] EEPROM  Read Failed at byte 0x00A0 ---\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Read End"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(kEepromReadFileName));
    EXPECT_TRUE(boxes_.texts().empty());
}

}  // namespace
