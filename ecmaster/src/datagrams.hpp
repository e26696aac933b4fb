// One-datagram round trips as SOEM's blocking primitives (ec_APRD, ec_FPWR, ...)
// make them, for every module.
#pragma once

#include <cstdint>
#include <span>

#include "ecmaster/codec.hpp"
#include "ethercat.h"

namespace ecmaster::detail {

// Sends one datagram carrying `length` bytes of `data` (zeros when null),
// re-sending while nothing comes back within `timeout` us. For `copyBack`
// commands the returned data replaces `data` when wkc > 0; otherwise `data` is
// never written. Result: wkc, or EC_NOFRAME.
int datagram(ecat::Cmd cmd, uint16_t adp, uint16_t ado, uint16_t length, void* data, int timeout,
             bool copyBack);

// One datagram of a frame that carries several (see datagramsInOneFrame()).
struct DatagramPart {
    ecat::Cmd cmd;
    uint16_t adp;
    uint16_t ado;
    uint16_t length;
    void* data;     // as datagram() takes it
    bool copyBack;  // as datagram() takes it
    int wkc = EC_NOFRAME;
};

// Whether `parts` fit in one frame.
bool fitInOneFrame(std::span<const DatagramPart> parts);

// As datagram(), for several datagrams in one frame: the slaves handle them in
// this order as the frame passes. Sets each part's wkc (all EC_NOFRAME when
// nothing came back, or they do not fit in one frame); returns the last one's.
int datagramsInOneFrame(std::span<DatagramPart> parts, int timeout);

inline int datagramLogical(ecat::Cmd cmd, uint32_t logAdr, uint16_t length, void* data, int timeout,
                           bool copyBack) {
    return datagram(cmd, static_cast<uint16_t>(logAdr), static_cast<uint16_t>(logAdr >> 16), length,
                    data, timeout, copyBack);
}

}  // namespace ecmaster::detail
