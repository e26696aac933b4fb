// A loader of the test's own behind the firmware update's link: it answers what
// is written to it as the test scripts, keeps what it was sent, and runs on a
// clock that only pauses and device accesses move, so every run is the same.
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tools/self_prg.hpp"

namespace tooltest {

using std::chrono::milliseconds;

class ScriptedLoader : public SelfPrgLink {
  public:
    // The replies queued for what was written; the default answers as a good
    // loader does.
    using Answer = std::function<std::vector<std::string>(const std::string& text)>;

    ScriptedLoader() : answer(GoodLoader()) {}

    static Answer GoodLoader() {
        return [lines = 0](const std::string& text) mutable -> std::vector<std::string> {
            if (text == "!PRGMO\r\n") return {"PrgMod OK!\r\n"};
            if (text == "!110.9\r\n") return {"Down Load Ready\r\n"};
            if (text.starts_with("S9")) return {"Flash Done\r\n"};
            char reply[16];
            std::snprintf(reply, sizeof reply, "B%05d\r\n", ++lines);
            return {reply};
        };
    }

    void WriteUnlockWord(int slave) override {
        sent.push_back("<unlock " + std::to_string(slave) + ">");
        now += accessTime;
    }
    void Send(int slave, std::string_view text) override {
        sent.emplace_back(text);
        slaves.push_back(slave);
        now += accessTime;
        for (std::string& reply : answer(std::string(text))) replies.push_back(std::move(reply));
    }
    std::string Read(int) override {
        ++reads;
        now += accessTime;
        if (replies.empty()) return readWhenEmpty;
        std::string reply = std::move(replies.front());
        replies.pop_front();
        return reply;
    }
    void Pause(int ms) override {
        pauses.push_back(ms);
        now += milliseconds(ms);
    }
    Clock::time_point Now() override { return now; }

    size_t CountSent(const std::string& text) const {
        size_t n = 0;
        for (const std::string& s : sent) n += s == text ? 1 : 0;
        return n;
    }

    Answer answer;
    std::string readWhenEmpty = "NoData";
    std::deque<std::string> replies;
    std::vector<std::string> sent;  // unlocks as "<unlock N>"
    std::vector<int> slaves;        // of each Send
    std::vector<int> pauses;
    int reads = 0;
    milliseconds accessTime{1};
    Clock::time_point now{};
};

// What a run showed, in order.
class RecordedView : public SelfPrgView {
  public:
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void showProgress(int position) override { progress.push_back(position); }
    std::string status() const { return statuses.empty() ? std::string() : statuses.back(); }
    bool showed(const std::string& text) const {
        for (const std::string& s : statuses) {
            if (s == text) return true;
        }
        return false;
    }

    std::vector<std::string> statuses;
    std::vector<int> progress;
};

}  // namespace tooltest
