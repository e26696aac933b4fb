// The AL state machine of the emulated controllers: transitions a real slave
// accepts, the status codes of those it refuses, and error acknowledge.
#include <gtest/gtest.h>

#include <memory>

#include "ecsim/device.hpp"
#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

using namespace ecsim_test;
using ecat::Cmd;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

class AlState : public ::testing::Test {
  protected:
    AlState() : seg(*ecsim::parseSlaveList("ZR12,IO,CPL", nullptr)) { assignStations(seg); }
    ecsim::Segment seg;
};

TEST_F(AlState, BridgeWalksUpToOpWhenConfiguredAndBackDown) {
    EXPECT_EQ(seg.slave(1).alStatus(), al::Init);
    setUpBridgeMailbox(seg, 1);
    EXPECT_EQ(requestState(seg, 1, al::PreOp).status, al::PreOp);
    setUpBridgeProcessData(seg, 1, 0, 24);
    EXPECT_EQ(requestState(seg, 1, al::SafeOp).status, al::SafeOp);
    EXPECT_EQ(requestState(seg, 1, al::Op).status, al::Op);
    EXPECT_EQ(requestState(seg, 1, al::SafeOp).status, al::SafeOp);
    EXPECT_EQ(requestState(seg, 1, al::PreOp).status, al::PreOp);
    const auto init = requestState(seg, 1, al::Init);
    EXPECT_EQ(init.status, al::Init);
    EXPECT_EQ(init.code, al::NoError);
    // Leaving PRE-OP downwards switched the mailbox sync managers off.
    EXPECT_EQ(read16(seg, 1, 0x0806) & 0x01, 0);
    EXPECT_EQ(read16(seg, 1, 0x080E) & 0x01, 0);
}

TEST_F(AlState, RefusedTransitionsGiveTheirCodesAndStayUntilAcknowledged) {
    // Skipping PRE-OP.
    auto r = requestState(seg, 3, al::SafeOp);
    EXPECT_EQ(r.status, al::Init | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidStateChange);
    // A request without acknowledge does not clear it, even a valid one.
    r = requestState(seg, 3, al::PreOp);
    EXPECT_EQ(r.status, al::Init | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidStateChange);
    // Acknowledge together with a request: cleared, then carried out.
    r = requestState(seg, 3, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.status, al::PreOp);
    EXPECT_EQ(r.code, al::NoError);

    r = requestState(seg, 3, 0x05);  // not a state
    EXPECT_EQ(r.status, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::UnknownState);
    r = requestState(seg, 3, al::Boot | al::ErrorFlag);
    EXPECT_EQ(r.status, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::BootstrapNotSupported);
    // Acknowledging the current state only clears the error.
    r = requestState(seg, 3, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.status, al::PreOp);
    EXPECT_EQ(r.code, al::NoError);
}

TEST_F(AlState, PendingErrorStillAllowsAStepDown) {
    requestState(seg, 3, al::PreOp);
    requestState(seg, 3, al::Op);  // PRE-OP -> OP is not allowed
    const auto r = requestState(seg, 3, al::Init);
    EXPECT_EQ(r.status, al::Init | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidStateChange);
}

TEST_F(AlState, PreOpNeedsMailboxSyncManagersMatchingTheSii) {
    auto r = requestState(seg, 1, al::PreOp);  // nothing configured
    EXPECT_EQ(r.status, al::Init | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidMailboxConfig);
    writeSm(seg, 1, 0, 0x1000, 128, 0x26);
    writeSm(seg, 1, 1, 0x1080, 64, 0x22);  // wrong length
    r = requestState(seg, 1, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidMailboxConfig);
    writeSm(seg, 1, 1, 0x1080, 128, 0x26);  // wrong direction
    r = requestState(seg, 1, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidMailboxConfig);
    setUpBridgeMailbox(seg, 1);
    EXPECT_EQ(requestState(seg, 1, al::PreOp | al::ErrorFlag).status, al::PreOp);
    // A slave without mailbox needs nothing for PRE-OP.
    EXPECT_EQ(requestState(seg, 2, al::PreOp).status, al::PreOp);
}

TEST_F(AlState, SafeOpNeedsProcessDataSyncManagersAndFmmus) {
    setUpBridgeMailbox(seg, 1);
    requestState(seg, 1, al::PreOp);
    auto r = requestState(seg, 1, al::SafeOp);
    EXPECT_EQ(r.status, al::PreOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidOutputConfig);

    writeSm(seg, 1, 2, 0x1100, 24, 0x64);
    writeSm(seg, 1, 3, 0x1180, 24, 0x20);
    writeFmmu(seg, 1, 0, 0, 24, 0x1100, 2);
    r = requestState(seg, 1, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidInputConfig);  // no input FMMU
    writeFmmu(seg, 1, 1, 24, 12, 0x1180, 1);
    r = requestState(seg, 1, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidInputConfig);  // it covers half the inputs

    writeFmmu(seg, 1, 1, 24, 24, 0x1180, 1);
    writeSm(seg, 1, 3, 0x1180, 24, 0x24);  // inputs written by the master: wrong direction
    r = requestState(seg, 1, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidSmConfig);

    writeSm(seg, 1, 3, 0x1180, 24, 0x20);
    writeSm(seg, 1, 2, 0x1100, 12, 0x64);  // shorter than the outputs
    r = requestState(seg, 1, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidOutputConfig);

    writeSm(seg, 1, 2, 0x1100, 24, 0x64);
    EXPECT_EQ(requestState(seg, 1, al::SafeOp | al::ErrorFlag).status, al::SafeOp);
    // A coupler has no process data to check.
    requestState(seg, 3, al::PreOp);
    EXPECT_EQ(requestState(seg, 3, al::SafeOp).status, al::SafeOp);
}

TEST_F(AlState, OpChecksTheProcessDataSetUpAgain) {
    setUpBridgeMailbox(seg, 1);
    requestState(seg, 1, al::PreOp);
    setUpBridgeProcessData(seg, 1, 0, 24);
    EXPECT_EQ(requestState(seg, 1, al::SafeOp).status, al::SafeOp);
    // The master cleared the FMMUs in SAFE-OP: no way to the outputs any more.
    exchange(seg, req(Cmd::BWR, 0, reg::Fmmu0, 48));
    const auto r = requestState(seg, 1, al::Op);
    EXPECT_EQ(r.status, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, al::InvalidOutputConfig);
    setUpBridgeProcessData(seg, 1, 0, 24);
    EXPECT_EQ(requestState(seg, 1, al::Op | al::ErrorFlag).status, al::Op);
}

// Records what the controller tells its application.
class RecordingDevice : public ecsim::Device {
  public:
    explicit RecordingDevice(uint16_t refuseWith) : refuseWith_(refuseWith) {}
    uint16_t checkStateChange(uint16_t from, uint16_t to) override {
        checks.emplace_back(from, to);
        return to == ecat::al::Op ? refuseWith_ : 0;
    }
    void onStateChange(uint16_t from, uint16_t to) override { changes.emplace_back(from, to); }
    std::vector<std::pair<uint16_t, uint16_t>> checks;
    std::vector<std::pair<uint16_t, uint16_t>> changes;

  private:
    uint16_t refuseWith_;
};

TEST_F(AlState, DeviceIsAskedAndToldAndMayRefuse) {
    auto device = std::make_unique<RecordingDevice>(0x001A);
    auto* seen = device.get();
    seg.replaceDevice(3, std::move(device));
    std::vector<std::tuple<size_t, uint16_t, uint16_t>> logged;
    seg.setStateChangeHook(
        [&](size_t p, uint16_t from, uint16_t to) { logged.emplace_back(p, from, to); });
    requestState(seg, 3, al::PreOp);
    requestState(seg, 3, al::SafeOp);
    const auto r = requestState(seg, 3, al::Op);
    EXPECT_EQ(r.status, al::SafeOp | al::ErrorFlag);
    EXPECT_EQ(r.code, 0x001A);
    const std::vector<std::pair<uint16_t, uint16_t>> changes{{al::Init, al::PreOp},
                                                             {al::PreOp, al::SafeOp}};
    EXPECT_EQ(seen->changes, changes);
    EXPECT_EQ(seen->checks.size(), 3u);
    const std::vector<std::tuple<size_t, uint16_t, uint16_t>> expectedLog{
        {3, al::Init, al::PreOp}, {3, al::PreOp, al::SafeOp}};
    EXPECT_EQ(logged, expectedLog);
}

TEST_F(AlState, BroadcastInitWithAcknowledgeResetsEverySlave) {
    requestState(seg, 2, al::Op);  // error on the I/O slave
    requestState(seg, 3, al::PreOp);
    const auto r = exchange(seg, req(Cmd::BWR, 0, reg::AlControl, le16(al::Init | al::ErrorFlag)));
    EXPECT_EQ(r.wkc, 3);
    const auto status = exchange(seg, req(Cmd::BRD, 0, reg::AlStatus, 2));
    EXPECT_EQ(ecat::get16(status.data.data()), al::Init);
}

}  // namespace
