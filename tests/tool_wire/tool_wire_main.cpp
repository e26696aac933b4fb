// The tool's bus threads over a veth pair: the private network namespace must
// exist before the first thread does.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/netns.hpp"

int main(int argc, char** argv) {
    if (!testsupport::PrivateNetwork::enter()) {
        std::fprintf(stderr, "\n*** TOOL WIRE TIER UNAVAILABLE: %s ***\n\n",
                     testsupport::PrivateNetwork::reason().c_str());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
