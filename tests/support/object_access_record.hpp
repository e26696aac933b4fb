// The SDO accesses that simulated devices receive on chosen objects, in the
// order they arrived, as text: "S2 6060:00 < 8" a download of 8 to slave 2,
// "S2 6061:00 >" an upload. For procedures on objects the bridge's own record
// leaves out (the CiA402 objects of its axes); with AccessTimeline its count
// places the pauses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "ecsim/object_dictionary.hpp"

namespace testsupport {

inline std::string ObjectAccessText(int slave, uint16_t index, uint8_t sub, const char* rest) {
    char head[24];
    std::snprintf(head, sizeof head, "S%d %04X:%02X", slave, index, sub);
    return std::string(head) + rest;
}
inline std::string ObjectWrite(int slave, uint16_t index, int64_t value) {
    return ObjectAccessText(slave, index, 0, (" < " + std::to_string(value)).c_str());
}
inline std::string ObjectRead(int slave, uint16_t index) {
    return ObjectAccessText(slave, index, 0, " >");
}

class ObjectAccessRecord {
  public:
    // Notes every access to subindex `sub` of `index` in `od`, the dictionary
    // of `slave`, before the entry does what it did before. Call it while no
    // frame is on its way (the segment's lock held, or no thread sending).
    void watch(ecsim::ObjectDictionary& od, int slave, uint16_t index, uint8_t sub = 0) {
        ecsim::Entry* entry = od.find(index, sub);
        if (entry == nullptr) return;
        auto download = std::move(entry->onDownload);
        auto upload = std::move(entry->onUpload);
        entry->onDownload = [state = state_, entry, slave, index, sub,
                             download](std::span<const uint8_t> data) {
            uint32_t bits = 0;
            for (size_t i = 0; i < data.size() && i < 4; ++i) bits |= uint32_t{data[i]} << (8 * i);
            state->add(ObjectAccessText(
                slave, index, sub, (" < " + std::to_string(static_cast<int32_t>(bits))).c_str()));
            if (download) return download(data);
            entry->value.assign(data.begin(), data.end());
            return ecsim::abort_code::None;
        };
        entry->onUpload = [state = state_, entry, slave, index, sub,
                           upload](std::vector<uint8_t>& out) {
            state->add(ObjectAccessText(slave, index, sub, " >"));
            if (upload) return upload(out);
            out = entry->value;
            return ecsim::abort_code::None;
        };
    }

    std::vector<std::string> texts() const { return state_->copy(); }
    size_t count() const { return state_->size(); }

  private:
    // Shared with the hooks, which may outlive the record.
    struct State {
        void add(std::string text) {
            std::lock_guard lock(mutex);
            texts.push_back(std::move(text));
        }
        std::vector<std::string> copy() {
            std::lock_guard lock(mutex);
            return texts;
        }
        size_t size() {
            std::lock_guard lock(mutex);
            return texts.size();
        }
        std::mutex mutex;
        std::vector<std::string> texts;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace testsupport
