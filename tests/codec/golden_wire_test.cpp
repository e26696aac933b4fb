// The wire format against bytes written out by hand from the standard's layouts,
// not made by the codec that the master and the simulated slaves share: what the
// master puts on the wire and what the simulated slave answers, recorded on the
// in-process wire, must be these bytes, and the master must read the values in them.
//
// Mailbox header (6 bytes): length (bytes after the header, LE), address, channel
// and priority, type in bits 0-3 (3 = CoE) with the counter (1..7) in bits 4-6.
// CoE header (2 bytes, LE): service in bits 12-15 (2 SDO request, 3 SDO response).
// SDO command byte: specifier in bits 5-7, toggle bit 4, unused bytes n in bits
// 2-3 (1-3 in segments), expedited bit 1, size-indicated / last-segment bit 0.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// One datagram as the master sent it and as it came back.
struct Access {
    ecat::Cmd cmd;
    uint16_t ado;
    Bytes sent;
    Bytes back;
    uint16_t wkc;
};

class Recorder : public ecmaster::FrameProcessor {
  public:
    explicit Recorder(std::shared_ptr<ecsim::Segment> segment) : segment_(std::move(segment)) {}
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        Bytes before(frame.begin(), frame.end());
        const ecmaster::Delivery delivery = segment_->process(frame);
        const auto sent = ecat::parseFrame(before);
        const auto back = ecat::parseFrame(frame);
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < sent.datagrams.size() && i < back.datagrams.size(); ++i) {
            const auto& s = sent.datagrams[i];
            const auto& b = back.datagrams[i];
            accesses_.push_back({s.cmd(), s.ado(), Bytes(s.data(), s.data() + s.length()),
                                 Bytes(b.data(), b.data() + b.length()), b.wkc()});
        }
        return delivery;
    }
    std::vector<Access> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(accesses_, {});
    }

  private:
    std::shared_ptr<ecsim::Segment> segment_;
    std::mutex mutex_;
    std::vector<Access> accesses_;
};

// `bytes` then zeros up to `size`: a mailbox area is always written and read whole.
Bytes Padded(Bytes bytes, size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

Bytes Pattern(size_t n) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(0xA0 + i);
    return v;
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class GoldenWire : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        const auto specs = ecsim::parseSlaveList("ZR12", &error);
        ASSERT_TRUE(specs) << error;
        auto segment = std::make_shared<ecsim::Segment>(*specs);
        auto device = std::make_unique<testsupport::CoeTestDevice>();
        device->od().addU32(0x2000, 3, 0x44332211);
        device->od().addU16(0x2000, 2, 0);
        device->od().addString(0x2002, 0, "", ecsim::Access::ReadWrite, 1024);
        device->addMapping(testsupport::kBridgeBits);
        segment->replaceDevice(1, std::move(device));
        recorder_ = std::make_shared<Recorder>(segment);
        ecmaster::attachVirtualWire(kWire, recorder_);
        ASSERT_GT(ec_init(kWire), 0);
        ASSERT_EQ(ec_config_init(FALSE), 1);
        ASSERT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
        // The slave's mailboxes as its SII places them.
        ASSERT_EQ(ec_slave[1].mbx_wo, 0x1000);
        ASSERT_EQ(ec_slave[1].mbx_ro, 0x1080);
        ASSERT_EQ(ec_slave[1].mbx_l, 128);
        ASSERT_EQ(ec_slave[1].mbx_rl, 128);
        recorder_->take();
    }
    void TearDown() override {
        ec_errort e;
        while (ec_poperror(&e)) {
        }
        ec_close();
        ecmaster::detachVirtualWire(kWire);
    }

    // The mailbox messages of the last transfer: requests written to the write
    // mailbox and replies fetched from the read mailbox, in order.
    void TakeMailbox(std::vector<Bytes>& requests, std::vector<Bytes>& replies) {
        for (const Access& a : recorder_->take()) {
            if (a.cmd == ecat::Cmd::FPWR && a.ado == 0x1000 && a.wkc > 0)
                requests.push_back(a.sent);
            if (a.cmd == ecat::Cmd::FPRD && a.ado == 0x1080 && a.wkc > 0) replies.push_back(a.back);
        }
    }

    static constexpr const char* kWire = "golden0";
    std::shared_ptr<Recorder> recorder_;
};

TEST_F(GoldenWire, ExpeditedUploadDownloadAndAbort) {
    uint32_t value = 0;
    int size = sizeof value;
    ASSERT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(value, 0x44332211u);
    const uint16_t word = 0x1234;
    ASSERT_EQ(ec_SDOwrite(1, 0x2000, 2, FALSE, sizeof word, &word, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(ec_SDOread(1, 0x3000, 0, FALSE, &size, &value, EC_TIMEOUTRXM), 0);
    ec_errort e{};
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Etype, EC_ERR_TYPE_SDO_ERROR);
    EXPECT_EQ(e.Index, 0x3000);
    EXPECT_EQ(e.AbortCode, 0x06020000);

    std::vector<Bytes> requests;
    std::vector<Bytes> replies;
    TakeMailbox(requests, replies);
    // Each side counts its own messages 1, 2, 3.
    const std::vector<Bytes> wantRequests = {
        // upload 0x2000:03: initiate upload request 0x40, 4 data bytes zero
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x20, 0x40, 0x00, 0x20, 0x03, 0, 0, 0, 0},
               128),
        // download 2 bytes to 0x2000:02: expedited, size indicated, n = 2 -> 0x2B
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x23, 0x00, 0x20, 0x2B, 0x00, 0x20, 0x02, 0x34, 0x12,
                0x00, 0x00},
               128),
        // upload 0x3000:00, an object the slave does not have
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00, 0x20, 0x40, 0x00, 0x30, 0x00, 0, 0, 0, 0},
               128),
    };
    const std::vector<Bytes> wantReplies = {
        // SDO response, expedited 4 bytes -> 0x43, the value little-endian
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x30, 0x43, 0x00, 0x20, 0x03, 0x11, 0x22,
                0x33, 0x44},
               128),
        // initiate download response 0x60
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x23, 0x00, 0x30, 0x60, 0x00, 0x20, 0x02, 0, 0, 0, 0},
               128),
        // abort 0x80 with code 0x06020000; an abort travels as an SDO request
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00, 0x20, 0x80, 0x00, 0x30, 0x00, 0x00, 0x00,
                0x02, 0x06},
               128),
    };
    EXPECT_EQ(requests, wantRequests);
    EXPECT_EQ(replies, wantReplies);
}

TEST_F(GoldenWire, NormalTransfersWithALastShortSegmentBothWays) {
    // 113 bytes: 112 fit the first message of a 128-byte mailbox (128 - 16), the
    // last byte goes in a segment of its own.
    const Bytes data = Pattern(113);
    ASSERT_EQ(ec_SDOwrite(1, 0x2002, 0, FALSE, 113, data.data(), EC_TIMEOUTRXM), 1);
    Bytes back(200, 0xEE);
    int size = static_cast<int>(back.size());
    ASSERT_EQ(ec_SDOread(1, 0x2002, 0, FALSE, &size, back.data(), EC_TIMEOUTRXM), 1);
    back.resize(static_cast<size_t>(size));
    EXPECT_EQ(back, data);

    std::vector<Bytes> requests;
    std::vector<Bytes> replies;
    TakeMailbox(requests, replies);
    const Bytes first(data.begin(), data.begin() + 112);
    const std::vector<Bytes> wantRequests = {
        // initiate download, normal with size indicated 0x21: length 10 + 112 =
        // 0x7A, complete size 113 = 0x71, then the first 112 bytes
        Padded(Concat({0x7A, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x20, 0x21, 0x02, 0x20, 0x00, 0x71,
                       0x00, 0x00, 0x00},
                      first),
               128),
        // download segment, toggle 0, n = 6 unused, last: 0x0D, one byte padded to 7
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x23, 0x00, 0x20, 0x0D, data[112]}, 128),
        // initiate upload
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00, 0x20, 0x40, 0x02, 0x20, 0x00}, 128),
        // upload segment request, toggle 0: 0x60
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x43, 0x00, 0x20, 0x60}, 128),
    };
    const std::vector<Bytes> wantReplies = {
        // initiate download response
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x13, 0x00, 0x30, 0x60, 0x02, 0x20, 0x00}, 128),
        // download segment response, toggle 0: 0x20
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x23, 0x00, 0x30, 0x20}, 128),
        // initiate upload response, normal with size indicated 0x41, size 113, 112 bytes
        Padded(Concat({0x7A, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00, 0x30, 0x41, 0x02, 0x20, 0x00, 0x71,
                       0x00, 0x00, 0x00},
                      first),
               128),
        // upload segment response, toggle 0, n = 6, last: 0x0D
        Padded({0x0A, 0x00, 0x00, 0x00, 0x00, 0x43, 0x00, 0x30, 0x0D, data[112]}, 128),
    };
    EXPECT_EQ(requests, wantRequests);
    EXPECT_EQ(replies, wantReplies);
}

TEST_F(GoldenWire, SiiReadOfTheStandardMailboxWords) {
    // The EEPROM is the slave's until the master takes it: force, then release
    // (0x0500 = 2, 0). Then a read command for word 0x18: control 0x0100 (read)
    // and the 32-bit word address at 0x0502, and the data fetched from 0x0508.
    ASSERT_EQ(ec_eeprom2pdi(1), 1);
    recorder_->take();
    EXPECT_EQ(ec_readeeprom(1, 0x0018, EC_TIMEOUTEEP), 0x00801000u);

    std::vector<std::pair<uint16_t, Bytes>> writes;
    Bytes data;
    for (const Access& a : recorder_->take()) {
        if (a.wkc == 0) continue;
        if (a.cmd == ecat::Cmd::FPWR) writes.emplace_back(a.ado, a.sent);
        if (a.cmd == ecat::Cmd::FPRD && a.ado == 0x0508) data = a.back;
    }
    const std::vector<std::pair<uint16_t, Bytes>> wantWrites = {
        {0x0500, {0x02}},
        {0x0500, {0x00}},
        {0x0502, {0x00, 0x01, 0x18, 0x00, 0x00, 0x00}},
    };
    EXPECT_EQ(writes, wantWrites);
    // Words 0x18-0x1B: receive mailbox 0x1000, 128 bytes; send mailbox 0x1080,
    // 128 bytes. A controller reading 8 bytes at a time gives all four.
    const Bytes mailboxWords = {0x00, 0x10, 0x80, 0x00, 0x80, 0x10, 0x80, 0x00};
    ASSERT_TRUE(data.size() == 4 || data.size() == 8) << data.size();
    EXPECT_EQ(data, Bytes(mailboxWords.begin(), mailboxWords.begin() + data.size()));
}

}  // namespace
