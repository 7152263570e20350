// A device model in front of another that spoils its replies to one chosen
// output report: they arrive late, twice, or not at all. The inner model
// still sees every report and acts on it as usual.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/sim_hid_bus.h"

namespace tarvik::test {

enum class ReplyFault { kNone, kLate, kDuplicated, kLost };

class ReplyFaults final : public ISimDeviceModel {
 public:
  // Spoils the replies to the `target`-th report (0-based) among those that
  // `counts` accepts (all reports when it is empty).
  ReplyFaults(std::shared_ptr<ISimDeviceModel> inner, ReplyFault fault, uint32_t target,
              uint32_t lateMs = 0, std::function<bool(const std::vector<uint8_t>&)> counts = {})
      : m_inner(std::move(inner)), m_fault(fault), m_target(target), m_lateMs(lateMs),
        m_counts(std::move(counts)) {}

  // How many reports `counts` accepted so far.
  uint32_t Counted() const { return m_seen.load(); }

  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override {
    bool spoil = false;
    if (!m_counts || m_counts(report)) spoil = m_seen.fetch_add(1) == m_target;
    if (!spoil || m_fault == ReplyFault::kNone) {
      m_inner->OnOutputReport(report, port);
      return;
    }
    Port spoiled(port, m_fault, m_lateMs);
    m_inner->OnOutputReport(report, spoiled);
  }
  void OnPowerLost() override { m_inner->OnPowerLost(); }

 private:
  class Port final : public SimDevicePort {
   public:
    Port(SimDevicePort& inner, ReplyFault fault, uint32_t lateMs)
        : m_inner(inner), m_fault(fault), m_lateMs(lateMs) {}
    void SendInputReport(std::vector<uint8_t> report, uint32_t delayMs) override {
      switch (m_fault) {
        case ReplyFault::kLost: return;
        case ReplyFault::kLate: m_inner.SendInputReport(std::move(report), delayMs + m_lateMs); return;
        case ReplyFault::kDuplicated:
          m_inner.SendInputReport(report, delayMs);
          m_inner.SendInputReport(std::move(report), delayMs);
          return;
        case ReplyFault::kNone: m_inner.SendInputReport(std::move(report), delayMs); return;
      }
    }
    void Unplug() override { m_inner.Unplug(); }
    void ReplugAs(uint16_t productId, size_t out, size_t in) override { m_inner.ReplugAs(productId, out, in); }
    void LeaveAndReturn(uint32_t leaveInMs, uint32_t awayMs) override { m_inner.LeaveAndReturn(leaveInMs, awayMs); }
    uint64_t NowMs() override { return m_inner.NowMs(); }

   private:
    SimDevicePort& m_inner;
    ReplyFault m_fault;
    uint32_t m_lateMs;
  };

  std::shared_ptr<ISimDeviceModel> m_inner;
  ReplyFault m_fault;
  uint32_t m_target;
  uint32_t m_lateMs;
  std::function<bool(const std::vector<uint8_t>&)> m_counts;
  std::atomic<uint32_t> m_seen{0};
};

}  // namespace tarvik::test
