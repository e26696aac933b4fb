#include "bus/gui/scan_lan_adapter.hpp"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <string>

#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/latin1.hpp"
#include "settings/settings_values.hpp"

ScanLanAdapter* g_dlgScanLanAdapter = nullptr;

namespace {

// The list shows at most this many bytes of a friendly name.
constexpr size_t kShownNameBytes = 127;

// An entry of the adapter table up to its zero, never past the entry.
std::string EntryText(const char (&entry)[kAdapterEntryBytes]) {
    return std::string(entry, strnlen(entry, sizeof entry));
}

}  // namespace

ScanLanAdapter::ScanLanAdapter(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ScanLanAdapter"));
    setFixedSize(dlu::Size(415, 194));

    adapterList_ = new QComboBox(this);
    adapterList_->setObjectName("adapterCombo");
    adapterList_->setGeometry(dlu::Rect(14, 20, 260, 14));
    connect(adapterList_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    auto* label = new QLabel(QStringLiteral("<<*---Select LAN "), this);
    label->move(dlu::X(280), dlu::Y(22));
    label->adjustSize();

    exitButton_ = new QPushButton(QStringLiteral("Exit"), this);
    exitButton_->setObjectName("exitButton");
    exitButton_->setGeometry(dlu::Rect(330, 160, 70, 20));
    // Enter closes the dialog without storing; only a click on Exit stores.
    exitButton_->setAutoDefault(false);
    connect(exitButton_, &QPushButton::clicked, this, &ScanLanAdapter::OnBnClickedExit);

    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, &ScanLanAdapter::OnTimer);
    connect(this, &QDialog::finished, &timer_, &QTimer::stop);
}

int ScanLanAdapter::DoModal() {
    OnInitDialog();
    return exec();
}

void ScanLanAdapter::OnInitDialog() {
    selectedIndex_ = 0;
    ShowFields();
    timer_.start();
}

void ScanLanAdapter::TakeFields() {
    selectedIndex_ = adapterList_->currentIndex();
}

void ScanLanAdapter::ShowFields() {
    if (selectedIndex_ < adapterList_->count()) adapterList_->setCurrentIndex(selectedIndex_);
}

void ScanLanAdapter::OnTimer() {
    if (g_lanScanState.load() != 2) return;
    FillAdapterCombo();
    g_lanScanState = 3;
}

void ScanLanAdapter::FillAdapterCombo() {
    QSignalBlocker block(adapterList_);
    adapterList_->clear();
    const int count = std::clamp(g_adapterCount.load(), 0, kMaxListedAdapters);
    for (int i = 0; i < count; ++i) {
        const std::string name = EntryText(g_adapterNames[i]).substr(0, kShownNameBytes);
        adapterList_->addItem(QString::fromStdWString(Latin1ToWide(name)));
    }
    adapterList_->setCurrentIndex(count > 0 ? 0 : -1);
    selectedIndex_ = 0;
}

void ScanLanAdapter::OnBnClickedExit() {
    g_lanScanState = 4;
    std::string name = kCaptureDevicePrefix;
    // The list holds entries only once the scan thread published the table
    // complete, so an entry shown is an entry that can be read.
    if (selectedIndex_ >= 0 && selectedIndex_ < adapterList_->count()) {
        name += EntryText(g_adapterGuids[selectedIndex_]);
    }
    g_lanName.set(name);
    g_lanPicked = 1;
    accept();
}

void ScanLanAdapter::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
