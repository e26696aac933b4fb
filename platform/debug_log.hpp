// Diagnostics for the tool's developers. They never reach standard output, and
// reach standard error only when QUENDREL_DEBUG is set in the environment, so a
// user's terminal stays quiet.
#pragma once

// True when QUENDREL_DEBUG is set (to anything but "0"); read once per run.
bool DebugLogEnabled();

// Writes one printf-style line (a line end is added) to standard error when
// DebugLogEnabled().
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
