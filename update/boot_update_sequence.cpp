// The whole firmware update of a boot-mode controller, record by record, on
// the worker thread. Failures are silent to the user; the log has the reason.
#include "app/cupdate_dlg.h"
#include "base/bytes.h"

namespace tarvik {

using namespace boot;

void CUpdateDlg::EndBootUpdate(bool closeImage) {
  if (closeImage) m_context.imageFile.Close();
  RefreshUpdateButton();
}

void CUpdateDlg::RunBootUpdate() {
  if (!SelectImage()) {
    EndBootUpdate(false);
    return;
  }
  const uint32_t payloadTotal = ScanImage();
  if (payloadTotal == 0) {
    // A rejected image ends like every other exit: the button is set again.
    EndBootUpdate(false);
    return;
  }
  CImageFile& file = m_context.imageFile;
  if (!file.Open(m_context.imagePath)) {
    EndBootUpdate(false);
    return;
  }
  const uint64_t fileLength = file.Length();
  uint8_t header[kRecordHeaderSize] = {};
  if (file.Read(header, sizeof header) < sizeof header) {
    m_diag.WriteLog("read firmware header error\n");
    EndBootUpdate(true);
    return;
  }
  SetProgressPos(IDC_PROGRESS, 0);

  UpdateRecordValues& record = m_context.record;
  for (;;) {
    m_diag.WriteLog("\n");
    const RecordHeader parsed = ParseRecordHeader(header);
    uint32_t versionAddress = 0;
    if (parsed.pid == 0) {
      m_boot.SetAddressSelect(kAddressAtMcu);
      record.desAddress |= kAddressAtMcu;
      versionAddress = GetLe32(m_atInfo + kInfoVerAddr);
      m_diag.WriteLog("Will update ATmcu\n");
      m_diag.WriteLog("Fw Entry:0x%08x\n", record.desAddress);
    } else {
      m_boot.SetAddressSelect(kAddressMain);
      versionAddress = GetLe32(m_mainInfo + kInfoVerAddr);
      m_diag.WriteLog("Will update main mcu\n");
    }
    m_diag.WriteLog("Version address:0x%08x\n", versionAddress);

    if (!m_boot.EraseFlash(kCmdErase, record.desAddress, record.desLen)) {
      m_diag.WriteLog("[Erase error]desAddress:0x%x desLen:0x%x\n", record.desAddress, record.desLen);
      EndBootUpdate(true);
      return;
    }
    m_diag.WriteLog("[Erase OK]desAddress:0x%x desLen:0x%x\n", record.desAddress, record.desLen);
    m_diag.WriteLog("Updating...\n");
    m_diag.WriteLog("file_offset:0x%x\n", static_cast<unsigned>(file.Position()));

    uint32_t recordOffset = 0;
    while (recordOffset < record.desLen) {
      const uint32_t n = std::min<uint32_t>(record.desLen - recordOffset, kMaxData);
      const uint32_t got = static_cast<uint32_t>(file.Read(record.dataBuffer, n));
      if (got == 0) {
        // The file ended before the record did (it changed after the scan):
        // stamping the version over a partial record would mark it valid.
        m_diag.WriteLog("Read file for none of data\n");
        EndBootUpdate(true);
        return;
      }
      int attempt = 1;
      while (!m_boot.WriteFlash(record.dataBuffer, record.desAddress + recordOffset, got,
                                record.desLen, 1)) {
        if (attempt == 3 || m_abort.load()) {
          m_diag.WriteLog("Write flash timeout, abort!\n");
          EndBootUpdate(true);
          return;
        }
        m_diag.WriteLog("Write error, try again!\n");
        ++attempt;
      }
      record.bytesSent += got;
      recordOffset += got;
      SetProgressPos(IDC_PROGRESS,
                     static_cast<int>(uint64_t{record.bytesSent} * 100 / payloadTotal));
    }
    m_diag.WriteLog("Updating firmware end\n");

    m_diag.WriteLog("[Set version]address:0x%x\n", versionAddress);
    if (!m_boot.SetVersion(versionAddress, record.version)) {
      m_diag.WriteLog("Set version error\n");
      EndBootUpdate(true);
      return;
    }
    m_diag.WriteLog("Set version OK\n");
    m_diag.WriteLog("Now File Position=0x%x\n", static_cast<unsigned>(file.Position()));
    m_diag.WriteLog("\nTry to read next fw header\n");

    if (file.Read(header, sizeof header) < sizeof header) break;
    const RecordHeader next = ParseRecordHeader(header);
    m_diag.WriteLog("File Position=0x%x\n", static_cast<unsigned>(file.Position()));
    m_diag.WriteLog("version=0x%x\n", next.version);
    m_diag.WriteLog("pid=0x%x\n", next.pid);
    m_diag.WriteLog("desAddress=0x%x\n", next.desAddress);
    m_diag.WriteLog("desLen=0x%x\n", next.desLen);
    m_diag.WriteLog("FileLength=0x%x\n", static_cast<unsigned>(fileLength));
    // Every record of the chain the scan accepted is written; a version of 0 ends it.
    if (next.version == 0) break;
    LoadNextRecord(header);
    m_diag.WriteLog("Prepare next update\n");
  }

  m_diag.WriteLog("Reset gamepad\n");
  m_boot.ResetDevice();
  ReportUpdateSuccess();
  EndBootUpdate(true);
}

}  // namespace tarvik
