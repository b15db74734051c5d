#pragma once
// The one-time update check: one HTTP GET of the version endpoint, whose answer
// is a JSON object of text values with at least "version" and "url". When that
// version orders after the running one (numeric runs compared by value) and
// its "url" is an absolute http or https address, the pair is the available
// update. Every failure is silent and counts as no update.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringView>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace calorim::app {

struct UpdateInfo {
  QString version;  // e.g. "1.4.2"
  QString url;      // an absolute http or https address of the download page

  bool operator==(const UpdateInfo&) const = default;
};

// The version endpoint this build asks (the CMake cache variable
// CALORIM_UPDATE_URL; by default a host that never resolves).
[[nodiscard]] QString configuredUpdateUrl();
// The application's version from the build (the project version); absent
// when the build carries none. The check then compares against "0".
[[nodiscard]] std::optional<QString> buildVersion();

// Orders `a` against `b` (<0, 0, >0): runs of ASCII digits compare by numeric
// value, every other character by its UTF-16 code; a text that is a prefix of
// the other orders first. No locale. Pure.
[[nodiscard]] int compareVersions(QStringView a, QStringView b);

// True for an absolute http or https URL with a host; false for any other
// scheme (file, javascript, custom handlers) and for text that is no URL. Pure.
[[nodiscard]] bool isWebUrl(const QString& url);

// The pair in a response body: absent unless the body is a JSON object whose
// members are all text and which holds "version" and "url". Pure.
[[nodiscard]] std::optional<UpdateInfo> parseVersionResponse(const QByteArray& body);

// The update `body` offers over `localVersion` ("0" when absent): present only
// when the body parses, its version orders after the local one and its url
// is a web URL. Pure.
[[nodiscard]] std::optional<UpdateInfo> availableUpdate(const QByteArray& body,
                                                        const std::optional<QString>& localVersion);

// One check: `start` sends the GET and returns at once; the answer is handled
// in the event loop of the object's thread, which must be the UI thread.
// `finished` is emitted once, when the check has ended (also when it failed),
// and `result` then holds the available update, if any. The status code of
// the response is not looked at; a transport error, a body over 1 MiB or an
// endpoint that is not a URL ends the check without an update.
class UpdateCheck : public QObject {
  Q_OBJECT

 public:
  UpdateCheck(QString endpoint, std::optional<QString> localVersion, QObject* parent = nullptr);
  ~UpdateCheck() override;

  // Sends the one request; later calls do nothing.
  void start();
  [[nodiscard]] const std::optional<UpdateInfo>& result() const { return result_; }
  [[nodiscard]] bool isFinished() const { return finished_; }

 signals:
  void finished();

 private:
  void handleReply(QNetworkReply* reply);
  void finish();

  QString endpoint_;
  std::optional<QString> localVersion_;
  QNetworkAccessManager* manager_ = nullptr;  // owned as a child, made on start
  std::optional<UpdateInfo> result_;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace calorim::app
