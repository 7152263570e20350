// The packet-protocol update: the controller drives, the host answers each of
// its data requests with the next 32 bytes of the image. Also the version
// query of packet-protocol controllers, which shares the frame dispatch.
// The update runs on the worker; the version query on its caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "update/firmware_image.h"
#include "update/update_attempt.h"
#include "update/update_events.h"
#include "update/update_plan.h"
#include "update/update_result.h"

namespace tarvik {

class CHid;
class CDiag;
class ISystem;
class CImageSelection;

// The transfer's progress; the values are the protocol's own.
enum class TransferState : int {
  kStarted = 1,  // image confirmed and header packet sent; no data sent yet
  kSending = 2,  // data being sent
  kDone = 3,     // all data sent, or no transfer since start
};

class CPacketUpdateFlow {
 public:
  CPacketUpdateFlow(IFlowReports& events, CHid& hid, CDiag& diag, ISystem& system, CImageSelection& selection,
                    const std::atomic<bool>& stop);

  // Readies the next update before its worker starts: it has not ended and
  // no removal was noticed yet.
  void BeginUpdate();
  // One update, from the start request until it has ended; reports the
  // outcome and returns it. `controller` is what the last query told.
  UpdateOutcome RunPacketUpdate(const ControllerFacts& controller);
  // The version query: asks once and receives until the version is known, a
  // read fails outright or kVersionQueryLimitMs have passed. True when it was told.
  bool PacketVersionQuery();
  // A removal notice came while the update ran; safe from any thread.
  void NoticeRemoval() { m_removalNoticed.store(true); }
  // The end of an update: the data closed, the mode-2 signal no longer due,
  // the update marked ended.
  void StopUpdate();

  void HandleInputFrame(const uint8_t* frame);
  void HandleFirmwarePacket(const uint8_t* body);
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
  // The confirmed image goes out as one record: its header packet first.
  void StartTransfer();
  void TransferStep();
  // The mode-2 signal is due every 100 ms once the data flows. The flow
  // ticks it here unless its caller ticks it.
  void ArmModeTwoSignal();
  void DisarmModeTwoSignal();
  void TickModeTwoSignal();
  // One read, traced and dispatched; returns the read's result.
  uint32_t ReceivePacket();
  // Decides how the running update ends (the first decision counts).
  void EndAs(OutcomeResult result, Reason reason);
  // The update failed: it stops, and its caller hears it failed.
  void FailTransfer(Reason reason);
  // Tells the caller how the update failed, as decided.
  void ReportFailure();
  // A reason with how far the transfer has come.
  Reason AtProgress(ReasonCode code) const;
  // Payload bytes the controller has had: the packets' bytes beyond desLen do not count.
  uint32_t PayloadSent() const;
  // Looks at the reports already waiting before the host answers or ends:
  // duplicates of requests are dropped, a failure report ends the update
  // (true). Nothing waits for reports still to come.
  bool FailureAlreadyReported();

  IFlowReports& m_events;
  CHid& m_hid;
  CDiag& m_diag;
  ISystem& m_system;
  CImageSelection& m_selection;
  const std::atomic<bool>& m_stop;

  // The record being sent and how much of it went out.
  RecordHeader m_record;
  uint32_t m_bytesSent = 0;
  uint8_t m_dataBuffer[64] = {};
  // Where the next data packet's bytes start in the image; nothing once the
  // transfer is closed.
  std::optional<uint64_t> m_dataPosition;
  std::atomic<TransferState> m_transferState{TransferState::kDone};
  // Set by the update's end operations; the receive loop runs until it is set.
  std::atomic<bool> m_ended{true};
  std::atomic<bool> m_removalNoticed{false};
  // The controller of the running update, its version as last told, and
  // whether the running query heard it.
  ControllerFacts m_controller;
  bool m_versionTold = false;
  std::optional<uint64_t> m_signalDueMs;  // when the flow ticks the mode-2 signal itself

  uint8_t m_response[64] = {};  // the received report
  // Belong to the running update (the worker), or to the query on the
  // user-interface thread; never both at once.
  CUpdateAttempt* m_attempt = nullptr;
  std::optional<std::pair<OutcomeResult, Reason>> m_end;
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
