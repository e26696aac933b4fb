// Frames per second through a simulated segment of 31 bridges in OP, against
// what a 100 Mbit/s wire can carry of the same frame. A ratio above 1 means the
// simulation keeps up with a real line.
#include <chrono>
#include <cstdio>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/segment.hpp"

namespace {

using ecat::Cmd;
constexpr size_t kBridges = 31;
constexpr size_t kBridgeBytes = 24;

void send(ecsim::Segment& segment, Cmd cmd, uint16_t adp, uint16_t ado, std::vector<uint8_t> data) {
    ecat::FrameBuilder b;
    b.add(cmd, 0, adp, ado, static_cast<uint16_t>(data.size()), data);
    auto bytes = b.finish();
    std::vector<uint8_t> frame(bytes.begin(), bytes.end());
    segment.process(frame);
}

std::vector<uint8_t> block(std::initializer_list<std::pair<size_t, uint32_t>> fields, size_t size) {
    std::vector<uint8_t> out(size, 0);
    for (auto [offset, value] : fields) ecat::put32(&out[offset], value);
    return out;
}

// What a master's configuration leaves behind: addresses, sync managers,
// FMMUs (outputs of all bridges first, then inputs), every bridge in OP.
void bringToOp(ecsim::Segment& segment) {
    const uint32_t inputsAt = kBridges * kBridgeBytes;
    for (size_t p = 1; p <= kBridges; ++p) {
        const auto station = static_cast<uint16_t>(0x1000 + p);
        send(segment, Cmd::APWR, static_cast<uint16_t>(1 - p), ecat::reg::StationAddress,
             {static_cast<uint8_t>(station), static_cast<uint8_t>(station >> 8)});
        send(segment, Cmd::FPWR, station, ecat::reg::Sm0,
             block({{0, 0x00801000},
                    {4, 0x00010026},
                    {8, 0x00801080},
                    {12, 0x00010022},
                    {16, 0x00181100},
                    {20, 0x00010064},
                    {24, 0x00181180},
                    {28, 0x00010020}},
                   32));
        const auto out = static_cast<uint32_t>((p - 1) * kBridgeBytes);
        send(segment, Cmd::FPWR, station, ecat::reg::Fmmu0,
             block({{0, out},
                    {4, 0x07000000 | kBridgeBytes},
                    {8, 0x02001100},
                    {12, 1},
                    {16, inputsAt + out},
                    {20, 0x07000000 | kBridgeBytes},
                    {24, 0x01001180},
                    {28, 1}},
                   32));
        for (uint8_t state : {0x02, 0x04, 0x08}) {
            send(segment, Cmd::FPWR, station, ecat::reg::AlControl, {state, 0});
        }
    }
}

struct Result {
    double framesPerSecond;
    size_t frameSize;
};

Result measure(ecsim::Segment& segment, std::span<const uint8_t> frame) {
    std::vector<uint8_t> work(frame.begin(), frame.end());
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    size_t frames = 0;
    while (Clock::now() - start < std::chrono::milliseconds(700)) {
        for (int i = 0; i < 100; ++i) {
            std::copy(frame.begin(), frame.end(), work.begin());
            segment.process(work);
        }
        frames += 100;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {frames / seconds, frame.size()};
}

// `goal`: the least ratio to the wire the simulation must reach, 0 for none.
void report(const char* what, const Result& r, double goal = 0) {
    // Preamble and start delimiter (8), FCS (4), inter-frame gap (12).
    const double wireFramesPerSecond = 100e6 / (8.0 * static_cast<double>(r.frameSize + 24));
    const double ratio = r.framesPerSecond / wireFramesPerSecond;
    std::printf("%-44s %5zu bytes  %10.0f frames/s  wire %8.0f frames/s  ratio %.2f", what,
                r.frameSize, r.framesPerSecond, wireFramesPerSecond, ratio);
    if (goal > 0) std::printf(" (goal >= %.0f) %s", goal, ratio >= goal ? "OK" : "BELOW GOAL");
    std::printf("\n");
}

}  // namespace

int main() {
    std::vector<ecsim::SlaveSpec> specs(kBridges, ecsim::SlaveSpec{ecsim::SlaveKind::ZR12});
    ecsim::Segment segment(specs);
    segment.setWatchdog(std::chrono::milliseconds(0));
    bringToOp(segment);

    // The first process-data frame as a master sends it: an LRW as long as a
    // frame with the DC datagram allows, plus the FRMW to the reference clock.
    ecat::FrameBuilder lrw;
    lrw.addLogical(Cmd::LRW, 1, 0, 1466);
    lrw.add(Cmd::FRMW, 1, 0x1001, ecat::reg::DcSystemTime, 8);
    const auto lrwFrame = lrw.finish();
    std::vector<uint8_t> check(lrwFrame.begin(), lrwFrame.end());
    segment.process(check);
    const auto parsed = ecat::parseFrame(check);
    // Every bridge takes part, the last one with the first bytes of its inputs.
    std::printf("process-data frame: wkc %u (expected %zu)\n", parsed.datagrams[0].wkc(),
                kBridges * 3);

    ecat::FrameBuilder small;
    small.add(Cmd::FPRD, 2, 0x1010, ecat::reg::AlStatus, 6);
    const auto smallFrame = small.finish();

    report("LRW 1466 bytes + FRMW, 31 bridges", measure(segment, lrwFrame), 4);
    report("FPRD AL status (6 bytes), 31 bridges", measure(segment, smallFrame));
    return 0;
}
