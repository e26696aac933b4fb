#include "tools/slave_registers.hpp"

#include <cstdio>

#include "ethercat.h"
#include "tools/field_number.hpp"

namespace {

// The low 16 bits of a hexadecimal field; false when it holds no number.
bool ReadWordField(const std::wstring& text, uint16_t* word) {
    uint32_t value = 0;
    if (text.empty() || !ReadHexField(text, &value)) return false;
    *word = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

RegisterReadOutcome ReadSlaveRegister(int slaveIndex, const std::wstring& address) {
    uint16_t reg = 0;
    uint16_t slave = 0;
    if (!ReadWordField(address, &reg)) return {kRegisterAddressError, {}};
    if (!ReadSlaveSelection(slaveIndex, &slave)) return {kRegisterSlaveError, {}};
    uint16 word = 0;
    if (ec_readregw(slave, reg, &word) <= 0) return {};
    wchar_t text[8];
    std::swprintf(text, sizeof text / sizeof text[0], L"%04x", word);
    return {{}, text};
}

std::wstring WriteSlaveRegister(int slaveIndex, const std::wstring& address,
                                const std::wstring& value) {
    uint16_t reg = 0;
    uint16_t word = 0;
    uint16_t slave = 0;
    if (!ReadWordField(address, &reg)) return kRegisterAddressError;
    if (!ReadWordField(value, &word)) return kRegisterValueError;
    if (!ReadSlaveSelection(slaveIndex, &slave)) return kRegisterSlaveError;
    ec_writeregw(slave, reg, word);
    return {};
}
