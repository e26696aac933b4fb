#include <gtest/gtest.h>

#include <string>

#include "ecmaster/codec.hpp"
#include "ecsim/object_dictionary.hpp"

namespace ecsim {
namespace {

using Bytes = std::vector<uint8_t>;

struct Outbox : MailboxOutbox {
    void post(Bytes message) override { messages.push_back(std::move(message)); }
    Bytes take() {
        EXPECT_EQ(messages.size(), 1u);
        Bytes m = messages.empty() ? Bytes(16, 0) : messages.front();
        messages.clear();
        return m;
    }
    std::vector<Bytes> messages;
};

// The master's side of the exchange, as bytes on the mailbox.
Bytes request(uint8_t command, uint16_t index, uint8_t sub, const Bytes& tail,
              uint8_t type = 0x03) {
    Bytes m(6 + 2 + 4, 0);
    m[5] = static_cast<uint8_t>(type | (1 << 4));
    ecat::put16(&m[6], 0x2000);  // SDO request
    m[8] = command;
    ecat::put16(&m[9], index);
    m[11] = sub;
    m.insert(m.end(), tail.begin(), tail.end());
    if (m.size() < 16) m.resize(16, 0);
    ecat::put16(&m[0], static_cast<uint16_t>(m.size() - 6));
    return m;
}

Bytes segment(uint8_t command, const Bytes& data) {
    Bytes m(6 + 2 + 1, 0);
    m[5] = 0x03 | (2 << 4);
    ecat::put16(&m[6], 0x2000);
    m[8] = command;
    m.insert(m.end(), data.begin(), data.end());
    if (m.size() < 16) m.resize(16, 0);
    ecat::put16(&m[0], static_cast<uint16_t>(m.size() - 6));
    return m;
}

Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

uint16_t mbxLength(const Bytes& m) {
    return ecat::get16(&m[0]);
}
uint16_t service(const Bytes& m) {
    return ecat::get16(&m[6]) >> 12;
}
uint32_t abortCode(const Bytes& m) {
    EXPECT_EQ(m[8], 0x80);
    return ecat::get32(&m[12]);
}

class CoeServerTest : public ::testing::Test {
  protected:
    static constexpr uint16_t kMailbox = 64;

    void SetUp() override {
        od.addU8(0x2000, 1, 0x11);
        od.addU16(0x2000, 2, 0x2222);
        od.addU32(0x2000, 3, 0x33333333);
        od.addU32(0x1018, 1, 0xB00C, Access::ReadOnly);
        od.addU32(0x2001, 0, 0, Access::WriteOnly);
        od.addString(0x2002, 0, text(200), Access::ReadWrite, 300);
        od.addString(0x2003, 0, "", Access::ReadWrite, 64);
    }
    static std::string text(size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('A' + i % 26));
        return s;
    }
    Bytes exchange(const Bytes& m) {
        server.handle(m, out);
        Bytes reply = out.take();
        EXPECT_LE(reply.size(), kMailbox) << "a reply must fit the read mailbox";
        EXPECT_EQ(mbxLength(reply) + 6u, reply.size());
        return reply;
    }
    // Uploads by segments as a master would; returns the bytes or the abort code.
    Bytes segmentedUpload(uint16_t index, uint8_t sub, size_t* segments) {
        Bytes r = exchange(request(0x40, index, sub, {}));
        EXPECT_EQ(r[8], 0x41);
        const uint32_t total = ecat::get32(&r[12]);
        Bytes data(r.begin() + 16, r.end());
        uint8_t toggle = 0;
        *segments = 0;
        while (data.size() < total) {
            Bytes s = exchange(segment(0x60 | toggle, {}));
            EXPECT_EQ(service(s), 3);
            EXPECT_EQ(s[8] & 0xE0, 0x00);
            EXPECT_EQ(s[8] & 0x10, toggle);
            size_t n = mbxLength(s) - 3;
            if (n == 7) n -= (s[8] >> 1) & 7;
            data.insert(data.end(), s.begin() + 9, s.begin() + 9 + static_cast<long>(n));
            ++*segments;
            if (s[8] & 1) break;
            toggle ^= 0x10;
        }
        return data;
    }

    ObjectDictionary od;
    CoeServer server{od, kMailbox};
    Outbox out;
};

TEST_F(CoeServerTest, ExpeditedUploadsGiveTheSizeInTheCommand) {
    Bytes r = exchange(request(0x40, 0x2000, 1, {}));
    EXPECT_EQ(service(r), 3);
    EXPECT_EQ(r[8], 0x4F);
    EXPECT_EQ(r[12], 0x11);
    r = exchange(request(0x40, 0x2000, 2, {}));
    EXPECT_EQ(r[8], 0x4B);
    EXPECT_EQ(ecat::get16(&r[12]), 0x2222);
    r = exchange(request(0x40, 0x2000, 3, {}));
    EXPECT_EQ(r[8], 0x43);
    EXPECT_EQ(ecat::get16(&r[9]), 0x2000);
    EXPECT_EQ(r[11], 3);
    EXPECT_EQ(ecat::get32(&r[12]), 0x33333333u);
}

TEST_F(CoeServerTest, LongUploadsArriveInToggledSegmentsSizedToTheMailbox) {
    size_t segments = 0;
    const Bytes data = segmentedUpload(0x2002, 0, &segments);
    EXPECT_EQ(std::string(data.begin(), data.end()), text(200));
    // 48 bytes in the first reply, 55 per segment: 152 = 55 + 55 + 42.
    EXPECT_EQ(segments, 3u);

    const std::string shortTail = text(48 + 55 + 3);  // a last segment shorter than 7 bytes
    od.setString(0x2002, 0, shortTail);
    EXPECT_EQ(segmentedUpload(0x2002, 0, &segments), Bytes(shortTail.begin(), shortTail.end()));
    EXPECT_EQ(segments, 2u);
}

TEST_F(CoeServerTest, EmptyStringsUploadAsANormalTransferOfZeroBytes) {
    Bytes r = exchange(request(0x40, 0x2003, 0, {}));
    EXPECT_EQ(r[8], 0x41);
    EXPECT_EQ(ecat::get32(&r[12]), 0u);
}

TEST_F(CoeServerTest, DownloadsExpeditedNormalAndSegmented) {
    Bytes r = exchange(request(0x2F, 0x2000, 1, {0x5A, 0, 0, 0}));  // 1 byte
    EXPECT_EQ(r[8], 0x60);
    EXPECT_EQ(od.getInt(0x2000, 1), 0x5A);
    exchange(request(0x23, 0x2000, 2, le32(0x00017777)));  // 4 bytes into a u16
    EXPECT_EQ(od.getInt(0x2000, 2), 0x7777);

    Bytes hello = le32(5);
    for (char c : std::string("hello")) hello.push_back(static_cast<uint8_t>(c));
    r = exchange(request(0x21, 0x2003, 0, hello));
    EXPECT_EQ(r[8], 0x60);
    EXPECT_EQ(od.getString(0x2003, 0), "hello");

    // 60 bytes: 10 in the first message, then segments of 20 + 20 + 10 bytes
    // with the toggle alternating.
    const std::string long60 = text(60);
    Bytes first = le32(60);
    first.insert(first.end(), long60.begin(), long60.begin() + 10);
    exchange(request(0x21, 0x2003, 0, first));
    uint8_t toggle = 0;
    for (size_t pos = 10; pos < 60; pos += 20) {
        const size_t n = std::min<size_t>(20, 60 - pos);
        const bool last = pos + n == 60;
        r = exchange(segment(static_cast<uint8_t>(toggle | (last ? 1 : 0)),
                             Bytes(long60.begin() + static_cast<long>(pos),
                                   long60.begin() + static_cast<long>(pos + n))));
        EXPECT_EQ(r[8], 0x20 | toggle);
        toggle ^= 0x10;
    }
    EXPECT_EQ(od.getString(0x2003, 0), long60);

    // A last segment of 3 bytes travels padded to 7 with n = 4.
    Bytes start = le32(3 + 10);
    start.insert(start.end(), 10, 'q');
    exchange(request(0x21, 0x2003, 0, start));
    exchange(segment(0x01 | (4 << 1), {'x', 'y', 'z'}));
    EXPECT_EQ(od.getString(0x2003, 0), std::string(10, 'q') + "xyz");
}

TEST_F(CoeServerTest, EveryRefusalAnswersWithTheAbortCodeOfARealSlave) {
    struct Case {
        Bytes message;
        uint32_t code;
    };
    const Case cases[] = {
        {request(0x40, 0x3000, 0, {}), abort_code::ObjectMissing},
        {request(0x40, 0x2000, 9, {}), abort_code::SubindexMissing},
        {request(0x23, 0x1018, 1, le32(1)), abort_code::ReadOnly},
        {request(0x40, 0x2001, 0, {}), abort_code::WriteOnly},
        {request(0x21, 0x2003, 0,
                 [] {
                     Bytes b = le32(65);
                     b.insert(b.end(), 65, 'a');
                     return b;
                 }()),
         abort_code::LengthTooHigh},
        {request(0x21, 0x2000, 3, le32(0)), abort_code::LengthTooLow},
        // More than the slave could hold until the last segment.
        {request(0x21, 0x2003, 0, le32(0xFFFFFFFF)), 0x05040005},
        {request(0x21, 0x2003, 0, le32(CoeServer::kDownloadBuffer + 1)), 0x05040005},
        {request(0xE0, 0x2000, 1, {}), abort_code::CommandSpecifier},
        {segment(0x60, {}), abort_code::CommandSpecifier},  // no upload in progress
        {segment(0x01, {}), abort_code::CommandSpecifier},  // no download in progress
    };
    for (const Case& c : cases) {
        Bytes r = exchange(c.message);
        EXPECT_EQ(service(r), 2) << "aborts travel as SDO requests";
        EXPECT_EQ(abortCode(r), c.code) << std::hex << c.code;
    }
}

TEST_F(CoeServerTest, AWrongToggleAbortsTheTransfer) {
    Bytes start = le32(40);
    start.insert(start.end(), 10, 'a');
    exchange(request(0x21, 0x2003, 0, start));
    Bytes r = exchange(segment(0x10, Bytes(10, 'b')));  // toggle must start at 0
    EXPECT_EQ(abortCode(r), abort_code::ToggleBit);
    EXPECT_EQ(ecat::get16(&r[9]), 0x2003);
    r = exchange(segment(0x00, Bytes(10, 'b')));
    EXPECT_EQ(abortCode(r), abort_code::CommandSpecifier) << "the transfer is gone";
    EXPECT_EQ(od.getString(0x2003, 0), "");

    size_t segments = 0;
    (void)segmentedUpload(0x2002, 0, &segments);  // leaves nothing behind
    exchange(request(0x40, 0x2002, 0, {}));
    r = exchange(segment(0x70, {}));
    EXPECT_EQ(abortCode(r), abort_code::ToggleBit);
}

TEST_F(CoeServerTest, CompleteAccessUploadsTheWholeObject) {
    od.addU8(0x1C12, 0, 2);
    od.addU16(0x1C12, 1, 0x1600);
    od.addU16(0x1C12, 2, 0x1601);
    Bytes r = exchange(request(0x50, 0x1C12, 0, {}));
    EXPECT_EQ(r[8], 0x51) << "normal transfer, complete access";
    EXPECT_EQ(ecat::get32(&r[12]), 6u);
    EXPECT_EQ(Bytes(r.begin() + 16, r.end()), Bytes({2, 0, 0x00, 0x16, 0x01, 0x16}));

    Bytes data = le32(4);  // count 1 as 16 bits, then one u16 entry
    for (uint8_t b : {1, 0, 0x02, 0x16}) data.push_back(b);
    r = exchange(request(0x31, 0x1C12, 0, data));
    EXPECT_EQ(r[8], 0x60);
    EXPECT_EQ(od.getInt(0x1C12, 0), 1);
    EXPECT_EQ(od.getInt(0x1C12, 1), 0x1602);
}

TEST_F(CoeServerTest, OtherProtocolsAndServicesGetAMailboxError) {
    server.handle(request(0x40, 0x2000, 1, {}, 0x04), out);  // FoE
    Bytes r = out.take();
    EXPECT_EQ(r[5] & 0x0F, 0) << "mailbox error type";
    EXPECT_EQ(ecat::get16(&r[6]), 1);
    EXPECT_EQ(ecat::get16(&r[8]), 2) << "protocol not supported";

    Bytes info = request(0x01, 0, 0, {});
    ecat::put16(&info[6], 0x8000);  // SDO information
    server.handle(info, out);
    EXPECT_EQ(ecat::get16(&out.take()[8]), 4) << "service not supported";

    Bytes shortMsg = request(0x40, 0x2000, 1, {});
    ecat::put16(&shortMsg[0], 4);
    server.handle(shortMsg, out);
    EXPECT_EQ(ecat::get16(&out.take()[8]), 6) << "data too short";
}

TEST_F(CoeServerTest, EmergenciesCarryCodeRegisterAndDataWithAFreshCounter) {
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    server.emergency(0x8130, 0x11, data, out);
    server.emergency(0x5530, 0x01, data, out);
    ASSERT_EQ(out.messages.size(), 2u);
    const Bytes& m = out.messages[0];
    EXPECT_EQ(mbxLength(m), 10);
    EXPECT_EQ(m[5] & 0x0F, 3);
    EXPECT_EQ(service(m), 1);
    EXPECT_EQ(ecat::get16(&m[8]), 0x8130);
    EXPECT_EQ(m[10], 0x11);
    EXPECT_EQ(Bytes(m.begin() + 11, m.end()), Bytes({1, 2, 3, 4, 5}));
    const int c1 = m[5] >> 4, c2 = out.messages[1][5] >> 4;
    EXPECT_NE(c1, 0);
    EXPECT_EQ(c2, c1 % 7 + 1);
}

}  // namespace
}  // namespace ecsim
