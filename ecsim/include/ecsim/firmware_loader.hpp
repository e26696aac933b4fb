// The bridge's resident firmware loader: a text dialogue of commands and
// S-record lines written to one object and replies read from another.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ecsim/device.hpp"
#include "ecsim/reply_queue.hpp"

namespace ecsim {

class FirmwareLoader {
  public:
    static constexpr std::chrono::milliseconds kEraseTime{300};
    // Longest text one write may carry (a record line with CR/LF fits well).
    static constexpr size_t kMaxWrite = 96;

    enum class Phase { Idle, ProgramMode, Erasing, Receiving };

    // Faults a test switches on to see how a master copes with a loader that
    // misbehaves. They stay until changed (a lock or restart keeps them).
    struct Faults {
        bool refuseProgramMode = false;  // "!PRGMO" is answered "Err:Prg"
        bool neverReady = false;         // an erase never ends: no "Down Load Ready"
        unsigned lateLines = 0;          // the replies to this many next record lines come late,
        unsigned lateReads = 15;         //   with this read of the reply object after the line
        unsigned mutedLines = 0;         // this many next record lines get no reply at all
        bool silent = false;             // the bridge serves no mailbox message (SDOs time out)
    };

    // `onFlashed` receives the header record's text when a download completes.
    explicit FirmwareLoader(std::function<void(std::string_view)> onFlashed);

    // A command ("!PRGMO", "!110.9") or a record line, CR/LF included or not.
    void write(std::string_view text, Clock::time_point now);
    // The oldest pending reply, or the "nothing pending" text.
    std::string read();
    // Ends an erase whose time has come.
    void tick(Clock::time_point now);
    // Drops out of programming mode (the bridge was locked again).
    void reset();

    Phase phase() const { return phase_; }
    unsigned acceptedLines() const { return lines_; }

    void setFaults(const Faults& faults) { faults_ = faults; }
    const Faults& faults() const { return faults_; }
    // How long an erase takes (kEraseTime unless set): a test whose procedure
    // waits on a clock of its own need not wait out the real one.
    void setEraseTime(std::chrono::milliseconds time) { eraseTime_ = time; }

  private:
    void receiveRecord(std::string_view line);
    void resend();
    void answerLine(std::string reply);
    // Drops the lines taken so far, their header and a reply still held back.
    void forgetDownload();

    std::function<void(std::string_view)> onFlashed_;
    Phase phase_ = Phase::Idle;
    Clock::time_point eraseDone_{};
    std::chrono::milliseconds eraseTime_ = kEraseTime;
    unsigned lines_ = 0;
    std::string header_;
    // The last record taken and its answer: the same line again is a resend.
    std::string lastLine_;
    std::string lastReply_;
    std::optional<std::string> held_;  // a late reply, due with read number heldReads_
    unsigned heldReads_ = 0;
    Faults faults_;
    ReplyQueue replies_;
};

// The version text of the sample firmware image.
inline constexpr std::string_view kSampleFirmwareVersion = "V1.08";

// A firmware image for the simulated bridges, as S-record lines ended by CR LF:
// a header carrying `version`, data records, a count record and a termination
// record.
std::string sampleFirmwareImage(std::string_view version = kSampleFirmwareVersion);

}  // namespace ecsim
