// The settings file reader: the input is the file. The values it leaves must be
// in range, and writing them and reading them back must give the same values.
#include "settings/settings_file.hpp"

#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"
#include "support/byte_reader.hpp"
#include "support/scratch_file.hpp"

namespace {

struct Values {
    std::string lanName;
    int32_t numbers[8];
    bool operator==(const Values&) const = default;
};

Values current() {
    return {g_lanName.get(),
            {g_accessLevel, g_slaveCount, g_cia402Pos, g_cia402Speed, g_cia402Accel,
             g_rxTxPdoModeless, g_tqlSendAfterClear, g_selectLan}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InstallMessageBoxPresenter([](const std::wstring&) {});  // read failures are expected
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile file("fuzz-settings");
    static const fuzzsupport::ScratchFile again("fuzz-settings-again");
    file.write({data, size});
    ResetSettingsToDefaults();
    LoadSettingsFileFrom(file.path());
    const Values read = current();
    FUZZ_CHECK(read.lanName.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(g_slaveCount >= kMinSlaveCount && g_slaveCount <= kMaxSlaveCount);
    FUZZ_CHECK(g_cia402Accel != 0);

    SaveSettingsFileTo(again.path());
    ResetSettingsToDefaults();
    LoadSettingsFileFrom(again.path());
    FUZZ_CHECK(current() == read);
    return 0;
}
