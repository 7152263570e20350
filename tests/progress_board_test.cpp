#include "cli/progress_board.h"

#include "tests/support/terminal_screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace tarvik {
namespace {

// The board and the lines above it on one terminal.
struct Terminal {
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  ~Terminal() {
    std::fclose(out);
    std::free(data);
  }
  std::vector<std::string> Shown() {
    std::fflush(out);
    return test::Screen(std::string(data, size));
  }
};

using Lines = std::vector<std::string>;

TEST(ProgressBoardTest, LinesAreRedrawnInPlaceAndResultsGoAboveThem) {
  struct Case {
    const char* name;
    void (*steps)(ProgressBoard&, FILE*);
    Lines shown;
    int columns = 80;
  };
  const Case cases[] = {
      {"lines stand in the order of their keys",
       [](ProgressBoard& b, FILE*) {
         b.Set(3, "3 at sim-3");
         b.Set(1, "1 at sim-1");
         b.Set(2, "2 at sim-2");
       },
       {"1 at sim-1", "2 at sim-2", "3 at sim-3"}},
      {"a changed line replaces the old one, a shorter one too",
       [](ProgressBoard& b, FILE*) {
         b.Set(1, "1 at sim-1  [#.........]  10 %  writing record 1");
         b.Set(2, "2 at sim-2  [#.........]  10 %  writing record 1");
         b.Set(1, "1 at sim-1  [#####.....]  50 %  writing record 1");
         b.Set(2, "2 at sim-2: upgraded");
       },
       {"1 at sim-1  [#####.....]  50 %  writing record 1", "2 at sim-2: upgraded"}},
      {"a removed line's result is printed above the others",
       [](ProgressBoard& b, FILE* out) {
         b.Set(1, "1 busy");
         b.Set(2, "2 busy");
         b.Remove(1, [out] { std::fputs("1: upgraded\n", out); });
         b.Set(2, "2 still busy");
         b.Set(4, "4 arrived");
       },
       {"1: upgraded", "2 still busy", "4 arrived"}},
      {"a line wider than the terminal is cut, so that nothing wraps",
       [](ProgressBoard& b, FILE*) {
         b.Set(1, std::string(30, 'a'));
         b.Set(2, "short");
       },
       {std::string(19, 'a'), "short"},
       20},
      {"wide characters take two columns",
       [](ProgressBoard& b, FILE*) { b.Set(1, "1 \u624b\u67c4 \u5df2\u5347\u7ea7 1.31\u624b\u67c4"); },
       {"1 \u624b\u67c4 \u5df2\u5347\u7ea7 1.31"},
       20},
      {"closing leaves only what was printed above",
       [](ProgressBoard& b, FILE* out) {
         b.Set(1, "1 busy");
         b.Remove(1, [out] { std::fputs("1: failed\n", out); });
         b.Set(2, "2 busy");
         b.Close();
         b.Set(3, "drawn after the end");
       },
       {"1: failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Terminal terminal;
    ProgressBoard board(terminal.out, terminal.out, c.columns);
    c.steps(board, terminal.out);
    EXPECT_EQ(terminal.Shown(), c.shown);
  }
}

TEST(ProgressBoardTest, ControllersUpdatingAtOnceEachKeepTheirLine) {
  Terminal terminal;
  ProgressBoard board(terminal.out, terminal.out, 80);
  std::vector<std::thread> workers;
  for (int key = 1; key <= 4; ++key) {
    workers.emplace_back([&board, key] {
      for (int percent = 0; percent <= 100; ++percent) {
        board.Set(key, std::to_string(key) + " " + std::to_string(percent) + " %");
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(terminal.Shown(), (Lines{"1 100 %", "2 100 %", "3 100 %", "4 100 %"}));
}

}  // namespace
}  // namespace tarvik
