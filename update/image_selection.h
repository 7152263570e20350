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
  // Reads the chosen image once into the update context's snapshot.
  // Cancelled when no file was chosen or the change not confirmed; rejected
  // when the file cannot be read or (packet protocol) the image is not one
  // the controller takes whole.
  StepResult SelectImage();
  // True when the last selection refused a confirmed image that the
  // controller would not take whole: the user is told, unlike the refusals
  // before the confirmation.
  bool RefusedImage() const { return m_refusedImage; }

  // The check of the chosen image's snapshot; payloadTotal 0 and a reason
  // naming the image when rejected.
  ImageScan ScanImage();
  // "PATH is not a valid image: PROBLEM".
  std::string ImageRejection(const std::string& problem) const;
  void LoadFirstRecord(const uint8_t* header);
  void LoadNextRecord(const uint8_t* header);

 private:
  IUpdateWindow& m_window;
  CHid& m_hid;
  CDiag& m_diag;
  ISystem& m_system;
  UpdateContext& m_context;
  UpdateState& m_state;
  bool m_refusedImage = false;
};

}  // namespace tarvik
