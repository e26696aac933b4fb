#include "settings/settings_file.hpp"

#include <cstdio>

#include "platform/file_read.hpp"
#include "platform/file_write.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"
#include "settings/number_text.hpp"

namespace {

constexpr int kLineBufferBytes = 90;    // one read takes at most 89 characters
constexpr size_t kMaxCopiedChars = 80;  // lines 1 and 3 are taken up to 80 characters

// Lines 2 to 9 in file order.
std::atomic<int32_t>* const kNumberLines[] = {
    &g_accessLevel, &g_slaveCount,      &g_cia402Pos,         &g_cia402Speed,
    &g_cia402Accel, &g_rxTxPdoModeless, &g_tqlSendAfterClear, &g_selectLan,
};

const wchar_t* ReadFailureMessage(int line) {
    if (line == 1) return L"File Read Error!!!";
    if (line <= 4) return L"File read Error!!!";
    return L"File read  Error!!!";
}

// The text before the first CR or LF, at most 80 characters.
std::string_view UpToLineEnd(std::string_view text) {
    text = text.substr(0, text.find_first_of("\r\n"));
    return text.substr(0, kMaxCopiedChars);
}

}  // namespace

// A pipe in the file's place would hold start-up or Quit until its other end
// was opened: only a regular file is opened.
void LoadSettingsFileFrom(const std::string& path) {
    const FileHandle file = OpenRegularFile(path, "r");
    if (!file) {
        ShowMessageBox(L"SetDataFile Read Error");
        return;
    }
    char buffer[kLineBufferBytes];
    for (int line = 1; line <= 9; ++line) {
        if (std::fgets(buffer, sizeof buffer, file.get()) == nullptr) {
            ShowMessageBox(ReadFailureMessage(line));
            break;
        }
        std::string_view text(buffer);
        int32_t value = 0;
        if (line == 1) {
            g_lanName.set(UpToLineEnd(text));
            continue;
        }
        if (line == 3) {
            text = UpToLineEnd(text);
        } else if (!text.empty()) {
            // The line end, or the last character of a last line without one.
            text.remove_suffix(1);
        }
        if (ReadLeadingInteger(text, &value)) *kNumberLines[line - 2] = value;
    }
    KeepSettingsInRange();
}

std::wstring SaveSettingsFileTo(const std::string& path) {
    std::string text = g_lanName.get() + '\n';
    for (const auto* value : kNumberLines) text += std::to_string(value->load()) + '\n';
    const FileWriteOutcome outcome = WriteWholeFile(path, text);
    switch (outcome.failure) {
        case FileWriteFailure::None:
            return {};
        case FileWriteFailure::Refused:
        case FileWriteFailure::NotMade:
            return L"File Write Open Error";
        case FileWriteFailure::NotSaved:
            break;
    }
    return L"File Write Error: " + Latin1ToWide(outcome.reason) +
           L"\r\nThe settings were not saved; the file keeps its earlier values.";
}

void LoadSettingsFile() {
    LoadSettingsFileFrom(kSettingsFileName);
}

std::wstring SaveSettingsFile() {
    return SaveSettingsFileTo(kSettingsFileName);
}
