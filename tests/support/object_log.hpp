// Notes every SDO access to chosen objects of a simulated bridge, in order, in
// one log that the test may add its own lines to (a procedure's pauses), so a
// whole sequence of accesses and pauses compares as values. "6898:00 < 2" is a
// download of 2, "60FD:00 >" an upload; the entries still do what they did.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "ecsim/bridge.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/slave.hpp"

namespace testsupport {

class ObjectLog {
  public:
    // Watches every entry of the objects `indices` of the bridge at `slave`.
    ObjectLog(ecsim::Segment& segment, int slave, const std::vector<uint16_t>& indices)
        : shared_(std::make_shared<Shared>()) {
        auto guard = segment.lock();
        ecsim::ObjectDictionary& od =
            dynamic_cast<ecsim::BridgeDevice&>(segment.slave(static_cast<size_t>(slave)).device())
                .dictionary();
        for (const uint16_t index : indices) {
            for (unsigned sub = 0; sub <= 0xFF; ++sub) {
                ecsim::Entry* entry = od.find(index, static_cast<uint8_t>(sub));
                if (entry != nullptr) Watch(entry, Name(index, static_cast<uint8_t>(sub)));
            }
        }
    }

    // Adds a line of the test's own.
    void note(const std::string& line) {
        std::lock_guard lock(shared_->mutex);
        shared_->lines.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(shared_->mutex);
        return shared_->lines;
    }
    void clear() {
        std::lock_guard lock(shared_->mutex);
        shared_->lines.clear();
    }
    // The lines that begin with `head` ("60FE:01 <").
    size_t count(const std::string& head) const {
        size_t n = 0;
        for (const std::string& line : lines()) n += line.starts_with(head) ? 1 : 0;
        return n;
    }

  private:
    struct Shared {
        mutable std::mutex mutex;
        std::vector<std::string> lines;
    };

    static std::string Name(uint16_t index, uint8_t sub) {
        char text[16];
        std::snprintf(text, sizeof text, "%04X:%02X", index, sub);
        return text;
    }
    // A number as the entry holds it, little endian, signed at its width.
    static int64_t Number(std::span<const uint8_t> data) {
        uint64_t v = 0;
        for (size_t i = 0; i < data.size() && i < 8; ++i) v |= uint64_t{data[i]} << (8 * i);
        const size_t bits = 8 * std::min<size_t>(data.size(), 8);
        if (bits > 0 && bits < 64 && (v >> (bits - 1)) & 1) v |= ~uint64_t{0} << bits;
        return static_cast<int64_t>(v);
    }

    void Watch(ecsim::Entry* entry, const std::string& name) {
        auto download = entry->onDownload;
        entry->onDownload = [download, entry, name,
                             shared = shared_](std::span<const uint8_t> data) {
            {
                std::lock_guard lock(shared->mutex);
                shared->lines.push_back(name + " < " + std::to_string(Number(data)));
            }
            if (download) return download(data);
            entry->value.assign(data.begin(), data.end());
            return ecsim::abort_code::None;
        };
        auto upload = entry->onUpload;
        entry->onUpload = [upload, entry, name, shared = shared_](std::vector<uint8_t>& data) {
            {
                std::lock_guard lock(shared->mutex);
                shared->lines.push_back(name + " >");
            }
            if (upload) return upload(data);
            data = entry->value;
            return ecsim::abort_code::None;
        };
    }

    std::shared_ptr<Shared> shared_;
};

}  // namespace testsupport
