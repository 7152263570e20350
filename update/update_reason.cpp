#include "update/update_reason.h"

#include <ostream>

namespace tarvik {

namespace {

struct CodeName {
  ReasonCode code;
  const char* name;
};

constexpr CodeName kCodeNames[] = {
    {ReasonCode::kNoController, "no_controller"},
    {ReasonCode::kOpenFailed, "open_failed"},
    {ReasonCode::kVersionUntold, "version_untold"},
    {ReasonCode::kInfoUnanswered, "info_unanswered"},
    {ReasonCode::kNotQueried, "not_queried"},
    {ReasonCode::kInfoBlockErased, "info_block_erased"},
    {ReasonCode::kVersionAddressOnAtMcu, "version_address_on_atmcu"},
    {ReasonCode::kDisconnected, "disconnected"},
    {ReasonCode::kEraseUnanswered, "erase_unanswered"},
    {ReasonCode::kEraseBusy, "erase_busy"},
    {ReasonCode::kChunkUnacknowledged, "chunk_unacknowledged"},
    {ReasonCode::kStampUnanswered, "stamp_unanswered"},
    {ReasonCode::kResetUnanswered, "reset_unanswered"},
    {ReasonCode::kStartUnwritten, "start_unwritten"},
    {ReasonCode::kEndUnwritten, "end_unwritten"},
    {ReasonCode::kControllerFailure, "controller_failure"},
    {ReasonCode::kControllerSilent, "controller_silent"},
    {ReasonCode::kTransferTooSlow, "transfer_too_slow"},
    {ReasonCode::kNoResult, "no_result"},
    {ReasonCode::kNeedBootMode, "need_boot_mode"},
    {ReasonCode::kNoImage, "no_image"},
    {ReasonCode::kNoImageChosen, "no_image_chosen"},
    {ReasonCode::kUnreadable, "unreadable"},
    {ReasonCode::kIsDirectory, "is_directory"},
    {ReasonCode::kNotRegularFile, "not_regular_file"},
    {ReasonCode::kImageTooLarge, "image_too_large"},
    {ReasonCode::kImageEmpty, "image_empty"},
    {ReasonCode::kHeaderIncomplete, "header_incomplete"},
    {ReasonCode::kRecordPastEnd, "record_past_end"},
    {ReasonCode::kNoPayload, "no_payload"},
    {ReasonCode::kPayloadTooLarge, "payload_too_large"},
    {ReasonCode::kTerminatorCarriesPayload, "terminator_carries_payload"},
    {ReasonCode::kRecordAfterTerminator, "record_after_terminator"},
    {ReasonCode::kRecordPastAddressSpace, "record_past_address_space"},
    {ReasonCode::kMainRecordOnAtMcu, "main_record_on_atmcu"},
    {ReasonCode::kRecordsOverlap, "records_overlap"},
    {ReasonCode::kPacketDropsRecord, "packet_drops_record"},
    {ReasonCode::kPacketRecordEmpty, "packet_record_empty"},
    {ReasonCode::kImageTruncated, "image_truncated"},
    {ReasonCode::kDigestMismatch, "digest_mismatch"},
    {ReasonCode::kSignatureMismatch, "signature_mismatch"},
    {ReasonCode::kSignatureDamaged, "signature_damaged"},
    {ReasonCode::kSignatureUntrusted, "signature_untrusted"},
    {ReasonCode::kUnsigned, "unsigned"},
    {ReasonCode::kOlderThanController, "older_than_controller"},
    {ReasonCode::kSameVersion, "same_version"},
    {ReasonCode::kNotConfirmed, "not_confirmed"},
    {ReasonCode::kInterrupted, "interrupted"},
};

}  // namespace

const std::vector<ReasonCode>& AllReasonCodes() {
  static const std::vector<ReasonCode> codes = [] {
    std::vector<ReasonCode> all;
    for (const CodeName& entry : kCodeNames) all.push_back(entry.code);
    return all;
  }();
  return codes;
}

const char* ReasonCodeName(ReasonCode code) {
  for (const CodeName& entry : kCodeNames) {
    if (entry.code == code) return entry.name;
  }
  return "none";
}

bool ReasonCodeFromName(const std::string& name, ReasonCode& code) {
  for (const CodeName& entry : kCodeNames) {
    if (name != entry.name) continue;
    code = entry.code;
    return true;
  }
  return false;
}

std::ostream& operator<<(std::ostream& out, const Reason& reason) { return out << ReasonCodeName(reason.code); }

bool IsSignatureCode(ReasonCode code) {
  return code == ReasonCode::kSignatureMismatch || code == ReasonCode::kSignatureDamaged ||
         code == ReasonCode::kSignatureUntrusted || code == ReasonCode::kUnsigned;
}

bool IsImageContentCode(ReasonCode code) {
  switch (code) {
    case ReasonCode::kImageEmpty:
    case ReasonCode::kHeaderIncomplete:
    case ReasonCode::kRecordPastEnd:
    case ReasonCode::kNoPayload:
    case ReasonCode::kPayloadTooLarge:
    case ReasonCode::kTerminatorCarriesPayload:
    case ReasonCode::kRecordAfterTerminator:
    case ReasonCode::kRecordPastAddressSpace:
    case ReasonCode::kMainRecordOnAtMcu:
    case ReasonCode::kRecordsOverlap:
    case ReasonCode::kPacketDropsRecord:
    case ReasonCode::kPacketRecordEmpty:
    case ReasonCode::kDigestMismatch:
    case ReasonCode::kSignatureMismatch:
    case ReasonCode::kSignatureDamaged:
    case ReasonCode::kSignatureUntrusted:
    case ReasonCode::kUnsigned:
      return true;
    default:
      return false;
  }
}

}  // namespace tarvik
