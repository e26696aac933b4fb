// A short multibyte text of fixed capacity shared between threads (the interface
// name): every write is bounded by the capacity and a reader never sees half a
// write.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

class SharedText {
  public:
    static constexpr size_t kCapacity = 128;  // bytes with the terminating zero

    // Stores at most kCapacity - 1 bytes of `text` (up to its first zero byte);
    // returns false when it had to cut it.
    bool set(std::string_view text);
    std::string get() const;

  private:
    mutable std::mutex mutex_;
    std::string text_;
};
