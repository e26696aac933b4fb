// Reading and writing any CoE object by index, subindex and data type, as the
// CoE page and the mailbox dialog offer it. Both windows check their fields the
// same way, in the same order, before any device access; they differ only where
// CoeWindowRules says.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The data-type choice of the windows' radio groups.
inline constexpr int32_t kCoeType4Byte = 0;
inline constexpr int32_t kCoeTypeString = 1;
inline constexpr int32_t kCoeType2Byte = 2;
inline constexpr int32_t kCoeType1Byte = 3;

// The read result the CoE page shows when nothing was read.
inline constexpr wchar_t kCoeReadFailedText[] = L"Not Obeject, ERROR!";

// 1 once the CoE page's four lists have been filled (once per run).
extern std::atomic<int32_t> g_catToolsListsFilled;
// Puts the CoE page's shared state back to its program-load value (tests).
void ResetCatToolsState();

// What the window's fields hold when a button is pressed.
struct CoeFields {
    int32_t slaveIndex = 0;  // selection of the slave list; -1 while the list is empty
    int32_t dataType = kCoeType4Byte;
    std::wstring index;     // hexadecimal
    std::wstring subindex;  // hexadecimal
    std::wstring data;      // 4Byte: decimal; String: the text sent
};

struct CoeWindowRules {
    // WRITE with 2Byte or 1Byte: the page refuses with a message, the dialog
    // silently does nothing.
    bool refuseNarrowWrite;
    // A read that uploaded nothing: the page shows kCoeReadFailedText, the dialog
    // the master library's error text (or that the slave did not answer).
    bool markFailedRead;
};
inline constexpr CoeWindowRules kCoePageRules{true, true};
inline constexpr CoeWindowRules kMailBoxRules{false, false};

// What READ or WRITE leads to: a refusal of the fields to show in a message box
// (nothing was sent then), or, once the device was accessed, the text for the
// result field.
struct CoeOutcome {
    std::wstring message;  // the refusal; when set, the device was not accessed
    bool accessed = false;
    std::wstring result;  // when accessed: the field's new text
};

// Checks the fields and writes the object: 4Byte as a 32-bit little-endian
// value, String as the text's bytes without a terminator. A write the slave
// took leaves the result field empty; a refused one shows the master library's
// error text (or that the slave did not answer) there.
CoeOutcome CoeWrite(const CoeFields& fields, const CoeWindowRules& rules);

// Checks the fields and reads the object as the data type's CoE type.
CoeOutcome CoeRead(const CoeFields& fields, const CoeWindowRules& rules);
