#include "update/image_selection.h"


namespace tarvik {

CImageSelection::CImageSelection(IUpdatePrompt& prompt, IFlowReports& events) : m_prompt(prompt), m_events(events) {}

StepResult CImageSelection::SelectImage(const ControllerFacts& controller) {
  const std::optional<std::string> chosen = m_preset ? m_preset->Path() : m_prompt.ChooseImage();
  if (!chosen) return StepResult::Cancelled(Reason(ReasonCode::kNoImageChosen));
  m_path = *chosen;

  // The image is read once, here (or was, by whoever handed it over):
  // everything after (the check, the confirmation, the update) works on
  // this snapshot.
  m_image = m_preset ? *m_preset : FirmwareImage::Load(m_path);
  m_plan = UpdatePlan();
  m_signature.reset();
  if (!m_image.Readable()) return StepResult::Rejected(m_image.Scan().reason);
  // The signature is checked on the bytes the update writes, before the
  // question: a refused image reaches no controller.
  m_signature = m_preset && m_presetSignature ? *m_presetSignature
                                              : CheckSignatureBeside(m_path, m_image.Bytes(), m_trust);
  m_events.OnImageChosen(m_image);
  if (const Reason refusal = SignatureRefusal(*m_signature, m_trust, m_path); !refusal.Empty()) {
    return StepResult::Rejected(refusal);
  }

  VersionChange change;
  change.protocol = controller.protocol;
  change.imagePath = m_path;
  change.signature = *m_signature;
  change.image = FirmwareVersion::FromWord(FirstRecord().version);
  change.controller = controller.main;
  uint32_t at = 0;
  if (controller.protocol == UpdateProtocol::kBoot && m_image.VersionFor(UpdateProtocol::kBoot, ImageMcu::kAtMcu, at)) {
    change.imageAt = FirmwareVersion::FromWord(at);
    change.controllerAt = controller.at;
  }
  // The plan is made once: a caller that planned this image already hands it over.
  m_plan = m_preset && m_presetPlan ? *m_presetPlan : PlanUpdate(controller, m_image);
  change.plan = m_plan;
  m_events.OnPlan(change.plan);
  // An image the protocol would not write is refused before the question.
  if (change.plan.refusal == PlanRefusal::kImageRejected) return StepResult::Rejected(change.plan.reason);
  // So is a controller the plan could not be made for. A plan without records
  // would reset it and end as if upgraded.
  if (change.plan.refusal != PlanRefusal::kNone) return StepResult::Failed(change.plan.reason);
  if (!m_prompt.ConfirmChange(change)) return StepResult::Cancelled(Reason(ReasonCode::kNotConfirmed));
  return StepResult::Ok();
}

}  // namespace tarvik
