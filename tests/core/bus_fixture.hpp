// Runs the tool's bus threads against a simulated segment on the in-process
// virtual wire. The threads and their globals are process-wide, so every test
// starts from program-load values and stops and joins the threads at its end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "core/message_box_recorder.hpp"
#include "settings/settings_values.hpp"
#include "support/all_layers.hpp"
#include "support/fast_bus_clock.hpp"
#include "support/narrow.hpp"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace testsupport {

inline bool LogHas(const TextLog& log, const std::wstring& text) {
    return log.copy().find(text) != std::wstring::npos;
}

inline size_t CountOf(const std::wstring& text, const std::wstring& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class BusThreadsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetAll(); }
    void TearDown() override {
        StopBusThreads();
        bus_.reset();
        ResetAll();
    }

    // Builds the segment, points the LAN name at it and starts the threads; the
    // scan begins when the test sets g_scanRequest.
    void StartThreadsOn(const std::string& slaves, int expectedSlaves) {
        bus_ = std::make_unique<VirtualBus>(slaves);
        g_selectLan = 1;
        g_lanName.set(bus_->name());
        g_slaveCount = expectedSlaves;
        StartBusThreads();
    }
    // Scans and waits until the bus is operational.
    void ScanToOp(const std::string& slaves, int expectedSlaves) {
        StartThreadsOn(slaves, expectedSlaves);
        g_scanRequest = 1;
        ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60))
            << "scan log:\n"
            << Narrow(g_strScanLog.copy());
    }
    ecsim::Segment& segment() { return bus_->segment(); }

    // The threads pause at once; TearDown stops them before it goes.
    FastBusClock busClock_;
    MessageBoxRecorder boxes_;
    std::unique_ptr<VirtualBus> bus_;

  private:
    static void ResetAll() { ResetAllLayers(); }
};

}  // namespace testsupport
