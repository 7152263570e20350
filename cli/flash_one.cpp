#include "cli/flash_one.h"

#include "base/bytes.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/history.h"
#include "cli/published_digest.h"
#include "platform/digest.h"
#include "update/image_signature.h"
#include "update/update_plan.h"
#include "update/firmware_version.h"

namespace tarvik {

ImageCheck CheckImage(const std::string& path, const std::string& published, const ImageTrust& trust) {
  ImageCheck check;
  check.trust = trust;
  check.image = FirmwareImage::Load(path);
  check.version = GetLe32(check.image.FirstHeader());
  const ImageScan& scan = check.image.Scan();
  if (check.image.Readable()) {
    check.sha256 = Sha256Hex(check.image.Bytes().data(), check.image.Bytes().size());
    check.signature = CheckSignatureBeside(path, check.image.Bytes(), trust);
  }
  if (!check.image.Readable()) {
    check.reason = scan.reason;
  } else if (Reason mismatch = DigestMismatch(check.sha256, published); !mismatch.Empty()) {
    check.reason = mismatch.Path(path);
  } else if (Reason refused = SignatureRefusal(check.signature, trust, path); !refused.Empty()) {
    check.reason = refused;
  } else if (!check.image.Accepted()) {
    // Refused by both protocols: the whole file's check says why.
    check.reason = scan.reason;
  }
  check.payloadTotal = check.image.PayloadTotal();
  return check;
}

namespace {

// Whether the version guard under --yes stops the flash before the update
// (`r` then says how); sets what the prompt says otherwise. In a batch, a
// controller already at the image's version is skipped, not refused.
bool StopsAtGuard(const VersionGuard& guard, const FlashOptions& options, bool assumeYes, bool batch,
                  TerminalUser& user, FlashResult& r) {
  if (guard.order == 0 && batch && !options.allowReinstall) {
    r.status = kExitOk;
    r.result = "skipped";
    r.reason = guard.same;
    return true;
  }
  if (guard.order < 0 && assumeYes && !options.allowOlder) {
    r.status = kExitCancelled;
    r.result = "refused";
    r.reason = guard.older;
    return true;
  }
  if (guard.order == 0 && assumeYes && !options.allowReinstall) {
    r.status = kExitCancelled;
    r.result = "refused";
    r.reason = guard.same;
    return true;
  }
  if (guard.order < 0) user.SetVersionNote(Tr("the image is older than the controller's firmware"));
  if (guard.order == 0) user.SetVersionNote(Tr("the image is the same as the controller's firmware"));
  if (guard.writesAt) {
    user.SetPromptDetail(StrFormat(Tr("ATmcu %s and current is %s"), FormatVersionShort(guard.imageAt).c_str(),
                                   FormatVersionShort(guard.currentAt).c_str()));
  }
  return false;
}

FlashResult FlashProbed(CliPlatform& platform, const FlashOptions& options, const ImageCheck& image,
                        TerminalUser& user, StopSource& stops, const ControllerTarget& target, bool guardAsYes) {
  FlashResult r;
  r.to = FormatVersionShort(image.version);
  r.toWord = image.version;
  const bool assumeYes = options.assumeYes || guardAsYes;
  const std::unique_ptr<ControllerSession> controller = platform.OpenSession(target);
  const ControllerProbe probe = controller->Probe();
  const auto ended = [&](const char* result) {
    r.result = result;
    return r;
  };
  if (!probe.present) {
    r.status = kExitNoController;
    r.reason = Reason(ReasonCode::kNoController);
    return ended("no controller");
  }
  r.product = StrFormat("%04x:%04x", probe.vendorId, probe.productId);
  r.uid = probe.Uid();
  r.location = probe.location;
  r.path = probe.path;
  // On a board of several, where it is plugged in tells it from the others.
  user.NameController(!r.location.empty() ? StrFormat(Tr("%s at %s"), r.product.c_str(), r.location.c_str())
                      : !r.uid.empty()    ? StrFormat(Tr("%s uid %s"), r.product.c_str(), r.uid.c_str())
                                          : r.product);
  if (probe.VersionKnown()) {
    r.from = probe.deviceVersion.Text();
    r.fromWord = probe.deviceVersion.Word();
  }
  // What the update would do is decided before any report.
  const UpdatePlan plan = PlanUpdate(probe, image.image);
  if (plan.refusal == PlanRefusal::kNotQueried) {
    r.status = kExitFailed;
    r.reason = plan.reason;
    return ended("failed");
  }
  if (plan.refusal == PlanRefusal::kImageRejected) {
    r.status = kExitImage;
    r.reason = plan.reason;
    return ended("rejected");
  }
  if (plan.versionKnown) {
    r.action = plan.Action();
    if (StopsAtGuard(plan.guard, options, assumeYes, guardAsYes, user, r)) return r;
  }
  if (stops.StopRequested()) {
    r.status = kExitInterrupted;
    r.reason = BeforeStart();
    return ended("interrupted");
  }
  BootPace pace = BootPace::kParts;
  PaceFromName(options.pace, pace);
  r.outcome = controller->Update(image.image, plan, user, stops, pace, image.trust, image.signature);
  if (r.outcome->protocol == UpdateProtocol::kBoot) r.pace = PaceName(r.outcome->pace);
  if (stops.StopRequested() && r.outcome->result != OutcomeResult::kUpgraded) {
    r.outcome->result = OutcomeResult::kInterrupted;
    if (r.outcome->reason.Empty() || !r.outcome->controllerTouched) r.outcome->reason = Reason(ReasonCode::kInterrupted);
  }
  r.status = ExitFor(r.outcome->result);
  r.result = OutcomeName(r.outcome->result);
  r.reason = r.outcome->reason;
  return r;
}

}  // namespace

FlashResult FlashOne(CliPlatform& platform, const FlashOptions& options, const ImageCheck& image, TerminalUser& user,
                     StopSource& stops, const ControllerTarget& target, bool guardAsYes) {
  FlashResult r = FlashProbed(platform, options, image, user, stops, target, guardAsYes);
  if (options.history != nullptr) options.history->Record(image, &r);
  return r;
}

}  // namespace tarvik
