// The blocking datagram primitives of the single-context API.
#include "datagrams.hpp"

#include <array>
#include <cstring>

#include "port.hpp"

namespace ecmaster::detail {

bool fitInOneFrame(std::span<const DatagramPart> parts) {
    size_t bytes = ecat::kEthHeaderSize + ecat::kEcatHeaderSize;
    for (const DatagramPart& d : parts) {
        bytes += ecat::kDatagramHeaderSize + d.length + ecat::kWkcSize;
    }
    return !parts.empty() && bytes <= ecat::kMaxFrameSize;
}

int datagramsInOneFrame(std::span<DatagramPart> parts, int timeout) {
    for (DatagramPart& d : parts) d.wkc = EC_NOFRAME;
    if (!fitInOneFrame(parts)) return EC_NOFRAME;
    const FrameIndex idx(timeout);
    if (!idx.valid()) return EC_NOFRAME;
    ecat::FrameBuilder b;
    std::array<int, 8> offsets{};
    if (parts.size() > offsets.size()) return EC_NOFRAME;
    for (size_t i = 0; i < parts.size(); ++i) {
        const DatagramPart& d = parts[i];
        std::span<const uint8_t> payload;
        if (d.data != nullptr && d.length > 0)
            payload = {static_cast<const uint8_t*>(d.data), d.length};
        offsets[i] = b.add(d.cmd, idx.tag(), d.adp, d.ado, d.length, payload);
        if (offsets[i] < 0) return EC_NOFRAME;
    }
    std::array<uint8_t, EC_BUFSIZE> in;
    size_t got = 0;
    if (roundTrip(idx.get(), b.finish(), in, got, timeout) == EC_NOFRAME) return EC_NOFRAME;
    for (size_t i = 0; i < parts.size(); ++i) {
        DatagramPart& d = parts[i];
        const size_t end = static_cast<size_t>(offsets[i]) + d.length;
        if (got < end + ecat::kWkcSize) continue;  // cut short: as if lost
        d.wkc = ecat::get16(&in[end]);
        if (d.wkc > 0 && d.copyBack && d.data != nullptr) {
            std::memcpy(d.data, in.data() + offsets[i], d.length);
        }
    }
    return parts.back().wkc;
}

int datagram(ecat::Cmd cmd, uint16_t adp, uint16_t ado, uint16_t length, void* data, int timeout,
             bool copyBack) {
    if (length > ecat::kMaxDatagramData) return EC_NOFRAME;
    DatagramPart one{cmd, adp, ado, length, data, copyBack};
    return datagramsInOneFrame({&one, 1}, timeout);
}

}  // namespace ecmaster::detail

using ecat::Cmd;
using ecmaster::detail::datagram;
using ecmaster::detail::datagramLogical;

namespace {

uint16 readWord(Cmd cmd, uint16 adp, uint16 ado, int timeout) {
    uint8 w[2] = {0, 0};
    datagram(cmd, adp, ado, 2, w, timeout, true);
    return ecat::get16(w);
}

int writeWord(Cmd cmd, uint16 adp, uint16 ado, uint16 data, int timeout) {
    uint8 w[2];
    std::memcpy(w, &data, 2);  // raw bytes: the caller passes an LE value
    return datagram(cmd, adp, ado, 2, w, timeout, false);
}

}  // namespace

extern "C" {

int ec_BWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::BWR, ADP, ADO, length, data, timeout, false);
}
int ec_BRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::BRD, ADP, ADO, length, data, timeout, true);
}
int ec_APRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::APRD, ADP, ADO, length, data, timeout, true);
}
int ec_ARMW(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::ARMW, ADP, ADO, length, data, timeout, true);
}
int ec_FRMW(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::FRMW, ADP, ADO, length, data, timeout, true);
}
uint16 ec_APRDw(uint16 ADP, uint16 ADO, int timeout) {
    return readWord(Cmd::APRD, ADP, ADO, timeout);
}
int ec_FPRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::FPRD, ADP, ADO, length, data, timeout, true);
}
uint16 ec_FPRDw(uint16 ADP, uint16 ADO, int timeout) {
    return readWord(Cmd::FPRD, ADP, ADO, timeout);
}
int ec_APWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout) {
    return writeWord(Cmd::APWR, ADP, ADO, data, timeout);
}
int ec_APWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::APWR, ADP, ADO, length, data, timeout, false);
}
int ec_FPWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout) {
    return writeWord(Cmd::FPWR, ADP, ADO, data, timeout);
}
int ec_FPWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    return datagram(Cmd::FPWR, ADP, ADO, length, data, timeout, false);
}
int ec_LRW(uint32 LogAdr, uint16 length, void* data, int timeout) {
    return datagramLogical(Cmd::LRW, LogAdr, length, data, timeout, true);
}
int ec_LRD(uint32 LogAdr, uint16 length, void* data, int timeout) {
    return datagramLogical(Cmd::LRD, LogAdr, length, data, timeout, true);
}
int ec_LWR(uint32 LogAdr, uint16 length, void* data, int timeout) {
    return datagramLogical(Cmd::LWR, LogAdr, length, data, timeout, false);
}

int ecx_FPWRw(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 data, int timeout) {
    if (port == nullptr) return EC_NOFRAME;
    return ec_FPWRw(ADP, ADO, data, timeout);
}
int ecx_FPWR(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    if (port == nullptr) return EC_NOFRAME;
    return ec_FPWR(ADP, ADO, length, data, timeout);
}
int ecx_FPRD(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout) {
    if (port == nullptr) return EC_NOFRAME;
    return ec_FPRD(ADP, ADO, length, data, timeout);
}

}  // extern "C"
