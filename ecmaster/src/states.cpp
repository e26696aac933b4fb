// AL state functions: ec_readstate, ec_writestate, ec_statecheck (AL control
// 0x0120, AL status 0x0130 and its status code 0x0134).
#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "port.hpp"

namespace {

constexpr int kMaxFprdMulti = 64;

// Reads 6 bytes at 0x0130 (status, reserved, status code) of `n` slaves in one
// frame of FPRD datagrams. Each `out` entry is left as sent (zeros) unless the
// frame came back. Result: wkc of the frame or EC_NOFRAME.
int fprdMulti(int n, const uint16* configadr, std::array<uint8_t, 6>* out, int timeout) {
    using namespace ecmaster::detail;
    const FrameIndex idx(timeout);
    if (!idx.valid()) return EC_NOFRAME;
    ecat::FrameBuilder b;
    std::array<int, kMaxFprdMulti> offsets{};
    for (int i = 0; i < n; ++i) {
        offsets[i] = b.add(ecat::Cmd::FPRD, idx.tag(), configadr[i], ECT_REG_ALSTAT, 6, out[i]);
        if (offsets[i] < 0) return EC_NOFRAME;
    }
    std::array<uint8_t, EC_BUFSIZE> in;
    size_t got = 0;
    const int wkc = roundTrip(idx.get(), b.finish(), in, got, timeout);
    if (wkc >= 0) {
        for (int i = 0; i < n; ++i)
            if (got >= static_cast<size_t>(offsets[i]) + 6)
                std::copy_n(in.begin() + offsets[i], 6, out[i].begin());
    }
    return wkc;
}

bool singleState(uint16 s) {
    return s == EC_STATE_INIT || s == EC_STATE_PRE_OP || s == EC_STATE_SAFE_OP ||
           s == EC_STATE_OPERATIONAL;  // not BOOT: it looks like INIT|PRE-OP (late 1.4)
}

}  // namespace

extern "C" {

int ec_readstate(void) {
    uint8 w[2] = {0, 0};
    const int wkc = ec_BRD(0, ECT_REG_ALSTAT, 2, w, EC_TIMEOUTRET);
    const uint16 rval = ecat::get16(w);
    const uint16 bitwise = rval & 0x0F;
    const bool allPresent = wkc >= ec_slavecount && ec_slavecount > 0;
    const bool noError = (rval & EC_STATE_ERROR) == 0;
    if (noError) ec_slave[0].ALstatuscode = 0;
    if (noError && allPresent && singleState(bitwise)) {
        ec_slave[0].state = bitwise;
        for (int s = 1; s <= ec_slavecount; ++s) {
            ec_slave[s].ALstatuscode = 0;
            ec_slave[s].state = bitwise;
        }
        return bitwise;
    }
    ec_slave[0].ALstatuscode = 0;
    uint16 lowest = 0xFF;
    for (int first = 1; first <= ec_slavecount; first += kMaxFprdMulti) {
        const int last = std::min(ec_slavecount, first + kMaxFprdMulti - 1);
        const int n = last - first + 1;
        std::array<uint16, kMaxFprdMulti> adr{};
        std::array<std::array<uint8_t, 6>, kMaxFprdMulti> sl{};
        for (int i = 0; i < n; ++i) adr[i] = ec_slave[first + i].configadr;
        fprdMulti(n, adr.data(), sl.data(), EC_TIMEOUTRET3);
        for (int i = 0; i < n; ++i) {
            ec_slavet& s = ec_slave[first + i];
            const uint16 st = ecat::get16(sl[i].data());
            s.ALstatuscode = ecat::get16(sl[i].data() + 4);
            lowest = std::min<uint16>(lowest, st & 0x0F);
            s.state = st;
            ec_slave[0].ALstatuscode |= s.ALstatuscode;
        }
    }
    ec_slave[0].state = lowest;
    return lowest;
}

int ec_writestate(uint16 slave) {
    if (slave >= EC_MAXSLAVE) return EC_NOFRAME;
    uint8 w[2];
    ecat::put16(w, ec_slave[slave].state);
    if (slave == 0) return ec_BWR(0, ECT_REG_ALCTL, 2, w, EC_TIMEOUTRET3);
    return ec_FPWR(ec_slave[slave].configadr, ECT_REG_ALCTL, 2, w, EC_TIMEOUTRET3);
}

uint16 ec_statecheck(uint16 slave, uint16 reqstate, int timeout) {
    if (slave > ec_slavecount || slave >= EC_MAXSLAVE) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout);
    const uint16 configadr = ec_slave[slave].configadr;
    uint16 rval = 0;
    uint16 state = 0;
    for (;;) {
        if (slave < 1) {
            uint8 w[2] = {0, 0};
            ec_BRD(0, ECT_REG_ALSTAT, 2, w, EC_TIMEOUTRET);
            rval = ecat::get16(w);
        } else {
            uint8 sl[6] = {};
            ec_FPRD(configadr, ECT_REG_ALSTAT, 6, sl, EC_TIMEOUTRET);
            rval = ecat::get16(sl);
            ec_slave[slave].ALstatuscode = ecat::get16(sl + 4);
        }
        state = rval & 0x0F;
        if (state == reqstate || std::chrono::steady_clock::now() >= deadline) break;
        // After the pause the status is read once more, even past the deadline.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ec_slave[slave].state = rval;
    return state;
}

}  // extern "C"
