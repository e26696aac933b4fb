#include "ecsim/firmware_loader.hpp"

#include <cstdio>
#include <vector>

#include "ecsim/srecord.hpp"

namespace ecsim {

namespace {

constexpr std::string_view kProgramMode = "!PRGMO";
constexpr std::string_view kErase = "!110.9";

constexpr std::string_view kReplyProgramMode = "PrgMod OK!\r\n";
constexpr std::string_view kReplyProgramModeRefused = "Err:Prg\r\n";
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
        reset();
        if (faults_.refuseProgramMode) {
            replies_.push(std::string(kReplyProgramModeRefused));
            return;
        }
        phase_ = Phase::ProgramMode;
        replies_.push(std::string(kReplyProgramMode));
    } else if (line == kErase) {
        if (phase_ == Phase::Idle) {
            replies_.push(std::string(kReplyOutOfSequence));
            return;
        }
        phase_ = Phase::Erasing;
        eraseDone_ = now + eraseTime_;
        forgetDownload();
    } else if (line.front() == '!') {
        replies_.push(std::string(kReplyUnknownCommand));
    } else if (!lastLine_.empty() && line == lastLine_) {
        resend();
    } else if (phase_ != Phase::Receiving) {
        replies_.push(std::string(kReplyOutOfSequence));
    } else {
        receiveRecord(line);
    }
}

std::string FirmwareLoader::read() {
    if (held_ && --heldReads_ == 0) {
        replies_.push(std::move(*held_));
        held_.reset();
    }
    return replies_.take();
}

void FirmwareLoader::receiveRecord(std::string_view line) {
    const std::optional<SRecord> record = parseSRecord(line);
    if (!record) {
        answerLine(std::string(kReplyBadLine));
        return;
    }
    ++lines_;
    if (record->isHeader()) header_ = headerText(*record);
    lastLine_ = std::string(line);
    if (!record->isTermination()) {
        lastReply_ = lineAccepted(lines_);
        answerLine(lastReply_);
        return;
    }
    phase_ = Phase::Idle;
    lastReply_ = std::string(kReplyDone);
    answerLine(lastReply_);
    if (!header_.empty()) onFlashed_(header_);
}

// A master that missed the answer to a record sends it again: the record is not
// taken twice, and the master reads one answer, not a stale one before it.
void FirmwareLoader::resend() {
    if (held_) return;  // its answer is still on its way
    replies_.clear();
    answerLine(lastReply_);
}

void FirmwareLoader::answerLine(std::string reply) {
    if (faults_.mutedLines > 0) {
        --faults_.mutedLines;
        return;
    }
    if (faults_.lateLines > 0) {
        --faults_.lateLines;
        held_ = std::move(reply);
        heldReads_ = faults_.lateReads > 0 ? faults_.lateReads : 1;
        return;
    }
    replies_.push(std::move(reply));
}

void FirmwareLoader::forgetDownload() {
    lines_ = 0;
    header_.clear();
    lastLine_.clear();
    lastReply_.clear();
    held_.reset();
}

void FirmwareLoader::tick(Clock::time_point now) {
    if (phase_ == Phase::Erasing && now >= eraseDone_ && !faults_.neverReady) {
        phase_ = Phase::Receiving;
        replies_.push(std::string(kReplyReady));
    }
}

void FirmwareLoader::reset() {
    phase_ = Phase::Idle;
    forgetDownload();
    replies_.clear();
}

std::string sampleFirmwareImage(std::string_view version) {
    constexpr uint32_t kRecords = 128;
    constexpr uint32_t kRecordBytes = 32;
    constexpr uint32_t kStart = 0x0800;
    std::string image = formatSRecord(
        0, 0, std::span(reinterpret_cast<const uint8_t*>(version.data()), version.size()));
    // Bytes that look like code to no one but differ from record to record.
    uint32_t seed = 0x2F6E2B1u;
    std::vector<uint8_t> data(kRecordBytes);
    for (uint32_t r = 0; r < kRecords; ++r) {
        for (uint8_t& b : data) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<uint8_t>(seed >> 16);
        }
        image += formatSRecord(1, kStart + r * kRecordBytes, data);
    }
    image += formatSRecord(5, kRecords, {});
    image += formatSRecord(9, kStart, {});
    return image;
}

}  // namespace ecsim
