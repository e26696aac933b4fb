#include "tools/gui/self_up_date_program.hpp"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/file_choice.hpp"
#include "platform/message_box.hpp"
#include "tools/gui/coe_controls.hpp"

SelfUpDateProgram* g_dlgSelfUpDateProgram = nullptr;

namespace {

constexpr int kProgressMax = 100;

QString ChooseFirmwareFile(QWidget* parent) {
    return ChooseExistingFile(parent, QStringLiteral("srec"), QStringLiteral("."));
}

// Shown, never typed into: the fields take no focus.
QLineEdit* MakeOutput(const char* name, const QRect& geometry, QWidget* parent) {
    QLineEdit* edit = AddResultField(parent, name, geometry);
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

}  // namespace

SelfUpDateProgram::SelfUpDateProgram(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/true), chooseFile_(ChooseFirmwareFile) {
    setWindowTitle("SoftUpDate");
    setFixedSize(dlu::Size(300, 112));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    AddButton("OpenFile", "openFileButton", dlu::Rect(86, 8, 60, 18),
              [this] { OnBnClickedOpenFile(); });

    AddButton("Start", "startButton", dlu::Rect(152, 8, 60, 18), [this] { OnBnClickedStart(); });

    file_ = MakeOutput("fileEdit", dlu::Rect(10, 32, 280, 14), this);
    status_ = MakeOutput("status", dlu::Rect(10, 50, 280, 14), this);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setGeometry(dlu::Rect(10, 70, 280, 10));
    progress_->setTextVisible(false);

    AddQuitButton(dlu::Rect(236, 88, 54, 18));
}

void SelfUpDateProgram::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    TakeFields();
    progress_->setRange(0, kProgressMax);
    progress_->setValue(0);
}

void SelfUpDateProgram::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
}

void SelfUpDateProgram::OnBnClickedOpenFile() {
    // The run sends from the loaded file: another one now would mix two images.
    if (g_selfPrgState != 0) {
        ShowMessageBox(L"SelfPrgRun!...");
        return;
    }
    const QString path = chooseFile_(this);
    if (path.isEmpty()) return;
    std::string reason;
    switch (LoadSelfPrgFile(QFile::encodeName(path).toStdString(), &reason)) {
        case SelfPrgFileLoad::Loaded:
            file_->setText("[ " + path + " ]");
            break;
        case SelfPrgFileLoad::TooBig:
            ShowMessageBox(L"File too Big !!! Errpr ...");
            break;
        case SelfPrgFileLoad::Refused:
            ShowMessageBox((path + "\n" + QString::fromLocal8Bit(reason)).toStdWString());
            break;
    }
}

void SelfUpDateProgram::OnBnClickedStart() {
    const std::wstring refusal = StartSelfPrg(m_slaveIndex + 1, link_, *this);
    ShowMessageBoxIfAny(refusal);
}

void SelfUpDateProgram::OnTimer() {
    if (g_selfPrgState == 0) return;
    const std::wstring message = SelfPrgStep(link_, *this);
    ShowMessageBoxIfAny(message);
}

void SelfUpDateProgram::showStatus(const std::string& text) {
    // The loader ends its replies with CR LF; a one-line field shows the text.
    std::string_view shown = text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
    status_->setText(QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size())));
    status_->repaint();  // a step blocks the window; show where it is now
}

void SelfUpDateProgram::showProgress(int position) {
    progress_->setValue(position);
    progress_->repaint();
}
