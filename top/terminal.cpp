#include "top/terminal.h"

#include <curses.h>
#include <stdio.h>

namespace calorim::top {
namespace {

// Esc alone must quit at once, not after curses' wait of a second for the
// rest of an escape sequence.
constexpr int kEscDelayMs = 25;

attr_t attributes(LineStyle style) {
  switch (style) {
    case LineStyle::title: return A_REVERSE | A_BOLD;
    case LineStyle::banner: return A_STANDOUT | A_BOLD;
    case LineStyle::heading: return A_BOLD;
    case LineStyle::notice: return A_BOLD;
    case LineStyle::keys: return A_REVERSE;
    case LineStyle::plain: return A_NORMAL;
  }
  return A_NORMAL;
}

}  // namespace

std::optional<Terminal> Terminal::open(std::string& error) {
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) {
    error = "this terminal cannot be driven (is TERM set to a known terminal?)";
    return std::nullopt;
  }
  set_escdelay(kEscDelayMs);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  curs_set(0);
  return Terminal(screen);
}

Terminal::Terminal(Terminal&& other) noexcept : screen_(other.screen_) { other.screen_ = nullptr; }

Terminal::~Terminal() {
  if (screen_ == nullptr) return;
  endwin();
  delscreen(static_cast<SCREEN*>(screen_));
}

void Terminal::draw(const std::vector<ScreenLine>& lines) {
  erase();
  for (std::size_t y = 0; y < lines.size() && static_cast<int>(y) < LINES; ++y) {
    const attr_t attribute = attributes(lines[y].style);
    attrset(attribute);
    // Reversed lines run across the whole width.
    if (attribute & A_REVERSE) mvhline(static_cast<int>(y), 0, ' ', COLS);
    mvaddstr(static_cast<int>(y), 0, lines[y].text.c_str());
  }
  attrset(A_NORMAL);
  refresh();
}

int Terminal::width() const { return COLS; }
int Terminal::height() const { return LINES; }

std::optional<int> Terminal::key() {
  const int key = getch();
  if (key == ERR) return std::nullopt;
  if (key == KEY_RESIZE) return kResized;
  return key;
}

}  // namespace calorim::top
