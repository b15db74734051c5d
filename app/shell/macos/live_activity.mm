// The live activity on macOS: a process activity that keeps the application
// out of App Nap while it samples, and lets the machine sleep when idle.

#include "app/shell/live_activity.h"

#import <Foundation/Foundation.h>

namespace calorim::app {
namespace {

class ProcessActivity final : public LiveActivity {
 public:
  ProcessActivity()
      : token_([NSProcessInfo.processInfo beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                                                            reason:@"Sampling live power and temperature figures"]) {}
  ~ProcessActivity() override { [NSProcessInfo.processInfo endActivity:token_]; }
  ProcessActivity(const ProcessActivity&) = delete;
  ProcessActivity& operator=(const ProcessActivity&) = delete;

 private:
  id<NSObject> token_;
};

}  // namespace

std::unique_ptr<LiveActivity> beginLiveActivity() { return std::make_unique<ProcessActivity>(); }

}  // namespace calorim::app
