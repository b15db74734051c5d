// Feeds arbitrary bytes to the MCP server's line handler, one line per line
// feed, over a power service on the simulated machine with a fake clock (so no
// call waits). For every line the server must write nothing or exactly one
// message, progress notifications aside, and that message must be a compact
// JSON object {"jsonrpc":"2.0","id":...} with exactly one of "result" and
// "error"; its id is the request's, and a tool's text is itself valid JSON.
// A line that is not a JSON object, or that is a notification, gets nothing;
// nor does one nested too deep. A tool text that is an error object is
// flagged with "isError": true, and no other is.
// Anything else (a crash, an escaping exception, undefined behaviour caught by
// the sanitizers) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_service.h"
#include "probe/calorim_probe.h"

namespace {

using calorim::Json;

[[noreturn]] void fail(const char* what, std::string_view line, const std::vector<std::string>& output) {
  std::fprintf(stderr, "probe_line_fuzz: %s\nline: %.*s\n", what, static_cast<int>(line.size()), line.data());
  for (const std::string& text : output) std::fprintf(stderr, "out: %s", text.c_str());
  std::abort();
}

// Read as the server reads: text it refuses (too deep, bytes after the value)
// comes back discarded.
Json parsed(std::string_view text) { return calorim::readJson(text).value_or(Json(Json::value_t::discarded)); }

void checkProgress(const Json& note, std::string_view line, const std::vector<std::string>& output) {
  if (note.size() != 3 || !note.contains("jsonrpc") || note["jsonrpc"] != "2.0" || !note.contains("params") ||
      !note["params"].is_object() || !note["params"].contains("progressToken") ||
      !note["params"].contains("progress")) {
    fail("malformed progress notification", line, output);
  }
}

// The checks for one line and what the server wrote for it.
void checkExchange(std::string_view line, const std::vector<std::string>& output) {
  const Json* answer = nullptr;
  std::vector<Json> messages;
  messages.reserve(output.size());
  for (const std::string& text : output) {
    if (text.empty() || text.back() != '\n' || text.find('\n') != text.size() - 1) {
      fail("message is not exactly one line", line, output);
    }
    const std::string_view body = std::string_view(text).substr(0, text.size() - 1);
    messages.push_back(parsed(body));
    const Json& message = messages.back();
    if (!message.is_object()) fail("message is not a JSON object", line, output);
    if (message.dump() != body) fail("message is not compact JSON", line, output);
    if (message.contains("method") && message["method"] == "notifications/progress") {
      checkProgress(message, line, output);
      continue;
    }
    if (answer != nullptr) fail("more than one answer", line, output);
    answer = &message;
  }

  if (line.ends_with('\r')) line.remove_suffix(1);
  const Json request = parsed(line);
  const bool isNotification = request.is_object() && request.contains("method") && request["method"].is_string() &&
                              request["method"].get<std::string>().starts_with("notifications/");
  if (!request.is_object() || isNotification) {
    if (!output.empty()) fail("answer to a line that needs none", line, output);
    return;
  }
  if (answer == nullptr) return;  // a message that could not be written is dropped

  const Json& reply = *answer;
  if (reply.size() != 3 || !reply.contains("jsonrpc") || reply["jsonrpc"] != "2.0" || !reply.contains("id")) {
    fail("answer is not framed as JSON-RPC 2.0", line, output);
  }
  const auto id = request.find("id");
  if (reply["id"] != (id != request.end() ? *id : Json(nullptr))) fail("id not echoed", line, output);
  if (reply.contains("result") == reply.contains("error")) fail("need exactly one of result and error", line, output);
  if (reply.contains("error")) {
    const Json& error = reply["error"];
    if (!error.is_object() || error.size() != 2 || !error.contains("code") || !error["code"].is_number_integer() ||
        !error.contains("message") || !error["message"].is_string()) {
      fail("malformed error object", line, output);
    }
    return;
  }
  const Json& result = reply["result"];
  if (!result.is_object()) fail("result is not an object", line, output);
  if (const auto content = result.find("content"); content != result.end()) {
    if (!content->is_array() || content->size() != 1 || !(*content)[0].contains("text") ||
        !(*content)[0]["text"].is_string()) {
      fail("tool result is not one text item", line, output);
    }
    const Json text = parsed((*content)[0]["text"].get<std::string>());
    if (text.is_discarded()) fail("tool text is not JSON", line, output);
    const bool errorText = text.is_object() && text.contains("error");
    const auto flag = result.find("isError");
    if (errorText != (flag != result.end()) || (errorText && *flag != true)) {
      fail("isError does not match the tool text", line, output);
    }
  }
}

// The window a request begins, if it is a "power_begin_window" call.
std::optional<std::string> windowBegun(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  const Json request = parsed(line);
  const Json::json_pointer method("/method"), name("/params/name"), window("/params/arguments/name");
  if (!request.contains(method) || request.at(method) != "tools/call" || !request.contains(name) ||
      request.at(name) != "power_begin_window") {
    return std::nullopt;
  }
  return request.contains(window) && request.at(window).is_string() ? request.at(window).get<std::string>()
                                                                     : std::string("default");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Building the simulated machine and its service costs far more than most
  // inputs, so they live for the whole run; each input gets a new server, and
  // the windows it began are ended afterwards so that state stays bounded. The
  // fake clock keeps moving between inputs: readings differ from run to run,
  // but every property checked here holds for any reading.
  static calorim::fake::SimulatedMachine machine(calorim::fake::builtinProfile(), 1,
                                                 calorim::fake::SimulatedClock::fake);
  static const auto service = std::make_shared<calorim::PowerService>(machine.platform());
  std::vector<std::string> output;
  calorim::probe::CalorimProbe server(service, [&output](std::string_view text) {
    output.emplace_back(text);
    return true;
  });

  // One server for all lines of the input, so that sequences (a window begun,
  // then ended) are reached too.
  std::vector<std::string> windows;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    output.clear();
    server.handleLine(line);
    checkExchange(line, output);
    if (auto window = windowBegun(line)) windows.push_back(std::move(*window));
  }
  for (const std::string& window : windows) (void)service->endWindow(window);
  return 0;
}
