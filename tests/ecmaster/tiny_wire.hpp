// A tiny frame processor for transport and primitive tests: every addressed
// datagram reaches one register file (the master sees "one slave" per non-zero
// `slaves`), with knobs for loss, delay and tampering. Not a slave emulation:
// end-to-end tests use ecsim::Segment through tests/support/virtual_bus.hpp.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"

namespace tinywire {

class RegisterFile : public ecmaster::FrameProcessor {
  public:
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        std::lock_guard lk(m_);
        ++frames_;
        lastSize_ = frame.size();
        if (dropNext_ > 0) {
            --dropNext_;
            return {true, {}};
        }
        auto parsed = ecat::parseFrame(frame);
        if (!parsed.ok()) return {true, {}};
        for (auto& d : parsed.datagrams) {
            const uint16_t len = d.length();
            uint16_t ado = d.ado();
            if (ecat::isLogical(d.cmd())) ado = static_cast<uint16_t>(d.logicalAddress());
            if (static_cast<size_t>(ado) + len > mem_.size()) continue;
            switch (d.cmd()) {
                case ecat::Cmd::BRD:
                case ecat::Cmd::APRD:
                case ecat::Cmd::FPRD:
                case ecat::Cmd::LRD:
                    std::memcpy(d.data(), &mem_[ado], len);
                    d.addWkc(static_cast<uint16_t>(slaves_));
                    break;
                case ecat::Cmd::BWR:
                case ecat::Cmd::APWR:
                case ecat::Cmd::FPWR:
                case ecat::Cmd::LWR:
                    if (slaves_ > 0) std::memcpy(&mem_[ado], d.data(), len);
                    d.addWkc(static_cast<uint16_t>(slaves_));
                    break;
                case ecat::Cmd::LRW: {
                    std::array<uint8_t, 2048> tmp;
                    std::memcpy(tmp.data(), &mem_[ado], len);
                    if (slaves_ > 0) std::memcpy(&mem_[ado], d.data(), len);
                    std::memcpy(d.data(), tmp.data(), len);
                    d.addWkc(static_cast<uint16_t>(3 * slaves_));
                    break;
                }
                default:
                    break;
            }
            if (scribble_) std::memset(d.data(), 0xEE, len);  // tamper with returned data
        }
        frame[6] |= ecat::kSlaveMacBit;
        if (delayFn_) return {false, delayFn_(parsed.datagrams.front())};
        return {false, delay_};
    }

    void setSlaves(int n) {
        std::lock_guard lk(m_);
        slaves_ = n;
    }
    void dropNext(int n) {
        std::lock_guard lk(m_);
        dropNext_ = n;
    }
    void setDelay(std::chrono::microseconds d) {
        std::lock_guard lk(m_);
        delay_ = d;
    }
    void setDelayFn(std::function<std::chrono::microseconds(const ecat::Datagram&)> f) {
        std::lock_guard lk(m_);
        delayFn_ = std::move(f);
    }
    void setScribble(bool on) {
        std::lock_guard lk(m_);
        scribble_ = on;
    }
    uint64_t frames() {
        std::lock_guard lk(m_);
        return frames_;
    }
    size_t lastSize() {
        std::lock_guard lk(m_);
        return lastSize_;
    }
    void poke(uint16_t at, std::span<const uint8_t> bytes) {
        std::lock_guard lk(m_);
        std::memcpy(&mem_[at], bytes.data(), bytes.size());
    }
    std::array<uint8_t, 8> peek8(uint16_t at) {
        std::lock_guard lk(m_);
        std::array<uint8_t, 8> out;
        std::memcpy(out.data(), &mem_[at], 8);
        return out;
    }

  private:
    std::mutex m_;
    std::array<uint8_t, 0x10000> mem_{};
    int slaves_ = 1;
    int dropNext_ = 0;
    bool scribble_ = false;
    std::chrono::microseconds delay_{0};
    std::function<std::chrono::microseconds(const ecat::Datagram&)> delayFn_;
    uint64_t frames_ = 0;
    size_t lastSize_ = 0;
};

// Attaches a RegisterFile under a fresh name; detaches (and closes the master) at the end.
struct TinyBus {
    TinyBus();
    ~TinyBus();
    std::string name;
    std::shared_ptr<RegisterFile> wire = std::make_shared<RegisterFile>();
};

}  // namespace tinywire
