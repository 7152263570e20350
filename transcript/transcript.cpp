#include "transcript/transcript.h"

#include "base/bytes.h"

namespace tarvik {

using json = nlohmann::ordered_json;

Transcript::Transcript(IClock& clock, std::FILE* out)
    : m_clock(clock), m_out(out), m_startMs(clock.NowMs()) {}

void Transcript::Record(const json& event) {
  // Texts that are not valid UTF-8 are written with replacement characters, never dropped.
  const std::string body = event.dump(-1, ' ', false, json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(m_lock);
  // "t" first, then the event's own fields, without building the line as a document.
  std::fprintf(m_out, "{\"t\":%llu", static_cast<unsigned long long>(m_clock.NowMs() - m_startMs));
  if (body.size() > 2) {
    std::fputc(',', m_out);
    std::fwrite(body.data() + 1, 1, body.size() - 1, m_out);
  } else {
    std::fputc('}', m_out);
  }
  std::fputc('\n', m_out);
  // An attempt's outcome ends a block: what happened up to it is on disk.
  if (const auto ev = event.find("ev"); ev != event.end() && *ev == "outcome") std::fflush(m_out);
}

void Transcript::Flush() {
  std::lock_guard<std::mutex> lock(m_lock);
  std::fflush(m_out);
}

nlohmann::ordered_json OutcomeJson(const UpdateOutcome& outcome) {
  nlohmann::ordered_json event = {{"ev", "outcome"}, {"result", OutcomeName(outcome.result)}};
  if (!outcome.reason.empty()) event["reason"] = outcome.reason;
  event["bytesSent"] = outcome.bytesSent;
  event["payloadTotal"] = outcome.payloadTotal;
  event["from"] = outcome.controllerVersion;
  event["to"] = outcome.imageVersion;
  event["seconds"] = outcome.seconds;
  return event;
}

void TranscriptUpdateObserver::OnUpdateOutcome(const UpdateOutcome& outcome) {
  nlohmann::ordered_json event = OutcomeJson(outcome);
  if (m_dev != 0) event["dev"] = m_dev;
  m_transcript.Record(event);
}

void TranscriptWindowObserver::OnTitle(const std::string& text) {
  m_transcript.Record({{"ev", "title"}, {"text", text}});
}

void TranscriptWindowObserver::OnItemText(int id, const std::string& text) {
  m_transcript.Record({{"ev", "text"}, {"id", id}, {"text", text}});
}

void TranscriptWindowObserver::OnEnable(int id, bool on) {
  m_transcript.Record({{"ev", "enable"}, {"id", id}, {"on", on}});
}

void TranscriptWindowObserver::OnShow(int id, bool on) {
  m_transcript.Record({{"ev", "show"}, {"id", id}, {"on", on}});
}

void TranscriptWindowObserver::OnProgressRange(int low, int high) {
  m_transcript.Record({{"ev", "range"}, {"lo", low}, {"hi", high}});
}

void TranscriptWindowObserver::OnProgressPos(int pos) {
  m_transcript.Record({{"ev", "progress"}, {"pos", pos}});
}

void TranscriptWindowObserver::OnMessageBox(const std::string& text,
                                            const std::optional<std::string>& caption,
                                            MsgBoxButtons buttons, MsgBoxAnswer answer) {
  m_transcript.Record({{"ev", "msgbox"},
                       {"text", text},
                       {"caption", caption ? json(*caption) : json(nullptr)},
                       {"buttons", buttons == MsgBoxButtons::kOk ? "ok" : "okcancel"},
                       {"answer", answer == MsgBoxAnswer::kOk ? "ok" : "cancel"}});
}

void TranscriptWindowObserver::OnFileDialog(const FileDialogRequest& request,
                                            const std::optional<std::string>& answer) {
  m_transcript.Record({{"ev", "filedialog"},
                       {"filter", request.filter},
                       {"dir", request.initialDirectory},
                       {"answer", answer ? json(*answer) : json(nullptr)}});
}

void TranscriptWindowObserver::OnTimer(uintptr_t id, bool on) {
  m_transcript.Record({{"ev", "timer"}, {"id", id}, {"on", on}});
}

void TranscriptWindowObserver::OnDeviceEvent(uint32_t eventType) {
  m_transcript.Record({{"ev", "device"}, {"event", eventType}});
}

HidHandle RecordingHidBus::Open(const std::string& path, HidOpenMode mode) {
  const HidHandle handle = m_inner.Open(path, mode);
  if (handle != kInvalidHidHandle && m_numberOf) {
    if (const int number = m_numberOf(path); number != 0) {
      std::lock_guard<std::mutex> lock(m_numbersLock);
      m_numbers[handle] = number;
    }
  }
  return handle;
}

void RecordingHidBus::Close(HidHandle handle) {
  if (m_numberOf) {
    std::lock_guard<std::mutex> lock(m_numbersLock);
    m_numbers.erase(handle);
  }
  m_inner.Close(handle);
}

void RecordingHidBus::RecordReport(const char* ev, HidHandle handle, const uint8_t* report, size_t size) {
  json event = {{"ev", ev}, {"hex", ToHex(report, size)}};
  if (m_numberOf) {
    std::lock_guard<std::mutex> lock(m_numbersLock);
    if (auto number = m_numbers.find(handle); number != m_numbers.end()) event["dev"] = number->second;
  }
  m_transcript.Record(event);
}

bool RecordingHidBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  RecordReport("out", handle, report, size);
  return m_inner.WriteReport(handle, report, size);
}

HidReadResult RecordingHidBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                          uint32_t timeoutMs) {
  const HidReadResult result = m_inner.ReadReport(handle, buffer, size, timeoutMs);
  if (result.code == kWaitReceived) RecordReport("in", handle, buffer, result.bytes);
  return result;
}

void RecordingSystem::OutputDebugString(const std::string& line) {
  m_transcript.Record({{"ev", "trace"}, {"text", line}});
  m_inner.OutputDebugString(line);
}

}  // namespace tarvik
