// Hands every window operation to several observers, in order.
#pragma once

#include <vector>

#include "platform/headless/headless_window_host.h"

namespace tarvik {

class ObserverFanOut final : public IWindowObserver {
 public:
  void Add(IWindowObserver* observer) {
    if (observer) m_observers.push_back(observer);
  }
  void OnTitle(const std::string& text) override {
    for (auto* o : m_observers) o->OnTitle(text);
  }
  void OnItemText(int id, const std::string& text) override {
    for (auto* o : m_observers) o->OnItemText(id, text);
  }
  void OnEnable(int id, bool on) override {
    for (auto* o : m_observers) o->OnEnable(id, on);
  }
  void OnShow(int id, bool on) override {
    for (auto* o : m_observers) o->OnShow(id, on);
  }
  void OnProgressRange(int low, int high) override {
    for (auto* o : m_observers) o->OnProgressRange(low, high);
  }
  void OnProgressPos(int pos) override {
    for (auto* o : m_observers) o->OnProgressPos(pos);
  }
  void OnMessageBox(const std::string& text, const std::optional<std::string>& caption,
                    MsgBoxButtons buttons, MsgBoxAnswer answer) override {
    for (auto* o : m_observers) o->OnMessageBox(text, caption, buttons, answer);
  }
  void OnFileDialog(const FileDialogRequest& request,
                    const std::optional<std::string>& answer) override {
    for (auto* o : m_observers) o->OnFileDialog(request, answer);
  }
  void OnTimer(uintptr_t id, bool on) override {
    for (auto* o : m_observers) o->OnTimer(id, on);
  }
  void OnDeviceEvent(DeviceChange change) override {
    for (auto* o : m_observers) o->OnDeviceEvent(change);
  }

 private:
  std::vector<IWindowObserver*> m_observers;
};

}  // namespace tarvik
