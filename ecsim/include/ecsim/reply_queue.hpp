// A device's queue of text replies that the master fetches one upload at a time
// (a motor channel, the firmware loader).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace ecsim {

class ReplyQueue {
  public:
    // What an upload returns when nothing is pending; replies never begin with 'N'.
    static constexpr std::string_view kNothingPending = "NoData";
    // Beyond this the oldest reply is dropped: a master that stops reading must
    // not let the queue grow without bound, and the newest replies matter most.
    static constexpr size_t kCapacity = 128;

    void push(std::string reply) {
        if (replies_.size() == kCapacity) replies_.pop_front();
        replies_.push_back(std::move(reply));
    }

    // Takes the oldest reply, or kNothingPending.
    std::string take() {
        if (replies_.empty()) return std::string(kNothingPending);
        std::string reply = std::move(replies_.front());
        replies_.pop_front();
        return reply;
    }

    size_t size() const { return replies_.size(); }
    void clear() { replies_.clear(); }

  private:
    std::deque<std::string> replies_;
};

}  // namespace ecsim
