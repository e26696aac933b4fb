#include "bus/gui/slave_combo.hpp"

#include <QComboBox>
#include <QSignalBlocker>

#include "bus/globals.hpp"
#include "settings/settings_values.hpp"

void FillSlaveCombo(QComboBox* combo) {
    const int count = g_slaveCount.load();
    combo->clear();
    for (int i = 1; i <= count; ++i) {
        combo->addItem(QStringLiteral("SlaveNo.%1").arg(i, 2, 10, QLatin1Char('0')));
    }
    if (count >= 1) combo->setCurrentIndex(0);
}

void FillMotorCombo(QComboBox* combo) {
    QSignalBlocker block(combo);
    combo->clear();
    for (int motor = 1; motor <= kMotorsPerBridge; ++motor) {
        combo->addItem(QStringLiteral("MotorID%1").arg(motor));
    }
    combo->addItem(QStringLiteral("MotorID1-ID4"));
    combo->setCurrentIndex(0);
}
