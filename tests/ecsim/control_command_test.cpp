// zrsim's control commands: parsing, clear errors, and their effect on a segment.
#include "ecsim/control_command.hpp"

#include <gtest/gtest.h>

#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "segment_frames.hpp"

namespace {

using Kind = ecsim::ControlCommand::Kind;

ecsim::ControlCommand parsed(std::string_view line) {
    auto r = ecsim::parseControlCommand(line);
    if (auto* e = std::get_if<std::string>(&r)) ADD_FAILURE() << line << ": " << *e;
    return std::holds_alternative<ecsim::ControlCommand>(r) ? std::get<ecsim::ControlCommand>(r)
                                                            : ecsim::ControlCommand{};
}

TEST(ControlCommand, ParsesEveryCommand) {
    auto c = parsed("drop 0.25");
    EXPECT_EQ(c.kind, Kind::Drop);
    EXPECT_DOUBLE_EQ(c.rate, 0.25);
    c = parsed("  delay   1500 \r");
    EXPECT_EQ(c.kind, Kind::Delay);
    EXPECT_EQ(c.count, 1500u);
    c = parsed("drop-next 3");
    EXPECT_EQ(c.kind, Kind::DropNext);
    EXPECT_EQ(c.count, 3u);
    c = parsed("power-off 2");
    EXPECT_EQ(c.kind, Kind::PowerOff);
    EXPECT_EQ(c.position, 2u);
    EXPECT_EQ(parsed("power-on 2").kind, Kind::PowerOn);
    c = parsed("safeop-error 1");
    EXPECT_EQ(c.kind, Kind::SafeOpError);
    EXPECT_EQ(c.code, 0x001B);
    EXPECT_EQ(parsed("safeop-error 1 0x1A").code, 0x001A);
    EXPECT_EQ(parsed("safeop-error 1 26").code, 26);
}

TEST(ControlCommand, MalformedLinesSayWhy) {
    const struct {
        const char* line;
        const char* mentions;
    } cases[] = {
        {"", "empty"},
        {"reboot", "unknown command 'reboot'"},
        {"drop", "takes 1 argument"},
        {"drop 1.5", "not 0 to 1"},
        {"drop half", "not 0 to 1"},
        {"delay -5", "not 0 to"},
        {"delay 20000000", "not 0 to 10000000 us"},
        {"drop-next 2 3", "takes 1 argument"},
        {"power-off 0", "not a number from 1"},
        {"power-on x", "not a number from 1"},
        {"safeop-error", "takes 1 or 2 arguments"},
        {"safeop-error 1 0", "not 1 to 0xFFFF"},
        {"safeop-error 1 0x10000", "not 1 to 0xFFFF"},
        {"loader 1", "takes a slave position and a fault"},
        {"loader 1 sleepy", "unknown loader fault 'sleepy'"},
        {"loader 1 mute", "mute takes N"},
        {"loader 1 silent 2", "silent takes no argument"},
        {"loader 1 late 2 0", "not 1 to 10000"},
    };
    for (const auto& c : cases) {
        auto r = ecsim::parseControlCommand(c.line);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << c.line;
        EXPECT_NE(std::get<std::string>(r).find(c.mentions), std::string::npos)
            << c.line << " -> " << std::get<std::string>(r);
    }
}

TEST(ControlCommand, LinesActOnTheSegment) {
    ecsim::Segment seg(*ecsim::parseSlaveList("ZR12,IO", nullptr));
    EXPECT_EQ(ecsim::runControlLine(seg, "power-off 3"),
              "error: no slave at position 3 (the segment has 2)");
    EXPECT_EQ(ecsim::runControlLine(seg, "bogus"),
              "error: unknown command 'bogus' (drop, delay, "
              "drop-next, power-off, power-on, safeop-error, loader)");
    EXPECT_EQ(ecsim::runControlLine(seg, "power-off 2"), "ok");
    using ecsim_test::exchange;
    using ecsim_test::req;
    EXPECT_EQ(exchange(seg, req(ecat::Cmd::BRD, 0, 0, 2)).wkc, 1);
    EXPECT_EQ(ecsim::runControlLine(seg, "power-on 2"), "ok");
    EXPECT_EQ(exchange(seg, req(ecat::Cmd::BRD, 0, 0, 2)).wkc, 2);
    EXPECT_EQ(ecsim::runControlLine(seg, "drop-next 1"), "ok");
    EXPECT_TRUE(exchange(seg, req(ecat::Cmd::BRD, 0, 0, 2)).lost);
    EXPECT_EQ(ecsim::runControlLine(seg, "safeop-error 2 0x1A"), "ok");
    EXPECT_EQ(seg.slave(2).alStatusCode(), 0x001A);
    EXPECT_EQ(ecsim::runControlLine(seg, "drop 1"), "ok");
    EXPECT_TRUE(exchange(seg, req(ecat::Cmd::BRD, 0, 0, 2)).lost);
}

TEST(ControlCommand, LoaderFaultsReachTheBridgeAndAddUp) {
    ecsim::Segment seg(*ecsim::parseSlaveList("ZR12,IO", nullptr));
    EXPECT_EQ(ecsim::runControlLine(seg, "loader 2 silent"), "error: slave 2 is not a bridge");
    auto& bridge = dynamic_cast<ecsim::BridgeDevice&>(seg.slave(1).device());
    EXPECT_EQ(ecsim::runControlLine(seg, "loader 1 late 3 20"), "ok");
    EXPECT_EQ(ecsim::runControlLine(seg, "loader 1 never-ready"), "ok");
    EXPECT_EQ(bridge.loader().faults().lateLines, 3u);
    EXPECT_EQ(bridge.loader().faults().lateReads, 20u);
    EXPECT_TRUE(bridge.loader().faults().neverReady);
    EXPECT_FALSE(bridge.loader().faults().silent);
    EXPECT_EQ(ecsim::runControlLine(seg, "loader 1 clear"), "ok");
    EXPECT_EQ(bridge.loader().faults().lateLines, 0u);
    EXPECT_FALSE(bridge.loader().faults().neverReady);
}

}  // namespace
