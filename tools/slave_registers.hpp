// Reading and writing one 16-bit register of a slave's controller by its
// register address, as the register dialog ("SlaveMemory") offers it. The fields
// are checked before anything goes to the bus.
#pragma once

#include <string>

inline constexpr wchar_t kRegisterAddressError[] = L"Data Format Error 002!";
inline constexpr wchar_t kRegisterValueError[] = L"Data Format Error 003!";
inline constexpr wchar_t kRegisterSlaveError[] = L"Board Select Error!";

struct RegisterReadOutcome {
    std::wstring message;  // the refusal to show; when set, nothing was read
    std::wstring shown;    // otherwise the word as "%04x", empty when no slave answered
};

// `slaveIndex` is the slave list's selection (slave number - 1); the slave must
// be one the scan found. The address and the value are hexadecimal texts of
// which the low 16 bits count ("10120" is register 0x0120).
RegisterReadOutcome ReadSlaveRegister(int slaveIndex, const std::wstring& address);
// Returns the refusal, or the empty text once the word was sent.
std::wstring WriteSlaveRegister(int slaveIndex, const std::wstring& address,
                                const std::wstring& value);
