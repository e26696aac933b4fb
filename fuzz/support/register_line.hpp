// A line of register-level slaves on the master's virtual wire, for fuzz
// targets that put the master against slaves whose answers the input decides.
// A slave here is plain memory (registers and process RAM) without a state
// machine or sync managers of its own: addressing and working counters follow
// the usual rules, and each target adds the behaviour its path needs through
// the hooks. Single-threaded, as the fuzz targets are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"

namespace fuzzsupport {

struct RegisterSlave {
    // The whole address space a datagram can reach, so that wherever a hostile
    // configuration puts a mailbox it is answered at once instead of timing out.
    static constexpr size_t kMemory = 0x10000;

    std::vector<uint8_t> mem = std::vector<uint8_t>(kMemory);

    // Before a read of `length` bytes at `address` is copied out: false refuses
    // it (no working counter), as a slave does that has nothing to give.
    std::function<bool(uint16_t address, size_t length)> beforeRead;
    // After the memory was copied into a read's data: may give other bytes
    // there without storing them (a message in a mailbox placed over registers).
    std::function<void(uint16_t address, std::span<uint8_t> data)> afterRead;
    // Whether a write is stored; a refused one still counts, as a read-only
    // register's does.
    std::function<bool(uint16_t address, size_t length)> storesWrite;
    // After a write was stored.
    std::function<void(uint16_t address, size_t length)> afterWrite;

    uint16_t station() const { return ecat::get16(&mem[ecat::reg::StationAddress]); }
    uint16_t word(uint16_t address) const { return ecat::get16(&mem[address]); }
    void setWord(uint16_t address, uint16_t value) { ecat::put16(&mem[address], value); }
};

class RegisterLine : public ecmaster::FrameProcessor {
  public:
    explicit RegisterLine(size_t slaves) : slaves_(slaves) {}

    ecmaster::Delivery process(std::span<uint8_t> frame) override;

    size_t size() const { return slaves_.size(); }
    RegisterSlave& slave(size_t position) { return slaves_.at(position - 1); }
    // Memory zeroed and hooks removed: a fresh line for the next input.
    void reset(size_t slaves);

  private:
    void pass(RegisterSlave& slave, ecat::Datagram& d);
    std::vector<RegisterSlave> slaves_;
};

// The line of this fuzz program: at the first call attached to the virtual wire
// and the master opened on it (aborts when the master cannot open it). This
// library's LLVMFuzzerInitialize opens it; each input then resets it.
RegisterLine& sharedLine();

// Empties the master's error list, so that one input's errors do not crowd
// the next's.
void drainErrors();

}  // namespace fuzzsupport
