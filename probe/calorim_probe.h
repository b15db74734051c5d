#pragma once
// The MCP server: JSON-RPC 2.0 over a line-oriented byte stream, one request
// at a time. Each request line gets at most one response line, in the order
// the requests came; notifications (methods beginning "notifications/") never
// get one, nor does a tool call the host cancelled. Tool calls go to the tools
// of probe/tool_catalogue.h.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/json.h"
#include "core/platform/stop_signal.h"
#include "core/power_service.h"

namespace calorim::probe {

// Notices, on a thread of its own, that the host has closed its end of
// `output` (it died or hung up), and then calls `gone` once. Works on pipes,
// sockets and terminals.
class HostWatch {
 public:
  HostWatch(int output, std::function<void()> gone);
  ~HostWatch();
  HostWatch(const HostWatch&) = delete;
  HostWatch& operator=(const HostWatch&) = delete;

 private:
  void watch();

  int output_;
  int wake_[2] = {-1, -1};
  std::function<void()> gone_;
  std::thread thread_;
};

// The protocol revisions the server speaks, oldest first. A host that asks for
// one of them gets it; any other request gets the newest.
inline constexpr std::array<std::string_view, 4> kProtocolVersions = {"2024-11-05", "2025-03-26", "2025-06-18",
                                                                      "2025-11-25"};

class CalorimProbe {
 public:
  // Longest request line kept; a longer one is discarded as it is read.
  static constexpr std::size_t kMaxLineBytes = 16u << 20;
  // Request text read ahead while a call runs; beyond it reading waits.
  static constexpr std::size_t kMaxQueuedBytes = 2 * kMaxLineBytes;

  // Writes one message line (text and its line feed) and flushes it. Returns
  // false once the reader has gone away; the server then stops.
  using Writer = std::function<bool(std::string_view line)>;

  CalorimProbe(std::shared_ptr<PowerService> service, Writer writer);

  // Serves the requests read from file descriptor `input` until its end, until
  // output is closed or until the host is gone. A second thread reads while a
  // call runs, so that a cancellation reaches the call; answers are still
  // written one per request, in order, by the calling thread. When `input` is
  // a pipe or socket and ends while a tool call waits with nothing left to
  // handle, the host is gone. Throws std::system_error when the reading
  // thread cannot be started.
  void run(int input);

  // Handles one line without its terminator (a trailing CR is dropped), on the
  // calling thread. Returns false once output is closed or the host is gone.
  bool handleLine(std::string_view line);

  // The host cannot read answers any more: a waiting call ends at once, its
  // answer and every later one are dropped and `run` returns. Thread-safe.
  void hostGone();

  // The revision agreed in the last "initialize"; the oldest before any.
  [[nodiscard]] std::string_view protocolVersion() const { return kProtocolVersions[version_]; }

 private:
  bool send(const Json& message);
  bool respond(const Json& id, const Json& result);
  bool respondError(const Json& id, int code, const std::string& message);
  [[nodiscard]] Json initializeResult(const Json& params);
  [[nodiscard]] Json toolList() const;
  bool callTool(const Json& id, const Json* params);

  // The reading thread: splits `input` into lines and queues them, until its
  // end or until `wake` becomes readable.
  void readInput(int input, int wake);
  // Whether `line` is a cancellation; one that names the running call stops it.
  bool isCancellation(std::string_view line);
  // Queues `lines` for the calling thread, waiting while too much is queued.
  // False once `run` is ending.
  bool deliver(std::vector<std::string>& lines);

  std::shared_ptr<PowerService> service_;
  Writer writer_;
  bool outputClosed_ = false;
  std::size_t version_ = 0;

  // Shared with the reading and host-watching threads.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  bool inputIsStream_ = false;  // a pipe or socket, whose end means the host has gone
  bool inputEnded_ = false;
  bool stopping_ = false;
  bool gone_ = false;
  std::optional<Json> runningCall_;  // the id of the tool call in progress
  bool cancelled_ = false;
  StopSource callStop_;
};

// The line that follows "Failed to start: channelNotFound(...)" on standard
// error: whether the machine has no energy counters (and that the simulator
// serves a simulated machine) or this user may not read them (and where the
// README explains access), with the folder. Empty when the counters are
// readable (or the backend cannot tell).
[[nodiscard]] std::string energyAccessLine(const EnergyAccess& access);

// The program: creates the service on `platform` and serves standard input and
// output. A start failure writes "Failed to start: <case>" to standard error,
// then for missing energy counters `energyAccessLine`, and returns 1, as it
// does when it cannot start reading; otherwise returns 0 at end of input or
// once the host is gone.
int mcpMain(const std::function<std::shared_ptr<Platform>()>& platform);

}  // namespace calorim::probe
