// What the window tests share: the application object, a recorder in place of
// message boxes, a private working folder, and a simulated bus scanned by the
// tool's own bus threads.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QString>
#include <QTest>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/main_window.hpp"
#include "core/message_box_recorder.hpp"
#include "support/fast_bus_clock.hpp"
#include "support/qt_helpers.hpp"
#include "support/virtual_bus.hpp"
#include "support/working_folder.hpp"

namespace guitest {

// The main window's tab pages by object name, in tab order. Tests reach a
// page's controls through their page: two pages may name controls alike.
inline constexpr const char* kPageNames[] = {"configSlavePage", "tqlModePage", "cia402ModePage",
                                             "catToolsPage"};

inline QWidget* Page(const QWidget* window, int tab) {
    return testsupport::Child<QWidget>(window, kPageNames[tab]);
}

// The item of the window's menu `menu` (an object name) with the caption given;
// a missing one ends the program with a message that says which.
inline QAction* MenuItem(const QWidget* window, const char* menu, const QString& caption) {
    for (QAction* action : testsupport::Child<QMenu>(window, menu)->actions()) {
        if (action->text() == caption) return action;
    }
    qFatal("no item \"%s\" in the menu \"%s\"", qPrintable(caption), menu);
}

// Replaces the text of the line edit `field` under `window` by typing, as the
// user does.
inline void Type(const QWidget* window, const char* field, const QString& text) {
    auto* edit = testsupport::Child<QLineEdit>(window, field);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

inline void Click(const QWidget* window, const char* button) {
    testsupport::Child<QAbstractButton>(window, button)->click();
}

// Records every box instead of showing it (from any thread) until it goes.
using RecordedBoxes = testsupport::MessageBoxRecorder;

// Runs the test in a fresh working folder (where the settings file lives) and
// puts the shared state of the bus and the settings back to program-load values
// on both ends, with the bus threads stopped.
class WorkFolder {
  public:
    WorkFolder();
    ~WorkFolder();
    // Writes "SetDataFile.set" with the nine lines given.
    void writeSettings(const std::vector<std::string>& lines) const;
    std::vector<std::string> readSettings() const;

  private:
    testsupport::ScopedWorkingFolder folder_;
};

// How the bus threads pace their pauses: for real, or on the fast bus clock,
// where a simulated device's own timing (a bridge takes a written mode some
// 30 ms later) no longer fits in them.
enum class Pacing { Real, Fast };

// A simulated ZR12, IO, ZR02 segment on the in-process wire and the bus threads
// running against it. scan() presses the page's Scan button (through the given
// press) and waits until the bus is operational.
class ScannedBus {
  public:
    explicit ScannedBus(Pacing pacing = Pacing::Real);
    ~ScannedBus();  // stops the bus threads before the segment goes
    const std::string& name() const { return bus_.name(); }
    // The nine settings lines that make the tool scan this bus by hand.
    std::vector<std::string> settingsLines() const;
    bool waitOperational(int seconds = 60) const;
    // Reads an axis's modes of operation (0x6060 + axis * 0x800) over the bus;
    // -1 when the read fails.
    int axisMode(int slave, int axis) const;
    // The simulated slaves; inspect them only under segment().lock().
    ecsim::Segment& segment() { return bus_.segment(); }

  private:
    // Installed before the bus threads start, put back after they stopped.
    std::optional<testsupport::FastBusClock> busClock_;
    testsupport::VirtualBus bus_;
};

// Runs `open`, a command that shows a modal dialog and returns once it has
// closed: `use` acts on the dialog while it is open, then its Quit closes it.
// The dialog that was shown, or null when none was.
QWidget* RunModal(const std::function<void()>& open, const std::function<void(QWidget*)>& use = {});

// Opens `window` on the settings file in the working folder and scans from the
// first page; fails unless the bus gets operational with both bridges.
void ScanFromPage(const ScannedBus& bus, CDuZEraDezorav1Dlg& window);

}  // namespace guitest
