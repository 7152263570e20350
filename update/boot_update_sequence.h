// The whole firmware update of a boot-mode controller, record by record, on
// the worker thread. The log has the steps and the outcome names the one that
// failed. A failure after the person confirmed the image is reported apart.
#pragma once

#include <atomic>
#include <cstdint>

#include "update/update_attempt.h"
#include "update/update_events.h"
#include "update/update_plan.h"
#include "update/update_result.h"

namespace tarvik {

class CHid;
class CDiag;
class CBootChannel;
class CImageSelection;
class CDeviceInfoQuery;
class IClock;
struct PlannedRecord;

class CBootUpdateSequence {
 public:
  CBootUpdateSequence(IFlowReports& events, CHid& hid, CDiag& diag, IClock& clock, CBootChannel& boot,
                      CImageSelection& selection, const CDeviceInfoQuery& info, const std::atomic<bool>& stop);

  // One update: selection, scan, every record, reset. `controller` is what
  // the last query told. Reports the outcome and returns it.
  UpdateOutcome RunBootUpdate(const ControllerFacts& controller);

 private:
  // Failed when an information block the image needs cannot say where a
  // version stamp goes (erased, or the main block pointing at the ATmcu).
  StepResult CheckInfoBlocks() const;
  // The steps after the selection; the attempt learns how far they got.
  StepResult WriteImage(CUpdateAttempt& attempt);
  StepResult WriteRecord(CUpdateAttempt& attempt, const PlannedRecord& record, uint32_t payloadTotal);
  // A channel's failure at a record's step: what the controller did there,
  // and how far the update had come when the controller went away.
  StepResult StepFailure(const CUpdateAttempt& attempt, const StepResult& result, ReasonStep step, int recordNumber,
                         uint32_t address) const;

  IFlowReports& m_events;
  CHid& m_hid;
  CDiag& m_diag;
  IClock& m_clock;
  CBootChannel& m_boot;
  CImageSelection& m_selection;
  const CDeviceInfoQuery& m_info;
  const std::atomic<bool>& m_stop;
  uint32_t m_bytesSent = 0;  // payload the controller took in the running update
};

}  // namespace tarvik
