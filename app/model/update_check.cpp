#include "app/model/update_check.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "core/json.h"

namespace calorim::app {
namespace {

// A version answer is a few dozen bytes; anything far larger is not one.
constexpr qint64 kMaxBodyBytes = 1 << 20;

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

qsizetype digitRunEnd(QStringView s, qsizetype i) {
  while (i < s.size() && isAsciiDigit(s[i])) ++i;
  return i;
}

// Compares two runs of digits by value, whatever their length.
int compareDigitRuns(QStringView a, QStringView b) {
  auto trim = [](QStringView r) {
    qsizetype i = 0;
    while (i + 1 < r.size() && r[i] == QLatin1Char('0')) ++i;
    return r.mid(i);
  };
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace

QString configuredUpdateUrl() {
#ifdef CALORIM_UPDATE_URL
  return QStringLiteral(CALORIM_UPDATE_URL);
#else
  return {};
#endif
}

std::optional<QString> buildVersion() {
#ifdef CALORIM_APP_VERSION
  const QString version = QStringLiteral(CALORIM_APP_VERSION);
  if (!version.isEmpty()) return version;
#endif
  return std::nullopt;
}

int compareVersions(QStringView a, QStringView b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
      const qsizetype ie = digitRunEnd(a, i);
      const qsizetype je = digitRunEnd(b, j);
      if (const int c = compareDigitRuns(a.sliced(i, ie - i), b.sliced(j, je - j)); c != 0) return c;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool isWebUrl(const QString& url) {
  const QUrl parsed(url, QUrl::StrictMode);
  if (!parsed.isValid() || parsed.isRelative() || parsed.host().isEmpty()) return false;
  const QString scheme = parsed.scheme();
  return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
         scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

std::optional<UpdateInfo> parseVersionResponse(const QByteArray& body) {
  const std::optional<Json> document = readJson(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
  if (!document || !document->is_object()) return std::nullopt;
  for (const Json& value : *document) {
    if (!value.is_string()) return std::nullopt;
  }
  const auto version = document->find("version");
  const auto url = document->find("url");
  if (version == document->end() || url == document->end()) return std::nullopt;
  return UpdateInfo{QString::fromStdString(version->get<std::string>()), QString::fromStdString(url->get<std::string>())};
}

std::optional<UpdateInfo> availableUpdate(const QByteArray& body, const std::optional<QString>& localVersion) {
  std::optional<UpdateInfo> remote = parseVersionResponse(body);
  if (!remote) return std::nullopt;
  const QString local = localVersion.value_or(QStringLiteral("0"));
  if (compareVersions(remote->version, local) <= 0) return std::nullopt;
  // The url is opened in the user's browser: nothing but a web page may get there.
  if (!isWebUrl(remote->url)) return std::nullopt;
  return remote;
}

UpdateCheck::UpdateCheck(QString endpoint, std::optional<QString> localVersion, QObject* parent)
    : QObject(parent), endpoint_(std::move(endpoint)), localVersion_(std::move(localVersion)) {}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::start() {
  if (started_) return;
  started_ = true;
  const QUrl url(endpoint_, QUrl::StrictMode);
  if (!url.isValid() || url.isRelative()) {
    finish();
    return;
  }
  manager_ = new QNetworkAccessManager(this);
  QNetworkReply* reply = manager_->get(QNetworkRequest(url));
  connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
    if (received > kMaxBodyBytes) reply->abort();
  });
  connect(reply, &QNetworkReply::finished, this, [this, reply] { handleReply(reply); });
}

void UpdateCheck::handleReply(QNetworkReply* reply) {
  reply->deleteLater();
  // Any HTTP answer counts, whatever its status; only a failed exchange (no
  // answer at all, or one cut off) ends the check here.
  const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
  const QNetworkReply::NetworkError error = reply->error();
  // Network and proxy errors (cancelled included) come before the content,
  // protocol and server errors that an HTTP status brings.
  const bool transportFailed =
      error != QNetworkReply::NoError && (!answered || error < QNetworkReply::ContentAccessDenied);
  if (!transportFailed) {
    const QByteArray body = reply->readAll();
    if (body.size() <= kMaxBodyBytes) result_ = availableUpdate(body, localVersion_);
  }
  finish();
}

void UpdateCheck::finish() {
  finished_ = true;
  emit finished();
}

}  // namespace calorim::app
