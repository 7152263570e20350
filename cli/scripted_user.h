// The person at the headless window: picks the given image (or cancels the
// file dialog), answers the version confirmation as told, and closes every
// other message box with OK.
#pragma once

#include <optional>
#include <string>

#include "platform/headless/headless_window_host.h"

namespace tarvik {

class ScriptedUser final : public IHeadlessUser {
 public:
  ScriptedUser(std::optional<std::string> image, bool confirm)
      : m_image(std::move(image)), m_confirm(confirm) {}

  MsgBoxAnswer AnswerMessageBox(const std::string&, const std::optional<std::string>&,
                                MsgBoxButtons buttons) override {
    // The only OK/Cancel box is the version confirmation.
    if (buttons == MsgBoxButtons::kOkCancel && !m_confirm) return MsgBoxAnswer::kCancel;
    return MsgBoxAnswer::kOk;
  }

  std::optional<std::string> AnswerFileDialog(const FileDialogRequest&) override { return m_image; }

 private:
  std::optional<std::string> m_image;
  bool m_confirm;
};

}  // namespace tarvik
