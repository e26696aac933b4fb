// The window's thread blocks in fixed pauses and device accesses. Once its waits
// since it last got back to its event loop add up to more than 300 ms, a busy
// cursor shows that the tool is working. The bus layer knows the waits, the GUI
// layer the cursor: it installs one for its thread here and says when its event
// loop runs again. Waits of other threads show nothing.
#pragma once

#include <functional>

inline constexpr int kBusyAfterMs = 300;

class BusyCursor {
  public:
    virtual ~BusyCursor() = default;
    // Both are called on the watched thread: Show before or during a wait, Hide
    // from WaitsEnded.
    virtual void Show() = 0;
    virtual void Hide() = 0;
};

// Watches the waits of the calling thread with `cursor`; nullptr ends it.
void WatchWaits(BusyCursor* cursor);

// The watched thread's event loop runs: its waits add up afresh, and a busy
// cursor shown is hidden.
void WaitsEnded();

// A fixed pause of `ms` milliseconds, which `pause` makes. The cursor shows
// before it when the pause takes the waits past the limit.
void WaitFixed(int ms, const std::function<void()>& pause);

// A device access of unknown length. On the watched thread it runs on a helper
// thread while the watched one waits for it: the cursor shows once the waits
// pass the limit, in the middle of the access, and the wait ends early when
// `giveUp` (asked every few milliseconds) says so. The access then finishes on
// its own, so it must own everything it touches. Other threads run it
// themselves. True when the access ran to its end before this returned.
bool WaitForDevice(std::function<void()> access, const std::function<bool()>& giveUp = {});
