#pragma once
// The full screen through ncurses: the layout's lines copied to it (ncurses
// then writes only the cells that changed), and the keys read from it. The
// only file of calorim-top that knows curses.

#include <optional>
#include <string>
#include <vector>

#include "top/screen.h"

namespace calorim::top {

class Terminal {
 public:
  // A key the terminal reports that is no character: the window changed size.
  static constexpr int kResized = -2;

  // Takes over the terminal on standard input and output; absent when the
  // terminal cannot be driven (`TERM` unknown), with the reason in `error`.
  [[nodiscard]] static std::optional<Terminal> open(std::string& error);
  Terminal(Terminal&& other) noexcept;
  Terminal& operator=(Terminal&&) = delete;
  // Gives the terminal back as it was.
  ~Terminal();

  // Draws `lines` from the top; the rest of the screen is cleared.
  void draw(const std::vector<ScreenLine>& lines);
  [[nodiscard]] int width() const;
  [[nodiscard]] int height() const;
  // The next key pressed, without waiting: a character code, Esc as 27,
  // kResized after a change of size; absent when none is waiting.
  [[nodiscard]] std::optional<int> key();

 private:
  explicit Terminal(void* screen) : screen_(screen) {}
  void* screen_;  // the curses SCREEN
};

}  // namespace calorim::top
