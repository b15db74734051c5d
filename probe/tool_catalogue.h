#pragma once
// The server's tools: one table entry per tool holds what "tools/list" shows
// of it (name, title, description, behaviour hints, the JSON Schema of its
// arguments and of its result) and the function that runs it. Adding a tool is
// adding one entry.
//
// Every tool answers with JSON text. When that text is a record, the record's
// object also goes back as `structured`, and the tool's `outputSchema`
// describes it member by member, with each figure's unit in its description.
// The schemas are checked against the records' own JSON writers by the tests.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "core/platform/stop_signal.h"
#include "core/power_service.h"
#include "core/process_power.h"

namespace calorim::probe {

// The longest "power_cooldown" waits for its target, in seconds.
inline constexpr double kCooldownTimeout = 60.0;

// What a tool's function gets. `arguments` is an object whose members have
// already been checked against the tool's input schema (`argumentError`).
struct ToolCall {
  PowerService& service;
  const Json& arguments;
  StopToken stop;                                // the host cancelled the call or went away
  const PowerService::CooldownProgress& progress;  // may be empty
};

// A tool's answer. `text` is JSON; when `isError`, it is {"error":"..."} and
// `structured` is null, otherwise `structured` is the text's object for tools
// with an output schema.
struct ToolResult {
  std::string text;
  bool isError = false;
  Json structured;
};

struct Tool {
  const char* name;
  const char* title;
  const char* description;
  bool readOnly;    // changes nothing, not even the server's own windows
  bool idempotent;  // a repeated call with the same arguments changes nothing more
  // Argument name → {"type" (string, number, integer or boolean), "description"}
  // and, for numbers, "minimum" and "maximum".
  // Every argument is optional.
  Json inputProperties;
  Json outputSchema;
  // Throws the service's PMError when a sample cannot be taken.
  ToolResult (*run)(const ToolCall& call);
};

// Every tool, in the order "tools/list" shows them.
[[nodiscard]] const std::vector<Tool>& toolCatalogue();

// The tool called `name`, or nullptr.
[[nodiscard]] const Tool* findTool(std::string_view name);

// The error text for the first argument that does not fit its property: not of
// its type, not a finite number, or outside its range. A null member counts as
// left out; members the tool does not take are ignored. std::nullopt when every
// argument fits.
[[nodiscard]] std::optional<std::string> argumentError(const Tool& tool, const Json& arguments);

// {"error": message} as compact text; whatever the message holds, the text is JSON.
[[nodiscard]] std::string errorText(const std::string& message);

// The JSON Schema of the "inputSchema" member: an object of `properties`.
[[nodiscard]] Json inputSchema(const Tool& tool);

// A record's answer: its text and object, or an error when the record holds a
// number JSON cannot carry.
template <class T>
[[nodiscard]] ToolResult recordResult(const T& record) {
  try {
    Json object = record;
    std::string text = object.dump();
    return {std::move(text), false, std::move(object)};
  } catch (const std::exception&) {
    return {errorText("the reading holds a number that JSON cannot carry"), true, nullptr};
  }
}

}  // namespace calorim::probe
