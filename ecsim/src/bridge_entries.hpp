// Building blocks for the bridge's numeric objects whose value the device
// model computes, or whose downloads it checks before they are kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "ecsim/object_dictionary.hpp"

namespace ecsim::bridge_entries {

// Reads `read()` on every upload (nothing: the device cannot get the value,
// abort 0x08000020); downloads go to `write` (abort code or 0). The entry is
// read-only without `write`.
void addComputed(ObjectDictionary& od, uint16_t index, uint8_t sub, DataType type,
                 std::function<std::optional<int64_t>()> read,
                 std::function<uint32_t(int64_t)> write = {});

// A stored value; a download is kept only when `check` returns 0, else that
// abort code is the answer.
void addChecked(ObjectDictionary& od, uint16_t index, uint8_t sub, DataType type, int64_t initial,
                std::function<uint32_t(int64_t)> check, Access access = Access::ReadWrite);

}  // namespace ecsim::bridge_entries
