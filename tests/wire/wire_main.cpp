// The wire tier runs in a private network namespace made before any thread.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/netns.hpp"

int main(int argc, char** argv) {
    if (!testsupport::PrivateNetwork::enter()) {
        std::fprintf(stderr, "\n*** WIRE TIER UNAVAILABLE: %s ***\n\n",
                     testsupport::PrivateNetwork::reason().c_str());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
