#include "probe/calorim_probe.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <system_error>

#include "probe/tool_catalogue.h"

namespace calorim::probe {
namespace {

constexpr int kInvalidParams = -32602;
constexpr int kMethodNotFound = -32601;
constexpr int kToolFailed = -32000;

// Revisions from which the server shows a feature.
constexpr std::size_t kAnnotationsFrom = 1;  // "2025-03-26": tool annotations, instructions
constexpr std::size_t kTypedResultsFrom = 2;  // "2025-06-18": titles, output schemas, structured results

constexpr const char* kInstructions =
    "These tools measure the machine this server runs on: power in watts, energy in joules, temperatures in "
    "\u00B0C. To learn what a task costs, call power_begin_window with a name before it and power_end_window with "
    "the same name after it. power_snapshot takes a one-second reading; power_is_throttling and power_headroom "
    "tell whether to hold back heavy work. power_cooldown waits until the machine is below target_temp, for up to "
    "60 s: allow it about 65 s. On a simulated machine power_system_info says so in machineName, and no figure is "
    "a measurement.";

// A member of `object`, or nullptr.
const Json* member(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// What a queued line costs, its own bookkeeping included, so that a flood of
// short lines is bounded too.
std::size_t queuedSize(const std::string& line) { return line.size() + sizeof(std::string); }

// Whether the descriptor is a pipe or a socket: its end means its writer went
// away, while a file simply has nothing more.
bool isStream(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

}  // namespace

HostWatch::HostWatch(int output, std::function<void()> gone) : output_(output), gone_(std::move(gone)) {
  if (::pipe(wake_) != 0) return;  // nothing to wake the thread with: no watching
  thread_ = std::thread([this] { watch(); });
}

HostWatch::~HostWatch() {
  if (thread_.joinable()) {
    const char byte = 0;
    while (::write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void HostWatch::watch() {
  // With no events asked for, poll still reports a hang-up or an error: a
  // pipe whose reader closed gives POLLERR on its write end.
  bool watchOutput = true;
  for (;;) {
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {watchOutput ? output_ : -1, 0, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) {
      gone_();
      return;
    }
    if ((fds[1].revents & POLLNVAL) != 0) watchOutput = false;
  }
}

CalorimProbe::CalorimProbe(std::shared_ptr<PowerService> service, Writer writer)
    : service_(std::move(service)), writer_(std::move(writer)) {}

Json CalorimProbe::toolList() const {
  Json tools = Json::array();
  for (const Tool& tool : toolCatalogue()) {
    Json entry = Json::object();
    entry["name"] = tool.name;
    if (version_ >= kTypedResultsFrom) entry["title"] = tool.title;
    entry["description"] = tool.description;
    entry["inputSchema"] = inputSchema(tool);
    if (version_ >= kTypedResultsFrom && !tool.outputSchema.is_null()) entry["outputSchema"] = tool.outputSchema;
    if (version_ >= kAnnotationsFrom) {
      entry["annotations"] = Json{{"readOnlyHint", tool.readOnly},
                                  {"destructiveHint", false},
                                  {"idempotentHint", tool.idempotent},
                                  {"openWorldHint", false}};
    }
    tools.push_back(std::move(entry));
  }
  return tools;
}

Json CalorimProbe::initializeResult(const Json& params) {
  version_ = kProtocolVersions.size() - 1;
  if (const Json* asked = member(params, "protocolVersion"); asked != nullptr && asked->is_string()) {
    for (std::size_t i = 0; i < kProtocolVersions.size(); ++i) {
      if (asked->get_ref<const std::string&>() == kProtocolVersions[i]) version_ = i;
    }
  }
  Json result = Json::object();
  result["protocolVersion"] = kProtocolVersions[version_];
  result["capabilities"] = Json{{"tools", Json::object()}};
  result["serverInfo"] = Json{{"name", "calorim-power"}, {"version", "0.2.0"}};
  if (version_ >= kAnnotationsFrom) result["instructions"] = kInstructions;
  return result;
}

bool CalorimProbe::callTool(const Json& id, const Json* params) {
  const Json* name = params != nullptr && params->is_object() ? member(*params, "name") : nullptr;
  if (name == nullptr || !name->is_string()) {
    return respondError(id, kInvalidParams, "Invalid params: tools/call needs params with a string \"name\"");
  }
  static const Json kNoArguments = Json::object();
  const Json* arguments = member(*params, "arguments");
  if (arguments != nullptr && arguments->is_null()) arguments = nullptr;
  if (arguments != nullptr && !arguments->is_object()) {
    return respondError(id, kInvalidParams, "Invalid params: \"arguments\" must be an object");
  }
  if (arguments == nullptr) arguments = &kNoArguments;

  Json progressToken = nullptr;
  if (const Json* meta = member(*params, "_meta"); meta != nullptr && meta->is_object()) {
    if (const Json* token = member(*meta, "progressToken");
        token != nullptr && (token->is_string() || token->is_number_integer())) {
      progressToken = *token;
    }
  }
  PowerService::CooldownProgress progress;
  if (!progressToken.is_null()) {
    progress = [this, &progressToken](double waited) {
      Json note = Json::object();
      note["jsonrpc"] = "2.0";
      note["method"] = "notifications/progress";
      note["params"] = Json{{"progressToken", progressToken}, {"progress", waited}, {"total", kCooldownTimeout}};
      send(note);
    };
  }

  const std::string& toolName = name->get_ref<const std::string&>();
  const Tool* tool = findTool(toolName);
  ToolResult answer;
  if (tool == nullptr) {
    answer = {errorText("unknown tool: " + toolName), true, nullptr};
  } else if (auto wrong = argumentError(*tool, *arguments)) {
    answer = {std::move(*wrong), true, nullptr};
  } else {
    StopToken stop;
    {
      std::lock_guard lock(mutex_);
      callStop_ = StopSource();
      runningCall_ = id;
      cancelled_ = false;
      // The last request of a host that has stopped writing: no one waits for it.
      if (gone_ || (inputIsStream_ && inputEnded_ && queue_.empty())) {
        gone_ = true;
        callStop_.requestStop();
      }
      stop = callStop_.token();
    }
    std::optional<std::string> failure;
    try {
      answer = tool->run(ToolCall{*service_, *arguments, stop, progress});
    } catch (const PMError& e) {
      failure = e.description();
    }
    bool gone = false;
    bool cancelled = false;
    {
      std::lock_guard lock(mutex_);
      runningCall_.reset();
      gone = gone_;
      // A call that changed the server's windows is answered anyway, so that
      // the host learns what became of them.
      cancelled = cancelled_ && tool->readOnly;
    }
    // A call cut short because the host went away, or one it cancelled, has no one to answer.
    if (gone) {
      outputClosed_ = true;
      return false;
    }
    if (cancelled) return true;
    if (failure) return respondError(id, kToolFailed, *failure);
  }

  Json item = Json::object();
  item["type"] = "text";
  item["text"] = std::move(answer.text);
  Json result = Json::object();
  result["content"] = Json::array({std::move(item)});
  if (version_ >= kTypedResultsFrom && !answer.structured.is_null()) {
    result["structuredContent"] = std::move(answer.structured);
  }
  if (answer.isError) result["isError"] = true;
  return respond(id, result);
}

bool CalorimProbe::send(const Json& message) {
  if (outputClosed_) return false;
  std::string text;
  try {
    text = message.dump();
  } catch (const Json::exception&) {
    return true;  // cannot be written: nothing goes out for this request
  }
  text.push_back('\n');
  if (!writer_(text)) outputClosed_ = true;
  return !outputClosed_;
}

bool CalorimProbe::respond(const Json& id, const Json& result) {
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["id"] = id;
  message["result"] = result;
  return send(message);
}

bool CalorimProbe::respondError(const Json& id, int code, const std::string& message) {
  Json error = Json::object();
  error["code"] = code;
  error["message"] = message;
  Json reply = Json::object();
  reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["error"] = std::move(error);
  return send(reply);
}

bool CalorimProbe::handleLine(std::string_view line) {
  if (outputClosed_) return false;
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) return true;
  const std::optional<Json> parsed = readJson(line);
  if (!parsed || !parsed->is_object()) return true;  // not JSON, or not an object: no answer
  const Json& request = *parsed;

  const Json* idMember = member(request, "id");
  const Json id = idMember != nullptr ? *idMember : Json(nullptr);
  const Json* methodMember = member(request, "method");
  const std::string method = methodMember != nullptr && methodMember->is_string() ? methodMember->get<std::string>() : "";
  const Json* params = member(request, "params");
  static const Json kNoParams = Json::object();
  const Json& paramsObject = params != nullptr && params->is_object() ? *params : kNoParams;

  // A cancellation reaches a running call through the reading thread; one read
  // here names no call in progress.
  if (method.starts_with("notifications/")) return true;
  if (method == "initialize") return respond(id, initializeResult(paramsObject));
  if (method == "ping") return respond(id, Json::object());
  if (method == "tools/list") return respond(id, Json{{"tools", toolList()}});
  if (method == "tools/call") return callTool(id, params);
  return respondError(id, kMethodNotFound, "Unknown method: " + method);
}

void CalorimProbe::hostGone() {
  {
    std::lock_guard lock(mutex_);
    gone_ = true;
    callStop_.requestStop();
  }
  changed_.notify_all();
}

bool CalorimProbe::isCancellation(std::string_view line) {
  // Only a line that mentions the method is parsed here; the others once, when handled.
  if (line.find("notifications/cancelled") == std::string_view::npos) return false;
  if (line.ends_with('\r')) line.remove_suffix(1);
  const std::optional<Json> message = readJson(line);
  if (!message || !message->is_object()) return false;
  const Json* method = member(*message, "method");
  if (method == nullptr || *method != "notifications/cancelled") return false;
  const Json* params = member(*message, "params");
  const Json* requestId = params != nullptr && params->is_object() ? member(*params, "requestId") : nullptr;
  std::lock_guard lock(mutex_);
  if (requestId != nullptr && runningCall_ && *runningCall_ == *requestId) {
    cancelled_ = true;
    callStop_.requestStop();
  }
  return true;
}

bool CalorimProbe::deliver(std::vector<std::string>& lines) {
  std::unique_lock lock(mutex_);
  for (std::string& line : lines) {
    changed_.wait(lock, [this] { return queuedBytes_ < kMaxQueuedBytes || stopping_; });
    if (stopping_) return false;
    queuedBytes_ += queuedSize(line);
    queue_.push_back(std::move(line));
    changed_.notify_all();
  }
  lines.clear();
  return !stopping_;
}

void CalorimProbe::readInput(int input, int wake) {
  std::string line;
  bool tooLong = false;
  std::vector<std::string> lines;  // the complete lines of one read, handed over together
  const auto complete = [&] {
    // An empty line, or one that cancels a call, has nothing to answer.
    if (!tooLong && !line.empty() && line != "\r" && !isCancellation(line)) lines.push_back(std::move(line));
    line.clear();
    tooLong = false;
  };
  char buffer[1 << 16];
  for (;;) {
    pollfd fds[2] = {{input, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return;
    const ssize_t n = ::read(input, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(n));
    while (!chunk.empty()) {
      const std::size_t end = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, end);
      // A line longer than the limit is drained without being kept.
      if (!tooLong && line.size() + piece.size() > kMaxLineBytes) {
        tooLong = true;
        std::string().swap(line);
      }
      if (!tooLong) line.append(piece);
      if (end == std::string_view::npos) break;
      chunk.remove_prefix(end + 1);
      complete();
    }
    if (!deliver(lines)) return;
  }
  complete();  // a last line without terminator
  if (!deliver(lines)) return;
  {
    std::lock_guard lock(mutex_);
    inputEnded_ = true;
    // A host that stops writing while its last call waits has gone.
    if (inputIsStream_ && queue_.empty() && runningCall_) {
      gone_ = true;
      callStop_.requestStop();
    }
  }
  changed_.notify_all();
}

void CalorimProbe::run(int input) {
  int wake[2];
  if (::pipe(wake) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  {
    std::lock_guard lock(mutex_);
    inputIsStream_ = isStream(input);
  }
  std::thread reader;
  try {
    reader = std::thread([this, input, &wake] { readInput(input, wake[0]); });
  } catch (const std::system_error&) {
    ::close(wake[0]);
    ::close(wake[1]);
    throw;
  }
  for (;;) {
    std::string line;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || inputEnded_ || gone_; });
      if (gone_ || queue_.empty()) break;
      line = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= queuedSize(line);
    }
    changed_.notify_all();
    if (!handleLine(line)) break;
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  const char byte = 0;
  while (::write(wake[1], &byte, 1) < 0 && errno == EINTR) {
  }
  reader.join();
  ::close(wake[0]);
  ::close(wake[1]);
}

std::string energyAccessLine(const EnergyAccess& access) {
  const std::string folder = access.folder.empty() ? std::string() : " in " + access.folder;
  switch (access.state) {
    case EnergyAccess::State::readable: return {};
    case EnergyAccess::State::denied:
      return "The energy counters" + folder +
             " are there, but this user may not read them: see \"Granting energy access\" in the README.\n";
    case EnergyAccess::State::absent:
      return "This machine has no energy counters" + folder +
             " (a VM, a container or a processor without RAPL): calorim-probe-sim serves a simulated machine "
             "instead.\n";
  }
  return {};
}

int mcpMain(const std::function<std::shared_ptr<Platform>()>& platform) {
  // A reader that closed its end makes writes fail with EPIPE instead of killing us.
  std::signal(SIGPIPE, SIG_IGN);
  std::setbuf(stdout, nullptr);

  std::shared_ptr<PowerService> service;
  std::shared_ptr<Platform> machine = platform();
  try {
    service = std::make_shared<PowerService>(machine, StartUpWork::inBackground);
  } catch (const PMError& e) {
    std::string message = "Failed to start: " + e.caseName() + "\n";
    if (e.kind() == PMError::Kind::channelNotFound) message += energyAccessLine(machine->counters->energyAccess());
    (void)!::write(STDERR_FILENO, message.data(), message.size());
    return 1;
  }

  CalorimProbe server(service, [](std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  });
  HostWatch watch(STDOUT_FILENO, [&server] { server.hostGone(); });
  try {
    server.run(STDIN_FILENO);
  } catch (const std::system_error& e) {
    const std::string message = std::string("calorim-probe: cannot serve: ") + e.what() + "\n";
    (void)!::write(STDERR_FILENO, message.data(), message.size());
    return 1;
  }
  return 0;
}

}  // namespace calorim::probe
