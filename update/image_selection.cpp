#include "update/image_selection.h"

#include <cstring>

#include "base/bytes.h"
#include "base/strformat.h"
#include "base/text_mark.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/system.h"
#include "res/text_index.h"
#include "update/packet_protocol.h"
#include "update/version_text.h"

namespace tarvik {

CImageSelection::CImageSelection(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system,
                                 UpdateContext& context, UpdateState& state)
    : m_window(window), m_hid(hid), m_diag(diag), m_system(system), m_context(context), m_state(state) {}

StepResult CImageSelection::SelectImage() {
  m_refusedImage = false;
  FileDialogRequest request;
  request.types = {{m_window.Text(kTextFileType) + "(*.dat)", "*.dat"}};
  request.initialDirectory = m_system.CurrentDirectory();
  const std::optional<std::string> chosen = m_window.ChooseFile(request);
  if (!chosen) return StepResult::Cancelled(N_("no image was chosen"));
  m_context.imagePath = *chosen;

  // The image is read once, here (or was, by whoever handed it over):
  // everything after (the check, the confirmation, the update) works on
  // this snapshot.
  m_context.imageFile.Close();
  m_context.image = m_context.presetImage ? *m_context.presetImage : FirmwareImage::Load(m_context.imagePath);
  if (!m_context.image.Readable()) return StepResult::Rejected(m_context.image.Scan().reason);
  // A file shorter than a header leaves the rest of the copy zero, never stale;
  // the check rejects such a file before anything is sent.
  std::memcpy(m_context.firstHeader, m_context.image.FirstHeader(), sizeof m_context.firstHeader);
  LoadFirstRecord(m_context.firstHeader);

  const std::string text =
      FormatVersionConfirmation(m_window.Text(kTextFw), GetLe32(m_context.firstHeader),
                                m_window.Text(kTextCurrentIs), m_state.deviceVersion.load());
  if (!m_window.Confirm(text, m_window.Text(kTextTitle))) {
    m_diag.Trace("MessageBox == IDCANCEL\n");
    return StepResult::Cancelled(N_("the version change was not confirmed"));
  }
  m_hid.SetReadTimeout(10);
  if (!m_hid.IsBootMode()) {
    // The controller is told how much data follows and takes one record: an
    // image it would not take whole is refused before the header goes out.
    if (const std::string problem = m_context.image.CheckFor(UpdateProtocol::kPacket); !problem.empty()) {
      m_refusedImage = true;
      return StepResult::Rejected(ImageRejection(problem));
    }
    m_state.transferState.store(TransferState::kStarted);
    SendHeaderPacket(m_hid, m_diag, m_context.record);
    m_diag.Trace("desVersion is %d\n", static_cast<int>(GetLe32(m_context.firstHeader)));
  }
  return StepResult::Ok();
}

ImageScan CImageSelection::ScanImage() {
  ImageScan scan = m_context.image.Scan();
  if (!scan.Accepted()) scan.reason = ImageRejection(scan.reason);
  return scan;
}

std::string CImageSelection::ImageRejection(const std::string& problem) const {
  return tarvik::ImageRejection(m_context.imagePath, problem);
}

void CImageSelection::LoadFirstRecord(const uint8_t* header) {
  LoadNextRecord(header);
  m_context.record.bytesSent = 0;
}

void CImageSelection::LoadNextRecord(const uint8_t* header) {
  const RecordHeader parsed = ParseRecordHeader(header);
  m_context.record.version = parsed.version;
  m_context.record.desAddress = parsed.desAddress;
  m_context.record.desLen = parsed.desLen;
}

}  // namespace tarvik
