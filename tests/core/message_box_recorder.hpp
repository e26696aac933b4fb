// Stands in for the GUI's message boxes: records every text and returns at once
// (the box is "closed" immediately). A test may react to a box while the asking
// thread waits, as a user would.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.hpp"

namespace testsupport {

class MessageBoxRecorder {
  public:
    MessageBoxRecorder() {
        InstallMessageBoxPresenter([this](const std::wstring& text) { record(text); });
    }
    ~MessageBoxRecorder() { InstallMessageBoxPresenter({}); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<std::wstring> texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        texts_.clear();
    }
    // Runs on the asking thread before the box "closes".
    void onBox(std::function<void(const std::wstring&)> reaction) {
        std::lock_guard lock(mutex_);
        reaction_ = std::move(reaction);
    }

  private:
    void record(const std::wstring& text) {
        std::function<void(const std::wstring&)> reaction;
        {
            std::lock_guard lock(mutex_);
            texts_.push_back(text);
            reaction = reaction_;
        }
        if (reaction) reaction(text);
    }

    mutable std::mutex mutex_;
    std::vector<std::wstring> texts_;
    std::function<void(const std::wstring&)> reaction_;
};

}  // namespace testsupport
