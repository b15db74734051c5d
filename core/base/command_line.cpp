#include "core/base/command_line.h"

#include <cstdio>

namespace calorim::cli {
namespace {

const OptionSpec* find(std::span<const OptionSpec> options, std::string_view name) {
  for (const OptionSpec& option : options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

void write(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

const ParsedOption* Arguments::last(std::string_view name) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it) {
    if (it->name == name) return &*it;
  }
  return nullptr;
}

std::variant<Arguments, InfoRequest, UsageError> parse(const std::vector<std::string>& args,
                                                       std::span<const OptionSpec> options,
                                                       PositionalSpec positional) {
  Arguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      if (parsed.positional.size() >= positional.max) {
        if (positional.max == 0) return UsageError{"unexpected argument '" + arg + "'"};
        return UsageError{"unexpected argument '" + arg + "' after " + std::string(positional.name)};
      }
      parsed.positional.push_back(arg);
      optionsEnded = optionsEnded || positional.firstEndsOptions;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return InfoRequest::help;
    if (arg == "--version") return InfoRequest::version;

    const std::size_t equals = arg.find('=');
    const std::string_view name = std::string_view(arg).substr(0, equals);
    const OptionSpec* spec = name.starts_with("--") ? find(options, name) : nullptr;
    if (spec == nullptr) return UsageError{"unknown option '" + std::string(name) + "'"};
    const std::string value = std::string(spec->valueName);

    ParsedOption option{std::string(spec->name), std::nullopt};
    if (equals != std::string::npos) {
      if (spec->value == Value::none) return UsageError{std::string(name) + " takes no value"};
      option.value = arg.substr(equals + 1);
      if (option.value->empty()) return UsageError{std::string(name) + " needs " + value};
    } else if (spec->value == Value::required) {
      if (i + 1 >= args.size()) return UsageError{std::string(name) + " needs " + value};
      option.value = args[++i];
    } else if (spec->value == Value::optional && i + 1 < args.size() && !args[i + 1].starts_with("-")) {
      option.value = args[++i];
    }
    parsed.options.push_back(std::move(option));
  }
  return parsed;
}

std::string usageErrorLine(std::string_view program, const UsageError& error) {
  return std::string(program) + ": " + error.message + " (see " + std::string(program) + " --help)\n";
}

int printInfo(InfoRequest request, std::string_view program, std::string_view helpText, std::string_view version) {
  if (request == InfoRequest::help) {
    write(stdout, helpText);
  } else {
    write(stdout, std::string(program) + " " + std::string(version) + "\n");
  }
  return 0;
}

int printUsageError(std::string_view program, const UsageError& error) {
  write(stderr, usageErrorLine(program, error));
  return kUsageExitStatus;
}

}  // namespace calorim::cli
