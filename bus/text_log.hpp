// A log text that one thread appends to while another shows it: every append is
// whole before a reader can see it.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

class TextLog {
  public:
    void append(std::wstring_view text);
    // Appends device bytes (Latin-1), the form in which the bus threads build lines.
    void appendBytes(std::string_view bytes);
    void clear();
    size_t length() const;  // in characters
    std::wstring copy() const;

  private:
    mutable std::mutex mutex_;
    std::wstring text_;
};
