// Cyclic process data: one LRW frame per segment of a group's image (LRD and
// LWR when a slave refuses LRW), the reference clock's system time riding in
// the first frame when DC is on. Only one thread exchanges process data.
#include <algorithm>
#include <array>
#include <cstring>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "port.hpp"

namespace {

using ecmaster::detail::FrameIndex;
using ecmaster::detail::releaseIndex;

// One frame in flight: which part of the image its logical datagram carries.
struct InFlight {
    int index = -1;
    ecat::Cmd cmd = ecat::Cmd::LRW;
    uint32_t offset = 0;  // from the group's logical start = from its image start
    uint16_t length = 0;
    bool carriesDcTime = false;
};

struct GroupFrames {
    std::array<InFlight, EC_MAXBUF> frames;
    size_t count = 0;
};

std::array<GroupFrames, EC_MAXGROUP> inFlight;

// A piece of the image that one logical datagram carries.
struct Piece {
    ecat::Cmd cmd;
    uint32_t offset;
    uint32_t length;
};

// Cuts [from, to) of the image at the group's segment boundaries.
template <typename Fn>
void forEachPiece(const ec_groupt& g, uint32_t from, uint32_t to, ecat::Cmd cmd, Fn&& fn) {
    uint32_t start = 0;
    for (uint16_t k = 0; k < g.nsegments && k < EC_MAXIOSEGMENTS; ++k) {
        const uint32_t end = start + g.IOsegment[k];
        const uint32_t a = std::max(start, from);
        const uint32_t b = std::min(end, to);
        if (a < b) fn(Piece{cmd, a, b - a});
        start = end;
    }
}

void dropInFlight(GroupFrames& frames) {
    for (size_t k = 0; k < frames.count; ++k) releaseIndex(frames.frames[k].index);
    frames.count = 0;
}

}  // namespace

int ec_send_processdata_group(uint8 group) {
    if (group >= EC_MAXGROUP) return 0;
    GroupFrames& frames = inFlight[group];
    dropInFlight(frames);  // a send without its receive: those frames are given up
    const ec_groupt& g = ec_group[group];
    const uint32_t total = g.Obytes + g.Ibytes;
    if (total == 0 || g.outputs == nullptr) return 0;

    // The reference clock's time rides in the first frame with room for it.
    bool dcPending = g.hasdc && g.DCnext > 0 && g.DCnext < EC_MAXSLAVE;
    auto sendPiece = [&](const Piece& piece) {
        if (frames.count >= frames.frames.size()) return;
        FrameIndex idx(0);
        if (!idx.valid()) return;  // every index busy: that piece misses this cycle
        ecat::FrameBuilder builder;
        const uint8_t* data = g.outputs + piece.offset;
        if (builder.addLogical(piece.cmd, idx.tag(), g.logstartaddr + piece.offset,
                               static_cast<uint16_t>(piece.length), {data, piece.length}) < 0) {
            return;
        }
        InFlight& f = frames.frames[frames.count++];
        f = InFlight{idx.get(), piece.cmd, piece.offset, static_cast<uint16_t>(piece.length),
                     false};
        if (dcPending && builder.add(ecat::Cmd::FRMW, idx.tag(), ec_slave[g.DCnext].configadr,
                                     ECT_REG_DCSYSTIME, sizeof(int64)) >= 0) {
            f.carriesDcTime = true;  // the reference reads it, every other DC slave adopts it
            dcPending = false;
        }
        ecmaster::detail::sendFrame(idx.get(), builder.finish());
        idx.keep();  // released when the frame is received or given up
    };
    if (g.blockLRW == 0) {
        forEachPiece(g, 0, total, ecat::Cmd::LRW, sendPiece);
    } else {
        forEachPiece(g, g.Obytes, total, ecat::Cmd::LRD, sendPiece);
        forEachPiece(g, 0, g.Obytes, ecat::Cmd::LWR, sendPiece);
    }
    return 1;
}

int ec_receive_processdata_group(uint8 group, int timeout) {
    if (group >= EC_MAXGROUP) return EC_NOFRAME;
    GroupFrames& frames = inFlight[group];
    const ec_groupt& g = ec_group[group];
    int wkcSum = 0;
    bool any = false;
    std::array<uint8_t, ecat::kMaxFrameSize> buffer;
    for (size_t k = 0; k < frames.count; ++k) {
        const InFlight& f = frames.frames[k];
        size_t length = 0;
        const int result = ecmaster::detail::waitFrame(f.index, buffer, length, timeout);
        if (result == EC_NOFRAME || length == 0) continue;
        // The logical datagram and the DC time behind it, found without allocating.
        std::array<size_t, 2> at{};
        size_t count = 0;
        const auto problem =
            ecat::forEachDatagram({buffer.data(), length}, [&](size_t pos, size_t) {
                if (count < at.size()) at[count] = pos;
                ++count;
            });
        if (!problem.empty() || count == 0) continue;
        const ecat::Datagram d(buffer.data() + at[0]);
        if (d.cmd() != f.cmd || d.length() != f.length) continue;
        // Only the input part is copied back: the outputs come back unchanged,
        // and the application may already have written the next ones.
        if (f.cmd != ecat::Cmd::LWR) {
            const uint32_t from = std::max<uint32_t>(f.offset, g.Obytes);
            const uint32_t to = f.offset + f.length;
            if (from < to) std::memcpy(g.outputs + from, d.data() + (from - f.offset), to - from);
        }
        wkcSum += f.cmd == ecat::Cmd::LWR ? 2 * d.wkc() : d.wkc();
        any = true;
        if (f.carriesDcTime && count > 1) {
            const auto time =
                static_cast<int64>(ecat::get64(ecat::Datagram(buffer.data() + at[1]).data()));
            __atomic_store_n(ecx_context.DCtime, time, __ATOMIC_RELEASE);
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
