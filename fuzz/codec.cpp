// Frame parsing and building (the codec the master and the simulated segment
// share). The input is parsed as a received frame and as a mailbox message;
// then it describes datagrams for a builder, and the built frame must parse
// back into exactly the datagrams the builder accepted.
//
// Input, second half: per datagram a command (u8), index (u8), ADP (u16), ADO
// (u16), length (u16, all 16 bits, so that lengths too long for the field
// arrive), a flags byte (bit 0: with data) and, with data, the data.
#include "ecmaster/codec.hpp"

#include <algorithm>
#include <vector>

#include "support/byte_reader.hpp"

namespace {

using fuzzsupport::ByteReader;

struct Sent {
    ecat::Cmd cmd;
    uint8_t index;
    uint16_t adp;
    uint16_t ado;
    uint16_t length;
    std::vector<uint8_t> data;  // empty: zeros
    int offset;
};

void parseAsReceived(const uint8_t* data, size_t size) {
    std::vector<uint8_t> frame(data, data + size);
    const ecat::ParsedFrame parsed = ecat::parseFrame(frame);
    for (const ecat::Datagram& d : parsed.datagrams) {
        FUZZ_CHECK(d.data() + d.length() + ecat::kWkcSize <= frame.data() + frame.size());
        (void)d.wkc();
    }

    const std::span<const uint8_t> message(data, size);
    FUZZ_CHECK(ecat::mbx::contentLength(message) + ecat::mbx::HeaderSize <=
               std::max(size, ecat::mbx::HeaderSize));
    (void)ecat::coe::service(message);
    if (size > ecat::sdo::CommandOffset) {
        const uint8_t command = data[ecat::sdo::CommandOffset];
        FUZZ_CHECK(ecat::sdo::expeditedSize(command) <= ecat::sdo::ExpeditedData);
        const size_t length = ecat::mbx::contentLength(message);
        FUZZ_CHECK(ecat::sdo::segmentSize(command, length) <= length);
    }
}

void buildAndParseBack(ByteReader& in) {
    ecat::FrameBuilder builder;
    std::vector<Sent> sent;
    while (!in.empty()) {
        Sent s;
        s.cmd = static_cast<ecat::Cmd>(in.u8() % 15);
        s.index = in.u8();
        s.adp = in.u16();
        s.ado = in.u16();
        s.length = in.u16();
        if ((in.u8() & 0x01) != 0) {
            const auto bytes = in.bytes(s.length);
            s.data.assign(bytes.begin(), bytes.end());
        }
        // Accepted exactly when the datagram is well formed and all of it fits.
        const size_t used = builder.bytes().size();
        const bool fits =
            used + ecat::kDatagramHeaderSize + s.length + ecat::kWkcSize <= ecat::kMaxFrameSize;
        const bool wellFormed = s.length <= 0x07FF && (s.data.empty() || s.data.size() == s.length);
        s.offset = builder.add(s.cmd, s.index, s.adp, s.ado, s.length, s.data);
        FUZZ_CHECK((s.offset >= 0) == (fits && wellFormed));
        if (s.offset < 0) continue;
        FUZZ_CHECK(static_cast<size_t>(s.offset) == used + ecat::kDatagramHeaderSize);
        sent.push_back(std::move(s));
    }
    FUZZ_CHECK(builder.datagramCount() == sent.size());
    const auto finished = builder.finish();
    FUZZ_CHECK(finished.size() >= ecat::kMinFrameSize && finished.size() <= ecat::kMaxFrameSize);
    std::vector<uint8_t> frame(finished.begin(), finished.end());
    const ecat::ParsedFrame parsed = ecat::parseFrame(frame);
    if (sent.empty()) return;
    FUZZ_CHECK(parsed.ok());
    FUZZ_CHECK(parsed.datagrams.size() == sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        const ecat::Datagram& d = parsed.datagrams[i];
        const Sent& s = sent[i];
        FUZZ_CHECK(d.cmd() == s.cmd && d.index() == s.index && d.adp() == s.adp &&
                   d.ado() == s.ado && d.length() == s.length && d.wkc() == 0);
        FUZZ_CHECK(d.data() - frame.data() == s.offset);
        const auto payload = d.payload();
        if (s.data.empty()) {
            FUZZ_CHECK(
                std::all_of(payload.begin(), payload.end(), [](uint8_t b) { return b == 0; }));
        } else {
            FUZZ_CHECK(std::equal(payload.begin(), payload.end(), s.data.begin(), s.data.end()));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parseAsReceived(data, size);
    ByteReader in(data, size);
    buildAndParseBack(in);
    return 0;
}
