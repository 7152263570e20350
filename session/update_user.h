// Whoever an update session works for: the person or program that chooses
// the image, confirms the version change, reads the session's messages and,
// where there is a window, sees its title, bar and button change. The main
// window is one such user; the command line is another. Calls come on the
// thread that runs the session.
#pragma once

#include <optional>
#include <string>

#include "platform/window_host.h"

namespace tarvik {

class IUpdateUser {
 public:
  virtual ~IUpdateUser() = default;

  // The image to write when the update was not handed one: a full path, or
  // nothing to cancel.
  virtual std::optional<std::string> ChooseImage(const FileDialogRequest& /*request*/) { return std::nullopt; }
  // The version change, asked at the moment the protocol allows no turning
  // back after it (boot mode: before the first erase; packet protocol: after
  // the controller's start answer). True goes on.
  virtual bool ConfirmImage(const std::string& text, const std::string& caption) = 0;
  // A message to read (OK only): an information request that failed, a
  // controller that must be put in boot mode, the connection instructions.
  virtual void Tell(const std::string& /*text*/, const std::optional<std::string>& /*caption*/) {}

  // What a window shows: its title with the controller's version, the bar
  // (0..100) and whether an update can be started now.
  virtual void ShowTitle(const std::string& /*text*/) {}
  virtual void ShowProgress(int /*position*/) {}
  virtual void EnableUpdate(bool /*enable*/) {}

  // How the update ended, after the session has stopped it: a failure (the
  // window's "update failed" box), a success (its "Firmware upgraded!"), and
  // every end, when a window sets its button again.
  virtual void UpdateFailed() {}
  virtual void UpdateSucceeded() {}
  virtual void UpdateEnded() {}

  // The mode-2 signal's 100 ms timer: a user with an event loop of its own
  // (the window) runs it there and returns true; otherwise the session ticks
  // it between its reads.
  virtual bool StartUpdateTimer() { return false; }
  virtual void KillUpdateTimer() {}
};

// Says yes to the version change and nothing else: for a caller that checked
// the image and the versions itself.
class AcceptingUser final : public IUpdateUser {
 public:
  bool ConfirmImage(const std::string&, const std::string&) override { return true; }
};

}  // namespace tarvik
