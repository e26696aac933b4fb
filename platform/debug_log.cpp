#include "platform/debug_log.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool DebugLogEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("QUENDREL_DEBUG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void DebugLog(const char* format, ...) {
    if (!DebugLogEnabled()) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // One call per line, so that lines of several threads do not mix.
    std::fprintf(stderr, "%s\n", line);
}
