// Bridge firmware files: Motorola S-record text that a run sends to the bridge's
// loader line by line, bytes as they stand. The loader judges the records; the
// tool only makes sure, before anything is erased, that every line can go whole.
// Pure functions over the file's bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kFirmwareFileMaxBytes = 409600;  // a file this big or bigger is refused
inline constexpr size_t kFirmwareCutBytes = 96;          // one cut takes at most this many bytes
inline constexpr size_t kFirmwareLineLimit = 90;  // bytes before a line feed that no line reaches

struct FirmwareLine {
    enum class Kind {
        Line,     // ends with its line feed
        TooLong,  // 90 bytes or more before its line feed, or 96 without one: never sent
        Unended,  // the data ends before a line feed
        End,      // nothing is left
    };
    Kind kind = Kind::End;
    std::string_view text;  // the bytes taken, the line feed included
    size_t next = 0;        // where the next cut begins
    bool last = false;      // a Line whose line feed is the data's last byte
};

// Cuts the line at `pos` as a run sends it: bytes up to and including a line
// feed, at most 96. Looks at no byte at or past data.size(). The remainder of a
// line cut at 96 bytes is the next cut.
FirmwareLine CutFirmwareLine(std::string_view data, size_t pos);

struct FirmwareFileCheck {
    enum class Fault { None, Empty, TooBig, NulByte, TooLong, Unended };
    Fault fault = Fault::None;
    int line = 0;  // 1-based line of a NulByte, TooLong or Unended fault
};

// Whether a whole file can be sent: not empty, under 409600 bytes, no NUL byte
// (a line would end at it), every line ended by a line feed with fewer than 90
// bytes before it (a longer line would be skipped, the record missing).
FirmwareFileCheck CheckFirmwareFile(std::string_view data);

// What a refusal tells the user ("line 7 holds a NUL byte"); empty for None.
std::string FirmwareFileFaultText(const FirmwareFileCheck& check);
