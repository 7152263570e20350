// The whole firmware update of a boot-mode controller, record by record, on
// the worker thread. The log has the steps and the outcome names the one that
// failed; a failure after the user confirmed the image is also shown.
#pragma once

#include "update/update_attempt.h"
#include "update/update_context.h"
#include "update/update_result.h"
#include "update/update_state.h"
#include "update/update_window.h"

namespace tarvik {

class CDiag;
class CBootChannel;
class CImageSelection;
class CDeviceInfoQuery;
class IClock;

class CBootUpdateSequence {
 public:
  CBootUpdateSequence(IUpdateWindow& window, CDiag& diag, IClock& clock, CBootChannel& boot,
                      CImageSelection& selection, CDeviceInfoQuery& info, UpdateContext& context,
                      UpdateState& state);

  // One update: selection, scan, every record, reset. Reports the outcome to
  // the window and returns it.
  UpdateOutcome RunBootUpdate();

 private:
  // Failed when an information block the image needs cannot say where a
  // version stamp goes (erased, or the main block pointing at the ATmcu).
  StepResult CheckInfoBlocks() const;
  // The steps after the selection; the attempt learns how far they got.
  StepResult WriteImage(CUpdateAttempt& attempt);
  StepResult WriteRecord(CUpdateAttempt& attempt, int recordNumber, uint32_t payloadTotal,
                         uint32_t versionAddress);
  // A channel's failure as the sequence tells it: "<step> <what happened>",
  // or where the update was when the controller went away.
  StepResult StepFailure(const CUpdateAttempt& attempt, const StepResult& result,
                         const std::string& step) const;

  IUpdateWindow& m_window;
  CDiag& m_diag;
  IClock& m_clock;
  CBootChannel& m_boot;
  CImageSelection& m_selection;
  CDeviceInfoQuery& m_info;
  UpdateContext& m_context;
  UpdateState& m_state;
};

}  // namespace tarvik
