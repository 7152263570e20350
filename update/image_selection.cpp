// Picking an image, confirming the version change, scanning the image and
// loading its records into the update context.
#include "app/cupdate_dlg.h"
#include "app/text_table.h"
#include "base/bytes.h"
#include "update/version_text.h"

#include <cstring>

namespace tarvik {

int CUpdateDlg::SelectImage() {
  m_imageRefused.store(false);
  FileDialogRequest request;
  request.filter = LoadText(kTextFileType) + "(*.dat)|*.dat||";
  request.initialDirectory = m_system.GetCurrentDirectory();
  request.defaultExtension = "*.*";
  request.flags = kOfnHideReadOnly | kOfnOverwritePrompt;
  const std::optional<std::string> chosen = ShowOpenFileDialog(request);
  if (!chosen) return 0;
  m_context.imagePath = *chosen;

  CImageFile file;
  if (!file.Open(m_context.imagePath)) return 0;
  // A file shorter than a header leaves the rest of the copy zero, never stale;
  // the scan rejects such a file before anything is sent.
  std::memset(m_context.firstHeader, 0, sizeof m_context.firstHeader);
  file.Read(m_context.firstHeader, sizeof m_context.firstHeader);
  const uint64_t fileLength = file.Length();
  file.Close();
  LoadFirstRecord(m_context.firstHeader);

  const std::string text =
      FormatVersionConfirmation(LoadText(kTextFw), GetLe32(m_context.firstHeader),
                                LoadText(kTextCurrentIs), m_deviceVersion.load());
  if (MessageBox(text, LoadText(kTextTitle), MsgBoxButtons::kOkCancel) != MsgBoxAnswer::kOk) {
    m_diag.Trace("MessageBox == IDCANCEL\n");
    return 0;
  }
  m_hid.SetReadTimeout(10);
  if (!m_hid.IsBootMode()) {
    // The controller is told how much data follows: an image that does not
    // hold it all is refused before the header goes out.
    if (fileLength < kRecordHeaderSize + uint64_t{m_context.record.desLen}) {
      m_imageRefused.store(true);
      return 0;
    }
    m_updateDataSent.store(false);
    m_transferState.store(1);
    SendHeaderPacket();
    m_diag.Trace("desVersion is %d\n", static_cast<int>(GetLe32(m_context.firstHeader)));
  }
  return 1;
}

uint32_t CUpdateDlg::ScanImage() {
  return ScanImageFile(m_context.imageFile, m_context.imagePath).payloadTotal;
}

void CUpdateDlg::LoadFirstRecord(const uint8_t* header) {
  LoadNextRecord(header);
  m_context.record.bytesSent = 0;
}

void CUpdateDlg::LoadNextRecord(const uint8_t* header) {
  const RecordHeader parsed = ParseRecordHeader(header);
  m_context.record.version = parsed.version;
  m_context.record.desAddress = parsed.desAddress;
  m_context.record.desLen = parsed.desLen;
}

}  // namespace tarvik
