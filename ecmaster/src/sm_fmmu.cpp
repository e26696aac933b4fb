#include "sm_fmmu.hpp"

#include <cstring>

namespace ecmaster::detail {

int writeSyncManagers(const ec_slavet& s, int first, int count, int timeout) {
    if (first < 0 || count < 1 || first + count > EC_MAXSM) return 0;
    uint8 image[sizeof(ec_smt) * EC_MAXSM];
    const auto length = static_cast<uint16>(sizeof(ec_smt) * count);
    std::memcpy(image, &s.SM[first], length);
    return ec_FPWR(s.configadr, static_cast<uint16>(ECT_REG_SM0 + sizeof(ec_smt) * first), length,
                   image, timeout);
}

int writeFmmu(const ec_slavet& s, int f, int timeout) {
    if (f < 0 || f >= EC_MAXFMMU) return 0;
    uint8 image[sizeof(ec_fmmut)];
    std::memcpy(image, &s.FMMU[f], sizeof image);
    return ec_FPWR(s.configadr, static_cast<uint16>(ECT_REG_FMMU0 + sizeof(ec_fmmut) * f),
                   sizeof image, image, timeout);
}

}  // namespace ecmaster::detail
