// The SII EEPROM interface (0x0500-0x050F) as a master drives it.
#include <gtest/gtest.h>

#include <chrono>

#include "ecsim/sii_image.hpp"
#include "ecsim/slave.hpp"
#include "segment_frames.hpp"
#include "support/wait_until.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace eep = ecat::eep;

namespace {

class Eeprom : public ::testing::Test {
  protected:
    Eeprom() : seg(*ecsim::parseSlaveList("ZR12,IO", nullptr)) {
        assignStations(seg);
        // Take the EEPROM as a master does: force, then release to the master.
        exchange(seg, req(Cmd::BWR, 0, reg::EepromConfig, std::vector<uint8_t>{0x02}));
        exchange(seg, req(Cmd::BWR, 0, reg::EepromConfig, std::vector<uint8_t>{0x00}));
    }

    void command(size_t p, uint16_t control, uint32_t address) {
        std::vector<uint8_t> bytes = le16(control);
        const auto a = le32(address);
        bytes.insert(bytes.end(), a.begin(), a.end());
        writeBytes(seg, p, reg::EepromControl, bytes);
    }
    uint16_t status(size_t p) { return read16(seg, p, reg::EepromControl); }
    std::vector<uint8_t> data(size_t p, size_t n) {
        return exchange(seg, req(Cmd::FPRD, station(p), reg::EepromData, n)).data;
    }
    // Waits (with a deadline) until the busy bit clears.
    bool waitNotBusy(size_t p) {
        return testsupport::WaitUntil([&] { return (status(p) & eep::Busy) == 0; }, 2,
                                      {.pause = std::chrono::microseconds(100)});
    }
    std::vector<uint8_t> expectedWords(size_t p, uint16_t word, size_t bytes) {
        const auto words = seg.slave(p).eeprom().words();
        std::vector<uint8_t> out;
        for (size_t i = 0; i < bytes / 2; ++i) {
            out.push_back(static_cast<uint8_t>(words[word + i]));
            out.push_back(static_cast<uint8_t>(words[word + i] >> 8));
        }
        return out;
    }
    ecsim::Segment seg;
};

TEST_F(Eeprom, BridgesReadEightBytesAndTerminalsFour) {
    EXPECT_TRUE(status(1) & eep::Read8Bytes);
    EXPECT_FALSE(status(2) & eep::Read8Bytes);
    command(1, eep::CmdRead, ecat::sii::Vendor);
    EXPECT_EQ(data(1, 8), expectedWords(1, ecat::sii::Vendor, 8));
    command(2, eep::CmdRead, ecat::sii::Product);
    auto four = data(2, 8);
    EXPECT_EQ(std::vector<uint8_t>(four.begin(), four.begin() + 4),
              expectedWords(2, ecat::sii::Product, 4));
    // The identity words are what the kind says.
    const auto id = ecsim::identityOf(ecsim::SlaveKind::ZR12);
    command(1, eep::CmdRead, ecat::sii::Product);
    EXPECT_EQ(ecat::get32(data(1, 4).data()), id.product);
}

TEST_F(Eeprom, ReadBeyondTheImageIsNotAcknowledgedUntilCleared) {
    const auto words = static_cast<uint32_t>(seg.slave(1).eeprom().words().size());
    command(1, eep::CmdRead, words);
    EXPECT_TRUE(status(1) & eep::ErrNack);
    command(1, 0, 0);  // clear errors
    EXPECT_FALSE(status(1) & eep::ErrMask);
    command(1, eep::CmdRead, words - 1);  // the last word is fine
    EXPECT_FALSE(status(1) & eep::ErrNack);
    command(1, 0x0300, 0);  // not a command
    EXPECT_TRUE(status(1) & eep::ErrNack);
}

TEST_F(Eeprom, MasterCommandsAreIgnoredWhileTheProcessorOwnsIt) {
    command(1, eep::CmdRead, ecat::sii::Vendor);
    const auto vendor = data(1, 8);
    writeBytes(seg, 1, reg::EepromConfig, {0x01});
    EXPECT_EQ(read16(seg, 1, reg::EepromPdiState) & 0x01, 1);
    command(1, eep::CmdRead, ecat::sii::Product);
    EXPECT_EQ(data(1, 8), vendor);  // nothing happened
    // Forcing it back hands it to the master again.
    writeBytes(seg, 1, reg::EepromConfig, {0x02});
    EXPECT_EQ(read16(seg, 1, reg::EepromPdiState) & 0x01, 0);
    command(1, eep::CmdRead, ecat::sii::Product);
    EXPECT_EQ(data(1, 8), expectedWords(1, ecat::sii::Product, 8));
}

TEST_F(Eeprom, WriteNeedsWriteEnableAndIsBusyForAWhile) {
    writeBytes(seg, 2, reg::EepromData, le16(0xBEEF));
    command(2, eep::CmdWrite, 0x0100);  // no write enable
    EXPECT_TRUE(status(2) & eep::ErrWriteEnable);
    EXPECT_NE(seg.slave(2).eeprom().word(0x0100), 0xBEEF);

    command(2, eep::CmdWrite | eep::WriteEnable, 0x0100);
    EXPECT_TRUE(status(2) & eep::Busy);
    EXPECT_FALSE(status(2) & eep::ErrMask);
    // A read during the write is ignored.
    command(2, eep::CmdRead, ecat::sii::Vendor);
    ASSERT_TRUE(waitNotBusy(2));
    command(2, eep::CmdRead, 0x0100);
    EXPECT_EQ(ecat::get16(data(2, 2).data()), 0xBEEF);

    const auto words = static_cast<uint32_t>(seg.slave(2).eeprom().words().size());
    command(2, eep::CmdWrite | eep::WriteEnable, words);
    EXPECT_TRUE(status(2) & eep::ErrNack);
}

TEST_F(Eeprom, AliasComesFromTheEepromOnReloadWithAValidChecksum) {
    // New alias in word 4 without fixing the checksum: the reload flags it.
    writeBytes(seg, 2, reg::EepromData, le16(0x0042));
    command(2, eep::CmdWrite | eep::WriteEnable, ecat::sii::Alias);
    ASSERT_TRUE(waitNotBusy(2));
    command(2, eep::CmdReload, 0);
    EXPECT_TRUE(status(2) & eep::ErrChecksum);
    EXPECT_EQ(read16(seg, 2, reg::StationAlias), 0x0042);

    writeBytes(seg, 2, reg::EepromData, le16(ecsim::siiHeaderCrc(seg.slave(2).eeprom().words())));
    command(2, eep::CmdWrite | eep::WriteEnable, ecat::sii::Checksum);
    ASSERT_TRUE(waitNotBusy(2));
    command(2, eep::CmdReload, 0);
    EXPECT_FALSE(status(2) & eep::ErrChecksum);
}

}  // namespace
