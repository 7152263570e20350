#include "update/boot_update_sequence.h"

#include <algorithm>

#include "base/bytes.h"
#include "diag/diag.h"
#include "update/boot_command_channel.h"
#include "update/boot_wire.h"
#include "update/device_info_query.h"
#include "update/image_selection.h"
#include "device/chid.h"

namespace tarvik {

using namespace boot;

CBootUpdateSequence::CBootUpdateSequence(IFlowReports& events, CHid& hid, CDiag& diag, IClock& clock,
                                         CBootChannel& boot, CImageSelection& selection,
                                         const CDeviceInfoQuery& info, const std::atomic<bool>& stop)
    : m_events(events),
      m_hid(hid),
      m_diag(diag),
      m_clock(clock),
      m_boot(boot),
      m_selection(selection),
      m_info(info),
      m_stop(stop) {}

StepResult CBootUpdateSequence::StepFailure(const CUpdateAttempt& attempt, const StepResult& result, ReasonStep step,
                                            int recordNumber, uint32_t address) const {
  if (result.status() == StepStatus::kInterrupted) return StepResult::Interrupted();
  Reason reason = result.reason();
  reason.At(recordNumber, address);
  if (result.disconnected()) reason.Step(step).Percent(attempt.Percent(m_bytesSent));
  return StepResult::Failed(std::move(reason));
}

UpdateOutcome CBootUpdateSequence::RunBootUpdate(const ControllerFacts& controller) {
  CUpdateAttempt attempt(m_clock, UpdateProtocol::kBoot, controller.main);
  m_bytesSent = 0;
  StepResult result = m_selection.SelectImage(controller);
  attempt.SetSignature(m_selection.Signature());
  const bool confirmed = result.ok();
  if (confirmed) {
    m_hid.SetReadTimeout(10);
    attempt.SetImageVersion(FirmwareVersion::FromWord(m_selection.FirstRecord().version));
    result = WriteImage(attempt);
  }
  if (m_stop.load() && !result.ok()) result = StepResult::Interrupted();
  const UpdateOutcome outcome = attempt.Finish(OutcomeFor(result.status()), result.reason(), m_bytesSent);
  // An update that did not end well says why: a firmware write that failed
  // must not look like one that never started, and a refused image is told.
  if (result.status() == StepStatus::kFailed || m_selection.TellsRefusal(result)) {
    m_events.OnUpdateFailed(outcome);
  }
  // Every end of the sequence settles, the rejected image's too.
  m_events.OnMilestone(UpdateMilestone::kSettled);
  m_events.OnUpdateOutcome(outcome);
  return outcome;
}

StepResult CBootUpdateSequence::CheckInfoBlocks() const {
  for (const ImageMcu mcu : {ImageMcu::kMain, ImageMcu::kAtMcu}) {
    bool written = false;
    for (const PlannedRecord& record : m_selection.Plan().records) written = written || record.mcu == mcu;
    if (!written) continue;
    const InfoBlock& block = mcu == ImageMcu::kMain ? m_info.MainInfo() : m_info.AtInfo();
    if (block.Erased()) return StepResult::Failed(Reason(ReasonCode::kInfoBlockErased).Mcu(mcu));
    if (mcu == ImageMcu::kMain && (block.verAddr & kAddressAtMcu) != 0) {
      return StepResult::Failed(Reason(ReasonCode::kVersionAddressOnAtMcu).At(0, block.verAddr));
    }
  }
  return StepResult::Ok();
}

StepResult CBootUpdateSequence::WriteImage(CUpdateAttempt& attempt) {
  // The selection planned this image for boot mode: the sequence walks the
  // planned records, each with the addresses the controller is told.
  const FirmwareImage& image = m_selection.Image();
  const UpdatePlan& plan = m_selection.Plan();
  const uint32_t payloadTotal = plan.PayloadTotal();
  attempt.SetPayloadTotal(payloadTotal);
  // Where each version stamp goes is known before the first erase.
  if (StepResult usable = CheckInfoBlocks(); !usable.ok()) return usable;

  const std::vector<ImageRecord>& records = image.Records();
  const uint64_t fileLength = image.Bytes().size();
  m_events.OnProgress(0, payloadTotal);

  for (const PlannedRecord& record : plan.records) {
    m_diag.WriteLog("\n");
    if (record.mcu == ImageMcu::kAtMcu) {
      m_diag.WriteLog("Will update ATmcu\n");
      m_diag.WriteLog("Fw Entry:0x%08x\n", record.destination);
    } else {
      m_diag.WriteLog("Will update main mcu\n");
    }
    m_diag.WriteLog("Version address:0x%08x\n", record.versionAddress);

    if (StepResult written = WriteRecord(attempt, record, payloadTotal); !written.ok()) return written;
    const uint64_t after = std::min<uint64_t>(record.payloadOffset + record.length, fileLength);
    m_diag.WriteLog("Now File Position=0x%x\n", static_cast<unsigned>(after));
    m_diag.WriteLog("\nTry to read next fw header\n");

    // The header after this record, the chain's empty version-0 end included.
    if (record.number >= records.size()) break;
    const ImageRecord& next = records[record.number];
    m_diag.WriteLog("File Position=0x%x\n", static_cast<unsigned>(next.PayloadOffset()));
    m_diag.WriteLog("version=0x%x\n", next.header.version);
    m_diag.WriteLog("pid=0x%x\n", next.header.pid);
    m_diag.WriteLog("desAddress=0x%x\n", next.header.desAddress);
    m_diag.WriteLog("desLen=0x%x\n", next.header.desLen);
    m_diag.WriteLog("FileLength=0x%x\n", static_cast<unsigned>(fileLength));
    if (next.EndsChain()) break;
    m_diag.WriteLog("Prepare next update\n");
  }

  m_diag.WriteLog("Reset gamepad\n");
  m_events.OnUpdateStep({UpdatePhase::kResetting, 0, m_bytesSent, payloadTotal});
  m_boot.ResetDevice();
  m_events.OnMilestone(UpdateMilestone::kSucceeded);
  return StepResult::Ok();
}

StepResult CBootUpdateSequence::WriteRecord(CUpdateAttempt& attempt, const PlannedRecord& record,
                                            uint32_t payloadTotal) {
  const std::vector<uint8_t>& bytes = m_selection.Image().Bytes();
  const int recordNumber = static_cast<int>(record.number);
  const uint32_t desAddress = record.destination;
  const uint32_t desLen = record.length;
  m_events.OnUpdateStep({UpdatePhase::kErasing, recordNumber, m_bytesSent, payloadTotal});
  attempt.Touch();
  if (StepResult erased = m_boot.EraseFlash(kCmdErase, desAddress, desLen); !erased.ok()) {
    m_diag.WriteLog("[Erase error]desAddress:0x%x desLen:0x%x\n", desAddress, desLen);
    return StepFailure(attempt, erased, ReasonStep::kErase, recordNumber, desAddress);
  }
  m_diag.WriteLog("[Erase OK]desAddress:0x%x desLen:0x%x\n", desAddress, desLen);
  m_diag.WriteLog("Updating...\n");
  m_diag.WriteLog("file_offset:0x%x\n", static_cast<unsigned>(record.payloadOffset));

  uint32_t recordOffset = 0;
  while (recordOffset < desLen) {
    const uint64_t position = record.payloadOffset + recordOffset;
    const uint64_t left = position < bytes.size() ? bytes.size() - position : 0;
    const uint32_t got = static_cast<uint32_t>(std::min<uint64_t>({desLen - recordOffset, kMaxData, left}));
    if (got == 0) {
      // The image ended before the record did: stamping the version over a
      // partial record would mark it valid.
      m_diag.WriteLog("Read file for none of data\n");
      Reason truncated(ReasonCode::kImageTruncated);
      truncated.record = recordNumber;
      truncated.bytes = recordOffset;
      truncated.total = desLen;
      return StepResult::Failed(std::move(truncated));
    }
    const uint8_t* data = bytes.data() + position;
    const uint32_t address = desAddress + recordOffset;
    int attemptNumber = 1;
    for (;;) {
      const StepResult written = m_boot.WriteFlash(data, address, got, desLen, FlashWrite::kFirmwareData);
      if (written.ok()) break;
      if (attemptNumber == 3 || written.status() == StepStatus::kInterrupted) {
        m_diag.WriteLog("Write flash timeout, abort!\n");
        return StepFailure(attempt, written, ReasonStep::kChunk, recordNumber, address);
      }
      m_diag.WriteLog("Write error, try again!\n");
      ++attemptNumber;
    }
    m_bytesSent += got;
    recordOffset += got;
    m_events.OnProgress(m_bytesSent, payloadTotal);
    m_events.OnUpdateStep({UpdatePhase::kWriting, recordNumber, m_bytesSent, payloadTotal});
  }
  m_diag.WriteLog("Updating firmware end\n");

  m_diag.WriteLog("[Set version]address:0x%x\n", record.versionAddress);
  m_events.OnUpdateStep({UpdatePhase::kStamping, recordNumber, m_bytesSent, payloadTotal});
  if (StepResult stamped = m_boot.SetVersion(record.stampAddress, record.version); !stamped.ok()) {
    m_diag.WriteLog("Set version error\n");
    return StepFailure(attempt, stamped, ReasonStep::kStamp, recordNumber, record.stampAddress);
  }
  m_diag.WriteLog("Set version OK\n");
  return StepResult::Ok();
}

}  // namespace tarvik
