#include "bus/gui/tool_dialog.hpp"

#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <utility>

#include "bus/gui/slave_combo.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/gui/push_button.hpp"

ToolDialog::ToolDialog(QWidget* parent, bool enterCloses, bool ticks)
    : QDialog(parent), enterCloses_(enterCloses), ticks_(ticks) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

void ToolDialog::OnBnClickedQuit() {
    TakeFields();
    accept();
}

QPushButton* ToolDialog::AddButton(const QString& caption, const char* name, const QRect& geometry,
                                   std::function<void()> onClick) {
    QPushButton* button = MakeButton(caption, name, geometry, this);
    connect(button, &QPushButton::clicked, this, std::move(onClick));
    return button;
}

QPushButton* ToolDialog::AddQuitButton(const QRect& geometry) {
    return AddButton("Quit", "quitButton", geometry, [this] { OnBnClickedQuit(); });
}

QComboBox* ToolDialog::AddSlaveCombo() {
    auto* combo = new QComboBox(this);
    combo->setObjectName("slaveCombo");
    combo->setGeometry(dlu::Rect(10, 10, 64, 14));
    return combo;
}

void ToolDialog::FillSlaveList(QComboBox* combo) {
    QSignalBlocker block(combo);
    FillSlaveCombo(combo);
    combo->setCurrentIndex(0);
}

void ToolDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
        if (ticks_) timer_.start();
    }
    QDialog::showEvent(event);
}

// Closing stops the ticks; a run's state is global and goes on at the next opening.
void ToolDialog::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) timer_.stop();
    QDialog::hideEvent(event);
}

void ToolDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);  // Escape ends in reject(), which keeps the dialog
        return;
    }
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
        button->click();
    } else if (enterCloses_) {
        TakeFields();
        accept();
    }
    event->accept();
}
