// The firmware file reader: the input is the file. Its check must agree with
// the cuts a run sends: an accepted file is cut into whole lines only, each
// short enough for the loader, and every cut takes the bytes where the last
// one left off.
#include "tools/firmware_file.hpp"

#include <string>

#include "support/byte_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view file = fuzzsupport::asText({data, size});
    const FirmwareFileCheck check = CheckFirmwareFile(file);
    const bool accepted = check.fault == FirmwareFileCheck::Fault::None;
    FUZZ_CHECK(FirmwareFileFaultText(check).empty() == accepted);

    size_t pos = 0;
    int lines = 0;
    for (;;) {
        const FirmwareLine cut = CutFirmwareLine(file, pos);
        if (cut.kind == FirmwareLine::Kind::End) {
            FUZZ_CHECK(pos == file.size() && cut.text.empty());
            break;
        }
        ++lines;
        FUZZ_CHECK(cut.text.data() == file.data() + pos);
        FUZZ_CHECK(!cut.text.empty() && cut.text.size() <= kFirmwareCutBytes);
        FUZZ_CHECK(cut.next == pos + cut.text.size() && cut.next <= file.size());
        const bool fed = cut.text.back() == '\n';
        FUZZ_CHECK(cut.kind != FirmwareLine::Kind::Line || fed);
        FUZZ_CHECK(cut.kind != FirmwareLine::Kind::Unended || (!fed && cut.next == file.size()));
        if (accepted) {
            FUZZ_CHECK(cut.kind == FirmwareLine::Kind::Line);
            FUZZ_CHECK(cut.text.size() <= kFirmwareLineLimit);
            FUZZ_CHECK(cut.last == (cut.next == file.size()));
        }
        pos = cut.next;
    }
    if (accepted) FUZZ_CHECK(lines > 0 && file.find('\0') == std::string_view::npos);
    return 0;
}
