#include "update/image_selection.h"

#include <cstring>

#include "base/bytes.h"
#include "base/strformat.h"
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
  m_refusedAsShort = false;
  FileDialogRequest request;
  request.filter = m_window.Text(kTextFileType) + "(*.dat)|*.dat||";
  request.initialDirectory = m_system.GetCurrentDirectory();
  request.defaultExtension = "*.*";
  request.flags = kOfnHideReadOnly | kOfnOverwritePrompt;
  const std::optional<std::string> chosen = m_window.ChooseFile(request);
  if (!chosen) return StepResult::Cancelled("no image was chosen");
  m_context.imagePath = *chosen;

  CImageFile file;
  if (!file.Open(m_context.imagePath)) {
    return StepResult::Rejected("cannot open " + m_context.imagePath + ": " + file.LastError());
  }
  // A file shorter than a header leaves the rest of the copy zero, never stale;
  // the scan rejects such a file before anything is sent.
  std::memset(m_context.firstHeader, 0, sizeof m_context.firstHeader);
  file.Read(m_context.firstHeader, sizeof m_context.firstHeader);
  const uint64_t fileLength = file.Length();
  file.Close();
  LoadFirstRecord(m_context.firstHeader);

  const std::string text =
      FormatVersionConfirmation(m_window.Text(kTextFw), GetLe32(m_context.firstHeader),
                                m_window.Text(kTextCurrentIs), m_state.deviceVersion.load());
  if (!m_window.Confirm(text, m_window.Text(kTextTitle))) {
    m_diag.Trace("MessageBox == IDCANCEL\n");
    return StepResult::Cancelled("the version change was not confirmed");
  }
  m_hid.SetReadTimeout(10);
  if (!m_hid.IsBootMode()) {
    // The controller is told how much data follows: an image that does not
    // hold it all is refused before the header goes out.
    const uint64_t needed = kRecordHeaderSize + uint64_t{m_context.record.desLen};
    if (fileLength < needed) {
      m_refusedAsShort = true;
      return StepResult::Rejected(StrFormat(
          "%s holds %llu bytes, fewer than the %llu its first record needs", m_context.imagePath.c_str(),
          static_cast<unsigned long long>(fileLength), static_cast<unsigned long long>(needed)));
    }
    m_state.transferState.store(TransferState::kStarted);
    SendHeaderPacket(m_hid, m_diag, m_context.record);
    m_diag.Trace("desVersion is %d\n", static_cast<int>(GetLe32(m_context.firstHeader)));
  }
  return StepResult::Ok();
}

ImageScan CImageSelection::ScanImage() { return ScanImageFile(m_context.imageFile, m_context.imagePath); }

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
