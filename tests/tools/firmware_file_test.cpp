// Firmware files: the line cutter a run sends by, and the refusals at OpenFile.
#include "tools/firmware_file.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = FirmwareLine::Kind;
using Fault = FirmwareFileCheck::Fault;

std::string Line(size_t charsBeforeCr) {
    return std::string(charsBeforeCr, 'S') + "\r\n";
}

TEST(FirmwareLine, CutsAtTheLineFeedAndDropsWhatCannotGoWhole) {
    // 88 characters, CR and LF go as 90 bytes; one more character and the line
    // is never sent.
    std::string data = Line(88) + Line(89) + "S9\r\n";
    FirmwareLine cut = CutFirmwareLine(data, 0);
    EXPECT_EQ(cut.kind, Kind::Line);
    EXPECT_EQ(cut.text.size(), 90u);
    EXPECT_FALSE(cut.last);
    cut = CutFirmwareLine(data, cut.next);
    EXPECT_EQ(cut.kind, Kind::TooLong);
    EXPECT_EQ(cut.next, 181u);
    cut = CutFirmwareLine(data, cut.next);
    EXPECT_EQ(cut.kind, Kind::Line);
    EXPECT_EQ(cut.text, "S9\r\n");
    EXPECT_TRUE(cut.last);
    EXPECT_EQ(CutFirmwareLine(data, cut.next).kind, Kind::End);

    // 96 bytes without a line feed are dropped; the rest is the next cut.
    data = std::string(100, 'S') + "\n";
    cut = CutFirmwareLine(data, 0);
    EXPECT_EQ(cut.kind, Kind::TooLong);
    EXPECT_EQ(cut.next, 96u);
    cut = CutFirmwareLine(data, cut.next);
    EXPECT_EQ(cut.kind, Kind::Line);
    EXPECT_EQ(cut.text, "SSSS\n");

    // The data's end is never passed, whatever follows it in memory.
    const std::string memory = "S1\r\nS9";
    cut = CutFirmwareLine(std::string_view(memory).substr(0, 5), 4);
    EXPECT_EQ(cut.kind, Kind::Unended);
    EXPECT_EQ(cut.text, "S");
    EXPECT_EQ(cut.next, 5u);
}

TEST(FirmwareFile, RefusesWhatARunCouldNotSendWhole) {
    EXPECT_EQ(CheckFirmwareFile(Line(10) + Line(88)).fault, Fault::None);
    EXPECT_EQ(CheckFirmwareFile("").fault, Fault::Empty);

    const struct {
        std::string data;
        Fault fault;
        int line;
        const char* text;
    } refused[] = {
        {Line(5) + std::string("S1\0", 3) + Line(3), Fault::NulByte, 2, "line 2 holds a NUL byte"},
        {Line(5) + Line(5) + Line(89), Fault::TooLong, 3,
         "line 3 is too long (90 bytes or more before its line feed)"},
        {std::string(200, 'S') + "\n", Fault::TooLong, 1, nullptr},
        {Line(5) + "S9030000FC", Fault::Unended, 2, "line 2, the last, has no line feed"},
    };
    for (const auto& r : refused) {
        const FirmwareFileCheck check = CheckFirmwareFile(r.data);
        EXPECT_EQ(check.fault, r.fault) << r.data;
        EXPECT_EQ(check.line, r.line) << r.data;
        if (r.text != nullptr) {
            EXPECT_EQ(FirmwareFileFaultText(check), r.text);
        }
    }

    std::string big;
    while (big.size() + 80 < kFirmwareFileMaxBytes) big += Line(78);
    big += std::string(kFirmwareFileMaxBytes - big.size() - 1, 'S') + "\n";
    ASSERT_EQ(big.size(), kFirmwareFileMaxBytes);
    EXPECT_EQ(CheckFirmwareFile(big).fault, Fault::TooBig);
    EXPECT_EQ(CheckFirmwareFile(std::string_view(big).substr(1)).fault, Fault::None);
}

}  // namespace
