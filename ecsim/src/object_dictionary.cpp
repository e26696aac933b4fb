#include "ecsim/object_dictionary.hpp"

#include <algorithm>
#include <exception>

namespace ecsim {

namespace {

// Width in bytes of a numeric type; 0 for strings and octet strings.
size_t numericWidth(DataType type) {
    switch (type) {
        case DataType::Boolean:
        case DataType::Integer8:
        case DataType::Unsigned8:
            return 1;
        case DataType::Integer16:
        case DataType::Unsigned16:
            return 2;
        case DataType::Integer32:
        case DataType::Unsigned32:
        case DataType::Real32:
            return 4;
        case DataType::Integer64:
        case DataType::Unsigned64:
            return 8;
        case DataType::VisibleString:
        case DataType::OctetString:
            return 0;
    }
    return 0;
}

bool isSigned(DataType type) {
    return type == DataType::Integer8 || type == DataType::Integer16 ||
           type == DataType::Integer32 || type == DataType::Integer64;
}

std::vector<uint8_t> littleEndian(uint64_t v, size_t width) {
    std::vector<uint8_t> bytes(width);
    for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    return bytes;
}

Entry numericEntry(DataType type, uint64_t v, Access a) {
    Entry e;
    e.type = type;
    e.access = a;
    e.value = littleEndian(v, numericWidth(type));
    return e;
}

// Hooks belong to device models; one that throws must not take the segment down.
template <typename Fn>
uint32_t guarded(Fn&& fn) {
    try {
        return fn();
    } catch (const std::exception&) {
        return abort_code::GeneralError;
    }
}

// Brings a numeric download to the entry's width: a shorter value is
// zero-extended, a longer one (the tool writes everything as 32 bits) keeps its
// low bytes. Returns an abort code when the length is not acceptable.
uint32_t normaliseNumeric(const Entry& e, std::span<const uint8_t> data,
                          std::vector<uint8_t>& out) {
    const size_t width = numericWidth(e.type);
    const size_t accepted = std::max<size_t>(width, 4);
    if (data.empty()) return abort_code::LengthTooLow;
    if (data.size() > accepted) return abort_code::LengthTooHigh;
    out.assign(width, 0);
    std::copy_n(data.begin(), std::min(width, data.size()), out.begin());
    if (e.type == DataType::Boolean && out[0] > 1) return abort_code::ValueRange;
    return abort_code::None;
}

uint32_t checkString(const Entry& e, std::span<const uint8_t> data) {
    const size_t limit = e.maxLength != 0 ? e.maxLength : e.value.size();
    return data.size() > limit ? abort_code::LengthTooHigh : abort_code::None;
}

}  // namespace

void ObjectDictionary::add(uint16_t index, uint8_t subindex, Entry entry) {
    entries_[{index, subindex}] = std::move(entry);
}

void ObjectDictionary::addU8(uint16_t index, uint8_t sub, uint8_t v, Access a) {
    add(index, sub, numericEntry(DataType::Unsigned8, v, a));
}
void ObjectDictionary::addU16(uint16_t index, uint8_t sub, uint16_t v, Access a) {
    add(index, sub, numericEntry(DataType::Unsigned16, v, a));
}
void ObjectDictionary::addU32(uint16_t index, uint8_t sub, uint32_t v, Access a) {
    add(index, sub, numericEntry(DataType::Unsigned32, v, a));
}
void ObjectDictionary::addI8(uint16_t index, uint8_t sub, int8_t v, Access a) {
    add(index, sub, numericEntry(DataType::Integer8, static_cast<uint8_t>(v), a));
}
void ObjectDictionary::addI16(uint16_t index, uint8_t sub, int16_t v, Access a) {
    add(index, sub, numericEntry(DataType::Integer16, static_cast<uint16_t>(v), a));
}
void ObjectDictionary::addI32(uint16_t index, uint8_t sub, int32_t v, Access a) {
    add(index, sub, numericEntry(DataType::Integer32, static_cast<uint32_t>(v), a));
}
void ObjectDictionary::addString(uint16_t index, uint8_t sub, std::string_view text, Access a,
                                 size_t maxLength) {
    Entry e;
    e.type = DataType::VisibleString;
    e.access = a;
    e.value.assign(text.begin(), text.end());
    e.maxLength = maxLength;
    add(index, sub, std::move(e));
}

bool ObjectDictionary::has(uint16_t index, uint8_t sub) const {
    return entries_.count({index, sub}) != 0;
}

bool ObjectDictionary::hasObject(uint16_t index) const {
    auto it = entries_.lower_bound({index, 0});
    return it != entries_.end() && it->first.first == index;
}

Entry* ObjectDictionary::find(uint16_t index, uint8_t sub) {
    auto it = entries_.find({index, sub});
    return it == entries_.end() ? nullptr : &it->second;
}

uint32_t ObjectDictionary::upload(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) {
    Entry* e = find(index, sub);
    if (e == nullptr) {
        return hasObject(index) ? abort_code::SubindexMissing : abort_code::ObjectMissing;
    }
    if (e->access == Access::WriteOnly) return abort_code::WriteOnly;
    if (!e->onUpload) {
        out = e->value;
        return abort_code::None;
    }
    out.clear();
    return guarded([&] { return e->onUpload(out); });
}

uint32_t ObjectDictionary::download(uint16_t index, uint8_t sub, std::span<const uint8_t> data) {
    Entry* e = find(index, sub);
    if (e == nullptr) {
        return hasObject(index) ? abort_code::SubindexMissing : abort_code::ObjectMissing;
    }
    if (e->access == Access::ReadOnly) return abort_code::ReadOnly;
    std::vector<uint8_t> value;
    if (numericWidth(e->type) != 0) {
        if (uint32_t code = normaliseNumeric(*e, data, value)) return code;
    } else {
        if (uint32_t code = checkString(*e, data)) return code;
        value.assign(data.begin(), data.end());
    }
    if (e->onDownload) return guarded([&] { return e->onDownload(value); });
    e->value = std::move(value);
    return abort_code::None;
}

namespace {
// Number of subindexes a complete access covers: the value of subindex 0.
uint32_t completeAccessCount(ObjectDictionary& od, uint16_t index, uint8_t& count) {
    const Entry* zero = od.find(index, 0);
    if (zero == nullptr) {
        return od.hasObject(index) ? abort_code::CompleteAccess : abort_code::ObjectMissing;
    }
    if (numericWidth(zero->type) != 1) return abort_code::CompleteAccess;
    count = zero->value.empty() ? 0 : zero->value[0];
    return abort_code::None;
}
}  // namespace

uint32_t ObjectDictionary::uploadComplete(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) {
    if (sub > 1) return abort_code::SubindexMissing;
    uint8_t count = 0;
    if (uint32_t code = completeAccessCount(*this, index, count)) return code;
    out.clear();
    if (sub == 0) {
        out.push_back(count);
        out.push_back(0);  // subindex 0 travels as 16 bits
    }
    for (unsigned s = 1; s <= count; ++s) {
        if (!has(index, static_cast<uint8_t>(s))) continue;  // gaps are left out
        std::vector<uint8_t> part;
        if (uint32_t code = upload(index, static_cast<uint8_t>(s), part)) return code;
        out.insert(out.end(), part.begin(), part.end());
    }
    return abort_code::None;
}

uint32_t ObjectDictionary::downloadComplete(uint16_t index, uint8_t sub,
                                            std::span<const uint8_t> data) {
    if (sub > 1) return abort_code::SubindexMissing;
    uint8_t count = 0;
    if (uint32_t code = completeAccessCount(*this, index, count)) return code;
    size_t pos = 0;
    if (sub == 0) {
        if (data.size() < 2) return abort_code::LengthTooLow;
        count = data[0];
        pos = 2;
    }
    // Cut the data into the subindexes first, so that a bad length or a
    // read-only entry refuses the whole download before anything changes.
    struct Part {
        uint8_t sub;
        std::span<const uint8_t> bytes;
    };
    std::vector<Part> parts;
    for (unsigned s = 1; s <= count; ++s) {
        const Entry* e = find(index, static_cast<uint8_t>(s));
        if (e == nullptr) continue;
        if (e->access == Access::ReadOnly) return abort_code::ReadOnly;
        const size_t width = numericWidth(e->type) != 0 ? numericWidth(e->type) : e->value.size();
        if (data.size() - pos < width) return abort_code::LengthTooLow;
        parts.push_back({static_cast<uint8_t>(s), data.subspan(pos, width)});
        pos += width;
    }
    if (pos != data.size()) return abort_code::LengthTooHigh;
    if (sub == 0) {
        const uint8_t zero[1] = {count};
        if (uint32_t code = download(index, 0, zero)) return code;
    }
    for (const Part& p : parts) {
        if (uint32_t code = download(index, p.sub, p.bytes)) return code;
    }
    return abort_code::None;
}

int64_t ObjectDictionary::getInt(uint16_t index, uint8_t sub) const {
    auto it = entries_.find({index, sub});
    if (it == entries_.end()) return 0;
    const Entry& e = it->second;
    const size_t width = std::min<size_t>(e.value.size(), 8);
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(e.value[i]) << (8 * i);
    if (isSigned(e.type) && width > 0 && width < 8 && (e.value[width - 1] & 0x80) != 0) {
        v |= ~uint64_t{0} << (8 * width);
    }
    return static_cast<int64_t>(v);
}

void ObjectDictionary::setInt(uint16_t index, uint8_t sub, int64_t v) {
    auto it = entries_.find({index, sub});
    if (it == entries_.end() || numericWidth(it->second.type) == 0) return;
    it->second.value = littleEndian(static_cast<uint64_t>(v), numericWidth(it->second.type));
}

std::string ObjectDictionary::getString(uint16_t index, uint8_t sub) const {
    auto it = entries_.find({index, sub});
    if (it == entries_.end()) return {};
    return std::string(it->second.value.begin(), it->second.value.end());
}

void ObjectDictionary::setString(uint16_t index, uint8_t sub, std::string_view text) {
    auto it = entries_.find({index, sub});
    if (it == entries_.end() || numericWidth(it->second.type) != 0) return;
    it->second.value.assign(text.begin(), text.end());
}

void addPdoObjects(ObjectDictionary& od, std::span<const PdoDesc> outputs,
                   std::span<const PdoDesc> inputs) {
    constexpr uint8_t kSmTypes[] = {1, 2, 3, 4};  // mailbox out, mailbox in, outputs, inputs
    od.addU8(0x1C00, 0, sizeof(kSmTypes), Access::ReadOnly);
    for (uint8_t i = 0; i < sizeof(kSmTypes); ++i) {
        od.addU8(0x1C00, static_cast<uint8_t>(i + 1), kSmTypes[i], Access::ReadOnly);
    }
    auto addDirection = [&od](uint16_t assignIndex, std::span<const PdoDesc> pdos) {
        od.addU8(assignIndex, 0, static_cast<uint8_t>(pdos.size()));
        for (size_t i = 0; i < pdos.size(); ++i) {
            const PdoDesc& pdo = pdos[i];
            od.addU16(assignIndex, static_cast<uint8_t>(i + 1), pdo.index);
            od.addU8(pdo.index, 0, static_cast<uint8_t>(pdo.entries.size()));
            for (size_t k = 0; k < pdo.entries.size(); ++k) {
                const PdoEntryDesc& m = pdo.entries[k];
                od.addU32(pdo.index, static_cast<uint8_t>(k + 1),
                          (uint32_t{m.index} << 16) | (uint32_t{m.subindex} << 8) | m.bits);
            }
        }
    };
    addDirection(0x1C12, outputs);
    addDirection(0x1C13, inputs);
}

}  // namespace ecsim
