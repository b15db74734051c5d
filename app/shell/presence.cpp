#include "app/shell/presence.h"

#include <QtGlobal>

namespace calorim::app {

// macOS has its own, in macos/.
#if !defined(Q_OS_MACOS)
std::unique_ptr<Presence> makePresence() { return std::make_unique<Presence>(); }
#endif

}  // namespace calorim::app
