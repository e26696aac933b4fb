#include "motor/gui/tql_mode.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>

#include "bus/globals.hpp"
#include "bus/gui/slave_combo.hpp"
#include "motor/param_file.hpp"
#include "motor/tq_init.hpp"
#include "motor/tql_command.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/gui/file_choice.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/gui/push_button.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"

TqlMode* g_dlgTqlMode = nullptr;

namespace {

// The logs keep the device's CR LF line ends; the view wants one line feed.
QString ForView(const std::wstring& log) {
    QString text = QString::fromStdWString(log);
    text.remove(QLatin1Char('\r'));
    return text;
}

QString ChooseParameterFile(QWidget* parent) {
    return ChooseExistingFile(parent, QStringLiteral("txt"));
}

QPlainTextEdit* MakeLogView(const char* name, const QRect& geometry, QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(name);
    view->setReadOnly(true);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setGeometry(geometry);
    return view;
}

}  // namespace

TqlMode::TqlMode(QWidget* parent) : QWidget(parent), chooseFile_(ChooseParameterFile) {
    resize(dlu::Size(457, 295));

    boardCombo_ = new QComboBox(this);
    boardCombo_->setObjectName("boardCombo");
    boardCombo_->setGeometry(dlu::Rect(26, 22, 66, 14));
    motorCombo_ = new QComboBox(this);
    motorCombo_->setObjectName("motorCombo");
    motorCombo_->setGeometry(dlu::Rect(105, 22, 76, 14));
    sendAfterClearBox_ = new QCheckBox("Send after clear", this);
    sendAfterClearBox_->setObjectName("sendAfterClear");
    sendAfterClearBox_->setGeometry(dlu::Rect(16, 61, 78, 10));
    commandEdit_ = new QLineEdit(this);
    commandEdit_->setObjectName("commandEdit");
    commandEdit_->setGeometry(dlu::Rect(14, 76, 130, 14));
    commandEdit_->installEventFilter(this);

    QPushButton* sendFile =
        MakeButton("SendFile", "sendFileButton", dlu::Rect(183, 70, 52, 29), this);
    QPushButton* clearMess =
        MakeButton("ClearMess", "clearMessButton", dlu::Rect(244, 71, 52, 28), this);
    (new QLabel("Sent TQL:", this))->setGeometry(dlu::Rect(17, 108, 40, 8));
    sentEdit_ = MakeLogView("sentLog", dlu::Rect(15, 120, 146, 159), this);
    (new QLabel("Motor Response:", this))->setGeometry(dlu::Rect(185, 108, 60, 8));
    responseEdit_ = MakeLogView("responseLog", dlu::Rect(184, 120, 269, 160), this);

    connect(boardCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });
    connect(motorCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });
    OnFieldChange(commandEdit_, this, [this] { TakeFields(); });
    connect(sendAfterClearBox_, &QCheckBox::clicked, this, [this] { OnBnClickedSendAfterClear(); });
    connect(sendFile, &QPushButton::clicked, this, [this] { OnBnClickedSendFile(); });
    connect(clearMess, &QPushButton::clicked, this, [this] { OnBnClickedClearMess(); });

    // OnInitDialog
    SetupFonts();
    m_sendAfterClear = g_tqlSendAfterClear != 0 ? 1 : 0;
    FillMotorCombo(motorCombo_);
    m_motorIndex = 0;
    ShowFields();
    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    timer_.start();
}

void TqlMode::SetupFonts() {
    const QFont font = FixedPageFont();
    for (QWidget* w : {static_cast<QWidget*>(boardCombo_), static_cast<QWidget*>(motorCombo_),
                       static_cast<QWidget*>(commandEdit_), static_cast<QWidget*>(responseEdit_)}) {
        w->setFont(font);
    }
}

void TqlMode::TakeFields() {
    m_boardIndex = boardCombo_->currentIndex();
    m_motorIndex = motorCombo_->currentIndex();
    m_command = commandEdit_->text().toStdWString();
    m_sendAfterClear = sendAfterClearBox_->isChecked() ? 1 : 0;
}

void TqlMode::ShowFields() {
    QSignalBlocker blockBoard(boardCombo_);
    QSignalBlocker blockMotor(motorCombo_);
    boardCombo_->setCurrentIndex(m_boardIndex);
    motorCombo_->setCurrentIndex(m_motorIndex);
    ShowFieldText(commandEdit_, QString::fromStdWString(m_command));
    sendAfterClearBox_->setChecked(m_sendAfterClear != 0);
}

void TqlMode::ShowSentLog() {
    sentEdit_->setPlainText(ForView(g_strTqlLog.copy()));
    sentEdit_->verticalScrollBar()->setValue(sentEdit_->verticalScrollBar()->maximum());
}

void TqlMode::ShowResponseLog() {
    responseEdit_->setPlainText(ForView(m_responseLog));
}

int TqlMode::SelectedBridgeSlave() const {
    const int slave = m_boardIndex + 1;
    return BridgeOrdinalOfSlave(slave) >= 0 ? slave : 0;
}

void TqlMode::OnTimer() {
    if (g_busReady == 0) return;
    if (g_slavesFound.load() >= 1 && g_tqInitTickActive == 0 && g_bridgeMode == kTqlPage)
        PollMotorReplies();
    if (g_paramFileSending == 1 && g_slavesFound.load() >= 1) SendParameterFileLine();
    if (g_busReady == 1 && g_tqlBoardComboFilled == 0) {
        QSignalBlocker block(boardCombo_);
        FillSlaveCombo(boardCombo_);
        // A read-back while the list was empty left no board; the handlers must
        // address the board the list now shows, and a write-back must not blank it.
        m_boardIndex = boardCombo_->currentIndex();
        g_tqlBoardComboFilled = 1;
    }
}

void TqlMode::PollMotorReplies() {
    if (g_busPause != 0) return;
    const int slave = SelectedBridgeSlave();
    if (slave == 0) return;
    for (int motor = 1; motor <= kMotorsPerBridge; ++motor) {
        std::string reply;
        if (!ReadMotorReply(slave, motor, &reply)) continue;
        m_responseLog += QString("TQ[%1.%2]:").arg(slave).arg(motor).toStdWString();
        m_responseLog += Latin1ToWide(reply) + L"\n";
        ShowResponseLog();
        if (++g_tqlReplyLines >= kTqlReplyWrap) {
            g_tqlReplyLines = 0;
            m_responseLog = L"\r\n";
        }
        // Only a new reply moves the view: the user may have scrolled back to read.
        responseEdit_->verticalScrollBar()->setValue(responseEdit_->verticalScrollBar()->maximum());
    }
}

void TqlMode::SendParameterFileLine() {
    switch (::SendParameterFileLine(m_boardIndex + 1, m_motorIndex)) {
        case ParamFileStep::Sent:
            ShowSentLog();
            break;
        case ParamFileStep::TooLong:
            ShowMessageBox(L"Motor Parameter Send Data Error!, 1Line too Big");
            break;
        case ParamFileStep::NoMotor:
            ShowMessageBox(L"Motor Select Error(ID1,ID2,ID3,ID4)");
            break;
        case ParamFileStep::Idle:
        case ParamFileStep::Skipped:
            break;
    }
}

void TqlMode::OnBnClickedSendCmd() {
    const int slave = SelectedBridgeSlave();
    if (slave == 0) return;
    // Counted in UTF-16 units, as the edit counts them: a character beyond U+FFFF is two.
    const auto length = static_cast<int>(QString::fromStdWString(m_command).size());
    if (length < 1 || length > kTqlCommandMaxChars) {
        ShowMessageBox(L"Motor Command Send Data Error!");
        return;
    }
    char text[256];
    CStringToMultiByte(text, 2 * static_cast<size_t>(length), m_command);
    SendTqlCommand(slave, m_motorIndex, text);
    ShowSentLog();
}

void TqlMode::OnEnterInCommand() {
    OnBnClickedSendCmd();
    if (m_sendAfterClear != 0) {
        m_command.clear();
        ShowFields();
    }
}

bool TqlMode::eventFilter(QObject* watched, QEvent* event) {
    if (watched == commandEdit_ && IsEnterKey(event)) {
        OnEnterInCommand();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// Enter meant for any other control of the page goes no further.
void TqlMode::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The page is made before the settings file is read; the check box takes the
// settings line when the page is first seen (and equals it ever after).
void TqlMode::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        m_sendAfterClear = g_tqlSendAfterClear != 0 ? 1 : 0;
        sendAfterClearBox_->setChecked(m_sendAfterClear != 0);
    }
    QWidget::showEvent(event);
}

void TqlMode::OnBnClickedSendFile() {
    if (SelectedBridgeSlave() == 0) {
        ShowMessageBox(L"Motor Parameter Send , Board Select Error");
        return;
    }
    if (m_motorIndex == kTqlAllMotors) {
        ShowMessageBox(L"Motor Select Error(ID1,ID2,ID3,ID4)");
        return;
    }
    const QString path = chooseFile_(this);
    if (path.isEmpty()) return;
    std::string error;
    switch (StartParameterFile(QFile::encodeName(path).toStdString(), &error)) {
        case ParamFileLoad::Started:
            break;
        case ParamFileLoad::TooBig:
            ShowMessageBox(L"MotorParameter File too Big !!! Errpr ...");
            break;
        case ParamFileLoad::OpenFailed:
            ShowMessageBox((path + "\n" + QString::fromLocal8Bit(error)).toStdWString());
            break;
    }
}

void TqlMode::OnBnClickedClearMess() {
    m_responseLog.clear();
    ShowResponseLog();
    g_strTqlLog.clear();
    ShowSentLog();
}

void TqlMode::OnBnClickedSendAfterClear() {
    TakeFields();
    g_tqlSendAfterClear = m_sendAfterClear != 0 ? 1 : 0;
}
