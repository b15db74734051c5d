#pragma once
// The application's display texts by key ("settings.title", "menu.quit",
// "error.initFailed", the "mode." keys, ...).
//
// The texts live in the string table of the resource bundle
// "CalorimGUI_Calorim.bundle": a folder holding "Localizable.strings", a
// UTF-8 text of entries
//
//     /* a comment */  // or a line comment
//     "menu.quit" = "Quit Calorim";
//
// with the escapes \" \\ \n \t \r and \Uxxxx (four hex digits, one UTF-16
// code unit). The program opens the bundle once at start (`openStringBundle`)
// and stops when none can be opened. The table is the only source of the
// texts: a key without an entry, or any key while no bundle is open (code
// running without the program, such as tests that open none), shows as the
// key itself.

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace calorim::app {

// Key → display text.
using StringTable = std::map<std::string, QString, std::less<>>;

inline constexpr std::string_view kStringBundleName = "CalorimGUI_Calorim.bundle";
inline constexpr std::string_view kStringTableFile = "Localizable.strings";

// The display text of `key`; `key` itself when the table in use has no entry
// for it. Thread-safe; never throws except std::bad_alloc.
[[nodiscard]] QString localized(std::string_view key);

// The entries of a strings file; absent when `text` is not one (an unclosed
// quote or comment, a bad escape, a missing "=" or ";", text that is not
// UTF-8). A later entry for the same key replaces an earlier one. Pure.
[[nodiscard]] std::optional<StringTable> parseStringTable(QByteArrayView text);

// `text` for a menu item or button, which would take a lone "&" as the mark
// of its keyboard mnemonic ("Ports & Power" showing as "Ports _Power"): every
// "&" doubled, so it shows as itself. Pure.
[[nodiscard]] QString withoutMnemonic(const QString& text);

// Reads the string table of the first bundle folder in `locations` whose
// table file exists and parses, and makes it the table `localized` answers
// from. Returns that folder; absent when none could be opened (the table in
// use then stays as it was). Blocks on file reads; call from the UI thread
// before the texts are needed.
std::optional<QString> openStringBundle(const QStringList& locations);

// The message the program stops with when no bundle among `locations` could
// be opened: "could not load resource bundle: from " and the locations,
// separated by ", ". Pure.
[[nodiscard]] QString stringBundleFailure(const QStringList& locations);

}  // namespace calorim::app
