// The Qt boxes: shown on the GUI thread, OK only, the application's name as
// caption; a thread that asks for one waits until it is closed.
#include "platform/gui/qt_message_box.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/message_box.hpp"
#include "support/qt_helpers.hpp"

namespace {

struct SeenBox {
    QString title;
    QString text;
    int buttons = 0;
    bool askerReturnedWhileOpen = false;
    int count = 0;
};

TEST(QtMessageBoxes, BoxesOfAnyThreadAreShownOnTheGuiThreadUntilClosed) {
    InstallQtMessageBoxes();
    AllowMessageBoxWaits();  // as a start of the bus threads does after an earlier stop
    struct Restore {
        ~Restore() { InstallMessageBoxPresenter({}); }
    } restore;

    std::atomic<bool> askerReturned{false};
    SeenBox seen;
    // Plays the user: presses OK on whatever box is open.
    QTimer user;
    user.setInterval(25);
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || box->objectName() != "messageBox" || !box->isVisible()) continue;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.buttons = static_cast<int>(box->buttons().size());
            seen.askerReturnedWhileOpen = askerReturned.load();
            ++seen.count;
            box->button(QMessageBox::Ok)->click();
        }
    });
    user.start();

    ShowMessageBox(L"Scan Device Please...");
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.text, QStringLiteral("Scan Device Please..."));

    std::thread asker([&] {
        ShowMessageBox(L"Device Not found!\r\nSlave Power On,  After Scan Please ");
        askerReturned = true;
    });
    const bool returned = testsupport::WaitWithEvents([&] { return askerReturned.load(); }, 20);
    if (!returned) CancelMessageBoxWaits();  // never leave the thread hanging
    asker.join();
    AllowMessageBoxWaits();

    EXPECT_TRUE(returned);
    EXPECT_EQ(seen.count, 2);
    EXPECT_EQ(seen.title, QCoreApplication::applicationName());
    EXPECT_EQ(seen.text, QStringLiteral("Device Not found!\nSlave Power On,  After Scan Please "));
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_FALSE(seen.askerReturnedWhileOpen);
}

}  // namespace
