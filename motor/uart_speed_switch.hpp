// The serial speed switch of a bridge and its four motors: first each motor is
// told its new speed by a TQL line, then the bridge's four channels follow. Three
// phases, one per 25 ms tick of the dialog; the request is global, so it goes on
// when the dialog opens again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

extern std::atomic<int32_t> g_baudMode;    // requested speed mode; 0 = no request
extern std::atomic<int32_t> g_baudPhase;   // the phase the next tick runs, 0..2
extern std::atomic<int32_t> g_baudErrors;  // errors of the current phase-0 attempt

inline constexpr int32_t kBaudMode38400 = 1;
inline constexpr int32_t kBaudModeThird = 2;  // not offered to the user
inline constexpr int32_t kBaudMode170k = 3;

// A button: opens the configuration window of `slave` and makes the request,
// unless one is pending. Returns false when a request was pending.
bool RequestUartSpeedChange(int slave, int32_t mode);

// Runs the phase in g_baudPhase. Phase 0 tells the motors of `slave` (the one
// selected at this tick); a slave that is not a bridge leaves the request
// pending at phase 0, silently. Phases 1 and 2 set and report the bridge whose
// motors phase 0 told, whatever is selected by then. Returns what to tell the
// user (the report of phase 2, or "Error 8888" for a model without motor
// kinds, which drops the request); empty when there is nothing to say.
std::wstring RunSpeedChangePhase(int slave);

// Puts the switch's state back to its program-load values (tests).
void ResetUartSpeedSwitch();
