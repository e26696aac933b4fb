// Motor parameter initialisation: unlocks the four motors of a bridge, sets motor
// and channel to 38400 bit/s, writes five parameters, switches to 170 kbit/s and
// reads the parameters back. A step machine, one step per 25 ms tick of its
// dialog; the run's state is global, so it goes on when the dialog opens again.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "bus/globals.hpp"

extern std::atomic<int32_t> g_tqInitRunning;  // 1 while a run is in progress
extern std::atomic<int32_t> g_tqInitStep;     // the step the next tick runs, 0..5
extern std::atomic<int32_t>
    g_tqInitTickActive;                     // 1 while ticks drive a run (TQL page stops polling)
extern std::atomic<int32_t> g_tqInitOk;     // the last run ended well
extern std::atomic<int32_t> g_tqInitError;  // the last run ended with a read-back failure
// Matching read-back replies per channel 1..4 of the last check.
extern std::atomic<int32_t> g_tqParamMatchCount[kMotorsPerBridge];
// "ID1_ONLINE".."ID4_ONLINE": motors expected to answer. All start checked and
// keep the user's choice for the rest of the run.
extern std::atomic<int32_t> g_tqInitCheckOnline[kMotorsPerBridge];

inline constexpr int kTqInitProgressMax = 5;
inline constexpr int kTqExpectedMatches = 5;

// Where a run shows its progress: the dialog's status line and progress bar.
class TqInitView {
  public:
    virtual ~TqInitView() = default;
    virtual void showStatus(const std::string& text) = 0;
    virtual void showProgress(int position) = 0;
};

// The start button: opens the configuration window of `slave` and starts a run at
// step 0, unless one is in progress. Returns false when a run was in progress.
bool StartTqInit(int slave, TqInitView& view);

// Runs the step in g_tqInitStep on `slave` (the one selected at this tick).
void RunInitStep(int slave, TqInitView& view);

// Drains the four reply queues of `slave`, asks each motor for the five
// parameters and counts the expected answers per channel into
// g_tqParamMatchCount. Returns the number of channels with fewer than five.
int VerifyMotorParameters(int slave);

// "ID2 ERROR! ; (3) ;..." for every checked channel whose count is not exactly 5.
std::string TqInitFailureList(const std::array<int32_t, kMotorsPerBridge>& counts,
                              const std::array<bool, kMotorsPerBridge>& checked);

// Puts the initialisation's state back to its program-load values (tests).
void ResetTqInit();
