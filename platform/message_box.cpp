#include "platform/message_box.hpp"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct PendingBox {
    bool done = false;
    bool abandoned = false;  // the asking thread stopped waiting: don't show it
};

struct BoxState {
    std::mutex mutex;
    std::condition_variable changed;
    MessageBoxPresenter presenter;
    GuiTaskPoster poster;
    std::thread::id guiThread;
    bool cancelled = false;
};

// Never destroyed: a bus thread may still be released from a box while the
// program's static objects go away.
BoxState& State() {
    static BoxState* const state = new BoxState;
    return *state;
}

void WriteToStandardError(std::wstring_view text) {
    std::fprintf(stderr, "%ls\n", std::wstring(text).c_str());
}

}  // namespace

void InstallMessageBoxPresenter(MessageBoxPresenter presenter, GuiTaskPoster poster) {
    BoxState& state = State();
    std::lock_guard lock(state.mutex);
    state.presenter = std::move(presenter);
    state.poster = std::move(poster);
    state.guiThread = std::this_thread::get_id();
}

void ShowMessageBoxIfAny(std::wstring_view text) {
    if (!text.empty()) ShowMessageBox(text);
}

void ShowMessageBox(std::wstring_view text) {
    BoxState& state = State();
    std::unique_lock lock(state.mutex);
    MessageBoxPresenter presenter = state.presenter;
    GuiTaskPoster poster = state.poster;
    const bool onGuiThread = std::this_thread::get_id() == state.guiThread;
    if (!presenter) {
        lock.unlock();
        WriteToStandardError(text);
        return;
    }
    if (!poster || onGuiThread) {
        lock.unlock();
        presenter(std::wstring(text));
        return;
    }
    if (state.cancelled) {
        lock.unlock();
        WriteToStandardError(text);
        return;
    }
    auto pending = std::make_shared<PendingBox>();
    lock.unlock();
    poster([pending, presenter, owned = std::wstring(text)] {
        BoxState& s = State();
        {
            std::lock_guard guard(s.mutex);
            if (pending->abandoned) return;
        }
        presenter(owned);
        std::lock_guard guard(s.mutex);
        pending->done = true;
        s.changed.notify_all();
    });
    lock.lock();
    state.changed.wait(lock, [&] { return pending->done || state.cancelled; });
    if (!pending->done) pending->abandoned = true;
}

void CancelMessageBoxWaits() {
    BoxState& state = State();
    std::lock_guard lock(state.mutex);
    state.cancelled = true;
    state.changed.notify_all();
}

void AllowMessageBoxWaits() {
    BoxState& state = State();
    std::lock_guard lock(state.mutex);
    state.cancelled = false;
}
