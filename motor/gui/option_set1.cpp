#include "motor/gui/option_set1.hpp"

#include <QComboBox>

#include "motor/uart_speed_switch.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/message_box.hpp"

OptionSet1* g_dlgOptionSet1 = nullptr;

OptionSet1::OptionSet1(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/true) {
    setWindowTitle("BaudrateSet");
    setFixedSize(dlu::Size(190, 96));

    slaveCombo_ = AddSlaveCombo();
    slaveCombo_->setFont(SizedFont(slaveCombo_->font(), 14, 14));
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    AddButton("BoudrateSet To 170Kbps", "baud170kButton", dlu::Rect(10, 32, 110, 20),
              [this] { OnBnClickedBaud170k(); });
    AddButton("BoudrateSet To 38400bps", "baud38400Button", dlu::Rect(10, 56, 110, 20),
              [this] { OnBnClickedBaud38400(); });
    AddQuitButton(dlu::Rect(130, 68, 50, 18));
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
    if (g_baudMode == 0) return;
    const std::wstring say = RunSpeedChangePhase(m_slaveIndex + 1);
    ShowMessageBoxIfAny(say);
}
