#include "probe/calorim_probe.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace calorim::probe {
namespace {

constexpr int kMethodNotFound = -32601;
constexpr int kToolFailed = -32000;

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

}  // namespace

CalorimProbe::CalorimProbe(std::shared_ptr<PowerService> service, Writer writer)
    : service_(std::move(service)), writer_(std::move(writer)) {}

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

std::string CalorimProbe::handleTool(const std::string& name, const Json& arguments, const Json& progressToken) {
  if (name == "power_snapshot") return encodeRecord(service_->snapshot(kSnapshotInterval));
  if (name == "power_begin_window") {
    const std::string window = stringArgument(arguments, "name", "default");
    service_->beginWindow(window);
    return startedText(window);
  }
  if (name == "power_end_window") {
    const std::string window = stringArgument(arguments, "name", "default");
    const std::optional<EnergyMetrics> energy = service_->endWindow(window);
    return energy ? encodeRecord(*energy) : errorText("no window named '" + window + "'");
  }
  if (name == "power_is_throttling") return encodeRecord(service_->isThrottling());
  if (name == "power_headroom") return encodeRecord(service_->headroom());
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
    return encodeRecord(service_->waitForCooldown(target, kCooldownTimeout, progress));
  }
  if (name == "power_system_info") return encodeRecord(service_->info());
  return errorText("unknown tool: " + name);
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
  const Json request = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return true;  // not JSON, or not an object: no answer

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
    std::string text;
    try {
      text = handleTool(name != params.end() && name->is_string() ? name->get<std::string>() : "",
                        arguments != params.end() && arguments->is_object() ? *arguments : Json::object(),
                        progressToken);
    } catch (const PMError& e) {
      return respondError(id, kToolFailed, e.description());
    }
    Json item = Json::object();
    item["type"] = "text";
    item["text"] = std::move(text);
    return respond(id, Json{{"content", Json::array({std::move(item)})}});
  }
  return respondError(id, kMethodNotFound, "Unknown method: " + method);
}

void CalorimProbe::run(std::istream& in) {
  std::string line;
  bool tooLong = false;
  while (readLine(in, line, kMaxLineBytes, tooLong)) {
    if (tooLong) continue;  // treated like a line that is not JSON
    if (!handleLine(line)) return;
  }
}

int mcpMain(const std::function<std::shared_ptr<Platform>()>& platform) {
  // A reader that closed its end makes writes fail with EPIPE instead of killing us.
  std::signal(SIGPIPE, SIG_IGN);
  std::setbuf(stdout, nullptr);

  std::shared_ptr<PowerService> service;
  try {
    service = std::make_shared<PowerService>(platform(), StartUpWork::inBackground);
  } catch (const PMError& e) {
    const std::string message = "Failed to start: " + e.caseName() + "\n";
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
  std::ios::sync_with_stdio(false);
  server.run(std::cin);
  return 0;
}

}  // namespace calorim::probe
