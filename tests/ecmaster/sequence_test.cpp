// The datagrams ec_config_init sends, recorded on the wire in front of a
// simulated segment, against the sequence SOEM's ec_config_init sends (with the
// late-1.4 16-bit AL control writes).
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ecsim/segment.hpp"
#include "ethercat.h"

namespace {

struct Seen {
    ecat::Cmd cmd;
    uint16_t adp;
    uint16_t ado;
    std::vector<uint8_t> data;
    size_t frameSize;
    std::string text() const {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s %04x %04x len %zu",
                      std::string(ecat::cmdName(cmd)).c_str(), adp, ado, data.size());
        return buf;
    }
};

class Recorder : public ecmaster::FrameProcessor {
  public:
    explicit Recorder(std::shared_ptr<ecsim::Segment> seg) : seg_(std::move(seg)) {}
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        {
            std::lock_guard lk(m_);
            auto parsed = ecat::parseFrame(frame);
            for (auto& d : parsed.datagrams)
                seen_.push_back(
                    {d.cmd(), d.adp(), d.ado(), {d.data(), d.data() + d.length()}, frame.size()});
        }
        return seg_->process(frame);
    }
    std::vector<Seen> seen() {
        std::lock_guard lk(m_);
        return seen_;
    }

  private:
    std::shared_ptr<ecsim::Segment> seg_;
    std::mutex m_;
    std::vector<Seen> seen_;
};

TEST(Sequence, ConfigInitSendsWhatSoemSends) {
    std::string error;
    auto specs = ecsim::parseSlaveList("ZR12,IO", &error);
    ASSERT_TRUE(specs) << error;
    auto rec = std::make_shared<Recorder>(std::make_shared<ecsim::Segment>(*specs));
    ecmaster::attachVirtualWire("seq0", rec);
    ASSERT_GT(ec_init("seq0"), 0);
    ASSERT_EQ(ec_config_init(FALSE), 2);
    ec_close();
    ecmaster::detachVirtualWire("seq0");
    const auto seen = rec->seen();
    ASSERT_GT(seen.size(), 40u);
    for (const auto& s : seen) EXPECT_GE(s.frameSize, 60u) << s.text();

    using ecat::Cmd;
    struct Expect {
        Cmd cmd;
        uint16_t ado;
        std::vector<uint8_t> data;
    };
    const std::vector<Expect> start{
        {Cmd::BWR, 0x0103, {0x00}},
        {Cmd::BWR, 0x0120, {0x11, 0x00}},
        {Cmd::BWR, 0x0120, {0x11, 0x00}},
        {Cmd::BRD, 0x0000, {0x00, 0x00}},
        {Cmd::BWR, 0x0101, {0x00}},
        {Cmd::BWR, 0x0200, {0x04, 0x00}},
        {Cmd::BWR, 0x0300, std::vector<uint8_t>(8, 0)},
        {Cmd::BWR, 0x0600, std::vector<uint8_t>(48, 0)},
        {Cmd::BWR, 0x0800, std::vector<uint8_t>(32, 0)},
        {Cmd::BWR, 0x0981, {0x00}},
        {Cmd::BWR, 0x0910, std::vector<uint8_t>(4, 0)},
        {Cmd::BWR, 0x0930, {0x00, 0x10}},
        {Cmd::BWR, 0x0934, {0x00, 0x0c}},
        {Cmd::BWR, 0x0103, {0x00}},
        {Cmd::BWR, 0x0120, {0x11, 0x00}},
        {Cmd::BWR, 0x0500, {0x02}},
        {Cmd::BWR, 0x0500, {0x00}},
    };
    for (size_t i = 0; i < start.size(); ++i) {
        EXPECT_EQ(seen[i].cmd, start[i].cmd) << i << ": " << seen[i].text();
        EXPECT_EQ(seen[i].ado, start[i].ado) << i << ": " << seen[i].text();
        if (seen[i].cmd != Cmd::BRD) {
            EXPECT_EQ(seen[i].data, start[i].data) << i << ": " << seen[i].text();
        }
    }
    // Slave 1's addressing, then the first EEPROM request (read word 8).
    const std::vector<std::pair<Cmd, uint16_t>> addressing{
        {Cmd::APRD, 0x0140}, {Cmd::APWR, 0x0010}, {Cmd::APWR, 0x0100},
        {Cmd::APRD, 0x0010}, {Cmd::FPRD, 0x0012}, {Cmd::FPRD, 0x0502}};
    size_t k = start.size();
    for (const auto& [cmd, ado] : addressing) {
        ASSERT_LT(k, seen.size());
        EXPECT_EQ(seen[k].cmd, cmd) << seen[k].text();
        EXPECT_EQ(seen[k].ado, ado) << seen[k].text();
        EXPECT_EQ(seen[k].adp, cmd == Cmd::FPRD ? 0x1001 : 0x0000) << seen[k].text();
        if (ado == 0x0010 && cmd == Cmd::APWR) {
            EXPECT_EQ(seen[k].data, (std::vector<uint8_t>{0x01, 0x10}));
        }
        if (ado == 0x0100) {
            EXPECT_EQ(seen[k].data, (std::vector<uint8_t>{0x01, 0x00}));
        }
        ++k;
    }
    bool sawReadWord8 = false;
    for (; k < seen.size() && !sawReadWord8; ++k) {
        if (seen[k].cmd == Cmd::FPWR && seen[k].ado == 0x0502)
            sawReadWord8 = seen[k].adp == 0x1001 &&
                           seen[k].data == std::vector<uint8_t>{0x00, 0x01, 0x08, 0x00, 0x00, 0x00};
    }
    EXPECT_TRUE(sawReadWord8);
    // Slave 2 is addressed at ADP 0xFFFF and gets 0x1002; only slave 1 drops non-EtherCAT frames.
    bool sawSecond = false;
    for (const auto& s : seen) {
        if (s.cmd == Cmd::APWR && s.ado == 0x0010 && s.adp == 0xFFFF)
            sawSecond = s.data == std::vector<uint8_t>{0x02, 0x10};
        if (s.cmd == Cmd::APWR && s.ado == 0x0100 && s.adp == 0xFFFF) {
            EXPECT_EQ(s.data, (std::vector<uint8_t>{0x00, 0x00}));
        }
    }
    EXPECT_TRUE(sawSecond);
    // The bridge's mailbox sync managers in one datagram, then EEPROM to the
    // PDI, then PRE-OP with acknowledge, each as the last steps for that slave.
    std::vector<Seen> tail1;
    for (const auto& s : seen)
        if (s.adp == 0x1001 && (s.cmd == Cmd::FPWR) &&
            (s.ado == 0x0800 || s.ado == 0x0500 || s.ado == 0x0120))
            tail1.push_back(s);
    ASSERT_GE(tail1.size(), 3u);
    const auto& sm = tail1[tail1.size() - 3];
    EXPECT_EQ(sm.ado, 0x0800);
    EXPECT_EQ(sm.data, (std::vector<uint8_t>{0x00, 0x10, 0x80, 0x00, 0x26, 0x00, 0x01, 0x00, 0x80,
                                             0x10, 0x80, 0x00, 0x22, 0x00, 0x01, 0x00}));
    EXPECT_EQ(tail1[tail1.size() - 2].ado, 0x0500);
    EXPECT_EQ(tail1[tail1.size() - 2].data, (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(tail1.back().ado, 0x0120);
    EXPECT_EQ(tail1.back().data, (std::vector<uint8_t>{0x12, 0x00}));
}

}  // namespace
