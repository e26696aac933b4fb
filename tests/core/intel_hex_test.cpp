// The Intel-hex writer and reader of the EEPROM files: the records they write,
// the lines they accept, skip or refuse, and round trips.
#include "tools/intel_hex.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "core/hex_record.hpp"

namespace {

using testsupport::HexRecord;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

struct Loaded {
    HexLoad load;
    std::array<uint8_t, kHexImageBytes> image{};
    HexCoverage covered;
};

Loaded Parse(const std::string& text) {
    Loaded l;
    l.load = ParseIntelHex(text, l.image, l.covered);
    return l;
}

TEST(IntelHexWriter, ThirtyTwoByteRecordsFromZeroThenTheEndRecord) {
    EXPECT_EQ(FormatIntelHex(std::vector<uint8_t>{0x01, 0x02, 0x03}),
              ":03000000010203F7\n:00000001FF\n");

    const auto kib = Pattern(1024);
    const auto lines = Lines(FormatIntelHex(kib));
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[1].substr(0, 9), ":20002000");
    EXPECT_EQ(lines[1].size(), 1 + 8 + 64 + 2u);
    EXPECT_EQ(lines[31].substr(0, 9), ":2003E000");
    EXPECT_EQ(lines[32], ":00000001FF");

    const auto bytes = Pattern(40);
    const auto forty = Lines(FormatIntelHex(bytes));
    ASSERT_EQ(forty.size(), 3u);
    EXPECT_EQ(forty[0], HexRecord(0, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 32)));
    EXPECT_EQ(forty[1], HexRecord(32, std::vector<uint8_t>(bytes.begin() + 32, bytes.end())));

    EXPECT_EQ(FormatIntelHex({}), ":00000001FF\n");
}

TEST(IntelHexReader, RoundTripsInEitherRecordOrderAndLineEnd) {
    const auto bytes = Pattern(1000);
    const std::string text = FormatIntelHex(bytes);
    auto lines = Lines(text);
    const std::string endRecord = lines.back();
    lines.pop_back();
    std::reverse(lines.begin(), lines.end());
    std::string descending;
    for (const auto& line : lines) descending += line + "\r\n";
    descending += endRecord + "\r\n";

    for (const std::string& file : {text, descending}) {
        const Loaded l = Parse(file);
        EXPECT_EQ(l.load.result, kHexLoaded);
        EXPECT_EQ(l.load.start, 0u);
        EXPECT_EQ(l.load.length, 1000u);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), l.image.begin()));
        EXPECT_EQ(l.covered.count(), 1000u);
        EXPECT_FALSE(l.covered.test(1000));
    }
    // Lower-case digits are read too; a last line without a line end counts.
    std::string lower = HexRecord(0x10, {0xAB, 0xCD});
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const Loaded l = Parse(lower);
    EXPECT_EQ(l.load.result, kHexLoaded);
    EXPECT_EQ(l.load.start, 0x10u);
    EXPECT_EQ(l.load.length, 2u);
    EXPECT_EQ(l.image[0x11], 0xCD);
}

TEST(IntelHexReader, SkipsOtherRecordTypesAndRecordsPastTheImage) {
    const std::string file = HexRecord(0, {0x00, 0x01}, 4) + "\n" + HexRecord(0, {0x10, 0x00}, 2) +
                             "\n" + HexRecord(0x7FFF, {0xEE, 0xEE}) + "\n" +
                             HexRecord(0x7FFE, {0x11, 0x22}) + "\n" + ":00000001FF\n" +
                             HexRecord(0x0200, {0x33}) + "\n";
    const Loaded l = Parse(file);
    EXPECT_EQ(l.load.result, kHexLoaded);
    EXPECT_EQ(l.load.start, 0x0200u);
    EXPECT_EQ(l.load.length, 0x8000u - 0x0200u);
    EXPECT_EQ(l.image[0x0200], 0x33);
    EXPECT_EQ(l.image[0x7FFE], 0x11);
    EXPECT_EQ(l.image[0x7FFF], 0x22);
    EXPECT_EQ(l.covered.count(), 3u);
    EXPECT_EQ(l.image[0], 0x00);  // the extended-address records stored nothing

    const Loaded none = Parse(":00000001FF\n");
    EXPECT_EQ(none.load.result, kHexLoaded);
    EXPECT_EQ(none.load.start, kHexImageBytes);
    EXPECT_EQ(none.load.length, 0u);
}

TEST(IntelHexReader, RefusesMalformedLinesAndWrongChecksums) {
    const std::string good = HexRecord(0x40, {0x5A, 0xA5}) + "\n";
    const struct {
        std::string file;
        int result;
    } cases[] = {
        {good + "\n" + ":00000001FF\n", kHexFormatError},  // a blank line
        {good + "\r\n", kHexFormatError},                  // blank with CR LF
        {good + "0200400055AA11\n", kHexFormatError},      // no colon
        {":0200400\n", kHexFormatError},                   // under 11 characters
        {good + ":000000010\n", kHexFormatError},          // 10 characters
        {":01000000FF00\n", kHexLoaded},                   // a checksum of 00
        {": 200400055AA0F\n", kHexFormatError},            // blank in the count
        {":020x40005AA50F\n", kHexFormatError},            // "0x" in the address
        {":020040005AG50F\n", kHexFormatError},            // no hex digit in the data
        {":020040005AA5 F\n", kHexFormatError},            // blank in the checksum
        {":020040005AA510\n", kHexChecksumError},          // wrong checksum
        {":100040005AA50F\n", kHexChecksumError},          // count past the line
        {":020040005AA5\n", kHexChecksumError},            // no checksum
        {HexRecord(0x40, {1, 2, 3}) + "\n" + ":00000001FF\n", kHexLoaded},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.file).load.result, c.result) << c.file;
    }
    // The bytes of the lines before the failing one, and of that line, stay.
    const Loaded l = Parse(good + ":02004200A1B200\n");
    EXPECT_EQ(l.load.result, kHexChecksumError);
    EXPECT_EQ(l.image[0x40], 0x5A);
    EXPECT_EQ(l.image[0x43], 0xB2);
}

TEST(IntelHexReader, ALineOfMoreThan255CharactersGoesOnAsTheNextLine) {
    // 255 characters are kept (a record and padding after its checksum), the
    // 256th is dropped, and what follows is read as a line of its own.
    std::string line = HexRecord(0, {0x55});
    line += std::string(255 - line.size(), 'X');
    const Loaded l = Parse(line + "Y" + HexRecord(1, {0xAB}) + "\n");
    EXPECT_EQ(l.load.result, kHexLoaded);
    EXPECT_EQ(l.image[0], 0x55);
    EXPECT_EQ(l.image[1], 0xAB);
    EXPECT_EQ(Parse(line + "YZ" + HexRecord(1, {0xAB}) + "\n").load.result, kHexFormatError);
}

}  // namespace
