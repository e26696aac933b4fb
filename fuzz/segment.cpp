// The simulated segment's frame processing: a bridge, an I/O terminal and a
// coupler take the input's frames in turn, as they would from any master, with
// power cycles and forced errors in between. A frame must come back with its
// datagrams where they were; only their contents and counters may change.
//
// Input: records of a kind byte (bits 0-1: 0 or 1 a frame, 2 a power cycle, 3
// a forced SAFE-OP error) and its arguments: a frame's length (u16) and bytes;
// a position (u8) for a power cycle; a position (u8) and code (u16) for an
// error.
#include "ecsim/segment.hpp"

#include <vector>

#include "ecmaster/codec.hpp"
#include "support/byte_reader.hpp"

namespace {

using fuzzsupport::ByteReader;

// Longer than any frame a NIC delivers: the segment must cope with whatever it is handed.
constexpr size_t kMaxFrame = 2048;

struct Layout {
    size_t offset;
    size_t length;
};

std::vector<Layout> layoutOf(std::span<uint8_t> frame) {
    std::vector<Layout> out;
    const ecat::ParsedFrame parsed = ecat::parseFrame(frame);
    for (const ecat::Datagram& d : parsed.datagrams) {
        out.push_back({static_cast<size_t>(d.data() - frame.data()), d.length()});
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ecsim::SlaveSpec bridge;
    bridge.kind = ecsim::SlaveKind::ZR12;
    ecsim::SlaveSpec io;
    io.kind = ecsim::SlaveKind::IO;
    ecsim::SlaveSpec coupler;
    coupler.kind = ecsim::SlaveKind::CPL;
    ecsim::Segment segment({bridge, io, coupler});
    std::vector<bool> powered(segment.slaveCount() + 1, true);

    ByteReader in(data, size);
    while (!in.empty()) {
        const uint8_t kind = in.u8();
        switch (kind & 0x03) {
            case 0:
            case 1: {
                const auto bytes = in.bytes(in.u16() % (kMaxFrame + 1));
                std::vector<uint8_t> frame(bytes.begin(), bytes.end());
                const std::vector<Layout> before = layoutOf(frame);
                const ecmaster::Delivery delivery = segment.process(frame);
                FUZZ_CHECK(frame.size() == bytes.size());
                if (!delivery.lost) {
                    const std::vector<Layout> after = layoutOf(frame);
                    FUZZ_CHECK(after.size() == before.size());
                    for (size_t i = 0; i < after.size(); ++i) {
                        FUZZ_CHECK(after[i].offset == before[i].offset &&
                                   after[i].length == before[i].length);
                    }
                }
                break;
            }
            case 2: {
                const size_t position = 1 + in.u8() % segment.slaveCount();
                if (powered[position]) {
                    segment.powerOff(position);
                } else {
                    segment.powerOn(position);
                }
                powered[position] = !powered[position];
                break;
            }
            default: {
                const size_t position = 1 + in.u8() % segment.slaveCount();
                segment.forceSafeOpError(position, in.u16());
                break;
            }
        }
    }
    return 0;
}
