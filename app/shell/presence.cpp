#include "app/shell/presence.h"

namespace calorim::app {
namespace {

PresencePolicy current = PresencePolicy::accessory;

}  // namespace

void setPresencePolicy(PresencePolicy policy) { current = policy; }

PresencePolicy presencePolicy() { return current; }

void bringApplicationToFront() {}

}  // namespace calorim::app
