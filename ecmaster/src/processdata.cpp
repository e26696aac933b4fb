// Cyclic process data: one LRW frame per segment of a group's image (LRD and
// LWR when a slave refuses LRW), the reference clock's system time riding in
// the first frame when DC is on. Only one thread exchanges process data.
//
// A group's frames are built once, for the shape of its mapping, and each
// cycle only takes their index and data: the cycle costs little more than the
// wire. They are built again when the mapping changes (a new ec_config_map, a
// changed DC reference, LRW refused).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "port.hpp"

namespace {

using ecmaster::detail::FrameIndex;
using ecmaster::detail::releaseIndex;

// What of a group's mapping its frames are built from.
struct Shape {
    uint8* outputs = nullptr;
    uint32 logstartaddr = 0;
    uint32 Obytes = 0;
    uint32 Ibytes = 0;
    uint8 blockLRW = 0;
    uint16 dcSlave = 0;  // 0: no DC time in the frames
    uint16 dcAddress = 0;
    uint16 nsegments = 0;
    std::array<uint32, EC_MAXIOSEGMENTS> segments{};
};

// The slave whose DC time rides in the group's frames; 0 when none does.
uint16 dcSlaveOf(const ec_groupt& g) {
    return g.hasdc && g.DCnext > 0 && g.DCnext < EC_MAXSLAVE ? g.DCnext : 0;
}

Shape shapeOf(const ec_groupt& g) {
    Shape s;
    s.outputs = g.outputs;
    s.logstartaddr = g.logstartaddr;
    s.Obytes = g.Obytes;
    s.Ibytes = g.Ibytes;
    s.blockLRW = g.blockLRW;
    s.dcSlave = dcSlaveOf(g);
    if (s.dcSlave != 0) s.dcAddress = ec_slave[s.dcSlave].configadr;
    s.nsegments = std::min<uint16>(g.nsegments, EC_MAXIOSEGMENTS);
    std::copy_n(g.IOsegment, s.nsegments, s.segments.begin());
    return s;
}

// shapeOf(g) == s, without building and comparing a whole Shape each cycle.
bool hasShape(const ec_groupt& g, const Shape& s) {
    const uint16 dc = dcSlaveOf(g);
    return g.outputs == s.outputs && g.logstartaddr == s.logstartaddr && g.Obytes == s.Obytes &&
           g.Ibytes == s.Ibytes && g.blockLRW == s.blockLRW && dc == s.dcSlave &&
           (dc == 0 || ec_slave[dc].configadr == s.dcAddress) &&
           std::min<uint16>(g.nsegments, EC_MAXIOSEGMENTS) == s.nsegments &&
           std::equal(g.IOsegment, g.IOsegment + s.nsegments, s.segments.begin());
}

// One frame of a group, built: which part of the image its logical datagram
// carries, and where its datagrams are.
struct Frame {
    std::vector<uint8_t> bytes;  // padded, ready to send but for index and data
    ecat::Cmd cmd = ecat::Cmd::LRW;
    uint32_t offset = 0;  // from the group's logical start = from its image start
    uint16_t length = 0;
    size_t dcAt = 0;  // header of the DC time's FRMW; 0 when the frame has none
    static constexpr size_t kLogicalAt = ecat::kEthHeaderSize + ecat::kEcatHeaderSize;
};

struct GroupFrames {
    Shape shape;
    bool built = false;
    std::vector<Frame> frames;
    // The frames on their way this cycle: indexes into `frames` and the frame
    // indexes they were sent with.
    std::array<size_t, EC_MAXBUF> sent{};
    std::array<int, EC_MAXBUF> index{};
    size_t count = 0;
};

std::array<GroupFrames, EC_MAXGROUP> groups;

// A piece of the image that one logical datagram carries.
struct Piece {
    ecat::Cmd cmd;
    uint32_t offset;
    uint32_t length;
};

// Cuts [from, to) of the image at the group's segment boundaries.
template <typename Fn>
void forEachPiece(const Shape& s, uint32_t from, uint32_t to, ecat::Cmd cmd, Fn&& fn) {
    uint32_t start = 0;
    for (uint16_t k = 0; k < s.nsegments; ++k) {
        const uint32_t end = start + s.segments[k];
        const uint32_t a = std::max(start, from);
        const uint32_t b = std::min(end, to);
        if (a < b) fn(Piece{cmd, a, b - a});
        start = end;
    }
}

// The group's frames for `shape`, their index and data left for each cycle.
std::vector<Frame> build(const Shape& shape) {
    std::vector<Frame> frames;
    // The reference clock's time rides in the first frame with room for it.
    bool dcPending = shape.dcSlave != 0;
    auto add = [&](const Piece& piece) {
        if (frames.size() >= EC_MAXBUF) return;
        ecat::FrameBuilder builder;
        if (builder.addLogical(piece.cmd, 0, shape.logstartaddr + piece.offset,
                               static_cast<uint16_t>(piece.length)) < 0) {
            return;
        }
        Frame f;
        f.cmd = piece.cmd;
        f.offset = piece.offset;
        f.length = static_cast<uint16_t>(piece.length);
        if (dcPending) {
            const int at =
                builder.add(ecat::Cmd::FRMW, 0, shape.dcAddress, ECT_REG_DCSYSTIME, sizeof(int64));
            if (at >= 0) {  // the reference reads it, every other DC slave adopts it
                f.dcAt = static_cast<size_t>(at) - ecat::kDatagramHeaderSize;
                dcPending = false;
            }
        }
        const auto bytes = builder.finish();
        f.bytes.assign(bytes.begin(), bytes.end());
        frames.push_back(std::move(f));
    };
    const uint32_t total = shape.Obytes + shape.Ibytes;
    if (shape.blockLRW == 0) {
        forEachPiece(shape, 0, total, ecat::Cmd::LRW, add);
    } else {
        forEachPiece(shape, shape.Obytes, total, ecat::Cmd::LRD, add);
        forEachPiece(shape, 0, shape.Obytes, ecat::Cmd::LWR, add);
    }
    return frames;
}

void dropInFlight(GroupFrames& group) {
    for (size_t k = 0; k < group.count; ++k) releaseIndex(group.index[k]);
    group.count = 0;
}

// The logical datagram of a returned frame and the DC time behind it, where the
// frame was built with them; null when it came back in another shape.
struct Returned {
    uint8_t* logical = nullptr;
    const uint8_t* dcTime = nullptr;
};

Returned check(const Frame& f, std::span<uint8_t> frame) {
    // The port took the frame as the answer to ours after walking its
    // datagrams (each lies whole within the frame): the first one's header
    // says whether it is still ours, and whether the DC time's follows.
    if (frame.size() < Frame::kLogicalAt + ecat::kDatagramHeaderSize) return {};
    const ecat::Datagram d(frame.data() + Frame::kLogicalAt);
    if (d.cmd() != f.cmd || d.length() != f.length) return {};
    Returned r{frame.data() + Frame::kLogicalAt, nullptr};
    if (f.dcAt != 0 && (ecat::get16(r.logical + 6) & 0x8000) != 0) {
        const ecat::Datagram dc(frame.data() + f.dcAt);
        if (dc.cmd() == ecat::Cmd::FRMW && dc.length() == sizeof(int64)) r.dcTime = dc.data();
    }
    return r;
}

}  // namespace

int ec_send_processdata_group(uint8 group) {
    if (group >= EC_MAXGROUP) return 0;
    GroupFrames& frames = groups[group];
    dropInFlight(frames);  // a send without its receive: those frames are given up
    const ec_groupt& g = ec_group[group];
    if (g.Obytes + g.Ibytes == 0 || g.outputs == nullptr) return 0;
    if (!frames.built || !hasShape(g, frames.shape)) {
        frames.shape = shapeOf(g);
        frames.frames = build(frames.shape);
        frames.built = true;
    }
    for (size_t k = 0; k < frames.frames.size(); ++k) {
        Frame& f = frames.frames[k];
        FrameIndex idx(0);
        if (!idx.valid()) continue;  // every index busy: that frame misses this cycle
        uint8_t* logical = f.bytes.data() + Frame::kLogicalAt;
        logical[1] = idx.tag();
        std::memcpy(logical + ecat::kDatagramHeaderSize, g.outputs + f.offset, f.length);
        if (f.dcAt != 0) f.bytes[f.dcAt + 1] = idx.tag();
        // A frame the NIC refused is waited for all the same, as any lost frame.
        ecmaster::detail::sendTaggedFrame(idx.get(), f.bytes);
        frames.sent[frames.count] = k;
        frames.index[frames.count] = idx.keep();  // released when received or given up
        ++frames.count;
    }
    return 1;
}

int ec_receive_processdata_group(uint8 group, int timeout) {
    if (group >= EC_MAXGROUP) return EC_NOFRAME;
    GroupFrames& frames = groups[group];
    const ec_groupt& g = ec_group[group];
    int wkcSum = 0;
    bool any = false;
    std::array<uint8_t, EC_BUFSIZE> buffer;  // room for a whole frame: received into directly
    for (size_t k = 0; k < frames.count; ++k) {
        const Frame& f = frames.frames[frames.sent[k]];
        size_t length = 0;
        const int result = ecmaster::detail::waitFrame(frames.index[k], buffer, length, timeout);
        if (result == EC_NOFRAME || length == 0) continue;
        const Returned r = check(f, {buffer.data(), length});
        if (r.logical == nullptr) continue;
        const ecat::Datagram d(r.logical);
        // Only the input part is copied back: the outputs come back unchanged,
        // and the application may already have written the next ones.
        if (f.cmd != ecat::Cmd::LWR) {
            const uint32_t from = std::max<uint32_t>(f.offset, g.Obytes);
            const uint32_t to = f.offset + f.length;
            if (from < to) std::memcpy(g.outputs + from, d.data() + (from - f.offset), to - from);
        }
        wkcSum += f.cmd == ecat::Cmd::LWR ? 2 * d.wkc() : d.wkc();
        any = true;
        if (r.dcTime != nullptr) {
            __atomic_store_n(ecx_context.DCtime, static_cast<int64>(ecat::get64(r.dcTime)),
                             __ATOMIC_RELEASE);
        }
    }
    dropInFlight(frames);
    return any ? wkcSum : EC_NOFRAME;
}

int ec_send_processdata(void) {
    return ec_send_processdata_group(0);
}

int ec_receive_processdata(int timeout) {
    return ec_receive_processdata_group(0, timeout);
}
