#include "segment_frames.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace ecsim_test {

using ecat::Cmd;

std::vector<Reply> exchange(ecsim::Segment& segment, std::initializer_list<Request> requests) {
    ecat::FrameBuilder builder;
    std::vector<int> offsets;
    for (const auto& r : requests) {
        const int at =
            builder.add(r.cmd, 0x42, r.adp, r.ado, static_cast<uint16_t>(r.data.size()), r.data);
        EXPECT_GE(at, 0) << "datagram does not fit";
        offsets.push_back(at);
    }
    const auto sent = builder.finish();
    std::vector<uint8_t> frame(sent.begin(), sent.end());
    const auto delivery = segment.process(frame);
    std::vector<Reply> replies;
    auto parsed = ecat::parseFrame(frame);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    for (size_t i = 0; i < parsed.datagrams.size(); ++i) {
        const auto& d = parsed.datagrams[i];
        Reply reply;
        reply.lost = delivery.lost;
        reply.wkc = d.wkc();
        reply.adp = d.adp();
        reply.data.assign(d.data(), d.data() + d.length());
        reply.frame = frame;
        replies.push_back(std::move(reply));
    }
    return replies;
}

Reply exchange(ecsim::Segment& segment, const Request& request) {
    auto replies = exchange(segment, {request});
    return replies.empty() ? Reply{} : replies.front();
}

std::vector<uint8_t> le16(uint16_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}
std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

uint16_t station(size_t position) {
    return static_cast<uint16_t>(0x1000 + position);
}

uint16_t read16(ecsim::Segment& s, size_t position, uint16_t ado) {
    const auto r = exchange(s, req(Cmd::FPRD, station(position), ado, 2));
    EXPECT_EQ(r.wkc, 1) << "FPRD 0x" << std::hex << ado;
    return r.data.size() == 2 ? ecat::get16(r.data.data()) : 0;
}

void write16(ecsim::Segment& s, size_t position, uint16_t ado, uint16_t value) {
    writeBytes(s, position, ado, le16(value));
}

void writeBytes(ecsim::Segment& s, size_t position, uint16_t ado, std::vector<uint8_t> bytes) {
    const auto r = exchange(s, req(Cmd::FPWR, station(position), ado, std::move(bytes)));
    EXPECT_EQ(r.wkc, 1) << "FPWR 0x" << std::hex << ado;
}

void assignStations(ecsim::Segment& segment) {
    for (size_t p = 1; p <= segment.slaveCount(); ++p) {
        const auto adp = static_cast<uint16_t>(1 - static_cast<int>(p));
        const auto r =
            exchange(segment, req(Cmd::APWR, adp, ecat::reg::StationAddress, le16(station(p))));
        EXPECT_EQ(r.wkc, 1);
    }
}

void writeSm(ecsim::Segment& s, size_t position, size_t sm, uint16_t start, uint16_t length,
             uint8_t control, bool enable) {
    std::vector<uint8_t> block(8, 0);
    ecat::put16(&block[0], start);
    ecat::put16(&block[2], length);
    block[4] = control;
    block[6] = enable ? 1 : 0;
    writeBytes(s, position, static_cast<uint16_t>(ecat::reg::Sm0 + 8 * sm), block);
}

void writeFmmu(ecsim::Segment& s, size_t position, size_t fmmu, uint32_t logicalAddress,
               uint16_t length, uint16_t physical, uint8_t type) {
    std::vector<uint8_t> block(16, 0);
    ecat::put32(&block[0], logicalAddress);
    ecat::put16(&block[4], length);
    block[6] = 0;
    block[7] = 7;
    ecat::put16(&block[8], physical);
    block[11] = type;
    block[12] = 1;
    writeBytes(s, position, static_cast<uint16_t>(ecat::reg::Fmmu0 + 16 * fmmu), block);
}

AlResult requestState(ecsim::Segment& s, size_t position, uint16_t control) {
    write16(s, position, ecat::reg::AlControl, control);
    return {read16(s, position, ecat::reg::AlStatus), read16(s, position, ecat::reg::AlStatusCode)};
}

void setUpBridgeMailbox(ecsim::Segment& s, size_t position) {
    writeSm(s, position, 0, 0x1000, 128, 0x26);
    writeSm(s, position, 1, 0x1080, 128, 0x22);
}

void setUpBridgeProcessData(ecsim::Segment& s, size_t position, uint32_t outputsAt,
                            uint32_t inputsAt) {
    writeSm(s, position, 2, 0x1100, 24, 0x64);
    writeSm(s, position, 3, 0x1180, 24, 0x20);
    writeFmmu(s, position, 0, outputsAt, 24, 0x1100, 2);
    writeFmmu(s, position, 1, inputsAt, 24, 0x1180, 1);
}

void setUpIoProcessData(ecsim::Segment& s, size_t position, uint32_t outputsAt, uint32_t inputsAt) {
    writeSm(s, position, 0, 0x1000, 2, 0x44);
    writeSm(s, position, 1, 0x1100, 2, 0x20);
    writeFmmu(s, position, 0, outputsAt, 2, 0x1000, 2);
    writeFmmu(s, position, 1, inputsAt, 2, 0x1100, 1);
}

}  // namespace ecsim_test
