// The dialogs and tab pages that live for the whole run, made after the
// application object (widgets need it) and before the bus threads start.
#pragma once

class OptionSet1;
class ParaSet;
class VozeRudadoziraVur;
class ConfigSlave;
class TqlMode;
class Cia402Mode;
class CatTools;
class ScanLanAdapter;

extern OptionSet1* g_dlgOptionSet1;
extern ParaSet* g_dlgParaSet;
extern VozeRudadoziraVur* g_dlgVozeRudadoziraVur;
extern ConfigSlave* g_dlgConfigSlave;
extern TqlMode* g_dlgTqlMode;
extern Cia402Mode* g_dlgCia402Mode;
extern CatTools* g_dlgCatTools;
extern ScanLanAdapter* g_dlgScanLanAdapter;

// Builds them in their fixed order; a second call does nothing.
void CreateGlobalDialogs();
// Destroys them in the reverse order; the main window must be gone by then.
void DestroyGlobalDialogs();
