// What the process-data dialog ("RxPDO/TxPDO") shows and does, apart from its
// widgets: the process image one line per slave, the change tables that mark the
// bytes that just changed, the hand write of output bytes and the dialog's hold
// on the position ramp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kPdoTableRows = 33;      // slave numbers 1 to 32; row 0 unused
inline constexpr int kPdoTableColumns = 128;  // bytes of one slave tracked per direction
inline constexpr int kPdoHighlightMarkings = 6;

// Last seen bytes and highlight countdowns (0 to 6), by slave number and byte
// index within the slave's own bytes of one direction.
struct PdoChangeTables {
    uint8_t lastInputs[kPdoTableRows][kPdoTableColumns];
    uint8_t lastOutputs[kPdoTableRows][kPdoTableColumns];
    uint8_t inputCountdowns[kPdoTableRows][kPdoTableColumns];
    uint8_t outputCountdowns[kPdoTableRows][kPdoTableColumns];
};

// The views' 25 ms tick counter, 1 to 10, and the change tables; used by the
// dialog's timer only.
extern int32_t g_pdoTick;
extern PdoChangeTables g_pdoChangeTables;

// Cleared at each opening of the dialog: every non-zero byte then counts as
// changed.
void ClearPdoChangeTables();
// The tick counter, the tables and the dialog's ramp hold back to their
// program-load values (tests).
void ResetPdoViewState();

// What one tick of the dialog's timer does: the changed bytes are marked at tick
// 5, the views rebuilt at tick 10 (every 250 ms).
enum class PdoTickWork { None, MarkChanges, Rebuild };
PdoTickWork AdvancePdoTick();

// Bytes of one direction, per slave 1 to the slave count (index 0 is slave 1):
// each slave's Ibits / 8 or Obits / 8 bytes at a running offset from the start
// of the area. Slaves the scan did not find, and bytes the mapping does not
// hold, have none.
using PdoSlaveBytes = std::vector<std::vector<uint8_t>>;
struct PdoImage {
    PdoSlaveBytes inputs;
    PdoSlaveBytes outputs;
};
// Copies the process image under its lock, so no line mixes two exchanges.
PdoImage ReadPdoImage(int slaveCount);

// One text per slave line, each byte as "%02X " (a slave without bytes gives an
// empty line). Every line is whole, however long the view gets.
std::vector<std::string> PdoViewLines(const PdoSlaveBytes& slaves);

// Per slave line, the indexes of the bytes to highlight.
using PdoLineMarks = std::vector<std::vector<int>>;
struct PdoMarks {
    PdoLineMarks inputs;
    PdoLineMarks outputs;
};
// Compares `image` with the last seen bytes: a byte that differs is stored and
// highlighted at this and the next five markings. Only the first 128 bytes of a
// slave and slave numbers up to 32 are tracked; bytes past them are never marked.
PdoMarks MarkChangedBytes(const PdoImage& image);

// The message of a refused write.
inline constexpr wchar_t kTxPdoDataError[] = L"Data Error";
// WriteTxPdo: Address (1 to 3 characters, decimal), Bytes (1 character,
// decimal), TxPdoData (1 to 9 characters, hexadecimal, 32 bits). Writes the value
// least significant byte first into `bytes` bytes of the output image from
// `address`, bytes after the fourth carrying its sign. Refused with
// kTxPdoDataError, nothing written, unless every field holds its number and
// all the bytes lie inside the mapped output area. Returns the refusal or the
// empty text.
std::wstring WriteTxPdo(const std::wstring& address, const std::wstring& bytes,
                        const std::wstring& data);

// The dialog's "CiA402_Disable" box: ticked, it holds the position ramp
// (g_moveStop) unless something else holds it already; cleared, and at Quit, it
// releases only the hold it made itself, so a STOP or a tab change, before or
// while the box holds the ramp, stays in force. A hold that someone else
// released (START) is no longer the dialog's.
void SetCia402DisableHold(bool ticked);
void ReleaseCia402DisableHold();
void ForgetReleasedCia402DisableHold();
