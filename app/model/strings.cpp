#include "app/model/strings.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace calorim::app {
namespace {

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
    if (it != table->end()) return it->second;
  }
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

QString withoutMnemonic(const QString& text) { return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }

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

}  // namespace calorim::app
