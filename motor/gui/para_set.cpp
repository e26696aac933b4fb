#include "motor/gui/para_set.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/message_box.hpp"
#include "settings/access_level.hpp"

ParaSet* g_dlgParaSet = nullptr;

namespace {

// Rows of label and edit, top to bottom, in the order of BridgeParam.
constexpr int kRowTop = 32;
constexpr int kRowStep = 18;

}  // namespace

ParaSet::ParaSet(QWidget* parent) : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/false) {
    setWindowTitle("ParaSet");
    setFixedSize(dlu::Size(190, 176));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { OnCbnSelchangeSlave(); });

    AddButton("Set(Write)", "setWriteButton", dlu::Rect(126, 8, 54, 18),
              [this] { OnBnClickedSetWrite(); });

    for (int i = 0; i < kParamCount; ++i) {
        const int y = kRowTop + kRowStep * i;
        auto* label = new QLabel(kBridgeParamFields[i].label, this);
        label->setGeometry(dlu::Rect(10, y + 2, 60, 10));
        edits_[i] = new QLineEdit(this);
        edits_[i]->setObjectName(QString("edit_%1").arg(kBridgeParamFields[i].label));
        edits_[i]->setGeometry(dlu::Rect(74, y, 60, 14));
        OnFieldChange(edits_[i], this, [this] { TakeFields(); });
        if (i == kDebugSet) debugLabel_ = label;
    }

    AddQuitButton(dlu::Rect(126, 150, 54, 18));
}

void ParaSet::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    m_slaveIndex = slaveCombo_->currentIndex();
    for (auto& text : m_texts) text.clear();
    // DEBUGSet shows at the maker level only; the service level handles it unseen.
    debugLabel_->setVisible(IsMakerLevel());
    edits_[kDebugSet]->setVisible(IsMakerLevel());
    ShowFields();
    ReadBridgeParameters();
}

void ParaSet::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
    for (int i = 0; i < kParamCount; ++i) m_texts[i] = edits_[i]->text().toStdWString();
}

void ParaSet::ShowFields() {
    for (int i = 0; i < kParamCount; ++i)
        ShowFieldText(edits_[i], QString::fromStdWString(m_texts[i]));
}

void ParaSet::OnCbnSelchangeSlave() {
    TakeFields();
    ReadBridgeParameters();
}

void ParaSet::ReadBridgeParameters() {
    ::ReadBridgeParameters(m_slaveIndex + 1, m_texts);
    ShowFields();
}

void ParaSet::OnBnClickedSetWrite() {
    TakeFields();
    const BridgeParamWrite write = WriteBridgeParameters(m_slaveIndex + 1, m_texts);
    ShowMessageBoxIfAny(write.message);
}
