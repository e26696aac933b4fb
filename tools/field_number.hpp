// Texts typed into the device tools' fields: taken as device bytes (Latin-1), then
// read as the program reads numbers ("%d" or "%X"). A text with a character the
// devices cannot take, one too long for the conversion buffer, or one without a
// number, gives none: a field is refused, never read in part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The field's text as device bytes; nothing when it holds a character above
// U+00FF or does not fit the 256-byte conversion buffer.
std::optional<std::string> FieldBytes(std::wstring_view text);

bool ReadDecimalField(std::wstring_view text, int32_t* value);
bool ReadHexField(std::wstring_view text, uint32_t* value);

// The slave that a slave list's selection `listIndex` names (slave number =
// index + 1), when it is one the last scan found: any other would address
// station 0 or a station left from an earlier scan. An empty list (-1) names none.
bool ReadSlaveSelection(int listIndex, uint16_t* slave);
