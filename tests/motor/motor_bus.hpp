// A simulated segment opened by the master as the scan opens it, with the bridge
// table filled from it, for the motor pages' tests. Puts the shared state of the
// bus and of the motor pages back to program-load values on both ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "core/message_box_recorder.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "ethercat.h"
#include "motor/param_file.hpp"
#include "motor/tq_init.hpp"
#include "motor/tql_command.hpp"
#include "motor/uart_speed_switch.hpp"
#include "settings/settings_values.hpp"
#include "support/access_timeline.hpp"
#include "support/all_layers.hpp"
#include "support/recording_clock.hpp"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace motortest {

using RecordedBoxes = testsupport::MessageBoxRecorder;

// One access to a bridge's vendor objects as text, so that a whole sequence
// compares at once and a difference shows where it is: "F581:00 < W.1=358" a
// motor line (CR and LF shown as \r and \n), "F511:02 < 6" a number,
// "F591:00 >" an upload.
inline std::string AccessText(uint16_t index, uint8_t sub, const char* rest) {
    char head[16];
    std::snprintf(head, sizeof head, "%04X:%02X", index, sub);
    return std::string(head) + rest;
}
inline std::string Line(int channel, std::string_view text) {
    std::string shown;
    for (const char c : text) shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return AccessText(static_cast<uint16_t>(0xF580 + channel), 0, (" < " + shown).c_str());
}
inline std::string Write(uint16_t index, uint8_t sub, int64_t value) {
    return AccessText(index, sub, (" < " + std::to_string(value)).c_str());
}
inline std::string Read(uint16_t index, uint8_t sub = 0) {
    return AccessText(index, sub, " >");
}
inline std::string AccessText(const ecsim::VendorAccess& a) {
    if (!a.download) return Read(a.index, a.subindex);
    if (a.index >= 0xF581 && a.index <= 0xF584) {
        return Line(a.index - 0xF580,
                    std::string_view(reinterpret_cast<const char*>(a.data.data()), a.data.size()));
    }
    uint32_t v = 0;
    for (size_t i = 0; i < a.data.size() && i < 4; ++i) v |= uint32_t{a.data[i]} << (8 * i);
    return Write(a.index, a.subindex, static_cast<int32_t>(v));
}

inline int32_t ModelOf(ecsim::SlaveKind kind) {
    switch (kind) {
        case ecsim::SlaveKind::ZR01:
            return kModelZr01;
        case ecsim::SlaveKind::ZR02:
            return kModelZr02;
        case ecsim::SlaveKind::ZR12:
            return kModelZr12;
        default:
            return 0;
    }
}

class MotorBus {
  public:
    explicit MotorBus(const std::string& slaves) : bus_(slaves) {
        testsupport::ResetAllLayers();
        EXPECT_GT(ec_init(bus_.name().c_str()), 0);
        EXPECT_GT(ec_config_init(0), 0);
        static uint8_t ioMap[4096];
        ec_config_map(ioMap);
        std::string error;
        const auto fitted = ecsim::parseSlaveList(slaves, &error);
        int32_t count = 0;
        for (size_t i = 0; fitted && i < fitted->size(); ++i) {
            const int32_t model = ModelOf((*fitted)[i].kind);
            if (model == 0) continue;
            g_bridgeModel[count] = model;
            g_bridgeSlave[count] = static_cast<int32_t>(i + 1);
            ++count;
        }
        g_bridgeCount = count;
        // What the scan publishes for the GUI thread once the slaves are counted.
        g_slavesFound = ec_slavecount;
        g_slaveCount = static_cast<int32_t>(fitted ? fitted->size() : 0);
        g_busReady = 1;
    }
    ~MotorBus() { testsupport::ResetAllLayers(); }

    const std::string& name() const { return bus_.name(); }
    ecsim::Segment& segment() { return bus_.segment(); }

    // The simulated bridge at `slave`; inspect it only while no frame is on its way.
    ecsim::BridgeDevice& bridge(int slave) {
        return dynamic_cast<ecsim::BridgeDevice&>(
            bus_.segment().slave(static_cast<size_t>(slave)).device());
    }
    const ecsim::TqlMotor& motor(int slave, int channel) {
        const ecsim::TqlMotor* m = bridge(slave).motor(static_cast<size_t>(channel - 1));
        EXPECT_NE(m, nullptr);
        return *m;
    }
    uint64_t frames() const { return bus_.segment().framesProcessed(); }

    // What the bridge at `slave` received on its vendor objects, in order, as
    // AccessText; forgetReceived() starts the record afresh.
    std::vector<std::string> received(int slave) {
        std::vector<std::string> texts;
        for (const ecsim::VendorAccess& a : bridge(slave).accessRecord()) {
            texts.push_back(AccessText(a));
        }
        return texts;
    }
    void forgetReceived(int slave) { bridge(slave).clearAccessRecord(); }
    size_t receivedCount(int slave) { return bridge(slave).accessRecord().size(); }
    // Runs `step` and gives what the bridge at `slave` received meanwhile, with
    // the pauses taken on `clock` in their places (AccessTimeline).
    std::vector<std::string> traced(testsupport::RecordingClock& clock, int slave,
                                    const std::function<void()>& step) {
        forgetReceived(slave);
        testsupport::AccessTimeline timeline(clock, [&] { return receivedCount(slave); });
        step();
        return timeline.merged(received(slave));
    }

  private:
    mutable testsupport::VirtualBus bus_;
};

}  // namespace motortest
