// The logs and the interface name are written by one thread while another reads
// them: a reader must never see half a write.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "bus/text_log.hpp"
#include "settings/shared_text.hpp"

namespace {

TEST(TextLog, AReaderSeesOnlyWholeAppends) {
    TextLog log;
    const std::wstring line = L"ERROR[1] : Slave(2) is in SAFE_OP & ERROR, Attempting Ack\r\n";
    constexpr int kLines = 2000;
    std::thread writer([&] {
        for (int i = 0; i < kLines; ++i) log.append(line);
    });
    bool whole = true;
    size_t lastLength = 0;
    while (lastLength < line.size() * kLines) {
        const std::wstring copy = log.copy();
        whole = whole && copy.size() % line.size() == 0;
        for (size_t at = 0; whole && at < copy.size(); at += line.size()) {
            whole = copy.compare(at, line.size(), line) == 0;
        }
        lastLength = copy.size();
    }
    writer.join();
    EXPECT_TRUE(whole);
    EXPECT_EQ(log.length(), line.size() * kLines);
}

TEST(TextLog, AppendsBytesAsLatin1AndClears) {
    TextLog log;
    log.appendBytes("S[1]:\xe9\r\n");
    EXPECT_EQ(log.copy(), L"S[1]:\u00e9\r\n");
    log.clear();
    EXPECT_EQ(log.length(), 0u);
}

// A bounded log drops its oldest lines whole; a reader takes only what is new,
// and starts afresh when what it took is gone or the log was cleared.
TEST(TextLog, KeepsItsNewestLinesAndGivesAReaderWhatIsNew) {
    TextLog log(3);
    TextLog::Mark mark;
    log.append(L"a\r\nbb\r\n");
    TextLog::News news = log.since(mark);
    EXPECT_EQ(news.text, L"a\r\nbb\r\n");
    EXPECT_FALSE(news.restart);
    mark = news.mark;
    log.append(L"ccc\r\ndd");
    log.append(L"dd\r\ne\r\n");
    EXPECT_EQ(log.copy(), L"ccc\r\ndddd\r\ne\r\n");
    news = log.since(mark);
    EXPECT_EQ(news.text, L"ccc\r\ndddd\r\ne\r\n") << "only what came since";
    EXPECT_FALSE(news.restart);
    mark = news.mark;
    EXPECT_EQ(log.since(mark).text, L"");

    // Lines this reader never took were dropped: it gets the whole log instead.
    for (int i = 0; i < 5; ++i) log.append(L"f\r\n");
    news = log.since(mark);
    EXPECT_TRUE(news.restart);
    EXPECT_EQ(news.text, L"f\r\nf\r\nf\r\n");
    mark = news.mark;
    log.clear();
    log.append(L"g\r\n");
    news = log.since(mark);
    EXPECT_TRUE(news.restart);
    EXPECT_EQ(news.text, L"g\r\n");

    TextLog unbounded;
    for (int i = 0; i < 5000; ++i) unbounded.append(L"h\r\n");
    EXPECT_EQ(unbounded.length(), 15000u);
}

TEST(SharedText, KeepsAtMost127Bytes) {
    SharedText text;
    EXPECT_TRUE(text.set(std::string(127, 'x')));
    EXPECT_EQ(text.get().size(), 127u);
    EXPECT_FALSE(text.set(std::string(200, 'y')));
    EXPECT_EQ(text.get(), std::string(127, 'y'));
    EXPECT_TRUE(text.set(std::string_view("eth0\0junk", 9)));
    EXPECT_EQ(text.get(), "eth0");
}

TEST(SharedText, AReaderSeesOneNameOrTheOther) {
    SharedText text;
    const std::string a(100, 'a');
    const std::string b = "\\Device\\NPF_eth1";
    text.set(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 5000; ++i) text.set(i % 2 ? a : b);
        done = true;
    });
    bool consistent = true;
    while (!done) {
        const std::string seen = text.get();
        consistent = consistent && (seen == a || seen == b);
    }
    writer.join();
    EXPECT_TRUE(consistent);
}

}  // namespace
