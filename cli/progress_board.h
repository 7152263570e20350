// Several controllers' progress on a terminal at once: one line each,
// redrawn in place as its update goes, and lines printed above the board
// (a finished controller's result) without tearing it.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik {

class ProgressBoard {
 public:
  // Draws on `board` (standard error); `above` is where the lines printed
  // above it go (standard output), flushed before the board is drawn again.
  // `columns`: the terminal's width; longer lines are cut short, so that none wraps.
  ProgressBoard(FILE* board, FILE* above, int columns);
  ~ProgressBoard() { Close(); }
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  // The line of controller `key` (lines stand in the order of their keys).
  // Safe from any thread.
  void Set(int key, const std::string& line);
  // Takes the line of `key` off the board, then runs `print` (which writes on
  // `above`) with the board out of the way.
  void Remove(int key, const std::function<void()>& print);
  // Erases the board; nothing is drawn after.
  void Close();

 private:
  void EraseLocked();
  void DrawAllLocked();

  std::mutex m_lock;
  FILE* m_board;
  FILE* m_above;
  size_t m_columns;
  bool m_closed = false;
  std::map<int, std::string> m_lines;
  std::vector<int> m_drawn;  // the keys on the screen, top to bottom
};

// The board of flash --all and --watch, when standard error is a terminal
// that moves its cursor and the run is not quiet; else none.
std::unique_ptr<ProgressBoard> MakeFleetProgressBoard(bool quiet);

}  // namespace tarvik
