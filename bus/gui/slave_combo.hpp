// The slave list every page and dialog offers: "SlaveNo.01" up to the expected
// slave count, the first selected; entry k names slave k + 1.
#pragma once

class QComboBox;

void FillSlaveCombo(QComboBox* combo);
