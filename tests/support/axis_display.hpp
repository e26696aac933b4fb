// The simulated bridge's axes show a written mode in their mode display
// (0x6061 + axis * 0x800) a few cycles later, which a procedure's real pauses
// wait out. On the procedure clock nothing waits: a test that is not about the
// lag makes the display show the written mode at once.
#pragma once

#include <cstdint>

#include "ecsim/bridge.hpp"
#include "ecsim/object_dictionary.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/slave.hpp"

namespace testsupport {

// For the four axes of the dictionary `od`; call it before any hook of your
// own is put on the mode objects.
inline void ShowWrittenModesAtOnce(ecsim::ObjectDictionary& od) {
    for (int axis = 0; axis < 4; ++axis) {
        const auto offset = static_cast<uint16_t>(axis * 0x800);
        ecsim::Entry* modes = od.find(static_cast<uint16_t>(0x6060 + offset), 0);
        ecsim::Entry* display = od.find(static_cast<uint16_t>(0x6061 + offset), 0);
        if (modes != nullptr && display != nullptr) display->onUpload = modes->onUpload;
    }
}

// For the bridge at `slave` of a running segment.
inline void ShowWrittenModesAtOnce(ecsim::Segment& segment, int slave) {
    auto lock = segment.lock();
    auto& bridge =
        dynamic_cast<ecsim::BridgeDevice&>(segment.slave(static_cast<size_t>(slave)).device());
    ShowWrittenModesAtOnce(bridge.dictionary());
}

}  // namespace testsupport
