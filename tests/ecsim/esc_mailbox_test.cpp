// Mailbox sync managers: full/empty handshake, refusals without working
// counter, repeated messages, repeat request.
#include <gtest/gtest.h>

#include <memory>

#include "ecsim/device.hpp"
#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

// Answers every message with its own payload, marked, and keeps what it got.
class EchoDevice : public ecsim::Device {
  public:
    void onMailbox(std::span<const uint8_t> message, ecsim::MailboxOutbox& out) override {
        received.emplace_back(message.begin(), message.end());
        std::vector<uint8_t> reply(message.begin(), message.end());
        reply.push_back(0xEE);
        ecat::put16(reply.data(), static_cast<uint16_t>(reply.size() - 6));
        out.post(reply);
        if (oversized) out.post(std::vector<uint8_t>(200, 0x11));
    }
    std::vector<std::vector<uint8_t>> received;
    bool oversized = false;
};

class Mailbox : public ::testing::Test {
  protected:
    Mailbox() : seg(*ecsim::parseSlaveList("ZR12", nullptr)) {
        auto d = std::make_unique<EchoDevice>();
        device = d.get();
        seg.replaceDevice(1, std::move(d));
        assignStations(seg);
        setUpBridgeMailbox(seg, 1);
        requestState(seg, 1, al::PreOp);
    }
    // A full-length write of the write mailbox: header (length, counter) + payload.
    static std::vector<uint8_t> message(uint8_t counter, std::vector<uint8_t> payload) {
        std::vector<uint8_t> m(128, 0);
        ecat::put16(&m[0], static_cast<uint16_t>(payload.size()));
        m[5] = static_cast<uint8_t>(0x03 | (counter << 4));  // CoE
        std::copy(payload.begin(), payload.end(), m.begin() + 6);
        return m;
    }
    Reply send(uint8_t counter, std::vector<uint8_t> payload) {
        return exchange(seg, req(Cmd::FPWR, station(1), 0x1000, message(counter, payload)));
    }
    Reply receive() { return exchange(seg, req(Cmd::FPRD, station(1), 0x1080, 128)); }
    bool readMailboxFull() { return read16(seg, 1, 0x080D) & ecat::sm::StatusMailboxFull; }

    ecsim::Segment seg;
    EchoDevice* device = nullptr;
};

TEST_F(Mailbox, MessageGoesToTheDeviceTrimmedAndTheReplyComesBack) {
    EXPECT_FALSE(readMailboxFull());
    EXPECT_EQ(receive().wkc, 0);  // empty: refused
    EXPECT_EQ(send(1, {1, 2, 3}).wkc, 1);
    ASSERT_EQ(device->received.size(), 1u);
    EXPECT_EQ(device->received[0].size(), 9u);  // header + 3 bytes, not the whole area
    EXPECT_TRUE(readMailboxFull());
    const auto r = receive();
    EXPECT_EQ(r.wkc, 1);
    EXPECT_EQ(ecat::get16(r.data.data()), 4);
    EXPECT_EQ(std::vector<uint8_t>(r.data.begin() + 6, r.data.begin() + 10),
              (std::vector<uint8_t>{1, 2, 3, 0xEE}));
    EXPECT_EQ(r.data[10], 0);  // zero-filled behind the message
    EXPECT_FALSE(readMailboxFull());
    EXPECT_EQ(receive().wkc, 0);
}

TEST_F(Mailbox, WriteMailboxIsFullUntilTheProcessorTakesTheMessage) {
    // Two writes in one frame: the second finds the mailbox full.
    const auto replies = exchange(seg, {req(Cmd::FPWR, station(1), 0x1000, message(1, {7})),
                                        req(Cmd::FPRD, station(1), 0x0805, 1),
                                        req(Cmd::FPWR, station(1), 0x1000, message(2, {8}))});
    EXPECT_EQ(replies[0].wkc, 1);
    EXPECT_TRUE(replies[1].data[0] & ecat::sm::StatusMailboxFull);
    EXPECT_EQ(replies[2].wkc, 0);
    EXPECT_EQ(device->received.size(), 1u);
    EXPECT_FALSE(read16(seg, 1, 0x0805) & ecat::sm::StatusMailboxFull);
}

TEST_F(Mailbox, PartialWriteDoesNotCompleteAndRepeatedCounterIsDropped) {
    const auto m = message(3, {5});
    exchange(seg,
             req(Cmd::FPWR, station(1), 0x1000, std::vector<uint8_t>(m.begin(), m.begin() + 64)));
    EXPECT_TRUE(device->received.empty());
    send(3, {5});
    EXPECT_EQ(device->received.size(), 1u);
    receive();
    send(3, {5});  // the master resent a frame it thought lost
    EXPECT_EQ(device->received.size(), 1u);
    EXPECT_EQ(receive().wkc, 0);
    send(4, {6});
    EXPECT_EQ(device->received.size(), 2u);
}

TEST_F(Mailbox, RepeatRequestPostsTheLastMessageAgain) {
    send(1, {9});
    auto first = receive();
    ASSERT_EQ(first.wkc, 1);  // the master lost this frame, say
    EXPECT_EQ(receive().wkc, 0);
    // Toggle the repeat request (0x080E bit 1), then wait for the acknowledge.
    const uint16_t smStatus = read16(seg, 1, 0x080D);
    write16(seg, 1, 0x080D, static_cast<uint16_t>(smStatus ^ 0x0200));
    EXPECT_EQ(read16(seg, 1, 0x080F) & 0x02, 0x02);
    const auto again = receive();
    EXPECT_EQ(again.wkc, 1);
    EXPECT_EQ(again.data, first.data);
    // Toggled back: acknowledged again, same message once more.
    write16(seg, 1, 0x080D, smStatus & 0xFF00);
    EXPECT_EQ(read16(seg, 1, 0x080F) & 0x02, 0x00);
    EXPECT_EQ(receive().data, first.data);
}

TEST_F(Mailbox, RepliesLeaveOneAtATimeAndOversizedOnesBecomeAnError) {
    device->oversized = true;
    send(1, {1});
    EXPECT_EQ(ecat::get16(receive().data.data()), 2);  // the echo first
    const auto error = receive();
    ASSERT_EQ(error.wkc, 1);
    EXPECT_EQ(error.data[5] & 0x0F, 0);         // mailbox error
    EXPECT_EQ(ecat::get16(&error.data[8]), 8);  // invalid size
    EXPECT_EQ(receive().wkc, 0);
}

// A master that writes without reading fills the slave's few reply buffers;
// then the write mailbox stays full and further writes are refused.
TEST_F(Mailbox, AFloodOfRequestsIsHeldBackNotQueued) {
    int accepted = 0;
    for (int i = 0; i < 100; ++i) {
        accepted += send(static_cast<uint8_t>(i % 7 + 1), {static_cast<uint8_t>(i)}).wkc;
    }
    // One reply in the read mailbox and a full queue behind it; one request
    // waits in the write mailbox.
    const size_t queued = ecsim::Slave::kQueuedMailboxReplies;
    EXPECT_EQ(device->received.size(), 1 + queued);
    EXPECT_EQ(accepted, static_cast<int>(2 + queued));
    // Nothing accepted is lost: as the replies are read the waiting request is taken.
    int replies = 0;
    while (receive().wkc == 1) ++replies;
    EXPECT_EQ(replies, accepted);
    EXPECT_EQ(device->received.size(), 2 + queued);
}

TEST_F(Mailbox, ClosedInInitAndForgottenOnTheWayDown) {
    send(1, {1});
    requestState(seg, 1, al::Init);  // the reply is pending
    setUpBridgeMailbox(seg, 1);      // enabled again, but the processor keeps it closed
    EXPECT_EQ(send(2, {2}).wkc, 0);
    requestState(seg, 1, al::PreOp);
    EXPECT_EQ(receive().wkc, 0);  // nothing left over
    // The counter starts afresh after INIT: counter 1 is a new message again.
    EXPECT_EQ(send(1, {3}).wkc, 1);
    EXPECT_EQ(device->received.size(), 2u);
}

}  // namespace
