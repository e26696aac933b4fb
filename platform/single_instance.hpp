// The one-instance guard: a lock named after the application that the kernel
// releases when the process ends, even on a crash.
#pragma once

#include <string_view>

inline constexpr std::string_view kSingleInstanceName = "__RU__REDEDE";

// Takes the lock `name` (an abstract Unix socket of that name) and holds it until
// the process ends. Returns false when another process (or an earlier call of
// this one) holds it already.
bool AcquireSingleInstanceLock(std::string_view name = kSingleInstanceName);
