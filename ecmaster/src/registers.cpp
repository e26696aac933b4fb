// Register access to one slave's controller by its configured station address,
// for the tool's register dialog: context forms and their single-context fronts.
#include "ethercat.h"

namespace {

// The station address of `slave`, or false when the context has no such entry.
bool stationOf(const ecx_contextt* context, uint16 slave, uint16* configadr) {
    if (context == nullptr || context->slavelist == nullptr || slave >= context->maxslave) {
        return false;
    }
    *configadr = context->slavelist[slave].configadr;
    return true;
}

}  // namespace

extern "C" {

int ecx_writeregw(ecx_contextt* context, uint16 slave, uint16 regadr, uint16 value) {
    uint16 station = 0;
    if (!stationOf(context, slave, &station)) return EC_NOFRAME;
    return ecx_FPWRw(context->port, station, regadr, htoes(value), EC_TIMEOUTRET3);
}

int ecx_readregw(ecx_contextt* context, uint16 slave, uint16 regadr, uint16* value) {
    uint16 station = 0;
    if (value == nullptr || !stationOf(context, slave, &station)) return EC_NOFRAME;
    uint16 word = 0;
    const int wkc = ecx_FPRD(context->port, station, regadr, sizeof word, &word, EC_TIMEOUTRET);
    // Without an answer there is no word: the caller's stays as it was.
    if (wkc > 0) *value = etohs(word);
    return wkc;
}

int ecx_writereg(ecx_contextt* context, uint16 slave, uint16 regadr, uint8* data, uint16 length) {
    uint16 station = 0;
    if (data == nullptr || !stationOf(context, slave, &station)) return EC_NOFRAME;
    return ecx_FPWR(context->port, station, regadr, length, data, EC_TIMEOUTRET3);
}

int ecx_readreg(ecx_contextt* context, uint16 slave, uint16 regadr, uint8* data, uint16 length) {
    uint16 station = 0;
    if (data == nullptr || !stationOf(context, slave, &station)) return EC_NOFRAME;
    return ecx_FPRD(context->port, station, regadr, length, data, EC_TIMEOUTRET);
}

int ec_writeregw(uint16 slave, uint16 regadr, uint16 value) {
    return ecx_writeregw(&ecx_context, slave, regadr, value);
}

int ec_readregw(uint16 slave, uint16 regadr, uint16* value) {
    return ecx_readregw(&ecx_context, slave, regadr, value);
}

int ec_writereg(uint16 slave, uint16 regadr, uint8* data, uint16 length) {
    return ecx_writereg(&ecx_context, slave, regadr, data, length);
}

int ec_readreg(uint16 slave, uint16 regadr, uint8* data, uint16 length) {
    return ecx_readreg(&ecx_context, slave, regadr, data, length);
}

}  // extern "C"
