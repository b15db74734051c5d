#pragma once
// The MCP server: JSON-RPC 2.0 over a line-oriented byte stream, one request
// at a time. Each request line gets at most one response line; notifications
// (methods beginning "notifications/") never get one. Tool calls go to the
// power service and come back as JSON text.

#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/power_service.h"

namespace calorim::probe {

class CalorimProbe {
 public:
  // Longest request line kept; a longer one is discarded as it is read.
  static constexpr std::size_t kMaxLineBytes = 16u << 20;
  static constexpr double kSnapshotInterval = 1.0;
  static constexpr double kCooldownTimeout = 60.0;
  static constexpr double kDefaultTargetTemp = 80.0;

  // Writes one message line (text and its line feed) and flushes it. Returns
  // false once the reader has gone away; the server then stops.
  using Writer = std::function<bool(std::string_view line)>;

  CalorimProbe(std::shared_ptr<PowerService> service, Writer writer);

  // Handles every line of `in` until end of input or until output is closed.
  void run(std::istream& in);

  // Handles one line without its terminator (a trailing CR is dropped).
  // Returns false once output is closed.
  bool handleLine(std::string_view line);

  // The tool catalogue, in order.
  [[nodiscard]] static Json toolList();
  [[nodiscard]] static Json tool(std::string_view name, std::string_view description, Json properties);

  // Runs tool `name`; its text, or the error object text for an unknown tool.
  // `progressToken`, when not null, receives a progress notification per sample
  // of a cooldown wait. Throws the service's PMError when a sample fails.
  [[nodiscard]] std::string handleTool(const std::string& name, const Json& arguments,
                                       const Json& progressToken = nullptr);

  bool respond(const Json& id, const Json& result);
  bool respondError(const Json& id, int code, const std::string& message);

 private:
  bool send(const Json& message);

  std::shared_ptr<PowerService> service_;
  Writer writer_;
  bool outputClosed_ = false;
};

// Compact JSON text of a record, or "{}" when it cannot be written (a
// non-finite number, text that is not UTF-8).
template <class T>
[[nodiscard]] std::string encodeRecord(const T& record) {
  try {
    return toJsonText(record);
  } catch (const std::exception&) {
    return "{}";
  }
}

// The program: creates the service on `platform` and serves standard input and
// output. A start failure writes "Failed to start: <case>" to standard error
// and returns 1; otherwise returns 0 at end of input.
int mcpMain(const std::function<std::shared_ptr<Platform>()>& platform);

}  // namespace calorim::probe
