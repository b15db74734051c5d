#include "app/shell/macos/status_bar_item.h"

#import <AppKit/AppKit.h>

#include <QMenu>

#include <functional>
#include <utility>

#include "app/shell/macos/screen_rect.h"

// Receives the button's clicks; `secondary` for the right button or a
// control-click.
@interface CalorimStatusItemTarget : NSObject
- (instancetype)initWithHandler:(std::function<void(bool secondary)>)handler;
- (void)clicked:(id)sender;
@end

@implementation CalorimStatusItemTarget {
  std::function<void(bool)> _handler;
}

- (instancetype)initWithHandler:(std::function<void(bool secondary)>)handler {
  if ((self = [super init])) _handler = std::move(handler);
  return self;
}

- (void)clicked:(id)sender {
  (void)sender;
  NSEvent* event = NSApp.currentEvent;
  const bool secondary = event.type == NSEventTypeRightMouseUp ||
                         (event.modifierFlags & NSEventModifierFlagControl) != 0;
  if (_handler) _handler(secondary);
}

@end

namespace calorim::app {

struct StatusBarItem::Native {
  NSStatusItem* item = nil;
  CalorimStatusItemTarget* target = nil;
};

StatusBarItem::StatusBarItem(QObject* parent) : StatusItem(parent), native_(std::make_unique<Native>()) {
  native_->target = [[CalorimStatusItemTarget alloc] initWithHandler:[this](bool secondary) { clicked(secondary); }];
}

StatusBarItem::~StatusBarItem() { hide(); }

bool StatusBarItem::isAvailable() const { return NSApp != nil; }

void StatusBarItem::show() {
  if (native_->item != nil) return;
  NSStatusItem* item = [NSStatusBar.systemStatusBar statusItemWithLength:NSVariableStatusItemLength];
  item.button.target = native_->target;
  item.button.action = @selector(clicked:);
  [item.button sendActionOn:NSEventMaskLeftMouseUp | NSEventMaskRightMouseUp];
  // The menu bar's own size, with digits of equal width. A plain title keeps
  // the system's colours for light and dark menu bars and while highlighted.
  item.button.font = [NSFont monospacedDigitSystemFontOfSize:item.button.font.pointSize weight:NSFontWeightRegular];
  native_->item = item;
  applyLook();
}

void StatusBarItem::hide() {
  if (native_->item == nil) return;
  [NSStatusBar.systemStatusBar removeStatusItem:native_->item];
  native_->item = nil;
}

bool StatusBarItem::isShown() const { return native_->item != nil; }

void StatusBarItem::setLook(const StatusItemLook& look) {
  look_ = look;
  applyLook();
}

void StatusBarItem::setMenu(QMenu* menu) { menu_ = menu; }

QRect StatusBarItem::anchor() const {
  NSStatusBarButton* button = native_->item.button;
  NSWindow* window = button.window;
  NSScreen* primary = NSScreen.screens.firstObject;
  if (window == nil || primary == nil) return {};
  const NSRect onScreen = [window convertRectToScreen:[button convertRect:button.bounds toView:nil]];
  return qtScreenRect(QRectF(onScreen.origin.x, onScreen.origin.y, onScreen.size.width, onScreen.size.height),
                      primary.frame.size.height);
}

void StatusBarItem::applyLook() {
  NSStatusBarButton* button = native_->item.button;
  if (button == nil) return;
  button.title = look_.text.toNSString();
  button.toolTip = look_.toolTip.isEmpty() ? nil : look_.toolTip.toNSString();
}

void StatusBarItem::clicked(bool secondary) {
  if (!secondary || !menu_) {
    // An accessory application is not made active by a click in the menu
    // bar; the panel needs it to be.
    [NSApp activateIgnoringOtherApps:YES];
    emit activated();
    return;
  }
  // The menu opens attached to the item, as the system's own do, while it
  // is the item's menu; afterwards clicks come here again.
  NSMenu* native = menu_->toNSMenu();
  if (native != nil && native_->item != nil) {
    native_->item.menu = native;
    [native_->item.button performClick:nil];
    native_->item.menu = nil;
  } else {
    menu_->popup(anchor().bottomLeft());
  }
}

}  // namespace calorim::app
