// End-to-end tests of the two server programs: each test starts the real
// executable as a child process and talks to it over pipes, as an MCP client
// does. Every read has a deadline, so a server that hangs fails the test
// instead of stalling it. The simulated machine runs on the real clock, so a
// snapshot takes about a second; most tools share one server process.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/json.h"

extern char** environ;

namespace calorim::probe {
namespace {

using Clock = std::chrono::steady_clock;

// "exit N" or "signal N", so that a failed expectation says what happened.
std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// A child process with pipes on its standard input, output and error.
class ChildProcess {
 public:
  struct Exit {
    int status = -1;
    double cpuSeconds = 0;  // user + system time the child used
  };

  explicit ChildProcess(std::vector<std::string> argv) {
    // Writing to a child that has gone must fail with EPIPE, not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2: " << std::strerror(errno);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The child starts with SIGPIPE at its default action, as under a real
    // client, whatever this test process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      ADD_FAILURE() << "posix_spawn " << argv[0] << ": " << std::strerror(rc);
    }
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Writes `bytes` to the child's standard input as they are.
  void write(std::string_view bytes) {
    ASSERT_GE(stdin_, 0) << "standard input already closed";
    while (!bytes.empty()) {
      const ssize_t n = ::write(stdin_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << "write to the child: " << std::strerror(errno);
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void send(std::string_view line) { write(std::string(line) + "\n"); }

  [[nodiscard]] pid_t pid() const { return pid_; }
  void closeInput() { closeFd(stdin_); }
  // Closes this end of the child's standard output, as a client that goes away does.
  void closeOutput() { closeFd(stdout_); }

  // The next line of standard output without its line feed; absent at end of
  // output. No line in time, or output ending inside a line, is a failure.
  std::optional<std::string> readLine(double timeoutSeconds = 10) {
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    for (;;) {
      if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
        std::string line = outBuffer_.substr(0, end);
        outBuffer_.erase(0, end + 1);
        return line;
      }
      if (outEnded_) {
        if (!outBuffer_.empty()) ADD_FAILURE() << "output ended inside a line: " << outBuffer_;
        return std::nullopt;
      }
      const Read read = readSome(stdout_, outBuffer_, deadline);
      if (read == Read::timeout) {
        ADD_FAILURE() << "no complete line within " << timeoutSeconds << " s; have: " << outBuffer_;
        return std::nullopt;
      }
      outEnded_ = read == Read::end;
    }
  }

  // Sends one request line and returns its one response, parsed.
  Json exchange(std::string_view line) {
    send(line);
    const std::optional<std::string> reply = readLine();
    if (!reply) return nullptr;
    const Json parsed = Json::parse(*reply, nullptr, false);
    EXPECT_TRUE(parsed.is_object()) << *reply;
    return parsed;
  }

  // Everything still to come on standard output, or on standard error, up to its end.
  std::string restOfOutput() {
    std::string text = std::exchange(outBuffer_, {});
    if (!outEnded_) text = readToEnd(stdout_, std::move(text));
    outEnded_ = true;
    return text;
  }
  std::string errorOutput() { return readToEnd(stderr_, {}); }

  // Waits for the child to end; past the deadline it is killed and the test fails.
  Exit wait(double timeoutSeconds = 10) {
    Exit result;
    if (pid_ <= 0) return result;
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    rusage usage{};
    for (;;) {
      const pid_t done = ::wait4(pid_, &result.status, WNOHANG, &usage);
      if (done == pid_) break;
      if (Clock::now() >= deadline) {
        ADD_FAILURE() << "the child did not end within " << timeoutSeconds << " s";
        ::kill(pid_, SIGKILL);
        ::wait4(pid_, &result.status, 0, &usage);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return result;
  }

 private:
  static Clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }

  static void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  enum class Read { data, end, timeout };

  // Appends what `fd` has, waiting for it until `deadline`.
  static Read readSome(int fd, std::string& into, Clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd, POLLIN, 0};
      const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return Read::timeout;
      char chunk[65536];
      const ssize_t n = ready > 0 ? ::read(fd, chunk, sizeof chunk) : -1;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Read::end;
      into.append(chunk, static_cast<std::size_t>(n));
      return Read::data;
    }
  }

  static std::string readToEnd(int fd, std::string text, double timeoutSeconds = 10) {
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    for (Read read = Read::data; read == Read::data;) {
      read = readSome(fd, text, deadline);
      if (read == Read::timeout) ADD_FAILURE() << "output did not end within " << timeoutSeconds << " s";
    }
    return text;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string outBuffer_;
  bool outEnded_ = false;
};

Json toolCall(const Json& id, std::string_view name, const Json& arguments = Json::object()) {
  Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}};
  request["params"] = Json{{"name", name}, {"arguments", arguments}};
  return request;
}

// The tool text of a successful call answering `id`, parsed as JSON (null when
// the text is not JSON). A text that is an {"error":...} object must come
// with "isError": true beside the content, and any other without it. The
// reply may be anything: a faulty server must fail the test, not crash it.
Json toolText(const Json& reply, const Json& id) {
  const Json::json_pointer idPath("/id"), typePath("/result/content/0/type"), textPath("/result/content/0/text");
  EXPECT_TRUE(reply.contains(idPath) && reply.at(idPath) == id) << reply.dump();
  if (!reply.contains(textPath) || !reply.at(textPath).is_string() || !reply.contains(typePath) ||
      reply.at(typePath) != "text" || reply.at("result").at("content").size() != 1) {
    ADD_FAILURE() << "not one text item: " << reply.dump();
    return nullptr;
  }
  Json text = Json::parse(reply.at(textPath).get<std::string>(), nullptr, false);
  const Json& result = reply.at("result");
  const bool isError = text.is_object() && text.contains("error");
  EXPECT_EQ(result.size(), isError ? 2u : 1u) << reply.dump();
  EXPECT_EQ(result.contains("isError") && result.at("isError") == true, isError) << reply.dump();
  return text;
}

// Resident memory of process `pid` in KiB, from /proc.
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

// JSON whose object members compare regardless of their order, which the
// protocol leaves open.
nlohmann::json unordered(const Json& value) { return nlohmann::json::parse(value.dump()); }
nlohmann::json unordered(const char* text) { return nlohmann::json::parse(text); }

std::vector<std::string> keysOf(const Json& object) {
  std::vector<std::string> keys;
  if (!object.is_object()) return keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

// Whether this machine has an energy counter the native backend could read.
bool hasReadableEnergyZone() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/sys/class/powercap", ec), end; !ec && it != end; it.increment(ec)) {
    std::ifstream energy(it->path() / "energy_uj");
    std::uint64_t microjoules = 0;
    if (energy >> microjoules) return true;
  }
  return false;
}

TEST(ProbeProcess, EveryToolOnTheSimulatedMachine) {
  ChildProcess server({PROBE_SIM_BINARY});

  // Current clients open with id 0 and a newer protocol version.
  EXPECT_EQ(unordered(server.exchange(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{)"
                                      R"("protocolVersion":"2025-06-18","capabilities":{},)"
                                      R"("clientInfo":{"name":"test","version":"1"}}})")),
            unordered(R"({"jsonrpc":"2.0","id":0,"result":{"protocolVersion":"2024-11-05",)"
                      R"("capabilities":{"tools":{}},"serverInfo":{"name":"calorim-power","version":"0.2.0"}}})"));
  server.send(R"({"jsonrpc":"2.0","method":"notifications/initialized"})");

  Json list = server.exchange(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})");
  ASSERT_EQ(list["result"]["tools"].size(), 7u) << list.dump();
  EXPECT_EQ(list["result"]["tools"][6]["name"], "power_system_info");

  // A window spanning a snapshot covers at least its second of energy.
  EXPECT_EQ(toolText(server.exchange(toolCall(2, "power_begin_window").dump()), 2),
            Json::parse(R"({"status":"started","window":"default"})"));

  Json snapshot = toolText(server.exchange(toolCall(3, "power_snapshot").dump()), 3);
  EXPECT_EQ(keysOf(snapshot),
            (std::vector<std::string>{"timestamp", "duration", "cpuPower", "gpuPower", "anePower", "dramPower",
                                      "totalPower", "eCpuPower", "pCpuPower", "cpuTemp", "gpuTemp", "coreTemps",
                                      "cpuUsage", "gpuUsage", "eCpuUsage", "pCpuUsage", "cpuUsagePerCore",
                                      "gpuFreqMHz", "memBandwidth", "fans", "energyBreakdown"}))
      << snapshot.dump();
  EXPECT_EQ(snapshot["duration"], 1.0);
  EXPECT_TRUE(std::regex_match(snapshot.value("timestamp", ""), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
      << snapshot["timestamp"];
  EXPECT_GT(snapshot.value("totalPower", 0.0), 0.0);

  Json energy = toolText(server.exchange(toolCall(4, "power_end_window").dump()), 4);
  EXPECT_EQ(keysOf(energy), (std::vector<std::string>{"duration", "cpuEnergy", "gpuEnergy", "aneEnergy",
                                                      "dramEnergy", "totalEnergy"}))
      << energy.dump();
  EXPECT_GE(energy.value("duration", 0.0), 1.0);
  EXPECT_GT(energy.value("totalEnergy", 0.0), 0.0);
  EXPECT_EQ(toolText(server.exchange(toolCall(5, "power_end_window").dump()), 5),
            Json::parse(R"({"error":"no window named 'default'"})"));

  Json throttle = toolText(server.exchange(toolCall(6, "power_is_throttling").dump()), 6);
  EXPECT_EQ(throttle["throttling"], false) << throttle.dump();
  EXPECT_GT(throttle.value("cpuTemp", 0.0), 0.0);

  Json headroom = toolText(server.exchange(toolCall(7, "power_headroom").dump()), 7);
  EXPECT_EQ(keysOf(headroom),
            (std::vector<std::string>{"gpuPowerW", "estimatedTDPW", "usedPercent", "thermalOk", "canAddWork"}));
  EXPECT_EQ(headroom["estimatedTDPW"], 35.0);  // the "Pro" budget of the built-in chip

  Json info = toolText(server.exchange(toolCall(8, "power_system_info").dump()), 8);
  EXPECT_EQ(info["chipName"], "Apple M3 Pro") << info.dump();
  EXPECT_EQ(info["machineName"], "MacBook Pro (simulated)");

  // Any real temperature is below 200 °C: cooled after the first one-second
  // sample, and no progress notification precedes the answer.
  Json cooldown = toolCall(9, "power_cooldown", {{"target_temp", 200}});
  cooldown["params"]["_meta"] = {{"progressToken", "t"}};
  Json cooled = toolText(server.exchange(cooldown.dump()), 9);
  EXPECT_EQ(cooled["cooledDown"], true) << cooled.dump();
  EXPECT_GE(cooled.value("waitedSeconds", 0.0), 1.0);
  EXPECT_LT(cooled.value("waitedSeconds", 99.0), 10.0);

  EXPECT_EQ(toolText(server.exchange(toolCall(10, "power_nothing").dump()), 10),
            Json::parse(R"({"error":"unknown tool: power_nothing"})"));

  server.closeInput();
  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.errorOutput(), "");
  EXPECT_EQ(describeStatus(server.wait().status), "exit 0");
}

TEST(ProbeProcess, IdsFramingAndLinesWithoutAnswers) {
  ChildProcess server({PROBE_SIM_BINARY});
  const auto idOf = [&](std::string_view line) { return server.exchange(line)["id"].dump(); };

  // Answered before any "initialize"; ids come back as they were parsed.
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})"), "7");
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","id":"abc","method":"tools/list"})"), R"("abc")");
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","id":9007199254740993,"method":"tools/list"})"), "9007199254740993");
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","method":"tools/list"})"), "null");
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","id":null,"method":"tools/list"})"), "null");

  // None of these is answered: the next line out answers the request after them.
  for (const char* line : {"", "   ", "[1,2,3]", "{\"id\":1,", "not json", "\"text\"",
                           R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
                           R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":3}})",
                           R"({"jsonrpc":"2.0","id":5,"method":"notifications/progress"})"}) {
    server.send(line);
  }
  EXPECT_EQ(idOf(R"({"jsonrpc":"2.0","id":"after","method":"tools/list"})"), R"("after")");

  Json reply = server.exchange(R"({"jsonrpc":"2.0","id":11,"method":"ping"})");
  EXPECT_EQ(unordered(reply["error"]), unordered(R"({"code":-32601,"message":"Unknown method: ping"})"))
      << reply.dump();
  EXPECT_FALSE(reply.contains("result"));

  // No params: the unknown-tool text for the empty name, as a result.
  reply = server.exchange(R"({"jsonrpc":"2.0","id":12,"method":"tools/call"})");
  EXPECT_EQ(toolText(reply, 12), Json::parse(R"({"error":"unknown tool: "})"));

  // A name needing escapes comes back inside valid JSON.
  reply = server.exchange(toolCall(13, "power_begin_window", {{"name", "a\"b\\c\td"}}).dump());
  EXPECT_EQ(toolText(reply, 13)["window"], "a\"b\\c\td");

  // CR LF, then a last line without terminator after a CR LF one.
  server.write("{\"jsonrpc\":\"2.0\",\"id\":14,\"method\":\"tools/list\"}\r\n");
  const std::optional<std::string> crlf = server.readLine();
  ASSERT_TRUE(crlf.has_value());
  EXPECT_EQ(crlf->find('\r'), std::string::npos);
  EXPECT_EQ(Json::parse(*crlf)["id"], 14);
  server.write(R"({"jsonrpc":"2.0","id":15,"method":"tools/list"})");
  server.closeInput();
  const std::optional<std::string> last = server.readLine();
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(Json::parse(*last)["id"], 15);

  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.errorOutput(), "");
  EXPECT_EQ(describeStatus(server.wait().status), "exit 0");
}

TEST(ProbeProcess, EndOfInputWithoutRequests) {
  ChildProcess silent({PROBE_SIM_BINARY});
  ChildProcess ignored({PROBE_SIM_BINARY});  // both start at once: starting takes a second
  silent.closeInput();
  ignored.write("\n\r\n[]\n{\"method\":\"notifications/initialized\"}");
  ignored.closeInput();
  for (ChildProcess* server : {&silent, &ignored}) {
    EXPECT_EQ(server->restOfOutput(), "");
    EXPECT_EQ(server->errorOutput(), "");
    EXPECT_EQ(describeStatus(server->wait().status), "exit 0");
  }
}

TEST(ProbeProcess, ClientClosingOutputEndsTheServerQuietly) {
  ChildProcess server({PROBE_SIM_BINARY});
  ASSERT_EQ(server.exchange(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})")["id"], 1);
  server.closeOutput();
  // The answer cannot be written. Standard input stays open: the server must
  // notice by itself, without dying of SIGPIPE and without busy-looping.
  server.send(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})");
  const ChildProcess::Exit exit = server.wait();
  EXPECT_EQ(describeStatus(exit.status), "exit 0");
  EXPECT_LT(exit.cpuSeconds, 2.0);
  EXPECT_EQ(server.errorOutput(), "");
}

// Hostile lines: each is refused before anything deep is built and gets no
// answer, and the request after it is answered as usual.
TEST(ProbeProcess, DeeplyNestedAndTrailingBytesLinesAreIgnored) {
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  const std::string deepObject = [] {
    std::string text;
    for (int i = 0; i < 100'000; ++i) text += R"({"a":)";
    return text + "1" + std::string(100'000, '}');
  }();
  const std::pair<const char*, std::string> lines[] = {
      {"member before the method", R"({"x":)" + deep + R"(,"jsonrpc":"2.0","id":1,"method":"tools/list"})"},
      {"inside params", R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":)" + deepObject + "}"},
      {"as the id", R"({"jsonrpc":"2.0","id":)" + deep + R"(,"method":"tools/list"})"},
      {"inside tool arguments", R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{)"
                                R"("name":"power_begin_window","arguments":{"name":"x","y":)" + deep + "}}}"},
      {"never closed", std::string(100'000, '[')},
      {"NUL after the request", std::string(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})") + '\0' + "x"},
      {"a second value", R"({"jsonrpc":"2.0","id":1,"method":"tools/list"} {"id":2})"},
  };
  ChildProcess server({PROBE_SIM_BINARY});
  int id = 100;
  for (const auto& [name, line] : lines) {
    server.send(line);
    const Json reply = server.exchange(Json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", "tools/list"}}.dump());
    EXPECT_EQ(reply["id"], id) << name;
  }
  server.closeInput();
  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.errorOutput(), "");
  EXPECT_EQ(describeStatus(server.wait().status), "exit 0");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

TEST(ProbeProcess, OpenWindowsAreBoundedAndRefusalsFlagged) {
  ChildProcess server({PROBE_SIM_BINARY});
  const auto begin = [&](int id, const std::string& name) {
    return toolText(server.exchange(toolCall(id, "power_begin_window", {{"name", name}}).dump()), id);
  };
  const Json tooMany = Json::parse(R"({"error":"too many open windows: at most 1024"})");
  // Settle the process before measuring: the first calls allocate for good.
  EXPECT_EQ(begin(1, "w1")["window"], "w1");
  const long before = residentKiB(server.pid());
  int refused = 0;
  for (int i = 2; i <= 5000; ++i) {
    const Json text = begin(i, "w" + std::to_string(i));
    if (i <= 1024) {
      ASSERT_EQ(text["window"], "w" + std::to_string(i));
    } else {
      ASSERT_EQ(text, tooMany) << i;
      ++refused;
    }
  }
  const long grown = residentKiB(server.pid()) - before;
  std::printf("resident memory grew %ld KiB over 5,000 distinct windows (%d refused)\n", grown, refused);
  EXPECT_EQ(refused, 5000 - 1024);
  // AddressSanitizer keeps freed blocks in quarantine and pads every block, so
  // resident memory says nothing about the windows kept there.
  if (!kUnderAddressSanitizer) {
    EXPECT_LT(grown, 48 * 1024);
  }

  // Refused names were never stored; ending a window frees its slot.
  EXPECT_EQ(toolText(server.exchange(toolCall(1, "power_end_window", {{"name", "w5000"}}).dump()), 1),
            Json::parse(R"({"error":"no window named 'w5000'"})"));
  EXPECT_TRUE(toolText(server.exchange(toolCall(2, "power_end_window", {{"name", "w7"}}).dump()), 2)
                  .contains("totalEnergy"));
  EXPECT_EQ(begin(3, "w5000")["window"], "w5000");
  EXPECT_EQ(begin(4, "w7"), tooMany);
  EXPECT_EQ(begin(5, "w5000")["window"], "w5000");  // restarting an open window

  EXPECT_EQ(begin(6, std::string(1025, 'n')), Json::parse(R"({"error":"window name too long: at most 1024 bytes"})"));
  EXPECT_TRUE(toolText(server.exchange(toolCall(7, "power_end_window", {{"name", "w1"}}).dump()), 7)
                  .contains("totalEnergy"));
  EXPECT_EQ(begin(8, std::string(1024, 'n'))["window"], std::string(1024, 'n'));
}

// The host closing its end of a pipe while a cooldown waits ends the server
// at once, quietly; the wait would otherwise last a minute.
TEST(ProbeProcess, HostGoneEndsAWaitingCooldown) {
  for (const bool closeOutput : {true, false}) {
    SCOPED_TRACE(closeOutput ? "standard output closed" : "standard input closed");
    ChildProcess server({PROBE_SIM_BINARY});
    Json cooldown = toolCall(1, "power_cooldown", {{"target_temp", -1}});  // never reached
    cooldown["params"]["_meta"] = {{"progressToken", "t"}};
    server.send(cooldown.dump());
    const std::optional<std::string> progress = server.readLine();  // one second in: surely waiting
    ASSERT_TRUE(progress.has_value());
    ASSERT_NE(progress->find("notifications/progress"), std::string::npos) << *progress;
    const auto closed = Clock::now();
    if (closeOutput) {
      server.closeOutput();
    } else {
      server.closeInput();
    }
    const ChildProcess::Exit exit = server.wait(10);
    const double seconds = std::chrono::duration<double>(Clock::now() - closed).count();
    std::printf("%s: the server ended %.3f s after it\n", closeOutput ? "standard output closed" : "standard input closed", seconds);
    EXPECT_EQ(describeStatus(exit.status), "exit 0");
    EXPECT_LT(seconds, 3.0);
    if (!closeOutput) {
      EXPECT_EQ(server.restOfOutput(), "");
    }
    EXPECT_EQ(server.errorOutput(), "");
  }
}

TEST(ProbeProcess, StartFailureOnAMachineWithoutEnergyCounters) {
  if (hasReadableEnergyZone()) {
    GTEST_SKIP() << "this machine has a readable energy counter under /sys/class/powercap, "
                    "so calorim-probe starts here and its start failure cannot be seen";
  }
  ChildProcess server({PROBE_BINARY});  // standard input stays open: it must not wait for it
  // The first line for callers that match it, then which case this machine is in.
  const std::string errors = server.errorOutput();
  const std::string first = "Failed to start: channelNotFound(\"Energy Model\")\n";
  EXPECT_EQ(errors.substr(0, first.size()), first);
  const std::string second = errors.substr(std::min(first.size(), errors.size()));
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
  EXPECT_NE(second.find("/sys/class/powercap"), std::string::npos) << second;
  EXPECT_NE(second.find("\"Granting energy access\" in the README"), std::string::npos) << second;
  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(describeStatus(server.wait().status), "exit 1");
}

TEST(ProbeProcess, SimulatorProfileArgument) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("calorim_probe_process_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto writeFile = [&](const char* name, std::string_view text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  const std::string good = writeFile(
      "good.json",
      R"({"counters":[{"group":"Energy Model","name":"CPU Energy","watts":1}],)"
      R"("systemValues":{"machdep.cpu.brand_string":"Apple M9 Test"}})");
  const std::string bad = writeFile("bad.json", R"({"counters":5})");
  const std::string deep =
      writeFile("deep.json", R"({"name":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}");
  const std::string missing = (dir / "missing.json").string();

  {
    ChildProcess server({PROBE_SIM_BINARY, good});
    const Json info = toolText(server.exchange(toolCall(1, "power_system_info").dump()), 1);
    EXPECT_EQ(info["chipName"], "Apple M9 Test");
    EXPECT_EQ(info["machineName"], "Unknown Mac (simulated)");
    server.closeInput();
    EXPECT_EQ(describeStatus(server.wait().status), "exit 0");
  }
  // A device that never ends is refused at the size bound, not read for ever.
  for (const std::string& path : {bad, deep, missing, std::string("/dev/zero")}) {
    ChildProcess server({PROBE_SIM_BINARY, path});
    const std::string message = server.errorOutput();
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_EQ(server.restOfOutput(), "");
    EXPECT_EQ(describeStatus(server.wait().status), "exit 2") << path;
  }
  {
    ChildProcess server({PROBE_SIM_BINARY, good, good});
    EXPECT_NE(server.errorOutput().find("usage:"), std::string::npos);
    EXPECT_EQ(describeStatus(server.wait().status), "exit 2");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace calorim::probe
