// The bridge's resident firmware loader: a text dialogue of commands and
// S-record lines written to one object and replies read from another.
#pragma once

#include <chrono>
#include <functional>
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

    // `onFlashed` receives the header record's text when a download completes.
    explicit FirmwareLoader(std::function<void(std::string_view)> onFlashed);

    // A command ("!PRGMO", "!110.9") or a record line, CR/LF included or not.
    void write(std::string_view text, Clock::time_point now);
    // The oldest pending reply, or the "nothing pending" text.
    std::string read() { return replies_.take(); }
    // Ends an erase whose time has come.
    void tick(Clock::time_point now);
    // Drops out of programming mode (the bridge was locked again).
    void reset();

    Phase phase() const { return phase_; }
    unsigned acceptedLines() const { return lines_; }

  private:
    void receiveRecord(std::string_view line);

    std::function<void(std::string_view)> onFlashed_;
    Phase phase_ = Phase::Idle;
    Clock::time_point eraseDone_{};
    unsigned lines_ = 0;
    std::string header_;
    ReplyQueue replies_;
};

}  // namespace ecsim
