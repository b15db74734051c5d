#include "app/model/update_check.h"

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace calorim::app {
namespace {

using testing::CannedHttpServer;
using testing::waitUntil;

// Runs one check against `url` and gives its result.
std::optional<UpdateInfo> check(const QString& url, std::optional<QString> local = QStringLiteral("1.2.0")) {
  UpdateCheck update(url, std::move(local));
  update.start();
  update.start();  // a second start sends nothing
  EXPECT_TRUE(waitUntil([&] { return update.isFinished(); }));
  return update.result();
}

// The answer offering `version` at `url`, with `more` members after them.
QByteArray offer(const char* version, const char* url, const QByteArray& more = {}) {
  return QByteArray(R"({"version":")") + version + R"(","url":")" + url + '"' + more + '}';
}

TEST(UpdateCheck, AnswersOfTheLocalServer) {
  struct Case {
    const char* name;
    int status;
    QByteArray body;
    std::optional<UpdateInfo> expected;
    std::optional<QString> local = QStringLiteral("1.2.0");
  };
  const char* const web = "https://example.com/calorim";
  const UpdateInfo two{QStringLiteral("2.0"), QString::fromUtf8(web)};
  const std::vector<Case> cases = {
      {"newer", 200, offer("1.10.0", web), UpdateInfo{QStringLiteral("1.10.0"), QString::fromUtf8(web)},
       QStringLiteral("1.9.3")},
      {"500 with a usable body", 500, R"({"url":"https://example.com/calorim","version":"2.0"})", two},
      {"equal", 200, offer("1.2.0", web), {}},
      {"older", 200, offer("1.1.9", web), {}},
      {"non-text member", 200, offer("2.0", web, R"(,"build":42)"), {}},
      {"text member", 200, offer("2.0", web, R"(,"build":"42")"), two},
      {"null member", 200, offer("2.0", web, R"(,"notes":null)"), {}},
      {"no local version", 200, offer("0.1", "http://example.com/calorim"),
       UpdateInfo{QStringLiteral("0.1"), QStringLiteral("http://example.com/calorim")}, std::nullopt},
      {"missing url", 200, R"({"version":"2.0"})", {}},
      {"missing version", 200, R"({"url":"https://example.com/calorim"})", {}},
      {"not an object", 200, R"(["2.0","https://example.com/calorim"])", {}},
      {"not JSON", 200, "<html>update!</html>", {}},
      {"empty body", 204, "", {}},
      {"nested 100,000 deep", 200, offer("9.0", web, ",\"x\":" + QByteArray(100'000, '[') + QByteArray(100'000, ']')),
       {}},
      {"bytes after the object", 200, offer("9.0", web) + QByteArray(1, '\0') + "{}", {}},
      // Only web addresses may reach the browser.
      {"file url", 200, offer("9.0", "file:///etc/passwd"), {}},
      {"javascript url", 200, offer("9.0", "javascript:alert(document.cookie)"), {}},
      {"custom handler", 200, offer("9.0", "x-calorim-helper://install?all"), {}},
      {"scheme-relative", 200, offer("9.0", "//example.com/calorim"), {}},
      {"unparsable", 200, offer("9.0", "https://exa mple.com/%zz"), {}},
      {"empty url", 200, offer("9.0", ""), {}},
  };
  for (const Case& c : cases) {
    CannedHttpServer server;
    ASSERT_TRUE(server.isListening());
    server.answer(c.status, c.body);
    EXPECT_EQ(check(server.url(), c.local), c.expected) << c.name;
    EXPECT_EQ(server.requests(), 1) << c.name;
  }
}

TEST(UpdateCheck, FailuresEndSilentlyWithoutAnUpdate) {
  {
    CannedHttpServer server;
    server.hangUp();  // the connection closes without an answer
    EXPECT_FALSE(check(server.url()));
  }
  {
    CannedHttpServer gone;
    const QString url = gone.url();
    gone.close();  // nothing listens on that port any more
    EXPECT_FALSE(check(url));
  }
  for (const char* endpoint : {"", "not a url at all", "/version.json"}) {
    UpdateCheck update(QString::fromUtf8(endpoint), QStringLiteral("1.0"));
    update.start();
    EXPECT_TRUE(update.isFinished()) << endpoint;
    EXPECT_FALSE(update.result()) << endpoint;
  }
}

TEST(UpdateCheck, VersionsCompareByNumericRuns) {
  EXPECT_GT(compareVersions(u"1.10.0", u"1.9.3"), 0);
  EXPECT_LT(compareVersions(u"1.9.3", u"1.10.0"), 0);
  EXPECT_EQ(compareVersions(u"1.2.0", u"1.2.0"), 0);
  EXPECT_GT(compareVersions(u"0.1", u"0"), 0);
  EXPECT_LT(compareVersions(u"1.2", u"1.2.0"), 0);
  EXPECT_EQ(compareVersions(u"1.02", u"1.2"), 0);
  EXPECT_LT(compareVersions(u"2.0", u"10"), 0);
  EXPECT_GT(compareVersions(u"1.0b", u"1.0a"), 0);
  EXPECT_GT(compareVersions(u"99999999999999999999999.1", u"99999999999999999999998.9"), 0);
  EXPECT_FALSE(buildVersion().value_or(QString()).isEmpty());
  EXPECT_TRUE(configuredUpdateUrl().endsWith(QStringLiteral("/version.json")));
}

}  // namespace
}  // namespace calorim::app
