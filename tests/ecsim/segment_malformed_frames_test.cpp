// Frames no master should send: cut short, lying lengths, the largest datagram
// a length field allows, logical addresses at the top of the address space,
// mailbox messages with absurd lengths. The segment must stay within its
// buffers (run under ASan) and keep answering the good frames after them.
#include <gtest/gtest.h>

#include <random>

#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

// The most data one datagram can carry within the 11-bit EtherCAT length.
constexpr size_t kLargestDatagram = 0x07FF - ecat::kDatagramHeaderSize - ecat::kWkcSize;

// A frame with one datagram of `length` bytes, however large.
std::vector<uint8_t> oneDatagram(Cmd cmd, uint16_t adp, uint16_t ado, size_t length, uint8_t fill) {
    std::vector<uint8_t> f(ecat::kEthHeaderSize + ecat::kEcatHeaderSize +
                               ecat::kDatagramHeaderSize + length + ecat::kWkcSize,
                           fill);
    std::fill(f.begin(), f.begin() + 6, 0xFF);
    std::copy(ecat::kMasterMac.begin(), ecat::kMasterMac.end(), f.begin() + 6);
    f[12] = 0x88;
    f[13] = 0xA4;
    const size_t content = ecat::kDatagramHeaderSize + length + ecat::kWkcSize;
    ecat::put16(&f[14], static_cast<uint16_t>((ecat::kEcatTypeDatagrams << 12) | content));
    uint8_t* d = &f[16];
    d[0] = static_cast<uint8_t>(cmd);
    d[1] = 0;
    ecat::put16(d + 2, adp);
    ecat::put16(d + 4, ado);
    ecat::put16(d + 6, static_cast<uint16_t>(length));
    ecat::put16(d + 8, 0);
    ecat::put16(d + ecat::kDatagramHeaderSize + length, 0);
    return f;
}

uint16_t wkcOf(const std::vector<uint8_t>& frame) {
    return ecat::get16(&frame[frame.size() - ecat::kWkcSize]);
}

class MalformedFrames : public ::testing::Test {
  protected:
    MalformedFrames() : seg(*ecsim::parseSlaveList("ZR12,IO,ZR02", nullptr)) {
        assignStations(seg);
        setUpBridgeMailbox(seg, 1);
        EXPECT_EQ(requestState(seg, 1, al::PreOp).status, al::PreOp);
    }
    uint16_t countSlaves() { return exchange(seg, req(Cmd::BRD, 0, reg::Type, 2)).wkc; }
    ecsim::Segment seg;
};

TEST_F(MalformedFrames, ReadWriteDatagramOfTheLargestLengthStaysInTheSlave) {
    // Every slave takes it (APRW counts read and write: 3) and hands on the
    // memory it held, not the 0xA5 it was given.
    for (const uint16_t ado : {uint16_t{0x1800}, uint16_t{0xFC00}}) {
        auto frame = oneDatagram(Cmd::BRW, 0, ado, kLargestDatagram, 0xA5);
        ASSERT_FALSE(seg.process(frame).lost);
        EXPECT_EQ(wkcOf(frame), 3 * 3) << std::hex << ado;
    }
    auto frame = oneDatagram(Cmd::APRW, 0, 0x1800, kLargestDatagram, 0x5A);
    ASSERT_FALSE(seg.process(frame).lost);
    EXPECT_EQ(wkcOf(frame), 3);
    EXPECT_EQ(frame[16 + ecat::kDatagramHeaderSize], 0xA5);  // what the BRW left there
    EXPECT_EQ(countSlaves(), 3);
}

TEST_F(MalformedFrames, LogicalRangeAcrossTheTopOfTheAddressSpaceMapsOnlyWhatOverlaps) {
    // The IO's outputs at the last 2 logical bytes; a datagram from 6 bytes
    // below the top reaches them with its last two bytes and nothing beyond.
    setUpIoProcessData(seg, 2, 0xFFFFFFFE, 0x100);
    ASSERT_EQ(requestState(seg, 2, al::PreOp).status, al::PreOp);
    ASSERT_EQ(requestState(seg, 2, al::SafeOp).status, al::SafeOp);
    auto w = exchange(seg, logical(Cmd::LWR, 0xFFFFFFFA, {1, 2, 3, 4, 0x34, 0x12}));
    EXPECT_EQ(w.wkc, 1);
    auto r = exchange(seg, req(Cmd::FPRD, station(2), 0x1000, 2));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0x34, 0x12}));
    // Starting at the very last byte, running 4 bytes "past" 2^32: only one byte maps.
    EXPECT_EQ(exchange(seg, logical(Cmd::LWR, 0xFFFFFFFF, {0x99, 7, 7, 7})).wkc, 1);
    EXPECT_EQ(exchange(seg, req(Cmd::FPRD, station(2), 0x1000, 2)).data,
              (std::vector<uint8_t>{0x34, 0x99}));
}

TEST_F(MalformedFrames, MailboxMessageWithAHugeLengthIsTakenAsFarAsTheMailboxGoes) {
    std::vector<uint8_t> message(128, 0);
    ecat::put16(&message[0], 0xFFFF);   // far more than the mailbox holds
    message[5] = 0x03 | (1 << 4);       // CoE, counter 1
    ecat::put16(&message[6], 2 << 12);  // SDO request
    message[8] = 0x40;                  // initiate upload
    ecat::put16(&message[9], 0x1000);
    ASSERT_EQ(exchange(seg, req(Cmd::FPWR, station(1), 0x1000, message)).wkc, 1);
    const auto reply = exchange(seg, req(Cmd::FPRD, station(1), 0x1080, 128));
    ASSERT_EQ(reply.wkc, 1);
    EXPECT_EQ(reply.data[5] & 0x0F, 0x03);
    EXPECT_EQ(reply.data[8], 0x43);  // expedited upload response, 4 bytes
    EXPECT_EQ(ecat::get32(&reply.data[12]), 0x00020192u);
}

TEST_F(MalformedFrames, RandomAndTruncatedFramesNeitherCrashNorStopTheSegment) {
    std::mt19937 random(20261207);
    auto pick = [&](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(random);
    };
    // Addresses where something happens: registers, mailboxes, process RAM and
    // the ends of both address spaces.
    const std::vector<uint16_t> offsets{0x0000, 0x0120, 0x0500, 0x0502, 0x0600, 0x0800,
                                        0x0900, 0x0910, 0x0FF0, 0x1000, 0x1080, 0x1100,
                                        0x1180, 0x2FF0, 0xFFF0, 0xFFFF};
    const std::vector<uint16_t> objects{0x1000, 0x1008, 0x1018, 0x1C12, 0x1600, 0x6040, 0x6060,
                                        0x607A, 0x6098, 0x6099, 0x60F6, 0x60FE, 0x70FE, 0xF511,
                                        0xF540, 0xF550, 0xF570, 0xF571, 0xF581, 0xF591};
    // The last bridge runs process data at logical 0 (outputs) and 24 (inputs),
    // so random logical datagrams drive its axes as well.
    setUpBridgeMailbox(seg, 3);
    ASSERT_EQ(requestState(seg, 3, al::PreOp).status, al::PreOp);
    setUpBridgeProcessData(seg, 3, 0, 24);
    ASSERT_EQ(requestState(seg, 3, al::SafeOp).status, al::SafeOp);
    ASSERT_EQ(requestState(seg, 3, al::Op).status, al::Op);
    for (int n = 0; n < 4000; ++n) {
        std::vector<uint8_t> frame(ecat::kEthHeaderSize + ecat::kEcatHeaderSize);
        std::fill(frame.begin(), frame.begin() + 6, 0xFF);
        frame[6] = 0x01;
        frame[12] = 0x88;
        frame[13] = 0xA4;
        const size_t datagrams = pick(1, 4);
        for (size_t i = 0; i < datagrams; ++i) {
            // First the bridges' mailboxes (SDO requests with random fields,
            // reads of the replies) and the process data while the set-up
            // stands; then mostly anything, which soon wrecks the set-up.
            const uint32_t shape = n < 2000 ? pick(1, 3) : pick(0, 5);
            size_t length = pick(0, 9) == 0 ? pick(0, kLargestDatagram) : pick(0, 140);
            if (shape == 1 || shape == 2) length = 128;
            std::vector<uint8_t> d(ecat::kDatagramHeaderSize + length + ecat::kWkcSize);
            for (auto& b : d) b = static_cast<uint8_t>(pick(0, 255));
            uint8_t* data = &d[ecat::kDatagramHeaderSize];
            switch (shape) {
                case 1:
                case 2:
                    d[0] = static_cast<uint8_t>(shape == 1 ? Cmd::FPWR : Cmd::FPRD);
                    ecat::put16(&d[2], station(pick(0, 1) == 0 ? 1 : 3));
                    ecat::put16(&d[4], shape == 1 ? 0x1000 : 0x1080);
                    data[5] = static_cast<uint8_t>(0x03 | (pick(1, 7) << 4));
                    ecat::put16(&data[6], 2 << 12);
                    if (pick(0, 1) == 0) {
                        ecat::put16(&data[9], objects[pick(0, objects.size() - 1)]);
                        data[11] = static_cast<uint8_t>(pick(0, 12));
                    }
                    break;
                case 3:
                    d[0] = static_cast<uint8_t>(pick(10, 12));  // LRD, LWR, LRW
                    ecat::put32(&d[2], pick(0, 60));
                    break;
                default:
                    d[0] = static_cast<uint8_t>(pick(0, 15));
                    if (pick(0, 1) == 0) ecat::put16(&d[4], offsets[pick(0, offsets.size() - 1)]);
                    if (pick(0, 3) == 0) {
                        ecat::put16(&d[2], static_cast<uint16_t>(0xFFF0 + pick(0, 15)));
                    }
                    break;
            }
            ecat::put16(&d[6], static_cast<uint16_t>(length | (i + 1 < datagrams ? 0x8000 : 0)));
            frame.insert(frame.end(), d.begin(), d.end());
        }
        const size_t content = frame.size() - ecat::kEthHeaderSize - ecat::kEcatHeaderSize;
        ecat::put16(&frame[14], static_cast<uint16_t>((1 << 12) | (content & 0x07FF)));
        switch (pick(0, 5)) {
            case 0:
                frame.resize(pick(0, static_cast<uint32_t>(frame.size())));  // cut short
                break;
            case 1:
                frame[14] = static_cast<uint8_t>(pick(0, 255));  // a lying EtherCAT length
                frame[15] = static_cast<uint8_t>((frame[15] & 0xF8) | pick(0, 7));
                break;
            default:
                break;
        }
        std::vector<uint8_t> copy = frame;
        const bool good = ecat::parseFrame(copy).ok();
        const auto delivery = seg.process(frame);
        ASSERT_EQ(delivery.lost, !good) << "frame " << n;
        if (pick(0, 50) == 0) seg.tick();
    }
    // Whatever the frames did to the slaves' settings, they are all still there
    // and a master can start over with them.
    EXPECT_EQ(countSlaves(), 3);
    EXPECT_EQ(exchange(seg, req(Cmd::BWR, 0, reg::AlControl, le16(al::Init | al::ErrorFlag))).wkc,
              3);
    assignStations(seg);
    EXPECT_EQ(requestState(seg, 2, al::Init).status, al::Init);
}

}  // namespace
