#include "motor/gui/option_set1.hpp"

#include <QComboBox>
#include <QPushButton>

#include "motor/uart_speed_switch.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_font.hpp"

OptionSet1* g_dlgOptionSet1 = nullptr;

OptionSet1::OptionSet1(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/true) {
    setWindowTitle("BaudrateSet");
    setFixedSize(dlu::Size(190, 96));

    slaveCombo_ = AddSlaveCombo();
    slaveCombo_->setFont(SizedFont(slaveCombo_->font(), 14, 14));
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    QPushButton* fast = AddButton("BoudrateSet To 170Kbps", dlu::Rect(10, 32, 110, 20));
    fast->setObjectName("baud170kButton");
    connect(fast, &QPushButton::clicked, this, [this] { OnBnClickedBaud170k(); });

    QPushButton* slow = AddButton("BoudrateSet To 38400bps", dlu::Rect(10, 56, 110, 20));
    slow->setObjectName("baud38400Button");
    connect(slow, &QPushButton::clicked, this, [this] { OnBnClickedBaud38400(); });

    QPushButton* quit = AddButton("Quit", dlu::Rect(130, 68, 50, 18));
    quit->setObjectName("quitButton");
    connect(quit, &QPushButton::clicked, this, [this] { OnBnClickedQuit(); });
}

void OptionSet1::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    TakeFields();
}

void OptionSet1::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
}

void OptionSet1::OnBnClickedBaud170k() {
    RequestUartSpeedChange(m_slaveIndex + 1, kBaudMode170k);
}

void OptionSet1::OnBnClickedBaud38400() {
    RequestUartSpeedChange(m_slaveIndex + 1, kBaudMode38400);
}

void OptionSet1::OnTimer() {
    if (g_baudMode != 0) RunSpeedChangePhase(m_slaveIndex + 1);
}
