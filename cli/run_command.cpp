// run: the main window's logic without a display, pressed as a user would.
#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "texts/interface_texts.h"
#include "cli/commands.h"
#include "cli/terminal_user.h"

namespace tarvik {

namespace {
// A controller restarts after its update: this long away, it is still the same one.
constexpr uint64_t kRestartGraceMs = 5000;

class RunCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& options) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    CLI::App* run = line.add_subcommand("run", Tr("Run the updater's window: start-up, then button presses"));
    run->add_option("--image", m_image, Tr("Image to pick in the file dialog (none: cancel it)"))->type_name("FILE");
    run->add_option("--confirm", m_confirm, Tr("Answer to the version confirmation"))
        ->type_name("ANSWER")
        ->check(CLI::IsMember({"yes", "no"}));
    run->add_option("--press", m_presses, Tr("Presses of the update button (0: start-up only)"))->type_name("N");
    return run;
  }
  std::vector<Unused> UnusedOptions() const override {
    return {{"--device", N_("run drives the window, which takes the first controller it finds")}};
  }

 private:
  std::string m_image;
  std::string m_confirm = "yes";
  int m_presses = 1;
};

// Whether the run prints what the window showed: standard output is free for it.
bool Tells(const GlobalOptions& options) { return !options.quiet && !options.json && options.transcriptPath != "-"; }

int RunCommand::Run(const GlobalOptions& options) {
  json document = {{"command", "run"}};
  if (m_presses < 0) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, Tr("--press takes a count of 0 or more"));
  }
  ScriptedUser user(m_image.empty() ? std::nullopt : std::optional<std::string>(m_image), m_confirm == "yes",
                    Tells(options));
  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) {
    document["result"] = "error";
    return Conclude(options, document, code == kExitUsage ? kExitUsage : kExitFailed, error);
  }
  int status = kExitOk;
  std::string reason;
  const char* reasonCode = nullptr;
  bool upgraded = false;
  std::optional<UpdateOutcome> outcome;
  std::string title;
  platform.RunWindow(user, nullptr, nullptr, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    for (int press = 0; press < m_presses; ++press) {
      if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
        status = kExitFailed;
        reason = Tr("the update button is disabled (no supported controller is ready): press refused");
        reasonCode = ReasonCodeName(ReasonCode::kNoController);
        upgraded = false;
        break;
      }
      window.Click(IDC_USB_UPDATE);
      window.PumpUntil([&] { return !dlg.IsBusy(); });
      // Only a successful update shows the upgraded notice; the next press hides it.
      upgraded = window.IsItemVisible(IDC_STATIC_NOTICE);
      outcome = dlg.LastOutcome();
      status = upgraded ? kExitOk : kExitFailed;
      const bool told = outcome && !outcome->reason.Empty();
      reason = upgraded ? "" : told ? CliReasonText(outcome->reason) : Tr("the update did not end with \"Firmware upgraded!\"");
      reasonCode = told ? ReasonCodeName(outcome->reason.code) : kCodeNotAllUpgraded;
      // The controller restarts after its upgrade: the window's arrival
      // handling shows the new version once it is back.
      const uint64_t until = platform.Clock().NowMs() + kRestartGraceMs;
      while (upgraded && !window.IsItemEnabled(IDC_USB_UPDATE) && platform.Clock().NowMs() < until) {
        platform.Clock().SleepMs(50);
        platform.Controllers();  // the simulated bus brings back a controller that is due
        window.PumpPending();
      }
    }
    title = window.WindowText();
  });
  platform.FinishTranscript();
  document["result"] = outcome ? OutcomeName(outcome->result) : "none";
  document["upgraded"] = upgraded;
  document["title"] = title;
  if (Tells(options)) std::printf(Tr("Window title: %s\n"), title.c_str());
  return Conclude(options, document, status, reason, reasonCode);
}

}  // namespace

std::unique_ptr<CliCommand> MakeRunCommand() { return std::make_unique<RunCommand>(); }

}  // namespace tarvik
