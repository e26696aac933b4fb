#include "ecsim/firmware_loader.hpp"

#include <cstdio>

#include "ecsim/srecord.hpp"

namespace ecsim {

namespace {

constexpr std::string_view kProgramMode = "!PRGMO";
constexpr std::string_view kErase = "!110.9";

constexpr std::string_view kReplyProgramMode = "PrgMod OK!\r\n";
constexpr std::string_view kReplyReady = "Down Load Ready\r\n";
constexpr std::string_view kReplyDone = "Flash Done\r\n";
constexpr std::string_view kReplyBadLine = "Err:Sum\r\n";
constexpr std::string_view kReplyOutOfSequence = "Err:Seq\r\n";
constexpr std::string_view kReplyUnknownCommand = "Err:Cmd\r\n";

constexpr size_t kMaxVersionText = 32;

std::string_view trimLineEnd(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string lineAccepted(unsigned count) {
    char text[16];
    std::snprintf(text, sizeof text, "B%05u\r\n", count % 100000);
    return text;
}

// The header's data as version text: up to the first NUL, printable bytes only.
std::string headerText(const SRecord& header) {
    std::string text;
    for (uint8_t b : header.data) {
        if (b == 0 || text.size() == kMaxVersionText) break;
        text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?');
    }
    return std::string(trimLineEnd(text));
}

}  // namespace

FirmwareLoader::FirmwareLoader(std::function<void(std::string_view)> onFlashed)
    : onFlashed_(std::move(onFlashed)) {}

void FirmwareLoader::write(std::string_view text, Clock::time_point now) {
    const std::string_view line = trimLineEnd(text);
    if (line.empty()) {
        // A blank line of a file carries nothing; it is acknowledged so that a
        // trailing empty line does not stall a download.
        replies_.push(lineAccepted(lines_));
        return;
    }
    if (line == kProgramMode) {
        // Starting over drops what an interrupted download left unread, so the
        // answer to this command is the next thing the master reads.
        replies_.clear();
        phase_ = Phase::ProgramMode;
        lines_ = 0;
        header_.clear();
        replies_.push(std::string(kReplyProgramMode));
    } else if (line == kErase) {
        if (phase_ == Phase::Idle) {
            replies_.push(std::string(kReplyOutOfSequence));
            return;
        }
        phase_ = Phase::Erasing;
        eraseDone_ = now + kEraseTime;
        lines_ = 0;
        header_.clear();
    } else if (line.front() == '!') {
        replies_.push(std::string(kReplyUnknownCommand));
    } else if (phase_ != Phase::Receiving) {
        replies_.push(std::string(kReplyOutOfSequence));
    } else {
        receiveRecord(line);
    }
}

void FirmwareLoader::receiveRecord(std::string_view line) {
    const std::optional<SRecord> record = parseSRecord(line);
    if (!record) {
        replies_.push(std::string(kReplyBadLine));
        return;
    }
    ++lines_;
    if (record->isHeader()) header_ = headerText(*record);
    if (!record->isTermination()) {
        replies_.push(lineAccepted(lines_));
        return;
    }
    phase_ = Phase::Idle;
    replies_.push(std::string(kReplyDone));
    if (!header_.empty()) onFlashed_(header_);
}

void FirmwareLoader::tick(Clock::time_point now) {
    if (phase_ == Phase::Erasing && now >= eraseDone_) {
        phase_ = Phase::Receiving;
        replies_.push(std::string(kReplyReady));
    }
}

void FirmwareLoader::reset() {
    phase_ = Phase::Idle;
    lines_ = 0;
    header_.clear();
    replies_.clear();
}

}  // namespace ecsim
