// The master's transport: frame indexes, sending and receiving whole frames on
// the open NIC (AF_PACKET raw socket, or the in-process virtual wire).
//
// Internal API for the other modules of the library (datagrams, mailbox,
// process data). Everything here is thread-safe: several threads may wait on
// different indexes at once; frames may return out of order and each is handed
// to the thread waiting for its index. Each frame goes onto the wire whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "ethercat.h"

// The one port of the single-context API; ecx_context.port points at it.
extern ecx_portt ecx_port;

namespace ecmaster::detail {

// A free frame index 0..EC_MAXBUF-1, marked in use until releaseIndex(). Never
// blocks: returns -1 when all EC_MAXBUF indexes are in use (callers report
// EC_NOFRAME then). The search starts after the last index handed out.
int allocIndex();
void releaseIndex(int idx);
// As allocIndex(), but when all indexes are in use waits up to `timeoutUs` for
// one to be released (many threads at once). -1 when none came free.
int allocIndexWait(int timeoutUs);
// The index byte the datagrams of a frame sent with the allocated `idx` carry
// on the wire: the index and the generation of this allocation. A frame built
// with it goes out from the caller's buffer; any other is copied and tagged.
uint8_t indexTag(int idx);

// A frame index held while a frame built with it is on its way, released when
// the holder goes out of scope unless keep() handed it on.
class FrameIndex {
  public:
    // As allocIndexWait(timeoutUs); invalid when none came free.
    explicit FrameIndex(int timeoutUs) : idx_(allocIndexWait(timeoutUs)), tag_(indexTag(idx_)) {}
    ~FrameIndex() { releaseIndex(idx_); }
    FrameIndex(const FrameIndex&) = delete;
    FrameIndex& operator=(const FrameIndex&) = delete;

    bool valid() const { return idx_ >= 0; }
    int get() const { return idx_; }
    uint8_t tag() const { return tag_; }  // as datagrams carry it (indexTag())
    // Hands the index to the caller, who releases it with releaseIndex().
    int keep() { return std::exchange(idx_, -1); }

  private:
    int idx_;
    uint8_t tag_;
};

// Sends a complete Ethernet frame (header included, as ecat::FrameBuilder
// builds it; padded to 60 bytes here if shorter) whose datagrams carry `idx`
// or indexTag(idx). Non-blocking. Clears any frame previously received for
// `idx`. False when the port is closed, `idx` is not allocated, or the NIC
// refused the frame.
bool sendFrame(int idx, std::span<const uint8_t> frame);

// As sendFrame(), for a frame the caller built ready to go: padded, and every
// datagram carrying indexTag(idx). Nothing is checked or copied on the way.
bool sendTaggedFrame(int idx, std::span<const uint8_t> frame);

// Waits up to `timeoutUs` for the frame sent with `idx` to come back. Copies it
// (Ethernet header included, its datagrams carrying `idx` again) into `out`
// (truncated to out.size()) and sets
// `length` to the bytes copied. Result: wkc of the LAST datagram in the frame,
// or EC_NOFRAME when nothing came back in time (length = 0 then). A frame that
// came back is consumed by this call.
int waitFrame(int idx, std::span<uint8_t> out, size_t& length, int timeoutUs);

// The blocking pattern of SOEM's primitives (ec_APRD, ec_FPWR, ...): send
// `frame`, wait min(timeoutUs, EC_TIMEOUTRET); re-send while nothing came back
// and `timeoutUs` has not run out. Result as waitFrame. A frame that returns
// with wkc 0 is not retried.
int roundTrip(int idx, std::span<const uint8_t> frame, std::span<uint8_t> out, size_t& length,
              int timeoutUs);

// True between a successful ec_init() and ec_close().
bool portOpen();

// ---- used by ec_init / ec_close (lifecycle.cpp) ----
// Opens `ifname` (already stripped of "\Device\NPF_"): an attached virtual wire
// of that name, else a raw socket on the interface. False on failure.
bool openPort(const std::string& ifname);
void closePort();

}  // namespace ecmaster::detail
