// A log text that one thread appends to while another shows it: every append is
// whole before a reader can see it. A log may keep only its newest lines; a
// reader that shows it takes only what came since its last look.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class TextLog {
  public:
    TextLog() = default;
    // Keeps the newest `maxLines` lines: whenever an append makes more, the
    // oldest are dropped, each up to and with its line feed.
    explicit TextLog(size_t maxLines) : maxLines_(maxLines) {}

    void append(std::wstring_view text);
    // Appends device bytes (Latin-1), the form in which the bus threads build lines.
    void appendBytes(std::string_view bytes);
    void clear();
    size_t length() const;  // in characters
    std::wstring copy() const;

    // A reader's place: how far it has taken the log.
    struct Mark {
        uint64_t clears = 0;  // clear() calls the reader has seen
        uint64_t end = 0;     // characters appended since that clear
    };
    struct News {
        std::wstring text;  // what came after the mark
        // The reader's text no longer leads up to `text` (the log was cleared,
        // or lines the reader never took were dropped): `text` is the whole log,
        // to be shown in place of what the reader shows.
        bool restart = false;
        Mark mark;  // the place after `text`
    };
    // What came since `mark`; costs the length of what is new, whatever the
    // log's length.
    News since(const Mark& mark) const;

  private:
    void dropOldLines();

    mutable std::mutex mutex_;
    std::wstring text_;
    size_t maxLines_ = 0;   // 0: every line is kept
    size_t lines_ = 0;      // line feeds in text_
    uint64_t dropped_ = 0;  // characters dropped from the front since the last clear
    uint64_t clears_ = 0;
};
