// The presence policy on macOS: the application's activation policy, which
// puts the Dock icon and the application menu up while regular.

#include "app/shell/presence.h"

#import <AppKit/AppKit.h>

namespace calorim::app {
namespace {

class ActivationPolicy final : public Presence {
 public:
  void setPolicy(PresencePolicy policy) override {
    Presence::setPolicy(policy);
    [NSApp setActivationPolicy:policy == PresencePolicy::regular ? NSApplicationActivationPolicyRegular
                                                                 : NSApplicationActivationPolicyAccessory];
  }

  void bringToFront() override { [NSApp activateIgnoringOtherApps:YES]; }
};

}  // namespace

std::unique_ptr<Presence> makePresence() { return std::make_unique<ActivationPolicy>(); }

}  // namespace calorim::app
