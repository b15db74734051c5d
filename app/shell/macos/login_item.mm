// Launch at login on macOS: the application's own login item in the
// system's service management (macOS 13 or later).

#include "app/shell/login_item.h"

#import <Foundation/Foundation.h>

#if __has_include(<ServiceManagement/SMAppService.h>)
#import <ServiceManagement/SMAppService.h>
#else
// The service-management interface as ServiceManagement.framework exports it,
// for SDKs that leave its header out.
NS_ASSUME_NONNULL_BEGIN
typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
  SMAppServiceStatusNotRegistered = 0,
  SMAppServiceStatusEnabled = 1,
  SMAppServiceStatusRequiresApproval = 2,
  SMAppServiceStatusNotFound = 3,
};

API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject
@property(class, readonly) SMAppService* mainAppService;
@property(readonly) SMAppServiceStatus status;
- (BOOL)registerAndReturnError:(NSError* _Nullable*)error;
- (BOOL)unregisterAndReturnError:(NSError* _Nullable*)error;
+ (void)openSystemSettingsLoginItems;
@end
NS_ASSUME_NONNULL_END
#endif

namespace calorim::app {
namespace {

class ServiceLoginItem final : public LoginItem {
 public:
  [[nodiscard]] bool isEnabled() const override { return status() == LoginItemStatus::enabled; }

  LoginItemChange setEnabled(bool enabled) override {
    SMAppService* service = SMAppService.mainAppService;
    NSError* error = nil;
    const BOOL done = enabled ? [service registerAndReturnError:&error] : [service unregisterAndReturnError:&error];
    // The status read next tells what holds; the call's error, why not.
    const LoginItemOutcome outcome = loginItemOutcome(enabled, status());
    if (outcome.openSettings) [SMAppService openSystemSettingsLoginItems];
    LoginItemChange change{outcome.succeeded, {}};
    if (!outcome.succeeded && !done && error != nil) {
      change.error = QString::fromUtf8(error.localizedDescription.UTF8String);
    }
    return change;
  }

  [[nodiscard]] QString unavailableReason() const override {
    return loginItemUnavailableReason(QString::fromUtf8(NSBundle.mainBundle.bundlePath.UTF8String));
  }

 private:
  [[nodiscard]] static LoginItemStatus status() {
    return loginItemStatus(static_cast<long>(SMAppService.mainAppService.status));
  }
};

}  // namespace

std::unique_ptr<LoginItem> makeLoginItem() { return std::make_unique<ServiceLoginItem>(); }

}  // namespace calorim::app
