#include "bus/gui/config_slave.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "bus/gui/scan_lan_adapter.hpp"
#include "bus/gui/scan_log_colours.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"
#include "settings/access_level.hpp"
#include "settings/number_text.hpp"
#include "settings/settings_file.hpp"

ConfigSlave* g_dlgConfigSlave = nullptr;

namespace {

constexpr size_t kTextBufferBytes = 128;
const QColor kViewBackground(240, 240, 240);
const QColor kSuperviseColour(255, 128, 0);

QLabel* AddLabel(QWidget* page, const char* text, int x, int y) {
    auto* label = new QLabel(QString::fromLatin1(text), page);
    label->move(dlu::X(x), dlu::Y(y));
    label->adjustSize();
    return label;
}

QTextEdit* AddLogView(QWidget* page, const QRect& rect) {
    auto* view = new QTextEdit(page);
    view->setGeometry(rect);
    view->setAcceptRichText(false);
    // Lines wrap at the view's width; a log longer than the view shows a scroll
    // bar, so that its first lines stay within reach.
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, kViewBackground);
    view->setPalette(palette);
    return view;
}

// The log with one character per line end, as the view counts positions.
QString ViewText(const std::wstring& log) {
    QString text = QString::fromStdWString(log);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void ColourRange(QTextEdit* view, int start, int length, const QColor& colour) {
    QTextCursor cursor(view->document());
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour);
    cursor.mergeCharFormat(format);
}

// Scrolling waits until the view has laid out the text it was just given.
void ScrollToBottomLater(QTextEdit* view) {
    QMetaObject::invokeMethod(
        view, [view] { view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum()); },
        Qt::QueuedConnection);
}

// Refreshes `view` from `log` when the log's length changed since `remembered`.
// Returns true when it did.
bool RefreshFromLog(const TextLog& log, size_t& remembered, QTextEdit* view) {
    if (log.length() == remembered) return false;
    const std::wstring text = log.copy();
    remembered = text.size();
    view->setPlainText(ViewText(text));
    ScrollToBottomLater(view);
    return true;
}

}  // namespace

ConfigSlave::ConfigSlave(QWidget* parent) : QWidget(parent) {
    resize(dlu::Size(395, 288));

    scanButton_ = new QPushButton(QStringLiteral("Scan"), this);
    scanButton_->setObjectName("scanButton");
    scanButton_->setGeometry(dlu::Rect(19, 18, 54, 28));
    // Enter in the page's fields does nothing: the window would otherwise make
    // this its default button and start a scan.
    scanButton_->setAutoDefault(false);
    connect(scanButton_, &QPushButton::clicked, this, &ConfigSlave::OnBnClickedScan);

    AddLabel(this, "Scan Cnt", 82, 17);
    countEdit_ = new QLineEdit(this);
    countEdit_->setObjectName("countEdit");
    countEdit_->setGeometry(dlu::Rect(84, 26, 24, 12));
    OnFieldChange(countEdit_, this, [this] { OnEnChangeScanSlaveCounter(); });

    AddLabel(this, "SlaveConfigInfo", 262, 42);
    scanView_ = AddLogView(this, dlu::Rect(17, 53, 304, 86));
    scanView_->setObjectName("scanLog");
    AddLabel(this, "EtherCatStatusMessage", 233, 156);
    superviseView_ = AddLogView(this, dlu::Rect(17, 169, 303, 84));
    superviseView_->setObjectName("superviseLog");
    // The view holds what the log keeps (and the empty block after the last
    // line end) and no undo steps: it takes lines for as long as the tool runs.
    superviseView_->document()->setMaximumBlockCount(static_cast<int>(kSuperviseLogLines) + 1);
    superviseView_->setUndoRedoEnabled(false);

    selectLan_ = new QCheckBox(QStringLiteral("Select\n LAN"), this);
    selectLan_->setObjectName("selectLan");
    selectLan_->setGeometry(dlu::Rect(121, 23, 35, 16));
    connect(selectLan_, &QCheckBox::clicked, this, &ConfigSlave::OnBnClickedSelectLan);

    lanNameEdit_ = new QLineEdit(this);
    lanNameEdit_->setObjectName("lanNameEdit");
    lanNameEdit_->setGeometry(dlu::Rect(152, 7, 239, 14));
    // The name goes to the device layer as one byte a character: the field takes
    // no more characters than the name holds, and only those that have a byte.
    lanNameEdit_->setMaxLength(static_cast<int>(SharedText::kCapacity) - 1);
    lanNameEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[\\x{20}-\\x{7E}\\x{A0}-\\x{FF}]*")), lanNameEdit_));
    OnFieldChange(lanNameEdit_, this, [this] { OnEnChangeLanName(); });

    lanPortScan_ = new QPushButton(QStringLiteral("LAN Port Scan"), this);
    lanPortScan_->setObjectName("lanPortScanButton");
    lanPortScan_->setGeometry(dlu::Rect(161, 22, 90, 18));
    lanPortScan_->setAutoDefault(false);
    connect(lanPortScan_, &QPushButton::clicked, this, &ConfigSlave::OnBnClickedLanPortScan);

    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, &ConfigSlave::OnTimer);
}

void ConfigSlave::OnInitDialog() {
    countText_ = QString::number(g_slaveCount.load());
    InitFonts();
    timer_.start();

    selectLanChecked_ = g_selectLan.load() == 1;
    ApplyLanControls();
    lanNameEdit_->setVisible(IsMakerLevel());
    lanNameText_ = QString::fromStdWString(Latin1ToWide(g_lanName.get()));
    ShowFields();
}

void ConfigSlave::InitFonts() {
    const QFont font = FixedPageFont();
    countEdit_->setFont(font);
    scanView_->setFont(font);
    superviseView_->setFont(font);
}

void ConfigSlave::TakeFields() {
    countText_ = countEdit_->text();
    selectLanChecked_ = selectLan_->isChecked();
    lanNameText_ = lanNameEdit_->text();
}

void ConfigSlave::ShowFields() {
    ShowFieldText(countEdit_, countText_);
    selectLan_->setChecked(selectLanChecked_);
    ShowFieldText(lanNameEdit_, lanNameText_);
}

void ConfigSlave::ApplyLanControls() {
    lanNameEdit_->setEnabled(selectLanChecked_);
    lanPortScan_->setVisible(selectLanChecked_);
}

void ConfigSlave::OnBnClickedScan() {
    g_scanRequest = 1;
}

void ConfigSlave::OnEnChangeScanSlaveCounter() {
    TakeFields();
    if (countText_.isEmpty()) return;
    char buffer[kTextBufferBytes];
    CStringToMultiByte(buffer, sizeof buffer, countText_.toStdWString());
    int32_t count = 0;
    if (ReadLeadingInteger(buffer, &count) && count >= kMinSlaveCount && count <= kMaxSlaveCount) {
        g_slaveCount = count;
        return;
    }
    ShowMessageBox(L"ScanSlaveCounter Input Error\r\n[Info : Value Range 1 --32]");
    countText_ = QStringLiteral("1");
    ShowFields();
}

void ConfigSlave::OnBnClickedSelectLan() {
    TakeFields();
    g_selectLan = selectLanChecked_ ? 1 : 0;
    ApplyLanControls();
}

void ConfigSlave::OnEnChangeLanName() {
    TakeFields();
    if (!selectLanChecked_) return;
    char buffer[SharedText::kCapacity];
    CStringToMultiByte(buffer, sizeof buffer, lanNameText_.toStdWString());
    g_lanName.set(buffer);
}

void ConfigSlave::OnBnClickedLanPortScan() {
    if (g_lanScanState.load() != 0) return;
    g_lanScanState = 1;
    g_dlgScanLanAdapter->DoModal();
}

void ConfigSlave::OnTimer() {
    if (g_lanPicked.load() == 1) {
        g_lanPicked = 0;
        lanNameText_ = QString::fromStdWString(Latin1ToWide(g_lanName.get()));
        ShowFields();
    }
    if (RefreshFromLog(g_strScanLog, scanLogLength_, scanView_)) ColourScanLog();
    ShowNewSuperviseLines();
}

// The supervision log grows by a few lines at a time for as long as the tool
// runs: only the new lines are added to the view, in the log's colour, and the
// view drops its oldest lines as the log does.
void ConfigSlave::ShowNewSuperviseLines() {
    const TextLog::News news = g_strSuperviseLog.since(superviseMark_);
    superviseMark_ = news.mark;
    if (!news.restart && news.text.empty()) return;
    if (news.restart) superviseView_->clear();
    QTextCursor cursor(superviseView_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(kSuperviseColour);
    cursor.insertText(ViewText(news.text), format);
    ScrollToBottomLater(superviseView_);
}

void ConfigSlave::ColourScanLog() {
    for (const ColourSpan& span : ScanLogColourSpans(scanView_->toPlainText(), g_slaveCount)) {
        ColourRange(scanView_, span.start, span.length, span.colour);
    }
}
