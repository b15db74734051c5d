#include "app/shell/live_activity.h"

#include <QtGlobal>

namespace calorim::app {

// macOS has its own, in macos/.
#if !defined(Q_OS_MACOS)
std::unique_ptr<LiveActivity> beginLiveActivity() { return std::make_unique<LiveActivity>(); }
#endif

}  // namespace calorim::app
