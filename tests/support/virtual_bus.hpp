// A simulated segment on the in-process virtual wire, under a fresh interface
// name, for tests that drive the master (or the tool) against it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ecsim/segment.hpp"

namespace testsupport {

class VirtualBus {
  public:
    explicit VirtualBus(const std::vector<ecsim::SlaveSpec>& slaves);
    explicit VirtualBus(const std::string& slaveList);  // "ZR12,IO,ZR02"
    ~VirtualBus();  // closes the master if open and detaches the wire
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    const std::string& name() const { return name_; }  // what ec_init() takes
    ecsim::Segment& segment() { return *segment_; }

  private:
    std::string name_;
    std::shared_ptr<ecsim::Segment> segment_;
};

}  // namespace testsupport
