#pragma once
// The file `--output` names, replaced whole or not at all: the report is
// written to a new file beside it, created before the command starts (so that
// a place that cannot be written is known before anything runs), and renamed
// over it once complete. A reader never sees half a report. A link is
// followed, so that the file it leads to is replaced, not the link. A device
// or pipe (a FIFO, a terminal), and anything under /dev/ or /proc/ (such as
// /dev/stdout, which may lead to a file the command writes to), is opened
// before the command starts and appended to.

#include <optional>
#include <string>
#include <variant>

namespace calorim::run {

class ReportFile {
 public:
  // Creates the new file beside `path` (or opens the device); why not, in one
  // phrase, when it cannot or `path` is a folder.
  [[nodiscard]] static std::variant<ReportFile, std::string> create(const std::string& path);

  ReportFile(ReportFile&& other) noexcept;
  ReportFile& operator=(ReportFile&&) = delete;
  ReportFile(const ReportFile&) = delete;
  // Removes the new file unless it was committed.
  ~ReportFile();

  // Writes `text`, gives the new file the permissions a new file gets and
  // renames it over the path. Why not, in one phrase; the new file is then
  // removed. Once.
  [[nodiscard]] std::optional<std::string> commit(const std::string& text);

 private:
  ReportFile(std::string target, std::string temporary, int fd, unsigned mode)
      : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd), mode_(mode) {}
  void discard();

  std::string target_;     // the file to replace, links followed; empty for a device
  std::string temporary_;  // empty for a device, and once committed or discarded
  int fd_ = -1;
  unsigned mode_ = 0;  // what a new file is given under the process's umask
};

}  // namespace calorim::run
