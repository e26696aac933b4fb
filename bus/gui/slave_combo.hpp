// The lists the pages and dialogs offer.
#pragma once

class QComboBox;

// "SlaveNo.01" up to the expected slave count, the first selected; entry k
// names slave k + 1.
void FillSlaveCombo(QComboBox* combo);

// "MotorID1" up to the bridge's last motor, then "MotorID1-ID4" for all of them;
// the first selected, without a change signal.
void FillMotorCombo(QComboBox* combo);
