#include "bus/gui/scan_log_colours.hpp"

#include <gtest/gtest.h>

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kMagenta(255, 0, 255);
const QColor kPink(255, 0, 100);

std::vector<ColourSpan> SpansOf(const std::vector<ColourSpan>& spans, const QColor& colour) {
    std::vector<ColourSpan> out;
    for (const ColourSpan& span : spans) {
        if (span.colour == colour) out.push_back(span);
    }
    return out;
}

QString Repeat(const QString& line, int times) {
    QString text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

TEST(ScanLogColours, OfflineMarksGetFourSearchesPerSlave) {
    const QString line = QStringLiteral("TQ[1.1]=OFFline; ");  // 17 characters
    {
        const auto red = SpansOf(ScanLogColourSpans(Repeat(line, 3), 1), kRed);
        ASSERT_EQ(red.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            // From the 8 characters of "TQ[1.1]=" before the word to its end.
            EXPECT_EQ(red[i].start, i * 17);
            EXPECT_EQ(red[i].length, 15);
        }
    }
    const auto red = SpansOf(ScanLogColourSpans(Repeat(line, 5), 1), kRed);
    ASSERT_EQ(red.size(), 4u);
    EXPECT_EQ(red.back().start, 3 * 17);
    EXPECT_EQ(SpansOf(ScanLogColourSpans(Repeat(line, 5), 2), kRed).size(), 5u);
}

TEST(ScanLogColours, WordsAreFoundWhateverTheirCase) {
    const QString text = QStringLiteral("S[1]:Torvanelix zr12; TQ[1.1]=online ; ");
    const auto spans = ScanLogColourSpans(text, 1);
    const auto blue = SpansOf(spans, kBlue);
    ASSERT_EQ(blue.size(), 1u);
    EXPECT_EQ(text.mid(blue[0].start, blue[0].length), QStringLiteral("online"));
    const auto magenta = SpansOf(spans, kMagenta);
    ASSERT_EQ(magenta.size(), 1u);
    EXPECT_EQ(text.mid(magenta[0].start, magenta[0].length), QStringLiteral("zr12"));
}

TEST(ScanLogColours, SpansStayInsideTheText) {
    // An offline mark too close to the start, a bridge name and a bracket at the end.
    const QString text = QStringLiteral("x=OFFline ZR(");
    const auto spans = ScanLogColourSpans(text, 1);
    const auto red = SpansOf(spans, kRed);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_EQ(red[0].start, 0);
    EXPECT_EQ(red[0].length, 9);
    const auto magenta = SpansOf(spans, kMagenta);
    ASSERT_EQ(magenta.size(), 1u);
    EXPECT_EQ(magenta[0].start + magenta[0].length, text.size());
    const auto pink = SpansOf(spans, kPink);
    ASSERT_EQ(pink.size(), 1u);
    EXPECT_EQ(pink[0].start, 12);
    EXPECT_EQ(pink[0].length, 1);
}

TEST(ScanLogColours, BracketsCloserThanTheirSpanAreAllFound) {
    const QString text = QStringLiteral("( 3 ) (1)(2) slaves");
    const auto pink = SpansOf(ScanLogColourSpans(text, 1), kPink);
    ASSERT_EQ(pink.size(), 3u);
    EXPECT_EQ(pink[0].start, 0);
    EXPECT_EQ(pink[1].start, 6);
    EXPECT_EQ(pink[2].start, 9);
    EXPECT_EQ(pink[0].length, 6);
}

TEST(ScanLogColours, PassesRunInOrderAndBracketsHaveFiftySearches) {
    const QString text = Repeat(QStringLiteral("TQ[1.1]=ONline ; (x) ZR01 "), 60);
    const auto spans = ScanLogColourSpans(text, 2);
    ASSERT_EQ(spans.size(), 8u + 0u + 2u + 50u);
    EXPECT_EQ(spans[0].colour, kBlue);
    EXPECT_EQ(spans[8].colour, kMagenta);
    EXPECT_EQ(spans[10].colour, kPink);
    EXPECT_EQ(spans.back().colour, kPink);
}

TEST(ScanLogColours, NoSlavesLeavesOnlyTheBrackets) {
    const auto spans =
        ScanLogColourSpans(QStringLiteral("( 2 ) ZR12 TQ[1.1]=ONline ; TQ[1.2]=OFFline; "), 0);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].colour, kPink);
    EXPECT_TRUE(ScanLogColourSpans(QStringLiteral("ONline"), -5).empty());
}

}  // namespace
