#include "update/boot_update_sequence.h"

#include <algorithm>

#include "base/bytes.h"
#include "base/strformat.h"
#include "base/text_mark.h"
#include "diag/diag.h"
#include "update/boot_command_channel.h"
#include "update/boot_wire.h"
#include "update/device_info_query.h"
#include "update/image_selection.h"

namespace tarvik {

using namespace boot;

CBootUpdateSequence::CBootUpdateSequence(IUpdateWindow& window, CDiag& diag, IClock& clock,
                                         CBootChannel& boot, CImageSelection& selection,
                                         CDeviceInfoQuery& info, UpdateContext& context,
                                         UpdateState& state)
    : m_window(window),
      m_diag(diag),
      m_clock(clock),
      m_boot(boot),
      m_selection(selection),
      m_info(info),
      m_context(context),
      m_state(state) {}

StepResult CBootUpdateSequence::StepFailure(const CUpdateAttempt& attempt, const StepResult& result,
                                            const std::string& step) const {
  if (result.status() == StepStatus::kInterrupted) {
    return StepResult::Interrupted();
  }
  if (result.disconnected()) {
    return StepResult::Failed(StrFormat(N_("the controller was disconnected at %s (%s)"),
                                        attempt.Percent(m_context.record.bytesSent).c_str(), step.c_str()),
                              true);
  }
  // TRANSLATORS: a step of the update ("the erase of record 1 at 0x08003000"),
  // then what became of it ("was never answered").
  return StepResult::Failed(StrFormat(N_("%s %s"), step.c_str(), result.reason().c_str()));
}

UpdateOutcome CBootUpdateSequence::RunBootUpdate() {
  CUpdateAttempt attempt(m_clock, UpdateProtocol::kBoot, m_state.deviceVersion.load());
  StepResult result = m_selection.SelectImage();
  const bool confirmed = result.ok();
  if (confirmed) {
    attempt.SetImageVersion(GetLe32(m_context.firstHeader));
    result = WriteImage(attempt);
  }
  if (m_state.stopRequested.load() && !result.ok()) result = StepResult::Interrupted();
  // A confirmed update that did not end well says so: a firmware write that
  // failed must not look like one that never started.
  if (confirmed && (result.status() == StepStatus::kFailed || result.status() == StepStatus::kRejected)) {
    m_window.ReportUpdateFailure();
  }
  // Every end of the sequence sets the button again, the rejected image's too.
  m_context.imageFile.Close();
  m_window.RefreshUpdateButton();
  const UpdateOutcome outcome =
      attempt.Finish(OutcomeFor(result.status()), result.reason(), m_context.record.bytesSent);
  m_window.OnUpdateOutcome(outcome);
  return outcome;
}

StepResult CBootUpdateSequence::CheckInfoBlocks() const {
  const FirmwareImage& image = m_context.image;
  const std::vector<ImageRecord>& records = image.Records();
  for (const ImageMcu mcu : {ImageMcu::kMain, ImageMcu::kAtMcu}) {
    bool written = false;
    for (const size_t i : RecordsWrittenBy(UpdateProtocol::kBoot, records)) written = written || records[i].Mcu() == mcu;
    if (!written) continue;
    const InfoBlock& block = mcu == ImageMcu::kMain ? m_info.MainInfo() : m_info.AtInfo();
    if (block.Erased()) {
      return StepResult::Failed(StrFormat(N_("the %s's information block reads as erased (all 0xFF): where its "
                                          "version goes is unknown, so nothing was erased"),
                                          McuName(mcu)));
    }
    if (mcu == ImageMcu::kMain && (block.verAddr & kAddressAtMcu) != 0) {
      return StepResult::Failed(StrFormat(N_("the main mcu's information block gives VerAddr 0x%08X, an ATmcu "
                                             "address: its version stamp would go to the ATmcu, so nothing was erased"),
                                          block.verAddr));
    }
  }
  return StepResult::Ok();
}

StepResult CBootUpdateSequence::WriteImage(CUpdateAttempt& attempt) {
  const ImageScan scan = m_selection.ScanImage();
  if (!scan.Accepted()) return StepResult::Rejected(scan.reason);
  const uint32_t payloadTotal = scan.payloadTotal;
  attempt.SetPayloadTotal(payloadTotal);
  // Where each version stamp goes is known before the first erase.
  if (StepResult usable = CheckInfoBlocks(); !usable.ok()) return usable;

  CImageReader& file = m_context.imageFile;
  if (!file.Open()) return StepResult::Rejected(N_("no image was read for the update"));
  const uint64_t fileLength = file.Length();
  uint8_t header[kRecordHeaderSize] = {};
  if (file.Read(header, sizeof header) < sizeof header) {
    m_diag.WriteLog("read firmware header error\n");
    return StepResult::Rejected(
        StrFormat(N_("the first record header of %s could not be read"), m_context.imagePath.c_str()));
  }
  m_window.SetProgress(0);

  UpdateRecordValues& record = m_context.record;
  for (int recordNumber = 1;; ++recordNumber) {
    m_diag.WriteLog("\n");
    const RecordHeader parsed = ParseRecordHeader(header);
    uint32_t versionAddress = 0;
    if (parsed.pid == 0) {
      m_boot.SetAddressSelect(kAddressAtMcu);
      record.desAddress |= kAddressAtMcu;
      versionAddress = m_info.AtInfo().verAddr;
      m_diag.WriteLog("Will update ATmcu\n");
      m_diag.WriteLog("Fw Entry:0x%08x\n", record.desAddress);
    } else {
      m_boot.SetAddressSelect(kAddressMain);
      versionAddress = m_info.MainInfo().verAddr;
      m_diag.WriteLog("Will update main mcu\n");
    }
    m_diag.WriteLog("Version address:0x%08x\n", versionAddress);

    if (StepResult written = WriteRecord(attempt, recordNumber, payloadTotal, versionAddress); !written.ok()) {
      return written;
    }
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
    // Every record of the chain the check accepted is written; the empty
    // version-0 terminator ends it.
    if (next.version == 0) break;
    m_selection.LoadNextRecord(header);
    m_diag.WriteLog("Prepare next update\n");
  }

  m_diag.WriteLog("Reset gamepad\n");
  m_window.OnUpdateStep({UpdatePhase::kResetting, 0, record.bytesSent, payloadTotal});
  m_boot.ResetDevice();
  m_window.ReportUpdateSuccess();
  return StepResult::Ok();
}

StepResult CBootUpdateSequence::WriteRecord(CUpdateAttempt& attempt, int recordNumber,
                                            uint32_t payloadTotal, uint32_t versionAddress) {
  UpdateRecordValues& record = m_context.record;
  CImageReader& file = m_context.imageFile;
  m_window.OnUpdateStep({UpdatePhase::kErasing, recordNumber, record.bytesSent, payloadTotal});
  attempt.Touch();
  if (StepResult erased = m_boot.EraseFlash(kCmdErase, record.desAddress, record.desLen); !erased.ok()) {
    m_diag.WriteLog("[Erase error]desAddress:0x%x desLen:0x%x\n", record.desAddress, record.desLen);
    return StepFailure(attempt, erased,
                       StrFormat(N_("the erase of record %d at 0x%08X"), recordNumber, record.desAddress));
  }
  m_diag.WriteLog("[Erase OK]desAddress:0x%x desLen:0x%x\n", record.desAddress, record.desLen);
  m_diag.WriteLog("Updating...\n");
  m_diag.WriteLog("file_offset:0x%x\n", static_cast<unsigned>(file.Position()));

  uint32_t recordOffset = 0;
  while (recordOffset < record.desLen) {
    const uint32_t n = std::min<uint32_t>(record.desLen - recordOffset, kMaxData);
    const uint32_t got = static_cast<uint32_t>(file.Read(record.dataBuffer, n));
    if (got == 0) {
      // The image ended before the record did: stamping the version over a
      // partial record would mark it valid.
      m_diag.WriteLog("Read file for none of data\n");
      return StepResult::Failed(StrFormat(N_("the image file ended inside record %d, %u of its %u bytes in"),
                                          recordNumber, recordOffset, record.desLen));
    }
    const uint32_t address = record.desAddress + recordOffset;
    int attemptNumber = 1;
    for (;;) {
      const StepResult written = m_boot.WriteFlash(record.dataBuffer, address, got, record.desLen, FlashWrite::kFirmwareData);
      if (written.ok()) break;
      if (attemptNumber == 3 || written.status() == StepStatus::kInterrupted) {
        m_diag.WriteLog("Write flash timeout, abort!\n");
        const uint32_t sentAddress = address | m_boot.AddressSelect();
        if (written.status() == StepStatus::kFailed && !written.disconnected()) {
          return StepResult::Failed(
              StrFormat(N_("the chunk at 0x%08X was not acknowledged in three attempts"), sentAddress));
        }
        return StepFailure(attempt, written, StrFormat(N_("writing the chunk at 0x%08X"), sentAddress));
      }
      m_diag.WriteLog("Write error, try again!\n");
      ++attemptNumber;
    }
    record.bytesSent += got;
    recordOffset += got;
    m_window.SetProgress(static_cast<int>(uint64_t{record.bytesSent} * 100 / payloadTotal));
    m_window.OnUpdateStep({UpdatePhase::kWriting, recordNumber, record.bytesSent, payloadTotal});
  }
  m_diag.WriteLog("Updating firmware end\n");

  m_diag.WriteLog("[Set version]address:0x%x\n", versionAddress);
  m_window.OnUpdateStep({UpdatePhase::kStamping, recordNumber, record.bytesSent, payloadTotal});
  if (StepResult stamped = m_boot.SetVersion(versionAddress, record.version); !stamped.ok()) {
    m_diag.WriteLog("Set version error\n");
    return StepFailure(attempt, stamped,
                       StrFormat(N_("the version stamp of record %d at 0x%08X"), recordNumber,
                                 versionAddress | m_boot.AddressSelect()));
  }
  m_diag.WriteLog("Set version OK\n");
  return StepResult::Ok();
}

}  // namespace tarvik
