#include "bus/text_log.hpp"

#include <algorithm>

#include "platform/latin1.hpp"

void TextLog::append(std::wstring_view text) {
    std::lock_guard lock(mutex_);
    text_.append(text);
    lines_ += static_cast<size_t>(std::count(text.begin(), text.end(), L'\n'));
    dropOldLines();
}

void TextLog::dropOldLines() {
    if (maxLines_ == 0 || lines_ <= maxLines_) return;
    // One cut after the last line feed that goes.
    size_t excess = lines_ - maxLines_;
    size_t cut = 0;
    while (excess > 0) {
        cut = text_.find(L'\n', cut) + 1;
        --excess;
    }
    text_.erase(0, cut);
    dropped_ += cut;
    lines_ = maxLines_;
}

void TextLog::appendBytes(std::string_view bytes) {
    append(Latin1ToWide(bytes));
}

void TextLog::clear() {
    std::lock_guard lock(mutex_);
    text_.clear();
    lines_ = 0;
    dropped_ = 0;
    ++clears_;
}

size_t TextLog::length() const {
    std::lock_guard lock(mutex_);
    return text_.size();
}

std::wstring TextLog::copy() const {
    std::lock_guard lock(mutex_);
    return text_;
}

TextLog::News TextLog::since(const Mark& mark) const {
    std::lock_guard lock(mutex_);
    News news;
    news.mark = {clears_, dropped_ + text_.size()};
    const bool follows =
        mark.clears == clears_ && mark.end >= dropped_ && mark.end <= news.mark.end;
    if (follows) {
        news.text = text_.substr(static_cast<size_t>(mark.end - dropped_));
    } else {
        news.text = text_;
        news.restart = true;
    }
    return news;
}
