// SDO transfers end to end: master, virtual wire, simulated slave controller,
// CoE server.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"
#include "support/virtual_bus.hpp"

namespace {

using ecsim::Access;
using testsupport::CoeTestDevice;

std::string nextErrorText() {
    return ec_elist2string();
}

void drainErrors() {
    ec_errort e;
    while (ec_poperror(&e)) {
    }
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

class SdoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto device = std::make_unique<CoeTestDevice>();
        device_ = device.get();
        auto& od = device->od();
        od.addU8(0x2000, 1, 0x11);
        od.addU16(0x2000, 2, 0x2222);
        od.addU32(0x2000, 3, 0x33333333);
        od.addU32(0x1018, 1, 0x0A3E, Access::ReadOnly);
        od.addU32(0x1018, 4, 0x0001E240, Access::ReadOnly);
        od.addU32(0x2001, 0, 0, Access::WriteOnly);
        od.addString(0x2002, 0, "", Access::ReadWrite, 1024);
        ecsim::Entry mode;
        mode.type = ecsim::DataType::Integer8;
        mode.value = {0};
        mode.onDownload = [](std::span<const uint8_t> d) {
            return d[0] <= 10 ? ecsim::abort_code::None : ecsim::abort_code::ValueRange;
        };
        od.add(0x6060, 0, mode);
        device->addMapping(testsupport::kBridgeBits);
        bus_.segment().replaceDevice(1, std::move(device));

        ASSERT_GT(ec_init(bus_.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 2);
        ASSERT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
        drainErrors();
    }
    void TearDown() override { drainErrors(); }

    // Writes `data` and reads it back through a buffer of `capacity` bytes.
    std::vector<uint8_t> roundTrip(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
        EXPECT_EQ(ec_SDOwrite(1, index, sub, FALSE, static_cast<int>(data.size()), data.data(),
                              EC_TIMEOUTRXM),
                  1);
        std::vector<uint8_t> back(2048, 0xEE);
        int size = static_cast<int>(back.size());
        EXPECT_EQ(ec_SDOread(1, index, sub, FALSE, &size, back.data(), EC_TIMEOUTRXM), 1);
        back.resize(static_cast<size_t>(std::max(size, 0)));
        return back;
    }

    testsupport::VirtualBus bus_{"ZR12,IO"};
    CoeTestDevice* device_ = nullptr;
};

TEST_F(SdoTest, ExpeditedRoundTripsKeepEveryWidth) {
    EXPECT_EQ(roundTrip(0x2000, 1, {0xA5}), std::vector<uint8_t>({0xA5}));
    EXPECT_EQ(roundTrip(0x2000, 2, {0x34, 0x12}), std::vector<uint8_t>({0x34, 0x12}));
    EXPECT_EQ(roundTrip(0x2000, 3, {1, 2, 3, 4}), std::vector<uint8_t>({1, 2, 3, 4}));
    // The tool writes every value as 32 bits: a narrow object keeps the low bytes.
    const uint32_t wide = 0x00000C0D;
    ASSERT_EQ(ec_SDOwrite(1, 0x2000, 2, FALSE, 4, &wide, EC_TIMEOUTRXM), 1);
    uint16_t narrow = 0;
    int size = sizeof narrow;
    ASSERT_EQ(ec_SDOread(1, 0x2000, 2, FALSE, &size, &narrow, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(narrow, 0x0C0D);
    EXPECT_FALSE(ec_iserror());
}

TEST_F(SdoTest, NormalAndSegmentedRoundTripsBothWays) {
    // 128-byte mailboxes: 112 bytes fit the first download message, 112 the
    // first upload reply, 119 each segment.
    for (size_t n : {5u, 7u, 100u, 112u, 113u, 119u, 231u, 300u, 515u, 1024u}) {
        const auto data = pattern(n, static_cast<uint8_t>(n));
        EXPECT_EQ(roundTrip(0x2002, 0, data), data) << n << " bytes";
    }
    EXPECT_FALSE(ec_iserror());
}

TEST_F(SdoTest, FramesOnTheWireWhenTheSlaveAnswersAtOnce) {
    // A look at the read mailbox to drop a stale message, the request, the reply.
    auto frames = [this](auto transfer) {
        const uint64_t before = bus_.segment().framesProcessed();
        transfer();
        return bus_.segment().framesProcessed() - before;
    };
    uint32_t value = 0;
    int size = sizeof value;
    EXPECT_EQ(frames([&] { ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, EC_TIMEOUTRXM); }), 3u);
    EXPECT_EQ(value, 0x33333333u);
    EXPECT_EQ(frames([&] { ec_SDOwrite(1, 0x2000, 3, FALSE, 4, &value, EC_TIMEOUTRXM); }), 3u);
    // 300 bytes: 112 with the initiate reply, then two segments of a request and a reply each.
    const auto text = pattern(300, 9);
    ASSERT_EQ(ec_SDOwrite(1, 0x2002, 0, FALSE, 300, text.data(), EC_TIMEOUTRXM), 1);
    std::vector<uint8_t> back(400);
    size = static_cast<int>(back.size());
    EXPECT_EQ(frames([&] { ec_SDOread(1, 0x2002, 0, FALSE, &size, back.data(), EC_TIMEOUTRXM); }),
              3u + 2 * 2);
    back.resize(static_cast<size_t>(size));
    EXPECT_EQ(back, text);
    EXPECT_FALSE(ec_iserror());
}

TEST_F(SdoTest, CompleteAccessReadsAndWritesAWholeObject) {
    uint8_t buffer[64] = {};
    int size = sizeof buffer;
    ASSERT_EQ(ec_SDOread(1, 0x1600, 0, TRUE, &size, buffer, EC_TIMEOUTRXM), 1);
    ASSERT_EQ(size, 2 + 6 * 4);
    EXPECT_EQ(buffer[0], 6);
    EXPECT_EQ(ecat::get32(&buffer[2]), 0x70000120u);
    EXPECT_EQ(ecat::get32(&buffer[22]), 0x70000620u);

    const uint8_t cleared[] = {0, 0};  // subindex 0 = 0: the assignment is emptied
    ASSERT_EQ(ec_SDOwrite(1, 0x1C12, 0, TRUE, sizeof cleared, cleared, EC_TIMEOUTRXM), 1);
    uint8_t count = 0xFF;
    size = 1;
    ASSERT_EQ(ec_SDOread(1, 0x1C12, 0, FALSE, &size, &count, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(count, 0);
}

TEST_F(SdoTest, AbortsReturnZeroAndLeaveTheAbortCodeInTheErrorList) {
    uint32_t value = 0;
    int size = sizeof value;
    struct Case {
        int result;
        const char* text;
    };
    const uint32_t one = 1;
    const std::string tooLong(1100, 'x');
    const uint32_t eleven = 11;
    const Case cases[] = {
        {ec_SDOread(1, 0x3000, 0, FALSE, &size, &value, EC_TIMEOUTRXM),
         "SDO slave:1 index:3000.00 error:06020000"},
        {ec_SDOread(1, 0x2000, 9, FALSE, &size, &value, EC_TIMEOUTRXM),
         "SDO slave:1 index:2000.09 error:06090011"},
        {ec_SDOwrite(1, 0x1018, 1, FALSE, 4, &one, EC_TIMEOUTRXM),
         "SDO slave:1 index:1018.01 error:06010002"},
        {ec_SDOread(1, 0x2001, 0, FALSE, &size, &value, EC_TIMEOUTRXM),
         "SDO slave:1 index:2001.00 error:06010001"},
        {ec_SDOwrite(1, 0x2002, 0, FALSE, static_cast<int>(tooLong.size()), tooLong.data(),
                     EC_TIMEOUTRXM),
         "SDO slave:1 index:2002.00 error:06070012"},
        {ec_SDOwrite(1, 0x6060, 0, FALSE, 4, &eleven, EC_TIMEOUTRXM),
         "SDO slave:1 index:6060.00 error:06090030"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, 0) << c.text;
        ASSERT_TRUE(ec_iserror());
        const std::string text = nextErrorText();
        EXPECT_EQ(text.rfind("Time:", 0), 0u) << text;
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_EQ(text.back(), '\n');
    }
    EXPECT_FALSE(ec_iserror());
    EXPECT_EQ(size, 4) << "a failed read leaves the size alone";
}

TEST_F(SdoTest, ATooSmallBufferIsAPacketErrorAndNothingIsCopied) {
    const auto data = pattern(200, 3);
    ASSERT_EQ(ec_SDOwrite(1, 0x2002, 0, FALSE, 200, data.data(), EC_TIMEOUTRXM), 1);
    std::vector<uint8_t> small(127, 0xEE);
    int size = 127;
    EXPECT_EQ(ec_SDOread(1, 0x2002, 0, FALSE, &size, small.data(), EC_TIMEOUTRXM), 0);
    EXPECT_EQ(size, 127);
    EXPECT_EQ(small, std::vector<uint8_t>(127, 0xEE));
    EXPECT_NE(nextErrorText().find("PACKET slave:1 index:2002.00 error:3"), std::string::npos);

    uint8_t one = 0;
    size = 1;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &one, EC_TIMEOUTRXM), 0);
    EXPECT_EQ(size, 1);
    EXPECT_NE(nextErrorText().find("PACKET slave:1 index:2000.03 error:3"), std::string::npos);
}

TEST_F(SdoTest, AReplyThatNeverComesEndsInTimeoutWithoutAnEntry) {
    device_->swallowRequests(true);
    uint32_t value = 0;
    int size = sizeof value;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, 50000), EC_TIMEOUT);
    EXPECT_EQ(ec_SDOwrite(1, 0x2000, 3, FALSE, 4, &value, 50000), EC_TIMEOUT);
    EXPECT_FALSE(ec_iserror());
    device_->swallowRequests(false);
    EXPECT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(value, 0x33333333u);
}

TEST_F(SdoTest, AnEmergencyDuringTheWaitIsLoggedAndTheTransferGoesOn) {
    device_->emergencyBeforeNextReply(0x8130);
    uint32_t value = 0;
    int size = sizeof value;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(value, 0x33333333u);
    ec_errort e{};
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Etype, EC_ERR_TYPE_EMERGENCY);
    EXPECT_EQ(e.Slave, 1);
    EXPECT_EQ(e.ErrorCode, 0x8130);
    EXPECT_EQ(e.ErrorReg, 0x01);
    EXPECT_EQ(e.b1, 1);
    EXPECT_EQ(e.w1, 0x0302);
    EXPECT_FALSE(ec_iserror()) << "reported once";
}

TEST_F(SdoTest, AnotherProtocolGetsAMailboxErrorInTheList) {
    ec_mbxbuft mbx{};
    mbx[0] = 10;               // length
    mbx[5] = 0x04 | (1 << 4);  // FoE, counter 1
    ASSERT_EQ(ec_mbxsend(1, &mbx, EC_TIMEOUTTXM), 1);
    EXPECT_EQ(ec_mbxreceive(1, &mbx, 50000), EC_TIMEOUT) << "an error is no reply";
    const std::string text = nextErrorText();
    EXPECT_NE(text.find("MBX slave:1 error:0002"), std::string::npos) << text;
}

TEST_F(SdoTest, ATimeoutBoundsTheWholeTransfer) {
    const auto data = pattern(1024, 9);
    ASSERT_EQ(ec_SDOwrite(1, 0x2002, 0, FALSE, 1024, data.data(), EC_TIMEOUTRXM), 1);
    // Every frame comes back 1 ms late. The upload is an initiate and 8
    // segments, each at least 2 frames: 18 ms in all, yet no part takes 10.
    bus_.segment().setDelay(std::chrono::microseconds(1000));
    std::vector<uint8_t> back(1024, 0xEE);
    int size = static_cast<int>(back.size());
    EXPECT_LE(ec_SDOread(1, 0x2002, 0, FALSE, &size, back.data(), 10000), 0);
    EXPECT_EQ(size, 1024) << "a failed read leaves the size alone";
    EXPECT_LE(ec_SDOwrite(1, 0x2002, 0, FALSE, 1024, data.data(), 10000), 0);
    drainErrors();
    EXPECT_EQ(ec_SDOread(1, 0x2002, 0, FALSE, &size, back.data(), EC_TIMEOUTRXM), 1);
    EXPECT_EQ(back, data);
}

// Whether `frame` carries an initiate-upload message for index:subindex at the
// mailbox at `address`: a request written to it, or a reply read from it.
bool CarriesUpload(std::span<const uint8_t> frame, ecat::Cmd cmd, uint16_t address, uint16_t index,
                   uint8_t subindex) {
    std::vector<uint8_t> copy(frame.begin(), frame.end());
    for (const ecat::Datagram& d : ecat::parseFrame(copy).datagrams) {
        const auto m = d.payload();
        if (d.cmd() != cmd || d.ado() != address || d.wkc() == 0 ||
            m.size() <= ecat::sdo::SubindexOffset) {
            continue;
        }
        if ((m[ecat::sdo::CommandOffset] & ecat::sdo::SpecifierMask) ==
                ecat::sdo::CcsInitiateUpload &&
            ecat::get16(&m[ecat::sdo::IndexOffset]) == index &&
            m[ecat::sdo::SubindexOffset] == subindex) {
            return true;
        }
    }
    return false;
}

TEST_F(SdoTest, UnderLossAReplyIsTakenOnlyForItsOwnRequest) {
    const uint16_t writeMailbox = ec_slave[1].mbx_wo;
    const uint16_t readMailbox = ec_slave[1].mbx_ro;
    int requestsToLose = 3;
    int repliesToLose = 0;
    bus_.segment().loseWhen([&](std::span<const uint8_t> frame) {
        if (requestsToLose > 0 && CarriesUpload(frame, ecat::Cmd::FPWR, writeMailbox, 0x1018, 1)) {
            --requestsToLose;
            return true;
        }
        if (repliesToLose > 0 && CarriesUpload(frame, ecat::Cmd::FPRD, readMailbox, 0x1018, 1)) {
            --repliesToLose;
            return true;
        }
        return false;
    });
    // The request reached the slave each time; its confirmations were lost.
    uint32_t value = 0;
    int size = sizeof value;
    EXPECT_EQ(ec_SDOread(1, 0x1018, 1, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(value, 0x0A3Eu);
    EXPECT_EQ(requestsToLose, 0) << "the confirmations were not all lost";

    // A request that never seems to arrive, but did, and the reply that the
    // next transfer's clean-up fetched lost on the way back: the slave offers
    // it again while the next transfer waits for its own.
    requestsToLose = 1000;
    repliesToLose = 1;
    value = 0;
    size = sizeof value;
    EXPECT_LE(ec_SDOread(1, 0x1018, 1, FALSE, &size, &value, 20000), 0);
    requestsToLose = 0;
    size = sizeof value;
    EXPECT_EQ(ec_SDOread(1, 0x1018, 4, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
    EXPECT_EQ(value, 0x0001E240u) << "not the value of 0x1018:01";
    EXPECT_EQ(repliesToLose, 0);
    drainErrors();
}

TEST_F(SdoTest, SlavesWithoutMailboxOrOutOfRangeFailWithoutTraffic) {
    uint32_t value = 0;
    int size = sizeof value;
    EXPECT_EQ(ec_SDOread(2, 0x1000, 0, FALSE, &size, &value, EC_TIMEOUTRXM), 0);
    EXPECT_EQ(ec_SDOwrite(2, 0x1000, 0, FALSE, 4, &value, EC_TIMEOUTRXM), 0);
    EXPECT_EQ(ec_SDOread(3, 0x1000, 0, FALSE, &size, &value, EC_TIMEOUTRXM), 0);
    EXPECT_EQ(ec_SDOread(0, 0x1000, 0, FALSE, &size, &value, EC_TIMEOUTRXM), 0);
    EXPECT_FALSE(ec_iserror());
}

// A wire that loses, once armed, the first frame that fetched a message from
// a read mailbox: the slave has given the message up, the master never saw it.
// With `repeatWritesToLose`, the repeat requests that follow are lost on their
// way back too (the slave has taken them).
class LosingWire : public ecmaster::FrameProcessor {
  public:
    explicit LosingWire(std::shared_ptr<ecsim::Segment> segment) : segment_(std::move(segment)) {}
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        ecmaster::Delivery delivery = segment_->process(frame);
        const auto parsed = ecat::parseFrame(frame);
        if (!parsed.ok()) return delivery;
        for (const ecat::Datagram& d : parsed.datagrams) {  // the frame may carry more
            const bool readsMailbox = d.cmd() == ecat::Cmd::FPRD && d.ado() == kReadMailbox;
            if (readsMailbox && ((armed && d.wkc() > 0) || losePoll)) {
                armed = false;
                losePoll = false;
                ++lost;
                delivery.lost = true;
            } else if (!armed && d.cmd() == ecat::Cmd::FPWR && d.ado() == ECT_REG_SM1ACT &&
                       repeatWritesToLose > 0) {
                --repeatWritesToLose;
                ++lost;
                delivery.lost = true;
            } else if (!armed && parsed.datagrams.size() == 1 && d.cmd() == ecat::Cmd::FPRD &&
                       d.ado() == ECT_REG_SM1STAT && statusReadsToLose > 0) {
                --statusReadsToLose;
                ++lost;
                delivery.lost = true;
            }
        }
        return delivery;
    }
    static constexpr uint16_t kReadMailbox = 0x1080;
    std::atomic<bool> armed{false};     // loses the next frame that reads a message
    std::atomic<bool> losePoll{false};  // loses the next frame that reads the read mailbox
    std::atomic<int> repeatWritesToLose{0};
    // Then loses the reads of SM1's status alone (as a busy machine answers too late).
    std::atomic<int> statusReadsToLose{0};
    std::atomic<int> lost{0};

  private:
    std::shared_ptr<ecsim::Segment> segment_;
};

// A slave that answers each request with the next prepared message, right or wrong.
class ScriptedDevice : public ecsim::Device {
  public:
    void onMailbox(std::span<const uint8_t>, ecsim::MailboxOutbox& out) override {
        if (replies.empty()) return;
        out.post(replies.front());
        replies.pop_front();
    }
    std::deque<std::vector<uint8_t>> replies;
};

// An SDO message as a slave sends it: CoE `service`, command byte, then `body`.
std::vector<uint8_t> sdoReply(uint16_t service, uint8_t command, std::vector<uint8_t> body) {
    std::vector<uint8_t> m(std::max<size_t>(9 + body.size(), 16), 0);
    m[5] = 0x03 | (1 << 4);
    m[7] = static_cast<uint8_t>(service << 4);
    m[8] = command;
    std::copy(body.begin(), body.end(), m.begin() + 9);
    ecat::put16(m.data(), static_cast<uint16_t>(m.size() - 6));
    return m;
}
std::vector<uint8_t> initiateUpload(uint32_t total) {  // normal, index 0x2000:01, no data
    return sdoReply(3, 0x41, {0x00, 0x20, 0x01, uint8_t(total), uint8_t(total >> 8), 0, 0});
}
std::vector<uint8_t> uploadSegment(uint8_t command, size_t bytes) {
    auto m = sdoReply(3, command, std::vector<uint8_t>(std::max<size_t>(bytes, 7), 0x77));
    ecat::put16(m.data(), static_cast<uint16_t>(3 + std::max<size_t>(bytes, 7)));
    return m;
}

TEST(SdoMisbehavingSlave, CannotOverrunTheBufferPassOffAnAbortOrStallTheTransfer) {
    testsupport::VirtualBus bus("ZR12");
    auto device = std::make_unique<ScriptedDevice>();
    auto& replies = device->replies;
    replies.push_back(initiateUpload(10));       // announces 10 bytes ...
    replies.push_back(uploadSegment(0x01, 14));  // ... and sends 14
    replies.push_back(sdoReply(3, 0x80, {0x00, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06}));  // abort
    replies.push_back(initiateUpload(10));
    replies.push_back(uploadSegment(0x11, 10));  // complete, but the toggle must start at 0
    replies.push_back(initiateUpload(20));
    for (int i = 0; i < 50; ++i) replies.push_back(uploadSegment(0x00 | (7 << 1), 0));  // empty
    bus.segment().replaceDevice(1, std::move(device));
    ASSERT_GT(ec_init(bus.name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 1);
    ASSERT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
    drainErrors();

    std::vector<uint8_t> buffer(32, 0xEE);
    int size = 10;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 1, FALSE, &size, buffer.data(), EC_TIMEOUTRXM), 0);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 10, buffer.end()),
              std::vector<uint8_t>(22, 0xEE));
    EXPECT_NE(nextErrorText().find("PACKET slave:1 index:2000.01 error:1"), std::string::npos);

    uint32_t value = 0;
    size = sizeof value;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 1, FALSE, &size, &value, EC_TIMEOUTRXM), 0)
        << "an abort is never a success, whatever service it says";
    EXPECT_NE(nextErrorText().find("SDO slave:1 index:2000.01 error:06020000"), std::string::npos);

    size = 32;
    EXPECT_EQ(ec_SDOread(1, 0x2000, 1, FALSE, &size, buffer.data(), EC_TIMEOUTRXM), 0);
    EXPECT_NE(nextErrorText().find("PACKET"), std::string::npos) << "wrong toggle";

    EXPECT_EQ(ec_SDOread(1, 0x2000, 1, FALSE, &size, buffer.data(), EC_TIMEOUTRXM), 0);
    EXPECT_NE(nextErrorText().find("PACKET"), std::string::npos) << "empty segment";
    EXPECT_FALSE(ec_iserror());
}

TEST(SdoRepeat, AReplyLostOnTheWayBackIsFetchedAgainByTheRepeatRequest) {
    std::string error;
    auto segment = std::make_shared<ecsim::Segment>(*ecsim::parseSlaveList("ZR12", &error));
    auto device = std::make_unique<CoeTestDevice>();
    device->od().addU32(0x2000, 3, 0x33333333);
    device->od().addString(0x2002, 0, std::string(300, 'r'), Access::ReadOnly);
    segment->replaceDevice(1, std::move(device));
    auto wire = std::make_shared<LosingWire>(segment);
    ecmaster::attachVirtualWire("h3losing", wire);
    ASSERT_GT(ec_init("h3losing"), 0);
    ASSERT_EQ(ec_config_init(FALSE), 1);
    ASSERT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);

    // 0x2000:03 read in full; false (with the failures said) otherwise.
    auto readsWord = [] {
        uint32_t value = 0;
        int size = sizeof value;
        EXPECT_EQ(ec_SDOread(1, 0x2000, 3, FALSE, &size, &value, EC_TIMEOUTRXM), 1);
        EXPECT_EQ(value, 0x33333333u);
        return value == 0x33333333u;
    };
    wire->armed = true;
    EXPECT_TRUE(readsWord());
    EXPECT_EQ(wire->lost.load(), 1);

    wire->armed = true;  // this time the first part of a segmented upload
    std::vector<char> text(400, 0);
    int size = static_cast<int>(text.size());
    EXPECT_EQ(ec_SDOread(1, 0x2002, 0, FALSE, &size, text.data(), EC_TIMEOUTRXM), 1);
    EXPECT_EQ(std::string(text.data(), static_cast<size_t>(size)), std::string(300, 'r'));
    EXPECT_EQ(wire->lost.load(), 2);

    wire->armed = true;  // and the repeat request twice: it is written again, within the timeout
    wire->repeatWritesToLose = 2;
    EXPECT_TRUE(readsWord());
    EXPECT_EQ(wire->lost.load(), 5);

    // The reply lost, and the look at SM1's status that follows too: the doubt
    // stays until the status is known, and the repeat still brings it back.
    wire->armed = true;
    wire->statusReadsToLose = 1;
    EXPECT_TRUE(readsWord());
    EXPECT_EQ(wire->lost.load(), 7);
    EXPECT_FALSE(ec_iserror());

    // A lost look at an empty mailbox: the repeat it calls for brings back the
    // reply read before, which is not taken for a new message.
    wire->losePoll = true;
    ec_mbxbuft mbx{};
    EXPECT_EQ(ec_mbxreceive(1, &mbx, 20000), EC_TIMEOUT);
    EXPECT_EQ(wire->lost.load(), 8);
    EXPECT_TRUE(readsWord());
    ec_close();
    ecmaster::detachVirtualWire("h3losing");
}

}  // namespace

// A power-cycled slave comes back with a fresh mailbox: its sync managers
// cleared until it is configured again, and its messages counted from the
// start. Neither may cost the first transfers after it is back.
TEST(SdoRepeat, APowerCycledSlavesMailboxStartsAfresh) {
    std::string error;
    auto segment = std::make_shared<ecsim::Segment>(*ecsim::parseSlaveList("ZR12", &error));
    auto wire = std::make_shared<LosingWire>(segment);
    ecmaster::attachVirtualWire("h3cycled", wire);
    ASSERT_GT(ec_init("h3cycled"), 0);
    ASSERT_EQ(ec_config_init(FALSE), 1);
    static uint8_t ioMap[256];
    ec_config_map(ioMap);  // so that it can go up to SAFE-OP again
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    drainErrors();
    // Uploads by hand until the last message read is counted 1, as the first
    // message of the slave after its power cycle will be.
    for (int i = 0; i < 8; ++i) {
        ec_mbxbuft request{};
        ec_mbxbuft reply{};
        ec_slave[1].mbx_cnt = ecat::mbx::nextCounter(ec_slave[1].mbx_cnt);
        ecat::sdo::putCommand(request, ecat::sdo::InitiateLength, ec_slave[1].mbx_cnt,
                              ecat::coe::ServiceSdoRequest, ecat::sdo::CcsInitiateUpload);
        ecat::sdo::putAddress(request, 0x1008, 0);
        ASSERT_GT(ec_mbxsend(1, &request, EC_TIMEOUTRXM), 0);
        ASSERT_GT(ec_mbxreceive(1, &reply, EC_TIMEOUTRXM), 0);
        if (ecat::mbx::parseHeader(reply)->counter == 1) break;
        ASSERT_LT(i, 7) << "no reply counted 1";
    }
    char name[128] = {};
    int size = 0;

    segment->powerOff(1);
    segment->powerOn(1);
    ASSERT_GT(ec_recover_slave(1, EC_TIMEOUTRET3), 0);
    // Addressed again, its sync managers not yet set up: the mailbox area is
    // plain memory, and its zeros are no mailbox error message.
    size = sizeof name - 1;
    EXPECT_LE(ec_SDOread(1, 0x1008, 0, FALSE, &size, name, 20000), 0);
    EXPECT_FALSE(ec_iserror()) << nextErrorText();

    ASSERT_EQ(ec_reconfig_slave(1, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    // A lost look at its empty mailbox calls for a repeat of nothing; the
    // slave's first new message, counted 1 again, is no repeat of the last
    // one read before the power cycle.
    wire->losePoll = true;
    ec_mbxbuft mbx{};
    EXPECT_EQ(ec_mbxreceive(1, &mbx, 20000), EC_TIMEOUT);
    EXPECT_EQ(wire->lost.load(), 1);
    std::memset(name, 0, sizeof name);
    size = sizeof name - 1;
    EXPECT_EQ(ec_SDOread(1, 0x1008, 0, FALSE, &size, name, EC_TIMEOUTRXM), 1);
    EXPECT_STREQ(name, "Torvanelix ZR12");
    EXPECT_FALSE(ec_iserror()) << nextErrorText();
    ec_close();
    ecmaster::detachVirtualWire("h3cycled");
}
