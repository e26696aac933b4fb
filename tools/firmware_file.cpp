#include "tools/firmware_file.hpp"

#include <algorithm>

FirmwareLine CutFirmwareLine(std::string_view data, size_t pos) {
    FirmwareLine cut;
    if (pos >= data.size()) {
        cut.next = data.size();
        return cut;
    }
    const std::string_view rest = data.substr(pos, kFirmwareCutBytes);
    const size_t feed = rest.find('\n');
    if (feed == std::string_view::npos) {
        cut.text = rest;
        cut.next = pos + rest.size();
        cut.kind = rest.size() == kFirmwareCutBytes ? FirmwareLine::Kind::TooLong
                                                    : FirmwareLine::Kind::Unended;
        return cut;
    }
    cut.text = rest.substr(0, feed + 1);
    cut.next = pos + feed + 1;
    cut.kind = feed >= kFirmwareLineLimit ? FirmwareLine::Kind::TooLong : FirmwareLine::Kind::Line;
    cut.last = cut.kind == FirmwareLine::Kind::Line && cut.next == data.size();
    return cut;
}

FirmwareFileCheck CheckFirmwareFile(std::string_view data) {
    using Fault = FirmwareFileCheck::Fault;
    if (data.empty()) return {Fault::Empty, 0};
    if (data.size() >= kFirmwareFileMaxBytes) return {Fault::TooBig, 0};
    const size_t nul = data.find('\0');
    if (nul != std::string_view::npos) {
        return {Fault::NulByte,
                1 + static_cast<int>(std::count(data.begin(), data.begin() + nul, '\n'))};
    }
    int line = 1;
    for (size_t pos = 0; pos < data.size(); ++line) {
        const FirmwareLine cut = CutFirmwareLine(data, pos);
        if (cut.kind == FirmwareLine::Kind::TooLong) return {Fault::TooLong, line};
        if (cut.kind == FirmwareLine::Kind::Unended) return {Fault::Unended, line};
        pos = cut.next;
    }
    return {};
}

std::string FirmwareFileFaultText(const FirmwareFileCheck& check) {
    const std::string line = "line " + std::to_string(check.line);
    switch (check.fault) {
        case FirmwareFileCheck::Fault::None:
            return {};
        case FirmwareFileCheck::Fault::Empty:
            return "the file is empty";
        case FirmwareFileCheck::Fault::TooBig:
            return "the file has 409600 bytes or more";
        case FirmwareFileCheck::Fault::NulByte:
            return line + " holds a NUL byte";
        case FirmwareFileCheck::Fault::TooLong:
            return line + " is too long (90 bytes or more before its line feed)";
        case FirmwareFileCheck::Fault::Unended:
            return line + ", the last, has no line feed";
    }
    return {};
}
