#include "core/platform/darwin/darwin_values.h"

#include <gtest/gtest.h>

#include "tests/core/line_cases.h"

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace calorim::darwin {
namespace {

// A property tree shaped like the platform's: what the reader walks.
struct Node {
  ValueKind kind = ValueKind::other;
  bool flag = false;
  NumberParts number;
  std::optional<std::string> text;
  RegistryBytes bytes;
  std::vector<Node> items;
  std::vector<Node> keys;  // a dictionary's keys, and their values below
  std::vector<Node> values;
};

struct NodeReader {
  ValueKind kind(const Node* n) const { return n->kind; }
  bool boolean(const Node* n) const { return n->flag; }
  NumberParts number(const Node* n) const { return n->number; }
  std::optional<std::string> text(const Node* n) const { return n->text; }
  RegistryBytes bytes(const Node* n) const { return n->bytes; }
  template <class F>
  void forEachItem(const Node* n, F f) const {
    for (const Node& item : n->items) f(&item);
  }
  template <class F>
  void forEachEntry(const Node* n, F f) const {
    for (std::size_t i = 0; i < n->keys.size(); ++i) f(&n->keys[i], &n->values[i]);
  }
};

Node boolean(bool v) { return {.kind = ValueKind::boolean, .flag = v}; }
Node number(NumberParts v) { return {.kind = ValueKind::number, .number = v}; }
Node integer(std::int64_t v) { return number({false, v, static_cast<double>(v)}); }
Node text(std::optional<std::string> t) { return {.kind = ValueKind::text, .text = std::move(t)}; }
Node bytes(RegistryBytes b) { return {.kind = ValueKind::bytes, .bytes = std::move(b)}; }
Node array(std::vector<Node> items) { return {.kind = ValueKind::array, .items = std::move(items)}; }
Node dictionary(std::vector<std::pair<Node, Node>> entries) {
  Node n{.kind = ValueKind::dictionary};
  for (auto& [key, value] : entries) {
    n.keys.push_back(std::move(key));
    n.values.push_back(std::move(value));
  }
  return n;
}
Node nested(int depth) { return depth == 0 ? integer(1) : array({nested(depth - 1)}); }

TEST(DarwinValuesTest, ConvertsPropertyTreesToRegistryValues) {
  constexpr double kBeyondInt64 = 18446744073709551615.0;  // UINT64_MAX as the platform reports it
  const struct {
    const char* what;
    Node tree;
    std::optional<RegistryValue> expected;
  } cases[] = {
      {"boolean", boolean(true), RegistryValue(true)},
      {"integer", integer(-42), RegistryValue(std::int64_t{-42})},
      {"largest signed integer", integer(std::numeric_limits<std::int64_t>::max()),
       RegistryValue(std::numeric_limits<std::int64_t>::max())},
      {"unsigned above INT64_MAX becomes a real", number({false, {}, kBeyondInt64}),
       RegistryValue(kBeyondInt64)},
      {"floating point", number({true, {}, 2.5}), RegistryValue(2.5)},
      {"text", text("AppleSmartBattery"), RegistryValue("AppleSmartBattery")},
      {"text that cannot be converted", text(std::nullopt), std::nullopt},
      {"bytes", bytes({0x00, 0xff}), RegistryValue(RegistryBytes{0x00, 0xff})},
      {"a date or other kind", Node{}, std::nullopt},
      {"array keeps order, leaves out what does not convert",
       array({integer(1), Node{}, text("x")}), RegistryValue(RegistryArray{1, "x"})},
      {"dictionary skips keys that are not text",
       dictionary({{text("Watts"), integer(96)},
                   {integer(7), integer(1)},
                   {text(std::nullopt), integer(2)},
                   {text("Date"), Node{}},
                   {text("AdapterDetails"), dictionary({{text("Name"), text("96W")}})}}),
       RegistryValue(RegistryDictionary{{"Watts", 96}, {"AdapterDetails", RegistryDictionary{{"Name", "96W"}}}})},
      {"deepest nesting kept", nested(kMaxValueDepth), [] {
         RegistryValue v = 1;
         for (int i = 0; i < kMaxValueDepth; ++i) v = RegistryArray{v};
         return std::optional<RegistryValue>(v);
       }()},
      {"one level deeper is left out", nested(kMaxValueDepth + 1), [] {
         RegistryValue v = RegistryArray{};
         for (int i = 1; i < kMaxValueDepth; ++i) v = RegistryArray{v};
         return std::optional<RegistryValue>(v);
       }()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(convertValue(NodeReader{}, &c.tree), c.expected) << c.what;
  }
  // Readers of integers take their fallback for the unsigned value.
  EXPECT_EQ(numberValue({false, {}, kBeyondInt64}).as<std::int64_t>(), nullptr);
}

// A counter channel as the counter library holds it; the reader counts the
// accessors asked, so a test sees that nothing of a channel is read as
// something it is not.
struct FakeChannel {
  int format = kChannelFormatSimple;
  std::string name;
  std::int64_t value = 0;
  std::int32_t stateCount = 0;
};

struct ChannelReader {
  mutable int valueReads = 0;
  mutable int stateReads = 0;
  int format(const FakeChannel* c) const { return c->format; }
  std::string group(const FakeChannel* /*c*/) const { return "Energy Model"; }
  std::string subgroup(const FakeChannel* /*c*/) const { return ""; }
  std::string name(const FakeChannel* c) const { return c->name; }
  std::string unitLabel(const FakeChannel* /*c*/) const { return "mJ"; }
  std::int64_t value(const FakeChannel* c) const {
    ++valueReads;
    return c->value;
  }
  std::int32_t stateCount(const FakeChannel* c) const {
    ++stateReads;
    return c->stateCount;
  }
  std::string stateName(const FakeChannel* /*c*/, std::int32_t i) const { return "P" + std::to_string(i); }
  std::int64_t residency(const FakeChannel* /*c*/, std::int32_t i) const { return 10 * i; }
};

TEST(DarwinValuesTest, ReadsCounterChannelsByTheirFormat) {
  const ChannelReader reader;
  const FakeChannel simple{kChannelFormatSimple, "CPU Energy", 4000, 3};
  const std::optional<Channel> energy = readChannel(reader, &simple);
  ASSERT_TRUE(energy);
  EXPECT_EQ(energy->value, 4000);
  EXPECT_TRUE(energy->states.empty());  // a state count on a simple channel means nothing
  EXPECT_EQ(reader.stateReads, 0);

  const FakeChannel states{kChannelFormatState, "GPUPH", 99, 3};
  const std::optional<Channel> residencies = readChannel(reader, &states);
  ASSERT_TRUE(residencies);
  EXPECT_EQ(residencies->value, 0);
  EXPECT_EQ(residencies->states, (std::vector<ChannelState>{{"P0", 0}, {"P1", 10}, {"P2", 20}}));
  EXPECT_EQ(reader.valueReads, 1);

  // Histograms (3), simple arrays (4) and formats yet unknown are left out unread.
  for (const int other : {0, 3, 4, 255}) {
    const FakeChannel channel{other, "CPU Energy", 4000, 3};
    EXPECT_EQ(readChannel(reader, &channel), std::nullopt) << other;
  }
  EXPECT_EQ(reader.valueReads, 1);
  EXPECT_EQ(reader.stateReads, 1);

  for (const auto [count, kept] : {std::pair(-1, 0), std::pair(0, 0), std::pair(1'000'000, 4096)}) {
    const FakeChannel odd{kChannelFormatState, "GPUPH", 0, count};
    EXPECT_EQ(readChannel(reader, &odd)->states.size(), static_cast<std::size_t>(kept)) << count;
  }
}

TEST(DarwinValuesTest, ReadsKernelValuesAndVersions) {
  const std::int32_t four = -7;
  const std::int64_t eight = 17'179'869'184;
  const std::string fourBytes(reinterpret_cast<const char*>(&four), sizeof four);
  const std::string eightBytes(reinterpret_cast<const char*>(&eight), sizeof eight);
  EXPECT_EQ(systemIntegerFromBytes(fourBytes), -7);
  EXPECT_EQ(systemIntegerFromBytes(eightBytes), eight);
  for (std::string_view odd : {"", "\x01", "\x01\x02", "\x01\x02\x03\x04\x05"}) {
    EXPECT_EQ(systemIntegerFromBytes(odd), std::nullopt) << odd.size();
  }

  EXPECT_EQ(systemTextFromBytes(std::string_view("Apple M3 Pro\0junk", 17)), "Apple M3 Pro");

  EXPECT_LINE_CASES(GOLDEN_DIR "/product_version_cases.txt", [](const std::string& text) {
    const std::optional<OsVersion> v = parseProductVersion(text);
    return v ? v->name + " " + std::to_string(v->major) + "." + std::to_string(v->minor) + "." + std::to_string(v->patch)
             : std::string("none");
  });
  EXPECT_EQ(parseProductVersion(""), std::nullopt);

  for (std::string_view ok : {"SPHardwareDataType", "SPThunderboltDataType"}) EXPECT_TRUE(isReportDataType(ok));
  const std::string tooLong(65, 'A');
  for (std::string_view bad : {std::string_view(""), std::string_view("-xml"), std::string_view("SP Hardware"),
                               std::string_view("../x"), std::string_view("SP\0x", 4), std::string_view(tooLong)}) {
    EXPECT_FALSE(isReportDataType(bad)) << bad;
  }
}

}  // namespace
}  // namespace calorim::darwin
