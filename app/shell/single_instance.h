#pragma once
// One running application per user: the first program to start holds a lock
// file and listens on a local socket beside it (in the user's runtime
// directory); a program started while it runs connects, asks it to show its
// panel, and ends. A lock left by a program that died is taken over (the
// lock names its process). UI thread only.

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <variant>

class QLocalServer;

namespace calorim::app {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // The request a later program sends.
  static constexpr char kShowRequest[] = "show\n";
  // How long a later program waits for the running one to answer.
  static constexpr int kAnswerMs = 3000;

  // The running one answered and shows its panel: this program ends with 0.
  struct Told {};
  // Another program holds the lock but did not answer in time; why, in words.
  struct Failed {
    QString reason;
  };
  using Claim = std::variant<std::unique_ptr<SingleInstance>, Told, Failed>;

  // Claims the application for this program, with the lock and socket in
  // `directory` (made when missing): the claim held while the returned object
  // lives, or what happened instead. Blocks for at most `kAnswerMs`.
  [[nodiscard]] static Claim claim(const QString& directory);
  // The user's runtime directory (XDG_RUNTIME_DIR on Linux), else the
  // temporary one with the user's id in the name.
  [[nodiscard]] static QString defaultDirectory();

  ~SingleInstance() override;

 signals:
  // A later program asked for the panel.
  void showRequested();

 private:
  SingleInstance(std::unique_ptr<QLockFile> lock, QLocalServer* server);

  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_;  // child
};

}  // namespace calorim::app
