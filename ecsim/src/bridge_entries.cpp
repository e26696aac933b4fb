#include "bridge_entries.hpp"

namespace ecsim::bridge_entries {

namespace {

bool isSigned(DataType type) {
    return type == DataType::Integer8 || type == DataType::Integer16 || type == DataType::Integer32;
}

// The dictionary hands numeric downloads over already at the entry's width.
int64_t decode(DataType type, std::span<const uint8_t> data) {
    uint64_t v = 0;
    for (size_t i = 0; i < data.size() && i < 8; ++i) v |= uint64_t{data[i]} << (8 * i);
    const size_t bits = 8 * data.size();
    if (isSigned(type) && bits > 0 && bits < 64 && ((v >> (bits - 1)) & 1) != 0) {
        v |= ~uint64_t{0} << bits;
    }
    return static_cast<int64_t>(v);
}

Entry numeric(DataType type, Access access) {
    Entry e;
    e.type = type;
    e.access = access;
    return e;
}

}  // namespace

void addComputed(ObjectDictionary& od, uint16_t index, uint8_t sub, DataType type,
                 std::function<std::optional<int64_t>()> read,
                 std::function<uint32_t(int64_t)> write) {
    Entry e = numeric(type, write ? Access::ReadWrite : Access::ReadOnly);
    // The entry's own bytes hold the last value read, at the type's width.
    e.onUpload = [&od, index, sub, read = std::move(read)](std::vector<uint8_t>& out) {
        const std::optional<int64_t> v = read();
        if (!v) return abort_code::CannotStore;
        od.setInt(index, sub, *v);
        out = od.find(index, sub)->value;
        return abort_code::None;
    };
    if (write) {
        e.onDownload = [type, write = std::move(write)](std::span<const uint8_t> data) {
            return write(decode(type, data));
        };
    }
    od.add(index, sub, std::move(e));
    od.setInt(index, sub, 0);
}

void addChecked(ObjectDictionary& od, uint16_t index, uint8_t sub, DataType type, int64_t initial,
                std::function<uint32_t(int64_t)> check, Access access) {
    Entry e = numeric(type, access);
    e.onDownload = [&od, index, sub, type,
                    check = std::move(check)](std::span<const uint8_t> data) {
        const int64_t v = decode(type, data);
        if (const uint32_t code = check(v)) return code;
        od.setInt(index, sub, v);
        return abort_code::None;
    };
    od.add(index, sub, std::move(e));
    od.setInt(index, sub, initial);
}

}  // namespace ecsim::bridge_entries
