#include "app/gui/global_dialogs.hpp"

#include "bus/gui/config_slave.hpp"
#include "bus/gui/scan_lan_adapter.hpp"
#include "motor/gui/option_set1.hpp"
#include "motor/gui/para_set.hpp"
#include "motor/gui/tql_mode.hpp"
#include "motor/gui/voze_rudadozira_vur.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/gui/cia402_mode.hpp"
#include "tools/gui/mail_box_coe.hpp"
#include "tools/gui/rx_pdo_and_tx_pdo.hpp"
#include "tools/gui/self_up_date_program.hpp"
#include "tools/gui/slave_memory.hpp"

namespace {

template <typename T>
void Destroy(T*& object) {
    delete object;
    object = nullptr;
}

}  // namespace

void CreateGlobalDialogs() {
    if (g_dlgOptionSet1 != nullptr) return;
    g_dlgOptionSet1 = new OptionSet1;
    g_dlgBoardInit = new BoardInit;
    g_dlgMailBoxCoe = new MailBoxCoe;
    g_dlgSelfUpDateProgram = new SelfUpDateProgram;
    g_dlgSlaveMemory = new SlaveMemory;
    g_dlgParaSet = new ParaSet;
    g_dlgRxPdoAndTxPdo = new RxPdoAndTxPdo;
    g_dlgVozeRudadoziraVur = new VozeRudadoziraVur;
    g_dlgConfigSlave = new ConfigSlave;
    g_dlgConfigSlave->setObjectName("configSlavePage");
    g_dlgTqlMode = new TqlMode;
    g_dlgTqlMode->setObjectName("tqlModePage");
    g_dlgCia402Mode = new Cia402Mode;
    g_dlgCia402Mode->setObjectName("cia402ModePage");
    g_dlgCatTools = new CatTools;
    g_dlgCatTools->setObjectName("catToolsPage");
    g_dlgScanLanAdapter = new ScanLanAdapter;
}

void DestroyGlobalDialogs() {
    Destroy(g_dlgScanLanAdapter);
    Destroy(g_dlgCatTools);
    Destroy(g_dlgCia402Mode);
    Destroy(g_dlgTqlMode);
    Destroy(g_dlgConfigSlave);
    Destroy(g_dlgVozeRudadoziraVur);
    Destroy(g_dlgRxPdoAndTxPdo);
    Destroy(g_dlgParaSet);
    Destroy(g_dlgSlaveMemory);
    Destroy(g_dlgSelfUpDateProgram);
    Destroy(g_dlgMailBoxCoe);
    Destroy(g_dlgBoardInit);
    Destroy(g_dlgOptionSet1);
}
