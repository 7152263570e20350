#include "update/update_plan.h"


namespace tarvik {

const char* UpdatePlan::Action() const {
  if (!Writes() || !versionKnown) return "";
  return guard.order < 0 ? "downgrade" : guard.order == 0 ? "reinstall" : "upgrade";
}

uint32_t UpdatePlan::PayloadTotal() const {
  uint64_t total = 0;
  for (const PlannedRecord& record : records) total += record.length;
  return static_cast<uint32_t>(total);
}

UpdatePlan PlanUpdate(const ControllerFacts& controller, const FirmwareImage& image) {
  UpdatePlan plan;
  plan.protocol = controller.protocol;
  if (!controller.present) {
    plan.refusal = PlanRefusal::kNoController;
    plan.reason = Reason(ReasonCode::kNoController);
    return plan;
  }
  // A boot-mode controller whose information blocks cannot be read is not written.
  if (controller.protocol == UpdateProtocol::kBoot && !controller.queried) {
    plan.refusal = PlanRefusal::kNotQueried;
    plan.reason = Reason(ReasonCode::kNotQueried);
    plan.reason.product = controller.product;
    return plan;
  }
  if (const Reason& problem = image.CheckFor(plan.protocol); !problem.Empty()) {
    plan.refusal = PlanRefusal::kImageRejected;
    plan.reason = problem;
    return plan;
  }
  const std::vector<ImageRecord>& records = image.Records();
  for (const size_t i : RecordsWrittenBy(plan.protocol, records)) {
    const ImageRecord& record = records[i];
    PlannedRecord planned;
    planned.number = i + 1;
    planned.mcu = record.Mcu();
    planned.destination = record.Destination();
    planned.length = record.header.desLen;
    planned.version = record.header.version;
    planned.payloadOffset = record.PayloadOffset();
    planned.versionAddress = planned.mcu == ImageMcu::kMain ? controller.mainVersionAddress : controller.atVersionAddress;
    planned.stampAddress = planned.versionAddress | AddressSelectOf(planned.mcu);
    plan.records.push_back(planned);
  }
  plan.versionKnown = controller.VersionKnown();
  if (plan.versionKnown) plan.guard = GuardVersions(image, plan.protocol, controller.main.Word(), controller.at.Word());
  return plan;
}

}  // namespace tarvik
