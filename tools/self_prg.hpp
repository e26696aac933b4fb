// The bridge firmware update: a run talks to the bridge's resident loader through
// two objects, commands and file lines written to one and replies read from the
// other, one step per 25 ms tick of its dialog. The run's state is global: a run
// whose dialog is closed stands still and goes on when the dialog opens again.
//
// States: 1 enter programming mode ("!PRGMO"), 2 erase ("!110.9") and wait for
// "Down...", 3 send the file's lines. A run that fails in a state starts again
// by itself, with the same bridge, until its third failure.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/firmware_file.hpp"

inline constexpr uint16_t ObjSelfPrgCommand = 0xF570;   // :00 a command or a file line
inline constexpr uint16_t ObjSelfPrgResponse = 0xF571;  // :00 the loader's next reply (text)

extern std::atomic<int32_t> g_selfPrgState;           // 0 idle, else the state of the run
extern std::atomic<int32_t> g_selfPrgFileLoaded;      // 1 once a file is loaded
extern char g_selfPrgBuf[kFirmwareFileMaxBytes + 1];  // the file's bytes and a NUL
extern std::atomic<int32_t> g_selfPrgFileLen;
extern std::atomic<int32_t> g_selfPrgReadPos;  // the next byte to cut into a line
extern std::atomic<int32_t> g_selfPrgLines;    // lines the loader accepted in this run
extern std::atomic<int32_t> g_selfPrgLostCnt;  // lines accepted only after a resend
extern std::atomic<int32_t> g_selfPrgRetry;    // failures so far; the third is final
extern std::atomic<int32_t> g_selfPrgSlave;    // the bridge of the run

// What a run needs of its bridge and of time. The bridge on the bus is
// BusSelfPrgLink; tests put a scripted loader and a clock of their own here.
class SelfPrgLink {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~SelfPrgLink() = default;
    virtual void WriteUnlockWord(int slave) = 0;
    // Writes a command or a line to ObjSelfPrgCommand; the outcome is not reported.
    virtual void Send(int slave, std::string_view text) = 0;
    // The loader's reply, or the master library's error text when the read failed.
    virtual std::string Read(int slave) = 0;
    virtual void Pause(int ms) = 0;
    virtual Clock::time_point Now() = 0;
};

class BusSelfPrgLink final : public SelfPrgLink {
  public:
    void WriteUnlockWord(int slave) override;
    void Send(int slave, std::string_view text) override;
    std::string Read(int slave) override;
    void Pause(int ms) override;
    Clock::time_point Now() override;
};

// Where a run shows itself: the dialog's status line and progress bar (0..100).
class SelfPrgView {
  public:
    virtual ~SelfPrgView() = default;
    virtual void showStatus(const std::string& text) = 0;
    virtual void showProgress(int position) = 0;
};

enum class SelfPrgFileLoad {
    Loaded,   // the file replaced the one loaded before
    TooBig,   // 409600 bytes or more
    Refused,  // unreadable, not a regular file, or not sendable: `reason` says why
};

// OpenFile: reads and checks the file at `path`; whatever is refused leaves the
// file loaded before as it was.
SelfPrgFileLoad LoadSelfPrgFile(const std::string& path, std::string* reason);

// The Start button with the slave chosen in the list: refuses a slave that is no
// bridge, a run that is not idle and a missing file; else unlocks the bridge and
// starts at state 1. Returns the refusal to show; the empty text when the run
// started.
std::wstring StartSelfPrg(int slave, SelfPrgLink& link, SelfPrgView& view);

// One tick of a run that is not idle. A tick blocks for about half a second at
// most, besides the erase command's fixed 3 s pause and one device access that
// is under way; it leaves off between two device accesses and the next tick goes
// on there, with the same line and the same count of its sends. Returns what to
// show in a box: the success of a run that ended with its last line, or the
// refusal of a restart (its bridge has gone from the table); else the empty text.
std::wstring SelfPrgStep(SelfPrgLink& link, SelfPrgView& view);

// Puts the update's state back to its program-load values (tests).
void ResetSelfPrg();
