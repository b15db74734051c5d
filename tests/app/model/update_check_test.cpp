#include "app/model/update_check.h"

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace calorim::app {
namespace {

using testing::CannedHttpServer;
using testing::waitUntil;

// Runs one check against `server` and gives its result.
std::optional<UpdateInfo> check(CannedHttpServer& server, std::optional<QString> local = QStringLiteral("1.2.0")) {
  UpdateCheck update(server.url(), std::move(local));
  update.start();
  update.start();  // a second start sends nothing
  EXPECT_TRUE(waitUntil([&] { return update.isFinished(); }));
  return update.result();
}

TEST(UpdateCheck, AnswersOfTheLocalServer) {
  struct Case {
    const char* name;
    int status;
    QByteArray body;
    std::optional<QString> local;
    std::optional<UpdateInfo> expected;
  };
  const UpdateInfo newer{QStringLiteral("1.10.0"), QStringLiteral("https://example.com/calorim")};
  const std::vector<Case> cases = {
      {"newer", 200, R"({"version":"1.10.0","url":"https://example.com/calorim"})", QStringLiteral("1.9.3"), newer},
      {"404 with a usable body", 404, R"({"version":"1.10.0","url":"https://example.com/calorim"})",
       QStringLiteral("1.9.3"), newer},
      {"500 with a usable body", 500, R"({"url":"https://example.com/calorim","version":"1.10.0"})",
       QStringLiteral("1.9.3"), newer},
      {"equal", 200, R"({"version":"1.2.0","url":"https://example.com/calorim"})", QStringLiteral("1.2.0"), {}},
      {"older", 200, R"({"version":"1.1.9","url":"https://example.com/calorim"})", QStringLiteral("1.2.0"), {}},
      {"non-text member", 200, R"({"version":"2.0","url":"https://example.com/calorim","build":42})",
       QStringLiteral("1.2.0"), {}},
      {"text member", 200, R"({"version":"2.0","url":"https://example.com/calorim","build":"42"})",
       QStringLiteral("1.2.0"), UpdateInfo{QStringLiteral("2.0"), QStringLiteral("https://example.com/calorim")}},
      {"null member", 200, R"({"version":"2.0","url":"https://example.com/calorim","notes":null})",
       QStringLiteral("1.2.0"), {}},
      {"no local version", 200, R"({"version":"0.1","url":"http://example.com/calorim"})", std::nullopt,
       UpdateInfo{QStringLiteral("0.1"), QStringLiteral("http://example.com/calorim")}},
      {"missing url", 200, R"({"version":"2.0"})", QStringLiteral("1.2.0"), {}},
      {"missing version", 200, R"({"url":"https://example.com/calorim"})", QStringLiteral("1.2.0"), {}},
      {"not an object", 200, R"(["2.0","https://example.com/calorim"])", QStringLiteral("1.2.0"), {}},
      {"not JSON", 200, "<html>update!</html>", QStringLiteral("1.2.0"), {}},
      {"empty body", 204, "", QStringLiteral("1.2.0"), {}},
      {"nested 100,000 deep", 200,
       R"({"version":"9.0","url":"https://example.com/calorim","x":)" + QByteArray(100'000, '[') +
           QByteArray(100'000, ']') + "}",
       QStringLiteral("1.2.0"), {}},
      {"bytes after the object", 200, QByteArray(R"({"version":"9.0","url":"https://example.com/calorim"})") +
           QByteArray(1, '\0') + "{}", QStringLiteral("1.2.0"), {}},
      // Only web addresses may reach the browser.
      {"file url", 200, R"({"version":"9.0","url":"file:///etc/passwd"})", QStringLiteral("1.2.0"), {}},
      {"javascript url", 200, R"j({"version":"9.0","url":"javascript:alert(document.cookie)"})j",
       QStringLiteral("1.2.0"), {}},
      {"custom handler", 200, R"({"version":"9.0","url":"x-calorim-helper://install?all"})",
       QStringLiteral("1.2.0"), {}},
      {"scheme-relative", 200, R"({"version":"9.0","url":"//example.com/calorim"})", QStringLiteral("1.2.0"), {}},
      {"unparsable", 200, R"({"version":"9.0","url":"https://exa mple.com/%zz"})", QStringLiteral("1.2.0"), {}},
      {"empty url", 200, R"({"version":"9.0","url":""})", QStringLiteral("1.2.0"), {}},
  };
  for (const Case& c : cases) {
    CannedHttpServer server;
    ASSERT_TRUE(server.isListening());
    server.answer(c.status, c.body);
    EXPECT_EQ(check(server, c.local), c.expected) << c.name;
    EXPECT_EQ(server.requests(), 1) << c.name;
  }
}

TEST(UpdateCheck, FailuresEndSilentlyWithoutAnUpdate) {
  {
    CannedHttpServer server;
    server.hangUp();  // the connection closes without an answer
    EXPECT_FALSE(check(server));
  }
  {
    CannedHttpServer gone;
    const QString url = gone.url();
    gone.close();  // nothing listens on that port any more
    UpdateCheck update(url, QStringLiteral("1.0"));
    update.start();
    ASSERT_TRUE(waitUntil([&] { return update.isFinished(); }));
    EXPECT_FALSE(update.result());
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
