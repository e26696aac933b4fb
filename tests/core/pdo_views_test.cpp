// The process-data dialog's logic on a hand-made mapping of g_ioMap: the
// sign-extending hand write and its refusals, and views and change tables of a
// bus larger than the dialog's fixed buffers.
#include "tools/pdo_views.hpp"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "ethercat.h"
#include "settings/settings_values.hpp"
#include "support/all_layers.hpp"
#include "support/recording_clock.hpp"
#include "tools/cia402_page_logic.hpp"

namespace {

constexpr int kMaxTestSlaves = 9;

class PdoViewsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::ResetAllLayers();
        for (int s = 0; s <= kMaxTestSlaves; ++s) saved_[s] = ec_slave[s];
    }
    void TearDown() override {
        for (int s = 0; s <= kMaxTestSlaves; ++s) ec_slave[s] = saved_[s];
        testsupport::ResetAllLayers();
    }

    // Slaves of the given output and input byte counts, outputs of all first and
    // inputs after them, as the master maps them.
    void Map(const std::vector<int>& outBytes, const std::vector<int>& inBytes) {
        auto lock = LockProcessImage();
        uint32_t outTotal = 0;
        uint32_t inTotal = 0;
        for (size_t i = 0; i < outBytes.size(); ++i) {
            ec_slave[i + 1].Obits = static_cast<uint16_t>(8 * outBytes[i]);
            ec_slave[i + 1].Ibits = static_cast<uint16_t>(8 * inBytes[i]);
            outTotal += static_cast<uint32_t>(outBytes[i]);
            inTotal += static_cast<uint32_t>(inBytes[i]);
        }
        ec_slave[0].outputs = g_ioMap;
        ec_slave[0].inputs = g_ioMap + outTotal;
        SetMappedAreaSizes(outTotal, inTotal);
        g_slavesFound = static_cast<int32_t>(outBytes.size());
    }
    static std::vector<uint8_t> Outputs(size_t from, size_t count) {
        auto lock = LockProcessImage();
        return {g_ioMap + from, g_ioMap + from + count};
    }

    ec_slavet saved_[kMaxTestSlaves + 1];
};

TEST_F(PdoViewsTest, WriteTxPdoSignExtendsInsideTheOutputImageAndRefusesTheRest) {
    Map({24, 2, 24}, {24, 2, 24});  // 50 output bytes
    struct Write {
        const wchar_t* address;
        const wchar_t* bytes;
        const wchar_t* data;
        std::vector<uint8_t> written;  // from the address on
    };
    const Write writes[] = {
        {L"24", L"2", L"1234", {0x34, 0x12}},
        {L"10", L"6", L"FFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {L"10", L"6", L"7FFFFFFF", {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00}},
        {L"0", L"5", L"80000001", {0x01, 0x00, 0x00, 0x80, 0xFF}},
        {L"48", L"2", L"abcd", {0xCD, 0xAB}},             // the last two bytes of the image
        {L"30", L"0", L"55", {0xCD}},                     // no bytes: nothing changes
        {L"20", L"3", L"00000ABCD", {0xCD, 0xAB, 0x00}},  // nine digits
    };
    for (const Write& w : writes) {
        SCOPED_TRACE(testing::Message() << "data " << std::string(w.data, w.data + wcslen(w.data)));
        const size_t at = static_cast<size_t>(std::stoi(w.address));
        if (w.bytes[0] == L'0') {
            auto lock = LockProcessImage();
            g_ioMap[at] = 0xCD;
        }
        EXPECT_EQ(WriteTxPdo(w.address, w.bytes, w.data), L"");
        EXPECT_EQ(Outputs(at, w.written.size()), w.written);
    }

    const std::vector<uint8_t> before = Outputs(0, kIoMapSize);
    const Write refused[] = {
        {L"", L"1", L"1", {}},           {L"1000", L"1", L"1", {}},
        {L"0010", L"1", L"1", {}},  // four characters, though inside the image
        {L"1", L"10", L"1", {}},         {L"1", L"1", L"", {}},
        {L"1", L"1", L"1234567890", {}}, {L"ab", L"1", L"1", {}},
        {L"1", L"x", L"1", {}},          {L"1", L"1", L"xyz", {}},
        {L"1", L"1", L"123456789", {}},  // more than 32 bits
        {L"-1", L"2", L"1", {}},         {L"49", L"2", L"1", {}},
        {L"50", L"1", L"1", {}},         {L"999", L"9", L"1", {}},
    };
    for (const Write& w : refused) {
        EXPECT_EQ(WriteTxPdo(w.address, w.bytes, w.data), kTxPdoDataError)
            << std::string(w.address, w.address + wcslen(w.address)) << " "
            << std::string(w.bytes, w.bytes + wcslen(w.bytes)) << " "
            << std::string(w.data, w.data + wcslen(w.data));
    }
    // Without a mapping there is no output image to write to.
    SetMappedAreaSizes(0, 0);
    EXPECT_EQ(WriteTxPdo(L"0", L"1", L"1"), kTxPdoDataError);
    EXPECT_EQ(Outputs(0, kIoMapSize), before);
}

TEST_F(PdoViewsTest, MarksAtTheFifthTickRebuildsAtTheTenthAndAnOpeningMarksEveryNonZeroByte) {
    std::vector<PdoTickWork> work;
    for (int tick = 0; tick < 20; ++tick) work.push_back(AdvancePdoTick());
    std::vector<PdoTickWork> period(10, PdoTickWork::None);
    period[4] = PdoTickWork::MarkChanges;
    period[9] = PdoTickWork::Rebuild;
    std::vector<PdoTickWork> expected = period;
    expected.insert(expected.end(), period.begin(), period.end());
    EXPECT_EQ(work, expected);

    Map({2, 0}, {3, 2});
    {
        auto lock = LockProcessImage();
        ec_slave[0].outputs[1] = 0x80;
        ec_slave[0].inputs[0] = 0x01;
        ec_slave[0].inputs[4] = 0xFF;
    }
    // Markings long enough for every countdown to run out: nothing is marked.
    for (int marking = 0; marking <= kPdoHighlightMarkings; ++marking) {
        MarkChangedBytes(ReadPdoImage(2));
    }
    PdoMarks marks = MarkChangedBytes(ReadPdoImage(2));
    EXPECT_EQ(marks.inputs, (PdoLineMarks{{}, {}}));
    // A new opening: the first marking takes every non-zero byte as changed.
    ClearPdoChangeTables();
    marks = MarkChangedBytes(ReadPdoImage(2));
    EXPECT_EQ(marks.outputs, (PdoLineMarks{{1}, {}}));
    EXPECT_EQ(marks.inputs, (PdoLineMarks{{0}, {1}}));
}

// STOP on the CiA402 page, or a tab change, while the dialog's box holds the
// ramp: clearing the box or Quit must not set the motors going again.
TEST_F(PdoViewsTest, AStopGivenWhileTheBoxHoldsTheRampOutlastsTheBox) {
    testsupport::RecordingClock clock;
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "Quit" : "box cleared");
        g_moveStop = 0;
        SetCia402DisableHold(true);
        ASSERT_EQ(g_moveStop.load(), 1);
        StopMove();
        quit ? ReleaseCia402DisableHold() : SetCia402DisableHold(false);
        EXPECT_EQ(g_moveStop.load(), 1);
    }
    // Without a STOP meanwhile the box's own hold is released.
    g_moveStop = 0;
    SetCia402DisableHold(true);
    SetCia402DisableHold(false);
    EXPECT_EQ(g_moveStop.load(), 0);
    SetCia402DisableHold(true);
    StopPositionRamp();  // what a tab change does
    ReleaseCia402DisableHold();
    EXPECT_EQ(g_moveStop.load(), 1);
}

TEST_F(PdoViewsTest, LongViewsShowEverySlaveWholeAndBytesPastTheTablesAreNeverMarked) {
    // Seven bridges: a view of 7 x 72 + 14 characters, more than the 511 of the
    // original buffer; then a slave of 200 input bytes.
    Map({24, 24, 24, 24, 24, 24, 24, 0}, {24, 24, 24, 24, 24, 24, 24, 200});
    g_slaveCount = 9;  // one more than the scan found: an empty line
    const PdoImage image = ReadPdoImage(g_slaveCount);
    const std::vector<std::string> lines = PdoViewLines(image.outputs);
    ASSERT_EQ(lines.size(), 9u);
    for (int s = 0; s < 7; ++s) EXPECT_EQ(lines[s].size(), 72u) << s;
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "");
    const std::vector<std::string> inputLines = PdoViewLines(image.inputs);
    ASSERT_EQ(inputLines[7].size(), 600u);

    MarkChangedBytes(image);  // the first marking after the opening: nothing is non-zero
    const size_t slave8 = 7 * 24;
    {
        auto lock = LockProcessImage();
        ec_slave[0].inputs[slave8 + 5] = 0x11;
        ec_slave[0].inputs[slave8 + 150] = 0x22;
        ec_slave[0].outputs[3 * 24 + 1] = 0x33;
    }
    std::vector<int> markedRounds;
    for (int round = 0; round < 8; ++round) {
        const PdoMarks marks = MarkChangedBytes(ReadPdoImage(g_slaveCount));
        ASSERT_EQ(marks.inputs.size(), 9u);
        if (marks.inputs[7] == std::vector<int>{5}) markedRounds.push_back(round);
        EXPECT_TRUE(marks.inputs[7].empty() || marks.inputs[7] == std::vector<int>{5});
        EXPECT_EQ(marks.outputs[3], round < 6 ? std::vector<int>{1} : std::vector<int>{});
    }
    EXPECT_EQ(markedRounds, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
