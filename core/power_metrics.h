#pragma once
// The one object through which the product measures the machine: a complete
// `PowerSnapshot` over an interval, named energy windows giving
// `EnergyMetrics`, a stream of snapshots, and the machine's description.
//
// `sample` blocks its thread for the interval (through the platform's clock)
// and must not run on two threads at once; window operations may run on any
// thread, also while a sample is being taken.

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "core/cpu_usage_sampler.h"
#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/machine_description.h"
#include "core/platform/platform.h"
#include "core/platform/stop_signal.h"
#include "core/records.h"
#include "core/smc_thermal.h"

namespace calorim {

class PowerMetrics;

// Where the slow, infallible start-up work of the facade and the service
// (probing the SMC's keys, producing the hardware report) is done.
enum class StartUpWork {
  inCreation,    // before the constructor returns
  inBackground,  // on a worker; the first call that needs its result waits for it
};

// Snapshots taken one after another on a thread of their own and buffered
// without bound until the consumer takes them. Failed samples, and those
// that overran their interval (see `PowerMetrics::overran`), are skipped.
// Stopping (or destroying the stream) ends the producer promptly, also in the
// middle of an interval. The facade must outlive the stream.
class SnapshotStream {
 public:
  SnapshotStream(PowerMetrics& metrics, double interval);
  ~SnapshotStream();
  SnapshotStream(const SnapshotStream&) = delete;
  SnapshotStream& operator=(const SnapshotStream&) = delete;

  // The next snapshot, waiting for it if needed; absent once the stream has
  // been stopped and the buffer is empty.
  [[nodiscard]] std::optional<PowerSnapshot> next();
  // Ends the producer and waits for it; snapshots already buffered stay readable.
  void stop();

 private:
  void produce(StopToken stop, PowerMetrics& metrics, double interval);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<PowerSnapshot> buffer_;
  bool finished_ = false;
  StopSource stopping_;
  std::thread producer_;  // last: started when everything above is in place
};

class PowerMetrics {
 public:
  // Pause after a failed sample in a stream, so a broken source does not spin.
  static constexpr double kStreamRetryPause = 0.5;

  // Creates the counter sampler first, then the thermal readers and the CPU
  // tick sampler (whose first reading is taken now). Throws the counter
  // sampler's PMError. The SMC reader's key probing is done as `startUp` says;
  // in the background it uses the SMC port and the clock beside the caller, and
  // the end of the first sample waits for it.
  // With `optional` energy the facade also starts without the energy group
  // (see `hasEnergy`); its snapshots then carry no power (every figure 0), and
  // windows give no energy worth reporting.
  explicit PowerMetrics(std::shared_ptr<Platform> platform, StartUpWork startUp = StartUpWork::inCreation,
                        EnergyCounters energy = EnergyCounters::required);
  ~PowerMetrics();
  PowerMetrics(const PowerMetrics&) = delete;
  PowerMetrics& operator=(const PowerMetrics&) = delete;

  // A snapshot over about `interval` seconds. Its `duration` is the span
  // between the two counter readings as the platform's monotonic clock
  // measured it, and every power figure is the energy over that span: a wait
  // that ran long (a busy or napping process) leaves the watts right.
  // Blocks for the interval. Throws PMError::sampleFailed when a counter
  // sample cannot be taken, and when `stop` is requested before the snapshot
  // is complete: the rest of it is then skipped, the wait for the sensors'
  // probing included.
  [[nodiscard]] PowerSnapshot sample(double interval, StopToken stop = {});

  // Whether `snapshot`, asked for over `interval` seconds, spans more than
  // twice that and more than kOverrunSlack beyond it: the machine slept, or
  // the process was held, between its readings. Its figures are averages over
  // a stretch nobody asked about; it is not shown as a reading. (The slack
  // keeps a busy machine's scheduling delays from discarding short samples.)
  [[nodiscard]] static bool overran(const PowerSnapshot& snapshot, double interval);
  static constexpr double kOverrunSlack = 1.0;

  // Open windows and the length of a window name are bounded, so that no
  // client can make the process grow without end.
  static constexpr std::size_t kMaxWindows = 1024;
  static constexpr std::size_t kMaxWindowNameBytes = 1024;

  // Why `beginWindow` stored nothing although it could have sampled.
  enum class WindowRefusal { tooManyWindows, nameTooLong };

  // Starts (or restarts) the window `name`. When the starting sample cannot be
  // taken nothing is stored and an earlier window stays. A name longer than
  // kMaxWindowNameBytes, or a new name while kMaxWindows are open, is refused
  // and nothing is stored; restarting an open window is always allowed.
  [[nodiscard]] std::optional<WindowRefusal> beginWindow(const std::string& name);
  // Ends the window `name` and gives its energy since the begin; absent when
  // no such window is open or a reading fails. A window ends only once.
  [[nodiscard]] std::optional<EnergyMetrics> endWindow(const std::string& name);
  // Gives the energy of the window `name` since its begin or its last split,
  // and goes on from the same reading, so that consecutive stretches add up
  // to the whole with nothing lost between them. Splitting a long window often
  // enough catches every wrap-around of the counters, which one delta over
  // the whole would miss. Absent when no such window is open or a reading
  // fails; the window then stays open from its last good reading.
  [[nodiscard]] std::optional<EnergyMetrics> splitWindow(const std::string& name);

  // Snapshots over `interval` seconds, one after another, until stopped.
  [[nodiscard]] std::unique_ptr<SnapshotStream> stream(double interval);

  [[nodiscard]] Platform& platform() { return *platform_; }
  // What the machine measures and is made of: its hardware as read at
  // creation; its figures as the latest sample's channels and sensors showed
  // them. Before the first sample the figures come from two raw samples taken
  // back to back and one reading of the sensors; that first call must not run
  // beside `sample`. Later calls may run on any thread.
  [[nodiscard]] MachineDescription description();
  // The machine's GPUs one by one, as the latest sample read them (see
  // `gpuFigures` in core/machine_description.h); empty before the first
  // sample and on a machine that does not list its GPUs one by one (a Mac's
  // one GPU is the chip's). Any thread.
  [[nodiscard]] std::vector<GpuFigures> gpuFigures();
  // Whether the energy counters are sampled: always with `required` energy.
  [[nodiscard]] bool hasEnergy() const { return sampler_.hasEnergy(); }

 private:
  struct Window {
    std::chrono::steady_clock::time_point start;
    std::unique_ptr<RawSample> sample;
  };

  [[nodiscard]] std::unique_ptr<RawSample> takeRawSample();
  // The energy between `window`'s reading and `end`, read at `endTime`.
  [[nodiscard]] std::optional<EnergyMetrics> energyBetween(const Window& window, const RawSample& end,
                                                           std::chrono::steady_clock::time_point endTime);
  // The SMC reader, once its probing has finished; null when `stop` is
  // requested first.
  [[nodiscard]] SMCThermal* thermal(const StopToken& stop);

  std::shared_ptr<Platform> platform_;  // first, so it outlives the readers below
  IOReportSampler sampler_;
  StopSource startUpStop_;  // ends background probing early when the facade goes away
  std::future<std::unique_ptr<SMCThermal>> probing_;  // until `thermal_` is taken from it
  std::unique_ptr<SMCThermal> thermal_;
  IOHIDThermal hidThermal_;
  CPUUsageSampler cpuUsageSampler_;
  MachineDescription hardware_;  // the description's hardware, read at creation
  std::mutex descriptionLock_;   // guards `figures_` and `gpus_`
  std::optional<MeasuredFigures> figures_;
  std::vector<GpuFigures> gpus_;
  std::mutex lock_;  // guards `windows_` only
  std::map<std::string, Window, std::less<>> windows_;
};

}  // namespace calorim
