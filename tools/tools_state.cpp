#include "tools/tools_state.hpp"

#include "tools/board_identity.hpp"
#include "tools/cia402_page_logic.hpp"
#include "tools/coe_access.hpp"
#include "tools/eeprom_image.hpp"
#include "tools/homing.hpp"
#include "tools/pdo_views.hpp"
#include "tools/self_prg.hpp"

void ResetToolsState() {
    ResetSelfPrg();
    ResetBoardIdentity();
    ResetCia402PageState();
    ResetCatToolsState();
    ResetHomingState();
    ResetPdoViewState();
    ResetEepromImageState();
}
