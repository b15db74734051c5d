#include "probe/calorim_probe.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace calorim::probe {
namespace {

constexpr int kMethodNotFound = -32601;
constexpr int kToolFailed = -32000;
// How often a closed input is looked at again while lines read before it are
// still being handled.
constexpr int kInputRecheckMs = 100;

// The started, missing-window and unknown-tool texts. The name goes in as a
// JSON string, so the text stays valid JSON whatever the name holds.
std::string startedText(const std::string& name) {
  return R"({"status":"started","window":)" + Json(name).dump() + "}";
}
std::string errorText(const std::string& message) { return R"({"error":)" + Json(message).dump() + "}"; }

std::string stringArgument(const Json& arguments, const char* key, const char* fallback) {
  const auto it = arguments.find(key);
  return it != arguments.end() && it->is_string() ? it->get<std::string>() : fallback;
}

// Reads one line into `line`; false at end of input. A line longer than
// `limit` is drained without being kept and comes back empty with
// `tooLong` set.
bool readLine(std::istream& in, std::string& line, std::size_t limit, bool& tooLong) {
  line.clear();
  tooLong = false;
  std::streambuf& buffer = *in.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buffer.sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      return any;
    }
    any = true;
    if (c == '\n') return true;
    if (tooLong) continue;
    if (line.size() >= limit) {
      tooLong = true;
      line.clear();
      line.shrink_to_fit();
      continue;
    }
    line.push_back(static_cast<char>(c));
  }
}

std::string refusalText(PowerMetrics::WindowRefusal refusal) {
  switch (refusal) {
    case PowerMetrics::WindowRefusal::tooManyWindows:
      return errorText("too many open windows: at most " + std::to_string(PowerMetrics::kMaxWindows));
    case PowerMetrics::WindowRefusal::nameTooLong:
      return errorText("window name too long: at most " + std::to_string(PowerMetrics::kMaxWindowNameBytes) +
                       " bytes");
  }
  return errorText("window refused");
}

}  // namespace

HostWatch::HostWatch(int input, int output) : input_(input), output_(output) {
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

bool HostWatch::inputExhausted() const {
  int pending = 0;
  return ::ioctl(input_, FIONREAD, &pending) != 0 || pending == 0;
}

void HostWatch::watch() {
  // With no events asked for, poll still reports a hang-up or an error: a
  // pipe whose reader closed gives POLLERR on its write end, one whose writer
  // closed gives POLLHUP on its read end.
  bool watchOutput = true;
  bool inputClosed = false;
  bool watchInput = true;
  for (;;) {
    pollfd fds[3] = {{wake_[0], POLLIN, 0},
                     {watchOutput ? output_ : -1, 0, 0},
                     {watchInput && !inputClosed ? input_ : -1, 0, 0}};
    const int ready = ::poll(fds, 3, inputClosed ? kInputRecheckMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) {
      gone_.requestStop();
      return;
    }
    if ((fds[1].revents & POLLNVAL) != 0) watchOutput = false;
    if ((fds[2].revents & POLLNVAL) != 0) watchInput = false;
    if ((fds[2].revents & (POLLERR | POLLHUP)) != 0) inputClosed = true;
    if (inputClosed && state_ == State::lastCall && inputExhausted()) {
      gone_.requestStop();
      return;
    }
  }
}

CalorimProbe::CalorimProbe(std::shared_ptr<PowerService> service, Writer writer, HostWatch* watch)
    : service_(std::move(service)), writer_(std::move(writer)), watch_(watch) {}

Json CalorimProbe::tool(std::string_view name, std::string_view description, Json properties) {
  Json schema = Json::object();
  schema["type"] = "object";
  schema["properties"] = std::move(properties);
  Json entry = Json::object();
  entry["name"] = name;
  entry["description"] = description;
  entry["inputSchema"] = std::move(schema);
  return entry;
}

Json CalorimProbe::toolList() {
  const auto property = [](const char* type, const char* description) {
    Json p = Json::object();
    p["type"] = type;
    p["description"] = description;
    return p;
  };
  const Json none = Json::object();
  const Json windowName = Json{{"name", property("string", "Window name")}};
  return Json::array({
      tool("power_snapshot", "Take a power/thermal/utilization reading (1s sample)", none),
      tool("power_begin_window", "Start measuring energy for a named task", windowName),
      tool("power_end_window", "End measurement, return energy in Joules", windowName),
      tool("power_is_throttling", "Check if system is thermally throttling", none),
      tool("power_headroom", "Check GPU power headroom and thermal status", none),
      tool("power_cooldown", "Wait for temperature to drop below threshold",
           Json{{"target_temp", property("number", "Target temp in \u00B0C (default 80)")}}),
      tool("power_system_info", "Get chip model, core counts, memory", none),
  });
}

CalorimProbe::ToolResult CalorimProbe::handleTool(const std::string& name, const Json& arguments,
                                                  const Json& progressToken) {
  const StopToken stop = hostGone();
  if (name == "power_snapshot") return {encodeRecord(service_->snapshot(kSnapshotInterval, stop))};
  if (name == "power_begin_window") {
    const std::string window = stringArgument(arguments, "name", "default");
    if (const auto refusal = service_->beginWindow(window)) return {refusalText(*refusal), true};
    return {startedText(window)};
  }
  if (name == "power_end_window") {
    const std::string window = stringArgument(arguments, "name", "default");
    const std::optional<EnergyMetrics> energy = service_->endWindow(window);
    if (!energy) return {errorText("no window named '" + window + "'"), true};
    return {encodeRecord(*energy)};
  }
  if (name == "power_is_throttling") return {encodeRecord(service_->isThrottling(stop))};
  if (name == "power_headroom") return {encodeRecord(service_->headroom(stop))};
  if (name == "power_cooldown") {
    const auto it = arguments.find("target_temp");
    const double target = it != arguments.end() && it->is_number() ? it->get<double>() : kDefaultTargetTemp;
    PowerService::CooldownProgress progress;
    if (!progressToken.is_null()) {
      progress = [this, &progressToken](double waited) {
        Json params = Json::object();
        params["progressToken"] = progressToken;
        params["progress"] = waited;
        params["total"] = kCooldownTimeout;
        Json note = Json::object();
        note["jsonrpc"] = "2.0";
        note["method"] = "notifications/progress";
        note["params"] = std::move(params);
        send(note);
      };
    }
    return {encodeRecord(service_->waitForCooldown(target, kCooldownTimeout, progress, stop))};
  }
  if (name == "power_system_info") return {encodeRecord(service_->info())};
  return {errorText("unknown tool: " + name), true};
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

  const auto member = [&](const char* key) -> const Json* {
    const auto it = request.find(key);
    return it == request.end() ? nullptr : &*it;
  };
  const Json* idMember = member("id");
  const Json id = idMember != nullptr ? *idMember : Json(nullptr);
  const Json* methodMember = member("method");
  const std::string method = methodMember != nullptr && methodMember->is_string() ? methodMember->get<std::string>() : "";
  const Json* paramsMember = member("params");
  const Json params = paramsMember != nullptr && paramsMember->is_object() ? *paramsMember : Json::object();

  if (method.starts_with("notifications/")) return true;
  if (method == "initialize") {
    Json result = Json::object();
    result["protocolVersion"] = "2024-11-05";
    result["capabilities"] = Json{{"tools", Json::object()}};
    result["serverInfo"] = Json{{"name", "calorim-power"}, {"version", "0.2.0"}};
    return respond(id, result);
  }
  if (method == "tools/list") return respond(id, Json{{"tools", toolList()}});
  if (method == "tools/call") {
    const auto name = params.find("name");
    const auto arguments = params.find("arguments");
    Json progressToken = nullptr;
    if (const auto meta = params.find("_meta"); meta != params.end() && meta->is_object()) {
      if (const auto token = meta->find("progressToken");
          token != meta->end() && (token->is_string() || token->is_number_integer())) {
        progressToken = *token;
      }
    }
    ToolResult tool;
    try {
      tool = handleTool(name != params.end() && name->is_string() ? name->get<std::string>() : "",
                        arguments != params.end() && arguments->is_object() ? *arguments : Json::object(),
                        progressToken);
    } catch (const PMError& e) {
      if (hostGone().stopRequested()) return false;
      return respondError(id, kToolFailed, e.description());
    }
    // A call cut short because the host went away has no one to answer.
    if (hostGone().stopRequested()) {
      outputClosed_ = true;
      return false;
    }
    Json item = Json::object();
    item["type"] = "text";
    item["text"] = std::move(tool.text);
    Json result = Json::object();
    result["content"] = Json::array({std::move(item)});
    if (tool.isError) result["isError"] = true;
    return respond(id, result);
  }
  return respondError(id, kMethodNotFound, "Unknown method: " + method);
}

void CalorimProbe::run(std::istream& in) {
  std::string line;
  bool tooLong = false;
  while (readLine(in, line, kMaxLineBytes, tooLong)) {
    if (tooLong) continue;  // treated like a line that is not JSON
    if (watch_ != nullptr) watch_->beginCall(in.rdbuf()->in_avail() > 0);
    const bool goOn = handleLine(line);
    if (watch_ != nullptr) watch_->endCall();
    if (!goOn) return;
  }
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
             " (a VM, a container or a processor without RAPL): see \"Granting energy access\" in the README.\n";
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

  HostWatch watch(STDIN_FILENO, STDOUT_FILENO);
  CalorimProbe server(service, [](std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }, &watch);
  std::ios::sync_with_stdio(false);
  server.run(std::cin);
  return 0;
}

}  // namespace calorim::probe
