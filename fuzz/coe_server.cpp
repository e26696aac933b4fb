// The bridge's CoE server and the objects behind it (motor lines, vendor
// parameters, the loader dialogue, the axes), fed the input's mailbox messages
// as the slave controller hands them over, with time passing and process data
// and state changes in between. Every reply must be a whole mailbox message.
//
// Input: records of a kind byte and its arguments: bits 0-2 below 4 a message
// (length u8, then its bytes); 4 time passing (u8, tens of milliseconds); 5
// outputs (24 bytes) and inputs; 6 a state change (from u8, to u8).
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/bridge.hpp"
#include "support/byte_reader.hpp"

namespace {

using fuzzsupport::ByteReader;

class Collect : public ecsim::MailboxOutbox {
  public:
    void post(std::vector<uint8_t> message) override {
        const auto header = ecat::mbx::parseHeader(message);
        FUZZ_CHECK(header.has_value());
        FUZZ_CHECK(header->length == message.size() - ecat::mbx::HeaderSize);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ecsim::SlaveSpec spec;
    spec.kind = ecsim::SlaveKind::ZR12;
    spec.motors = {true, true, true, false};
    spec.serial = 0x00A10001;
    ecsim::Clock::time_point now{};
    ecsim::BridgeDevice bridge(spec, now);
    Collect out;

    ByteReader in(data, size);
    while (!in.empty()) {
        const uint8_t kind = in.u8() & 0x07;
        if (kind < 4) {
            bridge.onMailbox(in.bytes(in.u8()), out);
        } else if (kind == 4) {
            now += std::chrono::milliseconds(10 * in.u8());
            bridge.tick(now);
        } else if (kind == 5) {
            std::vector<uint8_t> pd(ecsim::BridgeDevice::kProcessDataBytes);
            const auto given = in.bytes(pd.size());
            std::copy(given.begin(), given.end(), pd.begin());
            bridge.onOutputs(pd);
            bridge.fillInputs(pd);
        } else if (kind == 6) {
            const uint8_t from = in.u8();
            bridge.onStateChange(from, in.u8());
        }
    }
    return 0;
}
