// Frames built with the codec and sent straight through a segment, for tests
// of the emulated slave controllers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/segment.hpp"

namespace ecsim_test {

struct Reply {
    bool lost = false;
    uint16_t wkc = 0;
    uint16_t adp = 0;  // as the datagram came back
    std::vector<uint8_t> data;
    std::vector<uint8_t> frame;
};

struct Request {
    ecat::Cmd cmd = ecat::Cmd::NOP;
    uint16_t adp = 0;
    uint16_t ado = 0;
    std::vector<uint8_t> data;  // its size is the datagram length
    uint32_t logical() const { return adp | (uint32_t{ado} << 16); }
};

inline Request req(ecat::Cmd cmd, uint16_t adp, uint16_t ado, std::vector<uint8_t> data) {
    return Request{cmd, adp, ado, std::move(data)};
}
inline Request req(ecat::Cmd cmd, uint16_t adp, uint16_t ado, size_t length) {
    return Request{cmd, adp, ado, std::vector<uint8_t>(length, 0)};
}
inline Request logical(ecat::Cmd cmd, uint32_t address, std::vector<uint8_t> data) {
    return Request{cmd, static_cast<uint16_t>(address), static_cast<uint16_t>(address >> 16),
                   std::move(data)};
}

// Several datagrams in one frame; one reply per datagram.
std::vector<Reply> exchange(ecsim::Segment& segment, std::initializer_list<Request> requests);
Reply exchange(ecsim::Segment& segment, const Request& request);

std::vector<uint8_t> le16(uint16_t v);
std::vector<uint8_t> le32(uint32_t v);

// Station address the helpers below give slave p: 0x1000 + p.
uint16_t station(size_t position);

// Configured-address shorthands; they expect the datagram to be taken.
uint16_t read16(ecsim::Segment& s, size_t position, uint16_t ado);
void write16(ecsim::Segment& s, size_t position, uint16_t ado, uint16_t value);
void writeBytes(ecsim::Segment& s, size_t position, uint16_t ado, std::vector<uint8_t> bytes);

// Gives every slave its station address, as a master's scan does.
void assignStations(ecsim::Segment& segment);
// Writes a sync manager register block: start, length, control, enable.
void writeSm(ecsim::Segment& s, size_t position, size_t sm, uint16_t start, uint16_t length,
             uint8_t control, bool enable = true);
// Writes FMMU n mapping `length` bytes at `logical` onto `physical`.
void writeFmmu(ecsim::Segment& s, size_t position, size_t fmmu, uint32_t logicalAddress,
               uint16_t length, uint16_t physical, uint8_t type);
// AL control write and the AL status (with error flag) and code after it.
struct AlResult {
    uint16_t status = 0;
    uint16_t code = 0;
};
AlResult requestState(ecsim::Segment& s, size_t position, uint16_t control);

// Bridge set-up as a master does it: mailbox SMs for PRE-OP, process-data SMs
// and FMMUs (outputs at logical 24*(p-1)... as given) for SAFE-OP.
void setUpBridgeMailbox(ecsim::Segment& s, size_t position);
void setUpBridgeProcessData(ecsim::Segment& s, size_t position, uint32_t outputsAt,
                            uint32_t inputsAt);
void setUpIoProcessData(ecsim::Segment& s, size_t position, uint32_t outputsAt, uint32_t inputsAt);

}  // namespace ecsim_test
