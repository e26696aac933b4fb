// The one-instance guard: a lock named after the application that the kernel
// releases when the process ends, even on a crash.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kSingleInstanceName = "__RU__REDEDE";

// The file that carries the lock `name`: in the user's runtime directory
// ($XDG_RUNTIME_DIR), else in /tmp.
std::string SingleInstanceLockPath(std::string_view name);

// Takes the lock `name` (an exclusive flock on its file) and holds it until the
// process ends. Returns false when another process (or an earlier call of this
// one) holds it already, or the file cannot be opened. A file lock, unlike an
// abstract socket name, is seen from every network namespace, so a tool started
// in a private namespace still finds the one running outside it.
bool AcquireSingleInstanceLock(std::string_view name = kSingleInstanceName);
