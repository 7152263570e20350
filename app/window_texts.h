// The texts the main window makes from what the update core tells: the
// title with the controller's version and the version question.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_events.h"

namespace tarvik {

// The title for a boot-mode controller: "<title> (Fw v1.23 beta2 r5)" or
// "<title> (Fw v1.23 r5)". An erased version (0xFFFFFFFF) or revision (0xFFFF) shows as 0.
std::string FormatBootVersionTitle(const std::string& title, uint32_t version, uint16_t revision);

// The title for a packet-protocol controller: "<title>(GamePad V1.23 beta2)" or "<title>(GamePad V1.23)".
std::string FormatPacketVersionTitle(const std::string& title, uint32_t version);

// The title once a query learnt `versions`. A packet controller without
// valid firmware leaves the bare title.
std::string VersionTitle(const std::string& title, const ControllerVersions& versions);

// The version confirmation: "<fw> 1.23 beta2 <current is> 1.00\n", betas shown where non-zero.
std::string FormatVersionConfirmation(const std::string& fwText, uint32_t fileVersion,
                                      const std::string& currentIsText, uint32_t deviceVersion);

// The version question: the confirmation's line, then a line for the ATmcu
// where the image writes it, then a line where the image is older than or
// the same as the controller's firmware, then the signature's line. The
// catalogue's lines are in the interface language.
std::string FormatVersionQuestion(const std::string& fwText, const std::string& currentIsText,
                                  const VersionChange& change);

// Who signed the image, or that it is not signed and what to go on with.
std::string SignatureLine(const SignatureCheck& signature);

// The failure box: "<failure>\n", then the reason and the next step in the
// interface language, each after an empty line.
std::string FormatFailureText(const std::string& failureText, const UpdateOutcome& failure);

// What the person can do after `failure`, in English marked for translation.
const char* FailureNextStep(const UpdateOutcome& failure);

// The question when the window is closed while an update of `protocol`
// runs, in the interface language. It says what stopping leaves in the
// controller and how to update it again. OK stops, Cancel goes on.
std::string FormatCloseQuestion(UpdateProtocol protocol);

// The step an update is at, in the interface language: "Writing record 1...".
std::string FormatStepText(const UpdateProgress& progress);

// `text` as a line of a box. In English its first word gets a capital,
// unless it is a file's name, and it ends with a full stop. A Chinese text
// stays as it is.
std::string AsSentence(std::string text);

}  // namespace tarvik
