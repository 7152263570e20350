#include "session/update_plan.h"

#include "base/strformat.h"
#include "base/text_mark.h"

namespace tarvik {

const char* UpdatePlan::Action() const {
  if (!Writes() || !versionKnown) return "";
  return guard.order < 0 ? "downgrade" : guard.order == 0 ? "reinstall" : "upgrade";
}

UpdatePlan PlanUpdate(const ControllerProbe& probe, const FirmwareImage& image) {
  UpdatePlan plan;
  plan.protocol = probe.Protocol();
  if (!probe.present) {
    plan.refusal = PlanRefusal::kNoController;
    plan.reason = N_("no supported controller found");
    return plan;
  }
  // A boot-mode controller whose information blocks cannot be read is not written.
  if (probe.BootMode() && !probe.queried) {
    plan.refusal = PlanRefusal::kNotQueried;
    plan.reason = StrFormat(N_("the %s did not answer its information request"), probe.Name().c_str());
    return plan;
  }
  if (const std::string problem = image.CheckFor(plan.protocol); !problem.empty()) {
    plan.refusal = PlanRefusal::kImageRejected;
    plan.reason = problem;
    return plan;
  }
  const std::vector<ImageRecord>& records = image.Records();
  for (const size_t i : RecordsWrittenBy(plan.protocol, records)) {
    const ImageRecord& record = records[i];
    plan.records.push_back({i + 1, record.Mcu(), record.Destination(), record.header.desLen, record.header.version});
  }
  plan.versionKnown = probe.VersionKnown();
  if (plan.versionKnown) plan.guard = GuardVersions(image, plan.protocol, probe.deviceVersion.Word(), probe.AtVersion());
  return plan;
}

}  // namespace tarvik
