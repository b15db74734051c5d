#pragma once
// The MCP server: JSON-RPC 2.0 over a line-oriented byte stream, one request
// at a time. Each request line gets at most one response line; notifications
// (methods beginning "notifications/") never get one. Tool calls go to the
// power service and come back as JSON text.

#include <atomic>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "core/json.h"
#include "core/platform/stop_signal.h"
#include "core/power_service.h"

namespace calorim::probe {

// Notices, on a thread of its own, that the host has gone: its end of
// `output` closed (the host died or hung up), or `input` closed with nothing
// left to handle. `gone()` is then requested, which cuts short whatever wait a
// tool call is in. Works on pipes, sockets and terminals; regular files never
// count as gone.
class HostWatch {
 public:
  HostWatch(int input, int output);
  ~HostWatch();
  HostWatch(const HostWatch&) = delete;
  HostWatch& operator=(const HostWatch&) = delete;

  [[nodiscard]] StopToken gone() const { return gone_.token(); }

  // A call is about to be handled; `moreInput` when lines after it were
  // already read: while they wait, a closed input does not count.
  void beginCall(bool moreInput) { state_ = moreInput ? State::callWithMoreInput : State::lastCall; }
  void endCall() { state_ = State::idle; }

 private:
  enum class State { idle, callWithMoreInput, lastCall };
  void watch();
  [[nodiscard]] bool inputExhausted() const;

  int input_;
  int output_;
  int wake_[2] = {-1, -1};
  std::atomic<State> state_ = State::idle;
  StopSource gone_;
  std::thread thread_;
};

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

  // `watch`, when given, must outlive the server: its stop ends a waiting
  // call and then the server, without a word written.
  CalorimProbe(std::shared_ptr<PowerService> service, Writer writer, HostWatch* watch = nullptr);

  // Handles every line of `in` until end of input or until output is closed.
  void run(std::istream& in);

  // Handles one line without its terminator (a trailing CR is dropped).
  // Returns false once output is closed.
  bool handleLine(std::string_view line);

  // The tool catalogue, in order.
  [[nodiscard]] static Json toolList();
  [[nodiscard]] static Json tool(std::string_view name, std::string_view description, Json properties);

  // A tool's text; `isError` when the text is an {"error":...} object.
  struct ToolResult {
    std::string text;
    bool isError = false;
  };

  // Runs tool `name`: its text, or the error object text for an unknown tool,
  // an unknown window or a refused window. `progressToken`, when not null,
  // receives a progress notification per sample of a cooldown wait. Throws the
  // service's PMError when a sample fails.
  [[nodiscard]] ToolResult handleTool(const std::string& name, const Json& arguments,
                                      const Json& progressToken = nullptr);

  bool respond(const Json& id, const Json& result);
  bool respondError(const Json& id, int code, const std::string& message);

 private:
  bool send(const Json& message);
  [[nodiscard]] StopToken hostGone() const { return watch_ != nullptr ? watch_->gone() : StopToken{}; }

  std::shared_ptr<PowerService> service_;
  Writer writer_;
  HostWatch* watch_;
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

// The line that follows "Failed to start: channelNotFound(...)" on standard
// error: whether the machine has no energy counters or this user may not read
// them, the folder, and where the README explains access. Empty when the
// counters are readable (or the backend cannot tell).
[[nodiscard]] std::string energyAccessLine(const EnergyAccess& access);

// The program: creates the service on `platform` and serves standard input and
// output. A start failure writes "Failed to start: <case>" to standard error,
// then for missing energy counters `energyAccessLine`, and returns 1;
// otherwise returns 0 at end of input or once the host is gone.
int mcpMain(const std::function<std::shared_ptr<Platform>()>& platform);

}  // namespace calorim::probe
