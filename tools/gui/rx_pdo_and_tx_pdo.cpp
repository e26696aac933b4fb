#include "tools/gui/rx_pdo_and_tx_pdo.hpp"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <array>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"
#include "tools/gui/coe_controls.hpp"
#include "tools/pdo_views.hpp"

RxPdoAndTxPdo* g_dlgRxPdoAndTxPdo = nullptr;

namespace {

// Text colours of the first seven lines of each view; later lines are black.
using LineColours = std::array<QColor, 7>;
const LineColours kInputColours = {QColor(200, 0, 0),   QColor(200, 0, 200), QColor(0, 0, 200),
                                   QColor(200, 0, 200), QColor(0, 200, 0),   QColor(0, 200, 200),
                                   QColor(0, 0, 200)};
const LineColours kOutputColours = {QColor(200, 0, 200), QColor(0, 0, 200),   QColor(0, 200, 200),
                                    QColor(200, 0, 200), QColor(0, 200, 200), QColor(0, 200, 0),
                                    QColor(0, 0, 200)};
const QColor kLineBackground(255, 245, 255);
const QColor kChangedBackground(255, 255, 0);

QTextEdit* AddView(QWidget* parent, const char* name, const QString& label, int y) {
    (new QLabel(label, parent))->setGeometry(dlu::Rect(10, y, 40, 8));
    auto* view = new QTextEdit(parent);
    view->setObjectName(name);
    view->setGeometry(dlu::Rect(10, y + 10, 370, 76));
    // Shown, not edited; it stays enabled so that long lines and many slaves can
    // be scrolled into sight.
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::NoTextInteraction);
    view->setFocusPolicy(Qt::NoFocus);
    view->setLineWrapMode(QTextEdit::NoWrap);
    QFont font = SizedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), 14, 100);
    font.setStyleStrategy(QFont::PreferQuality);
    view->setFont(font);
    return view;
}

void Colour(QTextEdit* view, int start, int length, const QTextCharFormat& format) {
    QTextCursor cursor(view->document());
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(format);
}

// The view shows one line per slave and a last empty one, each line in its
// colour; where the user scrolled to stays in sight.
void ShowLines(QTextEdit* view, const std::vector<std::string>& lines, const LineColours& colours) {
    QString text;
    for (const std::string& line : lines) text += QString::fromLatin1(line) + QLatin1Char('\n');
    const int across = view->horizontalScrollBar()->value();
    const int down = view->verticalScrollBar()->value();
    view->setPlainText(text);
    int line = 0;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        QTextCharFormat format;
        format.setForeground(static_cast<size_t>(line) < colours.size()
                                 ? colours[static_cast<size_t>(line)]
                                 : QColor(0, 0, 0));
        format.setBackground(kLineBackground);
        Colour(view, block.position(), block.length() - 1, format);
        ++line;
    }
    view->horizontalScrollBar()->setValue(across);
    view->verticalScrollBar()->setValue(down);
}

// Gives the two hex digits of each marked byte the changed background, as far
// as the line the view shows holds them.
void Highlight(QTextEdit* view, const PdoLineMarks& marks) {
    QTextCharFormat format;
    format.setBackground(kChangedBackground);
    QTextBlock block = view->document()->begin();
    for (size_t line = 0; line < marks.size() && block.isValid(); ++line, block = block.next()) {
        const int shown = block.length() - 1;
        for (const int byte : marks[line]) {
            if (3 * byte + 2 <= shown) Colour(view, block.position() + 3 * byte, 2, format);
        }
    }
}

}  // namespace

RxPdoAndTxPdo::RxPdoAndTxPdo(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/true) {
    setWindowTitle("RxPDO/TxPDO");
    setFixedSize(dlu::Size(390, 226));

    rxPdoView_ = AddView(this, "rxPdoView", "RxPDO", 4);
    txPdoView_ = AddView(this, "txPdoView", "TxPDO", 94);

    (new QLabel("Address", this))->setGeometry(dlu::Rect(10, 186, 36, 8));
    addressEdit_ = AddField(this, "addressEdit", dlu::Rect(10, 196, 36, 14));
    (new QLabel("Bytes", this))->setGeometry(dlu::Rect(52, 186, 24, 8));
    bytesEdit_ = AddField(this, "bytesEdit", dlu::Rect(52, 196, 22, 14));
    (new QLabel("TxPdoData", this))->setGeometry(dlu::Rect(80, 186, 48, 8));
    txPdoDataEdit_ = AddField(this, "txPdoDataEdit", dlu::Rect(80, 196, 60, 14));
    (new QLabel("(Hex)", this))->setGeometry(dlu::Rect(144, 199, 24, 8));
    for (QLineEdit* edit : {addressEdit_, bytesEdit_, txPdoDataEdit_}) {
        OnFieldChange(edit, this, [this] { TakeFields(); });
    }

    AddButton("WriteTxPdo", "writeTxPdoButton", dlu::Rect(170, 194, 60, 18),
              [this] { OnBnClickedWriteTxPdo(); });

    cia402DisableBox_ = new QCheckBox("CiA402_Disable", this);
    cia402DisableBox_->setObjectName("cia402DisableBox");
    cia402DisableBox_->setGeometry(dlu::Rect(240, 197, 76, 12));
    connect(cia402DisableBox_, &QCheckBox::clicked, this, [this] { OnBnClickedCia402Disable(); });

    AddQuitButton(dlu::Rect(330, 194, 50, 18));
}

// Each opening starts the change tables afresh; the fields and the box show
// what they held when the dialog was last closed.
void RxPdoAndTxPdo::OnInitDialog() {
    ClearPdoChangeTables();
    cia402DisableBox_->setChecked(m_cia402Disable != 0);
}

void RxPdoAndTxPdo::TakeFields() {
    m_address = addressEdit_->text().toStdWString();
    m_bytes = bytesEdit_->text().toStdWString();
    m_txPdoData = txPdoDataEdit_->text().toStdWString();
    m_cia402Disable = cia402DisableBox_->isChecked() ? 1 : 0;
}

void RxPdoAndTxPdo::RefreshPdoViews() {
    ForgetReleasedCia402DisableHold();
    switch (AdvancePdoTick()) {
        case PdoTickWork::MarkChanges:
            MarkChangedBytesInViews();
            break;
        case PdoTickWork::Rebuild:
            RebuildViews();
            break;
        case PdoTickWork::None:
            break;
    }
}

void RxPdoAndTxPdo::RebuildViews() {
    const PdoImage image = ReadPdoImage(g_slaveCount.load());
    ShowLines(rxPdoView_, PdoViewLines(image.inputs), kInputColours);
    ShowLines(txPdoView_, PdoViewLines(image.outputs), kOutputColours);
}

void RxPdoAndTxPdo::MarkChangedBytesInViews() {
    const PdoMarks marks = MarkChangedBytes(ReadPdoImage(g_slaveCount.load()));
    Highlight(rxPdoView_, marks.inputs);
    Highlight(txPdoView_, marks.outputs);
}

void RxPdoAndTxPdo::OnBnClickedWriteTxPdo() {
    const std::wstring refusal = WriteTxPdo(m_address, m_bytes, m_txPdoData);
    ShowMessageBoxIfAny(refusal);
}

void RxPdoAndTxPdo::OnBnClickedCia402Disable() {
    TakeFields();
    SetCia402DisableHold(m_cia402Disable != 0);
}

void RxPdoAndTxPdo::OnBnClickedQuit() {
    ReleaseCia402DisableHold();
    ToolDialog::OnBnClickedQuit();
}
