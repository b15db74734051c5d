#pragma once
// The application's display texts by key ("settings.title", "menu.quit",
// "error.initFailed", the "mode." keys, ...): one English table built into the
// program. A key without an entry shows as the key itself.

#include <QString>

#include <string_view>

namespace calorim::app {

// The display text of `key`; `key` itself when the table has no entry for it.
// Pure and thread-safe; never throws except std::bad_alloc.
[[nodiscard]] QString localized(std::string_view key);

}  // namespace calorim::app
