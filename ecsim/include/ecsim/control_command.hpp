// The fault commands zrsim takes on its control channel, one per line:
//   drop RATE            lose this share (0..1) of frames
//   delay US             return every frame this many microseconds late
//   drop-next N          lose the next N frames
//   power-off POS        switch the slave at position POS off
//   power-on POS         switch it on again (INIT, no station address)
//   safeop-error POS [CODE]   force SAFE-OP with error (code default 0x001B)
//   loader POS FAULT [N [READS]]   a fault of the bridge's firmware loader:
//                        refuse-prgmo, never-ready, late N [READS], mute N,
//                        silent, clear (see FirmwareLoader::Faults)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "ecsim/segment.hpp"

namespace ecsim {

struct ControlCommand {
    enum class Kind { Drop, Delay, DropNext, PowerOff, PowerOn, SafeOpError, Loader };
    enum class LoaderFault { Clear, RefuseProgramMode, NeverReady, Late, Mute, Silent };
    Kind kind = Kind::Drop;
    double rate = 0.0;       // Drop
    uint32_t count = 0;      // Delay (us), DropNext (frames), Loader late/mute (lines)
    size_t position = 0;     // PowerOff, PowerOn, SafeOpError, Loader
    uint16_t code = 0x001B;  // SafeOpError
    LoaderFault fault = LoaderFault::Clear;  // Loader
    uint32_t reads = 15;                     // Loader late: the read that brings the reply
};

// The command, or the reason the line is not one.
std::variant<ControlCommand, std::string> parseControlCommand(std::string_view line);

// Carries out one line: "ok", or "error: ..." when it is malformed or names a
// slave the segment does not have.
std::string runControlLine(Segment& segment, std::string_view line);

}  // namespace ecsim
