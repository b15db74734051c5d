#include "app/model/strings.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace calorim::app {
namespace {

using Entry = std::pair<std::string_view, std::string_view>;

// Sorted by key, for the binary search below.
constexpr std::array kTable = {
    Entry{"ane.title", "Neural Engine"},
    Entry{"app.name", "Calorim"},
    Entry{"app.nameSimulated", "Calorim \u2014 Simulated"},
    // CPU energy channels. pCluster: the cluster number; eCore: the core number;
    // pCore: the cluster number, then the core number.
    Entry{"core.eCluster", "E-Cluster"},
    Entry{"core.eCore", "E-Core %1"},
    Entry{"core.pCluster", "P%1-Cluster"},
    Entry{"core.pCore", "P%1-Core %2"},
    Entry{"cpu.eCluster", "Efficiency"},
    Entry{"cpu.pCluster", "Performance"},
    Entry{"detail.display", "Display"},
    Entry{"detail.memory", "Memory"},
    Entry{"detail.otherSoc", "Other SoC Blocks"},
    Entry{"detail.simulated", "Simulated machine: these figures are generated, not measured."},
    Entry{"detail.socTotal", "SoC Total"},
    Entry{"detail.systemTotal", "System Total"},
    Entry{"detail.unclassified", "Unclassified Channels"},
    Entry{"disp.external", "External Display"},
    Entry{"disp.internal", "Built-in Display"},
    // One placeholder each: the folder of the energy counters.
    Entry{"energy.absent",
          "No power figures: this machine has no energy counters in %1. See \"Granting energy access\" in the "
          "README."},
    Entry{"energy.denied",
          "No power figures: this user may not read the energy counters in %1. See \"Granting energy access\" "
          "in the README to let the group calorim read them."},
    Entry{"energy.unavailable", "No power figures: the energy counters could not be read."},
    Entry{"error.initFailed", "Power metrics could not be started, so no live figures are available."},
    Entry{"mem.controller", "Memory Controller"},
    Entry{"mem.dram", "DRAM"},
    Entry{"mem.phy", "Memory Interface"},
    Entry{"menu.celsius", "Celsius (\u00B0C)"},
    Entry{"menu.fahrenheit", "Fahrenheit (\u00B0F)"},
    // One placeholder: the fan's index.
    Entry{"menu.fan", "Fan %1"},
    Entry{"menu.openDetail", "Open Detail Window"},
    Entry{"menu.quit", "Quit Calorim"},
    Entry{"menu.settings", "Settings\u2026"},
    Entry{"menu.total", "Total"},
    Entry{"mode.cpuPower", "CPU Power"},
    Entry{"mode.cpuTemp", "CPU Temperature"},
    Entry{"mode.cpuUsage", "CPU Usage"},
    Entry{"mode.gpuPower", "GPU Power"},
    Entry{"mode.gpuTemp", "GPU Temperature"},
    Entry{"mode.gpuUsage", "GPU Usage"},
    Entry{"mode.socPower", "SoC Power"},
    Entry{"mode.systemPower", "System Power"},
    Entry{"ports.title", "Ports & Power"},
    Entry{"ports.titleSimulated", "Ports & Power \u2014 Simulated"},
    Entry{"settings.menuBarDisplay", "Menu Bar Display"},
    Entry{"settings.tempUnit", "Temperature Unit"},
    Entry{"settings.title", "Calorim Settings"},
    Entry{"soc.fabric", "Fabric"},
    Entry{"soc.isp", "Image Signal Processor"},
    Entry{"soc.media", "Media Engines"},
    Entry{"stat.avg", "Avg"},
    Entry{"stat.peak", "Peak"},
};

constexpr bool sortedByKey() {
  for (std::size_t i = 1; i < kTable.size(); ++i) {
    if (!(kTable[i - 1].first < kTable[i].first)) return false;
  }
  return true;
}
static_assert(sortedByKey(), "keep the text table sorted by key");

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The table of the opened bundle; null until one is opened. Tables are never
// freed, so a lookup racing with a later `openStringBundle` still reads a live
// one; the program opens one bundle, tests a few.
std::atomic<const StringTable*> openedTable{nullptr};

const StringTable* keepForever(StringTable table) {
  static std::mutex mutex;
  static std::vector<std::unique_ptr<const StringTable>> tables;
  std::lock_guard lock(mutex);
  tables.push_back(std::make_unique<const StringTable>(std::move(table)));
  return tables.back().get();
}

// Reads a strings file: entries `"key" = "text";`, with comments and blank
// space between them.
class StringsParser {
 public:
  explicit StringsParser(std::u16string_view text) : text_(text) {}

  std::optional<StringTable> parse() {
    StringTable table;
    while (skipSpaceAndComments()) {
      if (atEnd()) return table;
      auto key = quoted();
      if (!key || !skipSpaceAndComments() || !take(u'=') || !skipSpaceAndComments()) return std::nullopt;
      auto value = quoted();
      if (!value || !skipSpaceAndComments() || !take(u';')) return std::nullopt;
      table.insert_or_assign(key->toStdString(), std::move(*value));
    }
    return std::nullopt;  // an unclosed comment
  }

 private:
  [[nodiscard]] bool atEnd() const { return pos_ >= text_.size(); }
  [[nodiscard]] bool startsWith(std::u16string_view s) const { return text_.substr(pos_).starts_with(s); }

  bool take(char16_t c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // False only for a block comment that never closes.
  bool skipSpaceAndComments() {
    while (!atEnd()) {
      const char16_t c = text_[pos_];
      if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\uFEFF') {
        ++pos_;
      } else if (startsWith(u"//")) {
        const auto end = text_.find(u'\n', pos_);
        pos_ = end == std::u16string_view::npos ? text_.size() : end + 1;
      } else if (startsWith(u"/*")) {
        const auto end = text_.find(u"*/", pos_ + 2);
        if (end == std::u16string_view::npos) return false;
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  std::optional<QString> quoted() {
    if (!take(u'"')) return std::nullopt;
    QString out;
    while (!atEnd()) {
      const char16_t c = text_[pos_++];
      if (c == u'"') return out;
      if (c != u'\\') {
        out.append(QChar(c));
        continue;
      }
      if (atEnd()) return std::nullopt;
      switch (text_[pos_++]) {
        case u'"': out.append(u'"'); break;
        case u'\\': out.append(u'\\'); break;
        case u'n': out.append(u'\n'); break;
        case u't': out.append(u'\t'); break;
        case u'r': out.append(u'\r'); break;
        case u'U': {
          if (text_.size() - pos_ < 4) return std::nullopt;
          bool ok = false;
          const auto digits = QStringView(text_.data() + pos_, 4);
          const ushort unit = digits.toUShort(&ok, 16);
          if (!ok) return std::nullopt;
          out.append(QChar(unit));
          pos_ += 4;
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;  // no closing quote
  }

  std::u16string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

QString localized(std::string_view key) {
  if (const StringTable* table = openedTable.load(std::memory_order_acquire)) {
    const auto it = table->find(key);
    return it != table->end() ? it->second : fromUtf8(key);
  }
  const auto it = std::lower_bound(kTable.begin(), kTable.end(), key,
                                   [](const Entry& e, std::string_view k) { return e.first < k; });
  if (it != kTable.end() && it->first == key) return fromUtf8(it->second);
  return fromUtf8(key);
}

std::optional<StringTable> parseStringTable(QByteArrayView text) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString decoded = decoder.decode(text);
  if (decoder.hasError()) return std::nullopt;
  return StringsParser(std::u16string_view(reinterpret_cast<const char16_t*>(decoded.utf16()),
                                           static_cast<std::size_t>(decoded.size())))
      .parse();
}

std::optional<QString> openStringBundle(const QStringList& locations) {
  for (const QString& location : locations) {
    QFile file(QDir(location).filePath(fromUtf8(kStringTableFile)));
    if (!file.open(QIODevice::ReadOnly)) continue;
    auto table = parseStringTable(file.readAll());
    if (!table) continue;
    openedTable.store(keepForever(std::move(*table)), std::memory_order_release);
    return location;
  }
  return std::nullopt;
}

QString stringBundleFailure(const QStringList& locations) {
  return QStringLiteral("could not load resource bundle: from ") + locations.join(QStringLiteral(", "));
}

std::vector<std::string_view> builtinStringKeys() {
  std::vector<std::string_view> keys;
  keys.reserve(kTable.size());
  for (const Entry& e : kTable) keys.push_back(e.first);
  return keys;
}

}  // namespace calorim::app
