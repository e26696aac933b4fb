// Reads a fuzz input front to back in the pieces a target asks for; past the
// end every number is 0 and every run of bytes empty, so a target never has to
// check lengths itself. Seed files are written in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

namespace fuzzsupport {

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t left() const { return size_ - at_; }

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    uint64_t u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }

    // The next `n` bytes, or as many as are left.
    std::span<const uint8_t> bytes(size_t n) {
        const size_t take = n < left() ? n : left();
        const std::span<const uint8_t> out(data_ + at_, take);
        at_ += take;
        return out;
    }
    std::span<const uint8_t> rest() { return bytes(left()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

inline std::string_view asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace fuzzsupport

// A property the code under test promises; a broken one ends the run as a crash
// does, so the fuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
