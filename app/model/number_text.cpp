#include "app/model/number_text.h"

#include <charconv>

namespace calorim::app {

QString fixedText(double v, int decimals) { return QString::fromStdString(fixedDecimal(v, decimals)); }

QString integerText(std::int64_t n) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  return QString::fromLatin1(buffer, result.ptr - buffer);
}

}  // namespace calorim::app
