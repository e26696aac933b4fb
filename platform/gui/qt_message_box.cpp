#include "platform/gui/qt_message_box.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include "platform/message_box.hpp"

namespace {

void PresentBox(const std::wstring& text) {
    QString shown = QString::fromStdWString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), shown,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName("messageBox");
    box.exec();
}

}  // namespace

void InstallQtMessageBoxes() {
    InstallMessageBoxPresenter(PresentBox, [](std::function<void()> task) {
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    });
}
