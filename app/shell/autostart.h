#pragma once
// Launch at login on Linux desktops: an XDG autostart entry for the current
// user, "$XDG_CONFIG_HOME/autostart/calorim.desktop" (XDG_CONFIG_HOME
// defaulting to ~/.config). The application counts as registered while the
// entry exists and is not marked "Hidden=true". Registering writes the entry
// atomically (a half-written entry is never seen); removing deletes it.

#include <QByteArray>
#include <QString>

#include "app/views/settings_view.h"

namespace calorim::app {

class XdgAutostart final : public LoginItem {
 public:
  // `entryPath`: the entry file; `executable`: the program the entry starts.
  explicit XdgAutostart(QString entryPath = defaultEntryPath(), QString executable = currentExecutable());

  // The entry in the user's autostart folder, from the environment as it is now.
  [[nodiscard]] static QString defaultEntryPath();
  // The absolute path of the running program.
  [[nodiscard]] static QString currentExecutable();
  // The entry that starts `executable`.
  [[nodiscard]] static QByteArray entryText(const QString& executable);

  [[nodiscard]] const QString& entryPath() const { return entryPath_; }

  // True when the entry exists, can be read and has no "Hidden=true" in its
  // "[Desktop Entry]" group. Reads the file.
  [[nodiscard]] bool isEnabled() const override;
  // Writes (or deletes) the entry; fails when the folder or file could not
  // be made, written or deleted, with the file system's reason.
  LoginItemChange setEnabled(bool enabled) override;

 private:
  QString entryPath_;
  QString executable_;
};

}  // namespace calorim::app
