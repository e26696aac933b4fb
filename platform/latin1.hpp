// Device texts are bytes: the user interface's wide text goes to devices as
// Latin-1 (one byte per character up to U+00FF), and device bytes come back the
// same way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Converts `text` into `dest` (`destSize` bytes, at least 1): at most destSize - 1
// bytes and a terminating zero; a longer text is cut. When the part that fits
// holds a character above U+00FF the whole destination becomes the empty text.
// Writes one line to the debug log. Returns the bytes written with the zero, or
// a negative value when the text was cut (-80) or not convertible (-42); callers
// usually ignore it.
int CStringToMultiByte(char* dest, size_t destSize, std::wstring_view text);

// Device bytes (Latin-1) as wide text, one character per byte.
std::wstring Latin1ToWide(std::string_view bytes);
