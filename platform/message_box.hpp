// OK message boxes captioned with the application's name. Any thread may ask for
// one and waits until the user has closed it; the GUI decides how a box is shown.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Shows `text` in a box and returns when it is closed. Must be called on the GUI
// thread (it blocks it, as a modal box does).
using MessageBoxPresenter = std::function<void(const std::wstring& text)>;
// Queues a task onto the GUI thread (for example QMetaObject::invokeMethod with
// Qt::QueuedConnection); returns at once.
using GuiTaskPoster = std::function<void(std::function<void()> task)>;

// Installed by the GUI at start, on the GUI thread. With a poster, a box asked for
// from another thread is shown on the GUI thread while the asking thread waits;
// without one, the presenter runs on the asking thread (tests' recorders). An
// empty presenter restores the default, which writes the text to standard error
// and returns at once.
void InstallMessageBoxPresenter(MessageBoxPresenter presenter, GuiTaskPoster poster = {});

// Shows an OK box and waits until it is closed. Returns early, without waiting
// for the user, once CancelMessageBoxWaits() has been called (shut-down).
void ShowMessageBox(std::wstring_view text);

// What the logic returned to say, if anything: a box for a text that is not
// empty, nothing for the empty one.
void ShowMessageBoxIfAny(std::wstring_view text);

// Releases every thread that waits on a box and makes later boxes of non-GUI
// threads return at once; called by StopBusThreads so that a bus thread never
// holds up the exit. AllowMessageBoxWaits() undoes it (StartBusThreads).
void CancelMessageBoxWaits();
void AllowMessageBoxWaits();
