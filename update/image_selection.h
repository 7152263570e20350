// Picking an image and confirming the version change, scanning the image, and
// loading its records into the update context. Runs on the thread of the flow
// that calls it (the worker).
#pragma once

#include <cstdint>

#include "update/firmware_image.h"
#include "update/update_context.h"
#include "update/update_result.h"
#include "update/update_state.h"
#include "update/update_window.h"

namespace tarvik {

class CHid;
class CDiag;
class ISystem;

class CImageSelection {
 public:
  CImageSelection(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system,
                  UpdateContext& context, UpdateState& state);

  // The file dialog, the first header, the version confirmation; in the packet
  // protocol also the start of the transfer (state 1, the header packet).
  // Cancelled when no file was chosen or the change not confirmed; rejected
  // when the file cannot be opened or (packet protocol) is shorter than its
  // first record says.
  StepResult SelectImage();
  // True when the last selection refused an image too short for its record:
  // the user is told, unlike the other refusals.
  bool RefusedAsShort() const { return m_refusedAsShort; }

  // Walks the chosen image's chain; payloadTotal 0 and a reason when rejected.
  ImageScan ScanImage();
  void LoadFirstRecord(const uint8_t* header);
  void LoadNextRecord(const uint8_t* header);

 private:
  IUpdateWindow& m_window;
  CHid& m_hid;
  CDiag& m_diag;
  ISystem& m_system;
  UpdateContext& m_context;
  UpdateState& m_state;
  bool m_refusedAsShort = false;
};

}  // namespace tarvik
