#include "app/gui/main_window.hpp"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QWindow>
#include <algorithm>

#include "app/gui/global_dialogs.hpp"
#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/gui/config_slave.hpp"
#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "motor/gui/option_set1.hpp"
#include "motor/gui/para_set.hpp"
#include "motor/gui/tql_mode.hpp"
#include "motor/gui/voze_rudadozira_vur.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/message_box.hpp"
#include "settings/access_level.hpp"
#include "settings/settings_file.hpp"
#include "settings/settings_values.hpp"
#include "tools/axis_modes.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/gui/cia402_mode.hpp"
#include "tools/gui/mail_box_coe.hpp"
#include "tools/gui/rx_pdo_and_tx_pdo.hpp"
#include "tools/gui/self_up_date_program.hpp"
#include "tools/gui/slave_memory.hpp"

namespace {

constexpr int kPageTop = 26;  // pixels below the top of the tab strip

const wchar_t kScanDevicePlease[] = L"Scan Device Please...";
const wchar_t kScanSlavePlease[] = L"ERROR ; Scan Slave Please!.";

bool BusReady() {
    return g_busReady.load() != 0;
}

// The commands that open a device dialog need at least one slave found.
bool SlavesFound() {
    if (g_slavesFound.load() >= 1) return true;
    ShowMessageBox(kScanSlavePlease);
    return false;
}

struct ToolsCommand {
    ToolsItem item;
    const char* caption;
    void (CDuZEraDezorav1Dlg::*handler)();
};

// The "Tools" pop-up in menu order.
constexpr ToolsCommand kToolsCommands[] = {
    {ToolsItem::SoftwareUpDate, "SoftwareUpDate", &CDuZEraDezorav1Dlg::OnSoftwareUpDate},
    {ToolsItem::MailBox, "MailBox", &CDuZEraDezorav1Dlg::OnMailBox},
    {ToolsItem::RxPdoTxPdo, "RxPDO/TxPDO", &CDuZEraDezorav1Dlg::OnRxPdoTxPdo},
    {ToolsItem::SlaveMemory, "SlaveMemory", &CDuZEraDezorav1Dlg::OnSlaveMemory},
    {ToolsItem::BoardInit, "BoardInit", &CDuZEraDezorav1Dlg::OnBoardInit},
};

// Both Quit commands save the settings; a file that was not written is said.
void ShowSaveSettingsOutcome() {
    const std::wstring message = SaveSettingsFile();
    ShowMessageBoxIfAny(message);
}

}  // namespace

CDuZEraDezorav1Dlg::CDuZEraDezorav1Dlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("QuendrelV1.20"));

    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    BuildMenu();

    client_ = new QWidget(this);
    tabBar_ = new QTabBar(client_);
    tabBar_->setObjectName("tabBar");
    tabBar_->setExpanding(false);
    connect(tabBar_, &QTabBar::currentChanged, this, &CDuZEraDezorav1Dlg::OnTcnSelchangeTab);

    quitButton_ = new QPushButton(QStringLiteral("Quit"), client_);
    quitButton_->setObjectName("quitButton");
    quitButton_->setGeometry(dlu::Rect(422, 0, 33, 18));
    quitButton_->setAutoDefault(false);
    connect(quitButton_, &QPushButton::clicked, this, &CDuZEraDezorav1Dlg::OnBnClickedQuit);

    // Its ticks do no work of their own; the pages keep their own timers.
    timer_.setInterval(kPageTickMs);
}

CDuZEraDezorav1Dlg::~CDuZEraDezorav1Dlg() {
    // The pages outlive the window: hand them back before the children go.
    for (QWidget* page : pages_) {
        if (page != nullptr) {
            page->hide();
            page->setParent(nullptr);
        }
    }
}

void CDuZEraDezorav1Dlg::BuildMenu() {
    mainMenu_ = menuBar_->addMenu(QStringLiteral("Menu"));
    mainMenu_->setObjectName("mainMenu");
    mainMenu_->addAction(QStringLiteral("BaudrateSet"), this, &CDuZEraDezorav1Dlg::OnBaudrateSet);
    mainMenu_->addAction(QStringLiteral("ParameterSet"), this, &CDuZEraDezorav1Dlg::OnParameterSet);
    mainMenu_->addAction(QStringLiteral("InitTarnquisel"), this,
                         &CDuZEraDezorav1Dlg::OnInitTarnquisel);
    mainMenu_->addAction(QStringLiteral("Quit"), this, &CDuZEraDezorav1Dlg::OnQuit);

    toolsMenu_ = menuBar_->addMenu(QStringLiteral("Tools"));
    toolsMenu_->setObjectName("toolsMenu");
    for (const ToolsCommand& command : kToolsCommands) {
        QAction* action =
            toolsMenu_->addAction(QString::fromLatin1(command.caption), this, command.handler);
        action->setData(static_cast<int>(command.item));
    }
}

void CDuZEraDezorav1Dlg::OnInitDialog() {
    LoadSettingsFile();
    ClearIoMap();
    ApplyMenuAccessLevel();
    CreateTabPages();
    ShowPage(kConfigSlavePage);
    timer_.start();
}

void CDuZEraDezorav1Dlg::ApplyMenuAccessLevel() {
    for (QAction* action : toolsMenu_->actions()) {
        action->setEnabled(IsToolsItemEnabled(static_cast<ToolsItem>(action->data().toInt())));
    }
}

void CDuZEraDezorav1Dlg::CreateTabPages() {
    pages_ = {g_dlgConfigSlave, g_dlgTqlMode, g_dlgCia402Mode, g_dlgCatTools};
    static const char* const kTabTexts[] = {" ConfigSlave ", " TQLMode ", " CiA402Mode ",
                                            " MailBox"};

    const int menuHeight = menuBar_->sizeHint().height();
    const int pageTop = std::max(kPageTop, tabBar_->sizeHint().height());
    const QSize pageSize = g_dlgTqlMode != nullptr ? g_dlgTqlMode->size() : QSize();
    const QRect pageRect(QPoint(0, pageTop), pageSize);

    QSignalBlocker block(tabBar_);
    for (size_t i = 0; i < pages_.size(); ++i) {
        QWidget* page = pages_[i];
        if (page == nullptr) {
            // The set-up ends at a missing page: no tab and no page after it.
            std::fill(pages_.begin() + static_cast<std::ptrdiff_t>(i), pages_.end(), nullptr);
            break;
        }
        page->setParent(client_);
        page->hide();
        page->setGeometry(pageRect);
        tabBar_->addTab(QString::fromLatin1(kTabTexts[i]));
    }
    if (g_dlgConfigSlave != nullptr) g_dlgConfigSlave->OnInitDialog();
    if (pages_[kCia402Page] != nullptr) g_dlgCia402Mode->OnInitDialog();
    tabBar_->setGeometry(QRect(QPoint(0, 0), tabBar_->sizeHint()));
    quitButton_->raise();

    // The window is as large as its own layout and the pages it shows, whichever
    // is more.
    const QSize clientSize =
        dlu::Size(457, 278).expandedTo(QSize(pageRect.right() + 1, pageRect.bottom() + 1));
    menuBar_->setGeometry(0, 0, clientSize.width(), menuHeight);
    client_->setGeometry(QRect(QPoint(0, menuHeight), clientSize));
    setFixedSize(clientSize.width(), clientSize.height() + menuHeight);
}

void CDuZEraDezorav1Dlg::ShowPage(int index) {
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i] != nullptr) pages_[i]->setVisible(static_cast<int>(i) == index);
    }
}

void CDuZEraDezorav1Dlg::OnTcnSelchangeTab(int selected) {
    if (!BusReady() && selected != kConfigSlavePage) {
        ShowMessageBox(kScanDevicePlease);
        QSignalBlocker block(tabBar_);
        tabBar_->setCurrentIndex(kConfigSlavePage);
        ShowPage(kConfigSlavePage);
        return;
    }
    switch (selected) {
        case kTqlPage:
            StopPositionRamp();
            SetAllMotorsMode101();
            g_bridgeMode = kTqlPage;
            break;
        case kCia402Page:
            StopPositionRamp();
            for (const std::wstring& say : SetAllMotorsCspMode()) ShowMessageBox(say);
            g_cpioReapply = 1;
            g_bridgeMode = kCia402Page;
            break;
        case kCoePage:
            g_bridgeMode = kCoePage;
            StopPositionRamp();
            ResetMotorOutputs();
            for (int i = 0; i < 3; ++i) PauseMs(50);
            SetAllMotorsHomingMode();
            ResetMotorOutputs();
            break;
        default:
            g_bridgeMode = kConfigSlavePage;
            break;
    }
    ShowPage(selected);
}

void CDuZEraDezorav1Dlg::OnBnClickedQuit() {
    g_busPause = 1;
    PauseMs(500);
    ShowSaveSettingsOutcome();
    if (g_busReady.load() == 1) {
        SetAllMotorsMode101();
        DrainMotorReplies();
        PauseMs(100);
    }
    accept();
}

void CDuZEraDezorav1Dlg::OnQuit() {
    g_busPause = 1;
    PauseMs(1000);
    ShowSaveSettingsOutcome();
    accept();
}

void CDuZEraDezorav1Dlg::OnBaudrateSet() {
    if (!BusReady()) {
        ShowMessageBox(L"Error!\r\nScanDevice Please.");
        return;
    }
    RunModal(g_dlgOptionSet1);
}

void CDuZEraDezorav1Dlg::OnParameterSet() {
    if (SlavesFound()) RunModal(g_dlgParaSet);
}

void CDuZEraDezorav1Dlg::OnInitTarnquisel() {
    if (SlavesFound()) RunModal(g_dlgVozeRudadoziraVur);
}

void CDuZEraDezorav1Dlg::OnMailBox() {
    if (SlavesFound()) RunModal(g_dlgMailBoxCoe);
}

void CDuZEraDezorav1Dlg::OnSoftwareUpDate() {
    if (!IsServiceOrMakerLevel()) return;
    if (SlavesFound()) RunModal(g_dlgSelfUpDateProgram);
}

// Settings line 7 chooses between a modal dialog and one that stays open beside
// the window; choosing it again while it is open brings it to the front.
void CDuZEraDezorav1Dlg::OnRxPdoTxPdo() {
    if (!IsServiceOrMakerLevel() || !SlavesFound()) return;
    if (g_rxTxPdoModeless.load() == 0) {
        RunModal(g_dlgRxPdoAndTxPdo);
    } else {
        ShowModeless(g_dlgRxPdoAndTxPdo);
    }
}

void CDuZEraDezorav1Dlg::OnSlaveMemory() {
    if (IsServiceOrMakerLevel() && SlavesFound()) RunModal(g_dlgSlaveMemory);
}

void CDuZEraDezorav1Dlg::OnBoardInit() {
    if (!IsMakerLevel()) return;
    if (SlavesFound()) RunModal(g_dlgBoardInit);
}

void CDuZEraDezorav1Dlg::CentreOnWindow(QDialog* dialog) const {
    dialog->move(geometry().center() - dialog->rect().center());
}

void CDuZEraDezorav1Dlg::RunModal(QDialog* dialog) {
    if (dialog == nullptr) return;
    CentreOnWindow(dialog);
    dialog->exec();
}

void CDuZEraDezorav1Dlg::ShowModeless(QDialog* dialog) {
    if (dialog == nullptr) return;
    if (!dialog->isVisible()) {
        CentreOnWindow(dialog);
        dialog->show();
        // Owned by the window: kept above it and minimised with it.
        if (dialog->windowHandle() != nullptr) {
            dialog->windowHandle()->setTransientParent(windowHandle());
        }
    }
    dialog->raise();
    dialog->activateWindow();
}

void CDuZEraDezorav1Dlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}
