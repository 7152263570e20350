#include "texts/reason_texts.h"

#include "base/strformat.h"
#include "base/system_error_text.h"
#include "texts/interface_texts.h"
#include "update/firmware_version.h"

namespace tarvik {

namespace {

// The catalogue's texts in one language: English as written, or the run's.
class Wording {
 public:
  explicit Wording(bool english) : m_english(english) {}
  const char* operator()(const char* english) const { return m_english ? english : Tr(english); }

 private:
  bool m_english;
};

unsigned long long Ull(uint64_t value) { return static_cast<unsigned long long>(value); }

bool OnMain(const Reason& r) { return r.mcu == ImageMcu::kMain; }

std::string Version(uint32_t word) { return FormatVersionShort(word); }

// Where a boot-mode update was when the controller left it.
std::string StepText(const Reason& r, const Wording& w) {
  switch (r.step) {
    case ReasonStep::kErase:
      return StrFormat(w(N_("the erase of record %d at 0x%08X")), r.record, r.address);
    case ReasonStep::kChunk:
      return StrFormat(w(N_("writing the chunk at 0x%08X")), r.address);
    case ReasonStep::kStamp:
      return StrFormat(w(N_("the version stamp of record %d at 0x%08X")), r.record, r.address);
    case ReasonStep::kInfoRequest:
      return OnMain(r) ? w(N_("the information request of the main mcu")) : w(N_("the information request of the ATmcu"));
    case ReasonStep::kNone:
      break;
  }
  return {};
}

std::string Disconnected(const Reason& r, const Wording& w) {
  if (r.step == ReasonStep::kInfoRequest) {
    return StrFormat(w(N_("the controller was disconnected during %s")), StepText(r, w).c_str());
  }
  if (r.step != ReasonStep::kNone) {
    return StrFormat(w(N_("the controller was disconnected at %d %% (%s)")), r.percent, StepText(r, w).c_str());
  }
  if (r.percent >= 0) return StrFormat(w(N_("the controller was disconnected at %d %%")), r.percent);
  return w(N_("the controller was disconnected"));
}

// What is wrong with an image's bytes, without naming the image.
std::string ImageContent(const Reason& r, const Wording& w) {
  switch (r.code) {
    case ReasonCode::kImageEmpty:
      return w(N_("the file is empty"));
    case ReasonCode::kHeaderIncomplete:
      return StrFormat(w(N_("%llu bytes at offset %llu do not form a record header")), Ull(r.bytes), Ull(r.offset));
    case ReasonCode::kRecordPastEnd:
      return StrFormat(w(N_("record %d runs past the end of the file")), r.record);
    case ReasonCode::kNoPayload:
      return w(N_("the image carries no payload"));
    case ReasonCode::kPayloadTooLarge:
      return w(N_("the image's payload is too large"));
    case ReasonCode::kTerminatorCarriesPayload:
      return StrFormat(w(N_("record %d has version 0, which ends the chain, but carries %llu bytes that would never be "
                            "written")),
                       r.record, Ull(r.bytes));
    case ReasonCode::kRecordAfterTerminator:
      return StrFormat(w(N_("record %d follows the version-0 header of record %d, which ends the chain: it would never "
                            "be written")),
                       r.record, r.otherRecord);
    case ReasonCode::kRecordPastAddressSpace:
      return StrFormat(OnMain(r) ? w(N_("record %d (main mcu, %llu bytes at 0x%08X) runs past the end of the address "
                                        "space"))
                                 : w(N_("record %d (ATmcu, %llu bytes at 0x%08X) runs past the end of the address "
                                        "space")),
                       r.record, Ull(r.bytes), r.address);
    case ReasonCode::kMainRecordOnAtMcu:
      return StrFormat(w(N_("record %d (main mcu, %llu bytes at 0x%08X) reaches 0x80000000 and up, where addresses "
                            "select the ATmcu")),
                       r.record, Ull(r.bytes), r.address);
    case ReasonCode::kRecordsOverlap:
      return StrFormat(OnMain(r) ? w(N_("records %d and %d overlap on the main mcu from 0x%08X"))
                                 : w(N_("records %d and %d overlap on the ATmcu from 0x%08X")),
                       r.record, r.otherRecord, r.address);
    case ReasonCode::kPacketDropsRecord:
      return StrFormat(OnMain(r) ? w(N_("a controller in report mode 1 or 2 takes only the first record, and record "
                                        "%d (main mcu, %llu bytes) would be dropped"))
                                 : w(N_("a controller in report mode 1 or 2 takes only the first record, and record "
                                        "%d (ATmcu, %llu bytes) would be dropped")),
                       r.record, Ull(r.bytes));
    case ReasonCode::kPacketRecordEmpty:
      return w(N_("a controller in report mode 1 or 2 takes only the first record, which carries no payload"));
    case ReasonCode::kDigestMismatch:
      if (r.actual.empty()) return StrFormat(w(N_("its SHA-256 is unknown, not the published %s")), r.expected.c_str());
      return StrFormat(w(N_("its SHA-256 is %s, not the published %s")), r.actual.c_str(), r.expected.c_str());
    case ReasonCode::kSignatureMismatch:
      return StrFormat(w(N_("its signature by key %s does not match it: the image or the signature was changed")),
                       r.keyId.c_str());
    case ReasonCode::kSignatureDamaged:
      return w(N_("the signature file beside it is damaged or is no minisign signature"));
    case ReasonCode::kSignatureUntrusted:
      return StrFormat(w(N_("it is signed by key %s, which this computer does not trust")), r.keyId.c_str());
    case ReasonCode::kUnsigned:
      return w(N_("it is not signed, and a signature is required"));
    default:
      return {};
  }
}

std::string Render(const Reason& r, const Wording& w) {
  if (IsImageContentCode(r.code)) {
    const std::string problem = ImageContent(r, w);
    if (r.path.empty()) return problem;
    if (IsSignatureCode(r.code)) {
      return StrFormat(w(N_("%s cannot be trusted: %s")), r.path.c_str(), problem.c_str());
    }
    return StrFormat(w(N_("%s is not a valid image: %s")), r.path.c_str(), problem.c_str());
  }
  const char* path = r.path.c_str();
  switch (r.code) {
    case ReasonCode::kNone:
      return {};
    case ReasonCode::kNoController:
      return w(N_("no supported controller found"));
    case ReasonCode::kOpenFailed:
      return w(N_("the controller could not be opened"));
    case ReasonCode::kVersionUntold:
      return w(N_("the controller did not tell its version"));
    case ReasonCode::kInfoUnanswered:
      return OnMain(r) ? w(N_("the information request of the main mcu was never answered"))
                       : w(N_("the information request of the ATmcu was never answered"));
    case ReasonCode::kNotQueried:
      if (r.product.empty()) return w(N_("the controller did not answer its information request"));
      return StrFormat(w(N_("the controller %s did not answer its information request")), r.product.c_str());
    case ReasonCode::kInfoBlockErased:
      return OnMain(r) ? w(N_("the main mcu's information block reads as erased (all 0xFF): where its version goes is "
                              "unknown, so nothing was erased"))
                       : w(N_("the ATmcu's information block reads as erased (all 0xFF): where its version goes is "
                              "unknown, so nothing was erased"));
    case ReasonCode::kVersionAddressOnAtMcu:
      return StrFormat(w(N_("the main mcu's information block gives VerAddr 0x%08X, an ATmcu address: its version "
                            "stamp would go to the ATmcu, so nothing was erased")),
                       r.address);
    case ReasonCode::kDisconnected:
      return Disconnected(r, w);
    case ReasonCode::kEraseUnanswered:
      return StrFormat(w(N_("the erase of record %d at 0x%08X was never answered")), r.record, r.address);
    case ReasonCode::kEraseBusy:
      return StrFormat(w(N_("the erase of record %d at 0x%08X answered busy %u times")), r.record, r.address, r.count);
    case ReasonCode::kChunkUnacknowledged:
      return StrFormat(w(N_("the chunk at 0x%08X was not acknowledged in three attempts")), r.address);
    case ReasonCode::kStampUnanswered:
      if (r.record == 0) return w(N_("the version stamp was not acknowledged"));
      return StrFormat(w(N_("the version stamp of record %d at 0x%08X was not acknowledged")), r.record, r.address);
    case ReasonCode::kResetUnanswered:
      return w(N_("the reset was not acknowledged"));
    case ReasonCode::kStartUnwritten:
      return StrFormat(w(N_("the start request could not be written (error %u)")), r.count);
    case ReasonCode::kEndUnwritten:
      return w(N_("the end packet could not be written"));
    case ReasonCode::kControllerFailure:
      return StrFormat(w(N_("the controller reported failure 0x%02X after %u packets at %d %%")), r.count, r.packets,
                       r.percent);
    case ReasonCode::kControllerSilent:
      return StrFormat(w(N_("the controller sent nothing for %u s at %d %%")), r.seconds, r.percent);
    case ReasonCode::kTransferTooSlow:
      return StrFormat(w(N_("the transfer did not finish within %u s at %d %%")), r.seconds, r.percent);
    case ReasonCode::kNoResult:
      return StrFormat(w(N_("the update ended without a result at %d %%")), r.percent);
    case ReasonCode::kNeedBootMode:
      return w(N_("the controller must be put in boot mode first (hold the pair button while plugging it in)"));
    case ReasonCode::kNoImage:
      return w(N_("no image was read"));
    case ReasonCode::kNoImageChosen:
      return w(N_("no image was chosen"));
    case ReasonCode::kUnreadable:
      return StrFormat(w(N_("cannot open %s: %s")), path, w(SystemErrorText(r.errorNumber).c_str()));
    case ReasonCode::kIsDirectory:
      return StrFormat(w(N_("cannot open %s: it is a directory")), path);
    case ReasonCode::kNotRegularFile:
      return StrFormat(w(N_("cannot open %s: it is not a regular file but a device, a pipe or a socket")), path);
    case ReasonCode::kImageTooLarge:
      return StrFormat(w(N_("%s holds %llu bytes, more than the %llu MiB an image can have")), path, Ull(r.bytes),
                       Ull(r.total >> 20));
    case ReasonCode::kImageTruncated:
      return StrFormat(w(N_("the image file ended inside record %d, %llu of its %llu bytes in")), r.record,
                       Ull(r.bytes), Ull(r.total));
    case ReasonCode::kOlderThanController:
      return StrFormat(OnMain(r) ? w(N_("the image (%s) is older than the controller's firmware (%s)"))
                                 : w(N_("the image's ATmcu record (%s) is older than the ATmcu's firmware (%s)")),
                       Version(r.imageVersion).c_str(), Version(r.controllerVersion).c_str());
    case ReasonCode::kSameVersion:
      if (!r.writesAt) return StrFormat(w(N_("the controller already runs %s")), Version(r.controllerVersion).c_str());
      return StrFormat(w(N_("the controller already runs %s (ATmcu %s)")), Version(r.controllerVersion).c_str(),
                       Version(r.controllerAtVersion).c_str());
    case ReasonCode::kNotConfirmed:
      return w(N_("the version change was not confirmed"));
    case ReasonCode::kInterrupted:
      if (r.beforeStart) return w(N_("the update was stopped before it began"));
      if (r.percent >= 0) return StrFormat(w(N_("the update was stopped at %d %%")), r.percent);
      return w(N_("the update was stopped"));
    default:
      return {};
  }
}

}  // namespace

std::string ReasonText(const Reason& reason) { return Render(reason, Wording(false)); }

std::string EnglishReasonText(const Reason& reason) { return Render(reason, Wording(true)); }

std::string ReasonNextStep(ReasonCode code) {
  switch (code) {
    case ReasonCode::kNone:
      return {};
    case ReasonCode::kNoController:
    case ReasonCode::kOpenFailed:
      return Tr("Check the cable. A controller in boot mode is plugged in while its pair button is held.");
    case ReasonCode::kVersionUntold:
    case ReasonCode::kInfoUnanswered:
    case ReasonCode::kNotQueried:
    case ReasonCode::kStartUnwritten:
      return Tr("Nothing was written. Unplug the controller, plug it in again and try again.");
    case ReasonCode::kInfoBlockErased:
    case ReasonCode::kVersionAddressOnAtMcu:
      return Tr("Nothing was written. Ask the controller's maker for help: its information block cannot be trusted.");
    case ReasonCode::kNeedBootMode:
      return Tr("Hold the pair button while plugging the controller in, then update again.");
    case ReasonCode::kNoImage:
    case ReasonCode::kUnreadable:
    case ReasonCode::kIsDirectory:
    case ReasonCode::kNotRegularFile:
    case ReasonCode::kImageTooLarge:
      return Tr("Choose the image file itself: a readable file of a few hundred KiB.");
    case ReasonCode::kDigestMismatch:
      return Tr("Get the image again from the controller's maker: this file is not the one they published.");
    case ReasonCode::kSignatureMismatch:
    case ReasonCode::kSignatureDamaged:
      return Tr("Nothing was written. Get the image and its signature again from the controller's maker.");
    case ReasonCode::kSignatureUntrusted:
      return Tr("Nothing was written. Get the image and its signature again from the controller's maker, or add "
                "the maker's public key to the trusted keys.");
    case ReasonCode::kUnsigned:
      return Tr("Nothing was written. Get the signed image and its signature from the controller's maker.");
    case ReasonCode::kOlderThanController:
      return Tr("Choose a newer image, or allow the older one if you mean to go back.");
    case ReasonCode::kSameVersion:
      return Tr("Nothing needs doing, unless you mean to write the same version again.");
    case ReasonCode::kNoImageChosen:
    case ReasonCode::kNotConfirmed:
      return Tr("Nothing was written. Start the update again when you are ready.");
    default:
      break;
  }
  if (IsImageContentCode(code)) return Tr("Choose another image, one made for this controller.");
  // A write that did not end: the controller may be half-written.
  return Tr("Update the controller again with the same image. If it does not start, hold its pair button while "
            "plugging it in first.");
}

}  // namespace tarvik
