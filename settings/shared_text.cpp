#include "settings/shared_text.hpp"

bool SharedText::set(std::string_view text) {
    const size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    const bool fits = text.size() < kCapacity;
    if (!fits) text = text.substr(0, kCapacity - 1);
    std::lock_guard lock(mutex_);
    text_.assign(text);
    return fits;
}

std::string SharedText::get() const {
    std::lock_guard lock(mutex_);
    return text_;
}
