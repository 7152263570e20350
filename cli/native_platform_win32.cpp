#include "cli/native_platform.h"

#include "platform/std/standard_error_trace.h"
#include "platform/win32/setupapi_hid_bus.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_system.h"

namespace tarvik {

namespace {

// The window's system seam, with the trace also on standard error when asked
// for (a console program has no debugger listening, as a rule).
class ConsoleSystem final : public win32::Win32System {
 public:
  ConsoleSystem(IClock& clock, bool traceToStandardError)
      : Win32System(clock), m_traceToStandardError(traceToStandardError) {}

  void Trace(const std::string& line) override {
    Win32System::Trace(line);
    if (m_traceToStandardError) WriteTraceLineToStandardError(line);
  }
  // A console program's trace has readers only on standard error or in an attached debugger.
  bool TraceReceived() override { return m_traceToStandardError || IsDebuggerPresent(); }

 private:
  bool m_traceToStandardError;
};

}  // namespace

std::unique_ptr<IClock> MakeNativeClock() { return std::make_unique<win32::Win32Clock>(); }

std::unique_ptr<ISystem> MakeNativeSystem(IClock& clock, bool traceToStandardError,
                                          const std::vector<std::string>& alsoTrusted) {
  auto system = std::make_unique<ConsoleSystem>(clock, traceToStandardError);
  for (const std::string& key : alsoTrusted) system->TrustAlso(key);
  return system;
}

std::unique_ptr<IHidBus> MakeNativeBus(IClock&) { return std::make_unique<win32::SetupApiHidBus>(); }

// The HID class driver lets every user open a game controller.
std::string NativeAccessProblem() { return {}; }

}  // namespace tarvik
