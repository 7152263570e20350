// Picking an image and confirming the version change. The chosen image is
// read once here, checked, and kept as the snapshot the update writes from.
// Runs on the thread of the flow that calls it (the worker).
#pragma once

#include <cstdint>
#include <optional>

#include "update/firmware_image.h"
#include "update/image_signature.h"
#include "update/update_events.h"
#include "update/update_plan.h"
#include "update/update_result.h"

namespace tarvik {

class CImageSelection {
 public:
  CImageSelection(IUpdatePrompt& prompt, IFlowReports& events);

  // An image handed over already read and checked: the next selection takes
  // it instead of asking for a file. Nothing: ask again. A plan made for it
  // and this controller, and the check of its signature, are taken too,
  // instead of making them again.
  void Preset(std::optional<FirmwareImage> image, std::optional<UpdatePlan> plan = std::nullopt,
              std::optional<SignatureCheck> signature = std::nullopt) {
    m_preset = std::move(image);
    m_presetPlan = std::move(plan);
    m_presetSignature = std::move(signature);
  }

  // The keys the next selection's signature may be made by.
  void SetTrust(ImageTrust trust) { m_trust = std::move(trust); }

  // The file choice, the signature, the plan for `controller`, then the
  // version confirmation. Cancelled when no file was chosen or the change not
  // confirmed. Rejected when the file cannot be read or its signature refuses it.
  StepResult SelectImage(const ControllerFacts& controller);

  // The image of the last selection, and what an update of it writes.
  const FirmwareImage& Image() const { return m_image; }
  const UpdatePlan& Plan() const { return m_plan; }
  // The check of its signature; nothing before an image was read.
  const std::optional<SignatureCheck>& Signature() const { return m_signature; }
  // Its first record's header, zero where the file is shorter than one.
  RecordHeader FirstRecord() const { return ParseRecordHeader(m_image.FirstHeader()); }
  // Whether a refusal is told to the person: every refused file is, the one
  // that cannot be read too. A cancelled choice is not.
  static bool TellsRefusal(const StepResult& result) { return result.status() == StepStatus::kRejected; }

 private:
  IUpdatePrompt& m_prompt;
  IFlowReports& m_events;
  std::optional<FirmwareImage> m_preset;
  std::optional<UpdatePlan> m_presetPlan;
  std::optional<SignatureCheck> m_presetSignature;
  std::string m_path;
  FirmwareImage m_image;
  UpdatePlan m_plan;
  ImageTrust m_trust;
  std::optional<SignatureCheck> m_signature;
};

}  // namespace tarvik
