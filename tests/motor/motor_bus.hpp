// A simulated segment opened by the master as the scan opens it, with the bridge
// table filled from it, for the motor pages' tests. Puts the shared state of the
// bus and of the motor pages back to program-load values on both ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
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
#include "support/virtual_bus.hpp"

namespace motortest {

inline void ResetMotorState() {
    ResetBusGlobals();
    ResetSettingsToDefaults();
    ResetTqInit();
    ResetUartSpeedSwitch();
    ResetTqlCommandState();
    ResetParamFile();
}

using RecordedBoxes = testsupport::MessageBoxRecorder;

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
        ResetMotorState();
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
    ~MotorBus() { ResetMotorState(); }

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

  private:
    mutable testsupport::VirtualBus bus_;
};

// Calls `step` until `done` holds; false when `seconds` pass first.
inline bool StepUntil(const std::function<void()>& step, const std::function<bool()>& done,
                      int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace motortest
