#include "motor/gui/voze_rudadozira_vur.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_font.hpp"

VozeRudadoziraVur* g_dlgVozeRudadoziraVur = nullptr;

namespace {

const QColor kErrorColour(255, 0, 0);
const QColor kOkColour(0, 0, 255);
const QColor kBusyColour(0, 100, 0);

}  // namespace

VozeRudadoziraVur::VozeRudadoziraVur(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/true, /*ticks=*/true) {
    setWindowTitle("InitTarnquisel");
    setFixedSize(dlu::Size(370, 134));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    AddButton("InitTarnquisel", "initButton", dlu::Rect(86, 7, 70, 20),
              [this] { OnBnClickedInitTarnquisel(); });

    status_ = new QLineEdit(this);
    status_->setObjectName("status");
    status_->setReadOnly(true);
    status_->setFocusPolicy(Qt::NoFocus);
    // Wide enough for the longest failure list, every channel listed.
    status_->setGeometry(dlu::Rect(10, 32, 350, 16));
    status_->setFont(SizedFont(status_->font(), 16, 110));
    // Its text stands on the dialog's own background, as a read-only line should.
    QPalette statusPalette = status_->palette();
    statusPalette.setColor(QPalette::Base, statusPalette.color(QPalette::Window));
    status_->setPalette(statusPalette);

    auto* group = new QGroupBox("Tarnquisel Check Enable", this);
    group->setGeometry(dlu::Rect(10, 54, 350, 30));
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        online_[i] = new QCheckBox(QString("ID%1_ONLINE").arg(i + 1), group);
        online_[i]->setObjectName(QString("online%1").arg(i + 1));
        online_[i]->setGeometry(dlu::Rect(8 + 86 * i, 13, 78, 12));
        connect(online_[i], &QCheckBox::clicked, this, [this] { TakeFields(); });
    }

    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setGeometry(dlu::Rect(10, 90, 350, 12));
    progress_->setTextVisible(false);

    AddQuitButton(dlu::Rect(306, 108, 54, 18));
}

void VozeRudadoziraVur::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    m_slaveIndex = slaveCombo_->currentIndex();
    status_->clear();
    ShowFields();
    progress_->setRange(0, kTqInitProgressMax);
    progress_->setValue(0);
    ColourStatus();
}

void VozeRudadoziraVur::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
    for (int i = 0; i < kMotorsPerBridge; ++i)
        g_tqInitCheckOnline[i] = online_[i]->isChecked() ? 1 : 0;
}

void VozeRudadoziraVur::ShowFields() {
    for (int i = 0; i < kMotorsPerBridge; ++i) online_[i]->setChecked(g_tqInitCheckOnline[i] != 0);
}

void VozeRudadoziraVur::OnBnClickedInitTarnquisel() {
    StartTqInit(m_slaveIndex + 1, *this);
}

void VozeRudadoziraVur::OnTimer() {
    if (g_tqInitRunning == 1) {
        g_tqInitTickActive = 1;
        RunInitStep(m_slaveIndex + 1, *this);
    } else {
        g_tqInitTickActive = 0;
    }
}

void VozeRudadoziraVur::showStatus(const std::string& text) {
    status_->setText(QString::fromLatin1(text.c_str()));
    ColourStatus();
    status_->repaint();  // the step blocks the window; show where it is now
}

void VozeRudadoziraVur::showProgress(int position) {
    progress_->setValue(position);
    progress_->repaint();
}

void VozeRudadoziraVur::ColourStatus() {
    const QColor colour = g_tqInitError != 0 ? kErrorColour
                          : g_tqInitOk == 1  ? kOkColour
                                             : kBusyColour;
    QPalette palette = status_->palette();
    palette.setColor(QPalette::Text, colour);
    status_->setPalette(palette);
}
