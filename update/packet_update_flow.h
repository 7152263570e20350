// The packet-protocol update: the controller drives, the host answers each of
// its data requests with the next 32 bytes of the image. Also the version
// query of packet-protocol controllers, which shares the frame dispatch.
// The update runs on the worker; the version query on the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "update/update_attempt.h"
#include "update/update_context.h"
#include "update/update_result.h"
#include "update/update_state.h"
#include "update/update_window.h"

namespace tarvik {

class CHid;
class CDiag;
class ISystem;
class CImageSelection;

class CPacketUpdateFlow {
 public:
  CPacketUpdateFlow(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system,
                    CImageSelection& selection, UpdateContext& context, UpdateState& state);

  // One update, from the start request until the update is marked ended; reports
  // the outcome to the window and returns it.
  UpdateOutcome RunPacketUpdate();
  // The version query: asks once and receives until the version is known, a
  // read fails outright or kVersionQueryLimitMs have passed.
  void PacketVersionQuery();

  void HandleInputFrame(const uint8_t* frame);
  void HandleFirmwarePacket(const uint8_t* body);
  void SendHeaderPacket();
  void SendDataPacket(const uint8_t* bytes, int count);

  // A version query without answer ends after this long.
  static constexpr uint32_t kVersionQueryLimitMs = 2000;
  // An update whose controller sends nothing for this long has failed.
  static constexpr uint32_t kControllerSilenceLimitMs = 30000;
  // Reads that fail (not time out) this many times in a row: the controller is gone.
  static constexpr int kFailedReadLimit = 3;
  // A whole transfer may take three times what its data packets need at one
  // read time-out (10 ms) each, and at least a minute.
  static constexpr uint32_t kTransferMsPerPacket = 30;
  static constexpr uint32_t kMinTransferLimitMs = 60000;
  static uint64_t TransferLimitMs(uint32_t desLen);

 private:
  void VersionStep(const uint8_t* body);
  void TransferStep();
  // One read, traced and dispatched; returns the read's result.
  uint32_t ReceivePacket();
  // Decides how the running update ends (the first decision counts).
  void EndAs(OutcomeResult result, std::string reason);
  // The update failed on the host's side: the user is told, the update stops.
  void FailTransfer(std::string reason);
  std::string Where() const;
  // Payload bytes the controller has had: the packets' bytes beyond desLen do not count.
  uint32_t PayloadSent() const;
  // Looks at the reports already waiting before the host answers or ends:
  // duplicates of requests are dropped, a failure report ends the update
  // (true). Nothing waits for reports still to come.
  bool FailureAlreadyReported();

  IUpdateWindow& m_window;
  CHid& m_hid;
  CDiag& m_diag;
  ISystem& m_system;
  CImageSelection& m_selection;
  UpdateContext& m_context;
  UpdateState& m_state;

  uint8_t m_response[64] = {};  // the received report
  // Belong to the running update (the worker), or to the query on the
  // user-interface thread; never both at once.
  CUpdateAttempt* m_attempt = nullptr;
  std::optional<std::pair<OutcomeResult, std::string>> m_end;
  uint32_t m_dataPackets = 0;
  // The controller asks once for each frame the host sent (the header and every
  // data packet); a request beyond that is a duplicate or stale and is ignored.
  bool m_awaitingRequest = false;
  // The controller answers the start request once; a start answer at any other
  // time (during the transfer, or a second one) starts nothing.
  bool m_awaitingStartAnswer = false;
  std::optional<uint64_t> m_transferStartMs;  // set once the header packet went out
  std::atomic<bool> m_updateDataSent{false};  // this update's data went out in full
  std::atomic<bool> m_inVersionQuery{false};
};

}  // namespace tarvik
