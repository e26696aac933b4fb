// Bounded printf-style formatting into a std::string, for the fixed texts of the
// logs and the SDO text forms.
#pragma once

#include <cstdio>
#include <string>

template <size_t Capacity = 1024, typename... Args>
std::string FormatText(const char* format, Args... args) {
    char text[Capacity];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}
