#include "app/window_texts.h"

#include <algorithm>
#include <cstddef>

#include "base/strformat.h"
#include "base/text_mark.h"
#include "texts/interface_texts.h"
#include "texts/reason_texts.h"

namespace tarvik {

std::string FormatBootVersionTitle(const std::string& title, uint32_t version, uint16_t revision) {
  if (version == 0xFFFFFFFFu) version = 0;
  if (revision == 0xFFFFu) revision = 0;
  if (BetaNumber(version) != 0) {
    return StrFormat("%s (Fw v%0.2f beta%d r%d)", title.c_str(), VersionNumber(version),
                     static_cast<int>(BetaNumber(version)), static_cast<int>(revision));
  }
  return StrFormat("%s (Fw v%0.2f r%d)", title.c_str(), version / 100.0, static_cast<int>(revision));
}

std::string FormatPacketVersionTitle(const std::string& title, uint32_t version) {
  if (BetaNumber(version) != 0) {
    return StrFormat("%s(GamePad V%0.2f beta%d)", title.c_str(), VersionNumber(version),
                     static_cast<int>(BetaNumber(version)));
  }
  return StrFormat("%s(GamePad V%0.2f)", title.c_str(), version / 100.0);
}

std::string VersionTitle(const std::string& title, const ControllerVersions& versions) {
  if (versions.protocol == UpdateProtocol::kBoot) {
    return FormatBootVersionTitle(title, versions.main.Word(), versions.revision);
  }
  if (versions.main.Word() == FirmwareVersion::kNoFirmwareWord) return title;
  return FormatPacketVersionTitle(title, versions.main.Word());
}

std::string FormatVersionConfirmation(const std::string& fwText, uint32_t fileVersion,
                                      const std::string& currentIsText, uint32_t deviceVersion) {
  const double fileNumber = VersionNumber(fileVersion);
  const int fileBeta = static_cast<int>(BetaNumber(fileVersion));
  const double deviceNumber = VersionNumber(deviceVersion);
  const int deviceBeta = static_cast<int>(BetaNumber(deviceVersion));
  const char* fw = fwText.c_str();
  const char* current = currentIsText.c_str();
  if (fileBeta != 0 && deviceBeta != 0) {
    return StrFormat("%s %.02f beta%d %s %.02f beta%d\n", fw, fileNumber, fileBeta, current,
                     deviceNumber, deviceBeta);
  }
  if (fileBeta != 0) {
    return StrFormat("%s %.02f beta%d %s %.02f\n", fw, fileNumber, fileBeta, current, deviceNumber);
  }
  if (deviceBeta != 0) {
    return StrFormat("%s %.02f %s %.02f beta%d\n", fw, fileNumber, current, deviceNumber, deviceBeta);
  }
  return StrFormat("%s %.02f %s %.02f\n", fw, fileNumber, current, deviceNumber);
}

std::string AsSentence(std::string text) {
  if (text.empty() || TextsInChinese()) return text;
  // A first word of letters alone is a word; one with a dot or a slash in it is a file's name.
  const size_t wordEnd = std::min(text.find(' '), text.size());
  const bool word = std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(wordEnd),
                                [](char c) { return (c >= 'a' && c <= 'z') || c == '\''; });
  if (word && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  const char last = text.back();
  const bool endsWord = (last >= 'a' && last <= 'z') || (last >= 'A' && last <= 'Z') || (last >= '0' && last <= '9') ||
                        last == ')' || last == '%';
  if (endsWord) text += '.';
  return text;
}

std::string FormatVersionQuestion(const std::string& fwText, const std::string& currentIsText,
                                  const VersionChange& change) {
  std::string text = FormatVersionConfirmation(fwText, change.image.Word(), currentIsText, change.controller.Word());
  if (change.imageAt && change.controllerAt) {
    text += FormatVersionConfirmation("ATmcu", change.imageAt->Word(), currentIsText, change.controllerAt->Word());
  }
  const UpdatePlan& plan = change.plan;
  if (plan.Writes() && plan.versionKnown) {
    if (plan.guard.order < 0) text += AsSentence(ReasonText(plan.guard.older)) + "\n";
    if (plan.guard.order == 0) text += AsSentence(ReasonText(plan.guard.same)) + "\n";
  }
  return text + SignatureLine(change.signature) + "\n";
}

std::string SignatureLine(const SignatureCheck& signature) {
  if (signature.status == SignatureStatus::kVerified) return StrFormat(Tr("Signed by %s"), signature.keyName.c_str());
  return Tr("This image is not signed. Go on only with an image from the controller's maker.");
}

const char* FailureNextStep(const UpdateOutcome& failure) {
  if (failure.result == OutcomeResult::kRejected) return N_("Press \"USB Update\" and choose another image.");
  if (!failure.controllerTouched) {
    return N_("The controller was not changed. Check that it is plugged in, then press \"USB Update\" to try again.");
  }
  if (failure.protocol == UpdateProtocol::kBoot) {
    return N_("The controller may not start until it is updated. Hold the pair button, plug it in again, press "
              "\"USB Update\" and choose the image again.");
  }
  return N_("The controller keeps its old firmware until an update ends. Unplug it, plug it in again, press "
            "\"USB Update\" and choose the image again.");
}

std::string FormatFailureText(const std::string& failureText, const UpdateOutcome& failure) {
  std::string text = StrFormat("%s\n", failureText.c_str());
  if (!failure.reason.Empty()) text += "\n" + AsSentence(ReasonText(failure.reason)) + "\n";
  // A refused signature is mended at the maker, not by another choice of file.
  if (failure.result == OutcomeResult::kRejected && IsSignatureCode(failure.reason.code)) {
    return text + "\n" + ReasonNextStep(failure.reason.code);
  }
  return text + "\n" + Tr(FailureNextStep(failure));
}

std::string FormatCloseQuestion(UpdateProtocol protocol) {
  const char* left =
      protocol == UpdateProtocol::kBoot
          ? N_("If it stops now, the controller may not start until it is updated again. To update it, hold the "
               "pair button, plug it in again, press \"USB Update\" and choose the image again.")
          : N_("If it stops now, the controller keeps its old firmware. To update it, unplug it, plug it in again, "
               "press \"USB Update\" and choose the image again.");
  return StrFormat("%s\n\n%s\n\n%s", Tr("The update is still writing the firmware."), Tr(left),
                   Tr("Stop the update and close the window? Cancel goes on with the update."));
}

std::string FormatStepText(const UpdateProgress& progress) {
  switch (progress.phase) {
    case UpdatePhase::kErasing:
      return StrFormat(Tr("Erasing record %d..."), progress.record);
    case UpdatePhase::kWriting:
      return StrFormat(Tr("Writing record %d..."), progress.record);
    case UpdatePhase::kStamping:
      return StrFormat(Tr("Writing record %d's version..."), progress.record);
    case UpdatePhase::kResetting:
      return Tr("Restarting the controller...");
    case UpdatePhase::kSending:
      return Tr("Sending the image...");
    case UpdatePhase::kFinishing:
      return Tr("Finishing the update...");
  }
  return std::string();
}

}  // namespace tarvik
