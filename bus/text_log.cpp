#include "bus/text_log.hpp"

#include "platform/latin1.hpp"

void TextLog::append(std::wstring_view text) {
    std::lock_guard lock(mutex_);
    text_.append(text);
}

void TextLog::appendBytes(std::string_view bytes) {
    append(Latin1ToWide(bytes));
}

void TextLog::clear() {
    std::lock_guard lock(mutex_);
    text_.clear();
}

size_t TextLog::length() const {
    std::lock_guard lock(mutex_);
    return text_.size();
}

std::wstring TextLog::copy() const {
    std::lock_guard lock(mutex_);
    return text_;
}
