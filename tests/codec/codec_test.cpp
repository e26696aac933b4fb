#include "ecmaster/codec.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ecat;

namespace {

std::vector<uint8_t> copyOf(std::span<const uint8_t> s) {
    return {s.begin(), s.end()};
}

TEST(FrameBuilder, BuildsTheKnownOneByteBroadcastWrite) {
    FrameBuilder b;
    const uint8_t zero = 0;
    ASSERT_GE(b.add(Cmd::BWR, 1, 0x0000, 0x0103, 1, {&zero, 1}), 0);
    auto bytes = b.bytes();
    const std::vector<uint8_t> expected{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 0x01, 0x01, 0x01,
                                        0x01, 0x01, 0x88, 0xa4, 0x0d, 0x10, 0x08, 0x01, 0x00, 0x00,
                                        0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(copyOf(bytes), expected);
    EXPECT_EQ(b.finish().size(), kMinFrameSize);
}

TEST(FrameBuilder, ChainsDatagramsWithTheMoreBitAndParsesBack) {
    FrameBuilder b;
    const std::vector<uint8_t> payload{1, 2, 3, 4};
    ASSERT_GE(b.add(Cmd::FPRD, 7, 0x1001, 0x0130, 6), 0);
    ASSERT_GE(b.addLogical(Cmd::LRW, 7, 0x00010020, 4, payload), 0);
    auto frame = copyOf(b.finish());
    auto parsed = parseFrame(frame);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.datagrams.size(), 2u);
    EXPECT_TRUE(parsed.datagrams[0].more());
    EXPECT_FALSE(parsed.datagrams[1].more());
    EXPECT_EQ(parsed.datagrams[0].cmd(), Cmd::FPRD);
    EXPECT_EQ(parsed.datagrams[0].adp(), 0x1001);
    EXPECT_EQ(parsed.datagrams[0].ado(), 0x0130);
    EXPECT_EQ(parsed.datagrams[0].length(), 6);
    EXPECT_EQ(parsed.datagrams[1].logicalAddress(), 0x00010020u);
    EXPECT_EQ(copyOf(parsed.datagrams[1].payload()), payload);
    parsed.datagrams[1].addWkc(3);
    EXPECT_EQ(parseFrame(frame).datagrams[1].wkc(), 3);
}

TEST(FrameBuilder, RefusesWhatDoesNotFit) {
    FrameBuilder b;
    EXPECT_GE(b.add(Cmd::LRW, 0, 0, 0, static_cast<uint16_t>(kMaxDatagramData)), 0);
    EXPECT_EQ(b.add(Cmd::BRD, 0, 0, 0, 1), -1);
    EXPECT_EQ(b.add(Cmd::NOP, 0, 0, 0, 0), -1) << "not even a header fits";
    EXPECT_EQ(b.datagramCount(), 1u);
    EXPECT_EQ(b.bytes().size(), kMaxFrameSize);
    FrameBuilder c;
    const std::vector<uint8_t> three{1, 2, 3};
    EXPECT_EQ(c.add(Cmd::BWR, 0, 0, 0, 2, three), -1) << "data size must match the length";
}

TEST(ParseFrame, RejectsBrokenFramesWithAReason) {
    FrameBuilder b;
    ASSERT_GE(b.add(Cmd::BRD, 0, 0, 0, 2), 0);
    const auto good = copyOf(b.finish());

    auto shortFrame = std::vector<uint8_t>(good.begin(), good.begin() + 15);
    EXPECT_FALSE(parseFrame(shortFrame).ok());

    auto wrongType = good;
    wrongType[13] = 0x00;
    EXPECT_EQ(parseFrame(wrongType).error, "not an EtherCAT frame");

    auto notDatagrams = good;
    notDatagrams[15] = 0x50;
    EXPECT_FALSE(parseFrame(notDatagrams).ok());

    auto lengthPastFrame = good;
    put16(&lengthPastFrame[14], 0x1000 | 0x07FF);
    EXPECT_EQ(parseFrame(lengthPastFrame).error, "EtherCAT length runs past the frame");

    auto datagramPastLength = good;
    put16(&datagramPastLength[22], 40);  // data length beyond the EtherCAT length
    EXPECT_EQ(parseFrame(datagramPastLength).error, "datagram data runs past the EtherCAT length");

    auto moreWithoutNext = good;
    put16(&moreWithoutNext[22], 0x8002);
    EXPECT_FALSE(parseFrame(moreWithoutNext).ok());
}

TEST(ParseFrame, IgnoresPaddingBeyondTheEtherCatLength) {
    FrameBuilder b;
    ASSERT_GE(b.add(Cmd::BRD, 0, 0, 0, 2), 0);
    auto frame = copyOf(b.finish());
    frame.resize(100, 0xEE);
    auto parsed = parseFrame(frame);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.datagrams.size(), 1u);
}

TEST(Sii, HeaderCrcIsCrc8Poly07InitFF) {
    const std::string check = "123456789";
    const std::vector<uint8_t> bytes(check.begin(), check.end());
    EXPECT_EQ(sii::headerCrc(bytes), 0xFB);
    EXPECT_EQ(sii::headerCrc(std::vector<uint8_t>(14, 0)), 0x30);
    std::vector<uint8_t> sixteen(16, 0);
    sixteen[15] = 0x55;  // only the first 14 bytes count
    EXPECT_EQ(sii::headerCrc(sixteen), 0x30);
}

TEST(Mailbox, HeaderBuildsAndParsesTheKnownBytesAndRefusesShortBuffers) {
    // Length 10, address 0x1234, channel 0x41, type CoE, counter 5, then content.
    const std::vector<uint8_t> known{0x0a, 0x00, 0x34, 0x12, 0x41, 0x53, 0xaa, 0xbb};
    std::vector<uint8_t> built(known.size(), 0);
    ASSERT_TRUE(mbx::putHeader(built, mbx::Header{10, 0x1234, 0x41, mbx::TypeCoe, 5}));
    EXPECT_EQ(std::vector<uint8_t>(built.begin(), built.begin() + 6),
              std::vector<uint8_t>(known.begin(), known.begin() + 6));
    const auto parsed = mbx::parseHeader(known);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->length, 10);
    EXPECT_EQ(parsed->address, 0x1234);
    EXPECT_EQ(parsed->channel, 0x41);
    EXPECT_EQ(parsed->type, mbx::TypeCoe);
    EXPECT_EQ(parsed->counter, 5);
    EXPECT_EQ(mbx::contentLength(known), 2u) << "the length field is trusted only as far as the "
                                                "buffer reaches";

    std::vector<uint8_t> five(5, 0x77);
    EXPECT_FALSE(mbx::putHeader(five, mbx::Header{}));
    EXPECT_EQ(five, std::vector<uint8_t>(5, 0x77));
    EXPECT_FALSE(mbx::parseHeader(five).has_value());
    EXPECT_EQ(mbx::contentLength(five), 0u);
    EXPECT_EQ(coe::service(five), 0);
}

TEST(Sdo, CommandFlagsMatchTheKnownBytes) {
    // Expedited initiates: 0x23 carries 4 bytes, 0x2f one.
    EXPECT_EQ(sdo::CcsInitiateDownload | sdo::expeditedFlags(4), 0x23);
    EXPECT_EQ(sdo::CcsInitiateDownload | sdo::expeditedFlags(1), 0x2f);
    EXPECT_EQ(sdo::expeditedFlags(9), sdo::expeditedFlags(4)) << "never a negative unused count";
    EXPECT_EQ(sdo::expeditedSize(0x4b), 2u);
    EXPECT_EQ(sdo::expeditedSize(0x42), 4u) << "without the size indicated all 4 bytes count";

    // Segments: 3 bytes, last, are padded to 7 with n = 4 in bits 1-3; 20 bytes
    // are sent as they are.
    EXPECT_EQ(sdo::segmentFlags(3, true), 0x09);
    EXPECT_EQ(sdo::segmentLength(3), 10);
    EXPECT_EQ(sdo::segmentFlags(20, false), 0x00);
    EXPECT_EQ(sdo::segmentLength(20), 23);
    EXPECT_EQ(sdo::segmentSize(0x09, 10), 3u);
    EXPECT_EQ(sdo::segmentSize(0x00, 23), 20u);
    EXPECT_EQ(sdo::segmentSize(0x00, 9), 0u) << "shorter than a minimal segment";

    // An upload request of 0x1018:02 as the master writes it.
    const std::vector<uint8_t> known{0x0a, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x20,
                                     0x40, 0x18, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00};
    std::vector<uint8_t> built(known.size(), 0);
    ASSERT_TRUE(sdo::putCommand(built, sdo::InitiateLength, 1, coe::ServiceSdoRequest,
                                sdo::CcsInitiateUpload));
    ASSERT_TRUE(sdo::putAddress(built, 0x1018, 2));
    EXPECT_EQ(built, known);
    std::vector<uint8_t> eleven(11, 0);
    EXPECT_FALSE(sdo::putAddress(eleven, 0x1018, 2));
    EXPECT_EQ(eleven, std::vector<uint8_t>(11, 0));
}

}  // namespace
