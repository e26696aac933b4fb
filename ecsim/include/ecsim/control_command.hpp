// The fault commands zrsim takes on its control channel, one per line:
//   drop RATE            lose this share (0..1) of frames
//   delay US             return every frame this many microseconds late
//   drop-next N          lose the next N frames
//   power-off POS        switch the slave at position POS off
//   power-on POS         switch it on again (INIT, no station address)
//   safeop-error POS [CODE]   force SAFE-OP with error (code default 0x001B)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "ecsim/segment.hpp"

namespace ecsim {

struct ControlCommand {
    enum class Kind { Drop, Delay, DropNext, PowerOff, PowerOn, SafeOpError };
    Kind kind = Kind::Drop;
    double rate = 0.0;       // Drop
    uint32_t count = 0;      // Delay (us), DropNext (frames)
    size_t position = 0;     // PowerOff, PowerOn, SafeOpError
    uint16_t code = 0x001B;  // SafeOpError
};

// The command, or the reason the line is not one.
std::variant<ControlCommand, std::string> parseControlCommand(std::string_view line);

// Carries out one line: "ok", or "error: ..." when it is malformed or names a
// slave the segment does not have.
std::string runControlLine(Segment& segment, std::string_view line);

}  // namespace ecsim
