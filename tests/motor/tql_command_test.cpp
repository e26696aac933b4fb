#include "motor/tql_command.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "motor_bus.hpp"

namespace {

using motortest::MotorBus;

TEST(TqlCommand, OneMotorOrAllFourAndTheSentLog) {
    MotorBus bus("ZR12,IO");
    SendTqlCommand(1, 2, "?99.1");
    EXPECT_EQ(bus.bridge(1).pendingReplies(2), 1u);
    EXPECT_EQ(bus.bridge(1).pendingReplies(0), 0u);
    bus.forgetReceived(1);
    SendTqlCommand(1, kTqlAllMotors, "?99.1");
    EXPECT_EQ(bus.received(1),
              (std::vector<std::string>{motortest::Line(1, "?99.1"), motortest::Line(2, "?99.1"),
                                        motortest::Line(3, "?99.1"), motortest::Line(4, "?99.1")}));
    for (size_t c = 0; c < 4; ++c) EXPECT_EQ(bus.bridge(1).pendingReplies(c), c == 2 ? 2u : 1u);
    EXPECT_EQ(g_strTqlLog.copy(), L"TQ[1.3]:?99.1\r\nTQ[1.0]:?99.1\r\n");

    // A bridge that does not take the line: the sent log says so.
    SetSlaveLost(1, true);
    SendTqlCommand(1, 0, "?99.1");
    SendTqlCommand(1, kTqlAllMotors, "?99.1");
    SetSlaveLost(1, false);
    EXPECT_EQ(g_strTqlLog.copy(),
              L"TQ[1.3]:?99.1\r\nTQ[1.0]:?99.1\r\n"
              L"TQ[1.1]:?99.1  (Slave does not answer)\r\n"
              L"TQ[1.0]:?99.1  (Slave does not answer)\r\n");

    std::string reply;
    ASSERT_TRUE(ReadMotorReply(1, 3, &reply));
    EXPECT_EQ(reply.substr(0, 2), "Ux");
    ASSERT_TRUE(ReadMotorReply(1, 3, &reply));
    EXPECT_FALSE(ReadMotorReply(1, 3, &reply));  // nothing pending: 'N'
    EXPECT_EQ(reply[0], 'N');

    // A refused upload gives the library's error text, which is no reply; the
    // call after it gets its own.
    EXPECT_FALSE(ReadMotorReply(1, 5, &reply));
    EXPECT_EQ(reply.substr(0, 2), "Ti");
    ASSERT_TRUE(ReadMotorReply(1, 1, &reply));
    EXPECT_EQ(reply.substr(0, 2), "Ux");
}

TEST(TqlLogLine, BoundedToTheLogBuffer) {
    EXPECT_EQ(TqlLogLine(3, 0, "K37.1=10"), "TQ[3.0]:K37.1=10");
    EXPECT_EQ(TqlLogLine(1, 1, std::string(300, 'A')).size(), 255u);
}

}  // namespace
