// A ZR12, an I/O terminal and a ZR02, configured by the master and in PRE-OP.
#pragma once

#include <gtest/gtest.h>

#include "ethercat.h"
#include "support/virtual_bus.hpp"

class PreOpBus : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(ec_init(bus.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 3);
        ASSERT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
    }
    testsupport::VirtualBus bus{"ZR12,IO,ZR02"};
};
