// The command-line program's terminal on each platform: answers read from
// standard input, a read that Ctrl-C cuts short, and the Ctrl-C watch.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/interrupt_watch.h"

#ifdef _WIN32
#include "platform/win32/win32_api.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// Standard input replaced by a pipe the test writes into, for as long as it lives.
class PipedInput {
 public:
  PipedInput() {
#ifdef _WIN32
    m_saved = GetStdHandle(STD_INPUT_HANDLE);
    CreatePipe(&m_read, &m_write, nullptr, 0);
    SetStdHandle(STD_INPUT_HANDLE, m_read);
#else
    m_saved = ::dup(STDIN_FILENO);
    int ends[2] = {-1, -1};
    EXPECT_EQ(::pipe(ends), 0);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    m_write = ends[1];
#endif
  }
  ~PipedInput() {
    Close();
#ifdef _WIN32
    SetStdHandle(STD_INPUT_HANDLE, m_saved);
    CloseHandle(m_read);
#else
    ::dup2(m_saved, STDIN_FILENO);
    ::close(m_saved);
#endif
  }
  void Write(const std::string& text) {
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(m_write, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
#else
    EXPECT_EQ(::write(m_write, text.data(), text.size()), static_cast<ssize_t>(text.size()));
#endif
  }
  // The input ends.
  void Close() {
#ifdef _WIN32
    if (m_write) CloseHandle(m_write);
    m_write = nullptr;
#else
    if (m_write >= 0) ::close(m_write);
    m_write = -1;
#endif
  }

 private:
#ifdef _WIN32
  HANDLE m_saved = nullptr;
  HANDLE m_read = nullptr;
  HANDLE m_write = nullptr;
#else
  int m_saved = -1;
  int m_write = -1;
#endif
};

struct Answer {
  bool line = false;
  std::string text;
};

std::future<Answer> ReadInBackground(AnswerReader& reader) {
  return std::async(std::launch::async, [&reader] {
    Answer answer;
    answer.line = reader.ReadLine(answer.text);
    return answer;
  });
}

TEST(AnswerReaderTest, ReadsLinesWithoutTheirEndsAndWhatCameBeforeTheInputEnded) {
  PipedInput input;
  AnswerReader reader;
  input.Write("yes\r\nno\n");
  std::string first;
  EXPECT_TRUE(reader.ReadLine(first));
  EXPECT_EQ(first, "yes");
  std::string second;
  EXPECT_TRUE(reader.ReadLine(second));
  EXPECT_EQ(second, "no");

  input.Write("y");
  input.Close();
  std::string partial;
  EXPECT_FALSE(reader.ReadLine(partial));
  EXPECT_EQ(partial, "y");
}

TEST(AnswerReaderTest, WakeEndsAReadThatIsWaitingForInput) {
  PipedInput input;
  AnswerReader reader;
  std::future<Answer> pending = ReadInBackground(reader);
  std::this_thread::sleep_for(50ms);  // inside the read by now
  reader.Wake();
  if (pending.wait_for(5s) != std::future_status::ready) {
    input.Write("\n");  // let the reader go before failing
    FAIL() << "a woken read went on waiting for input";
  }
  const Answer answer = pending.get();
  EXPECT_FALSE(answer.line);
  EXPECT_TRUE(reader.Woken());

  // Once woken, later questions are not waited on either, even with input there.
  input.Write("y\n");
  std::string later;
  EXPECT_FALSE(reader.ReadLine(later));
}

TEST(InterruptWatchTest, FirstCtrlCAsksToStopOnce) {
  std::atomic<int> stops{0};
  InterruptWatch watch([&] { ++stops; });
  EXPECT_FALSE(watch.Interrupted());
#ifdef _WIN32
  watch.Notice();  // as the console's handler does
#else
  ::kill(::getpid(), SIGINT);  // the watch's thread takes it
#endif
  for (int i = 0; i < 500 && stops.load() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(stops.load(), 1);
  EXPECT_TRUE(watch.Interrupted());
}

TEST(InterruptWatchDeathTest, SecondCtrlCQuitsAtOnceWithStatus130) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InterruptWatch watch(nullptr);
        watch.Notice();
        watch.Notice();
      },
      testing::ExitedWithCode(130), "interrupted again: quitting at once");
}

}  // namespace
}  // namespace tarvik
