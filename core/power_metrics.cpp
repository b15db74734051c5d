#include "core/power_metrics.h"

#include <chrono>

#include "core/all_power.h"

namespace calorim {

namespace {

std::unique_ptr<SMCThermal> makeThermal(Platform& platform, const StopToken& stop) {
  return std::make_unique<SMCThermal>(*platform.smc, *platform.clock, stop);
}

}  // namespace

PowerMetrics::PowerMetrics(std::shared_ptr<Platform> platform, StartUpWork startUp, EnergyCounters energy)
    : platform_(std::move(platform)),
      sampler_(*platform_->counters, *platform_->registry, energy),
      probing_(startUp == StartUpWork::inBackground
                   ? std::async(std::launch::async, makeThermal, std::ref(*platform_), startUpStop_.token())
                   : std::future<std::unique_ptr<SMCThermal>>()),
      thermal_(startUp == StartUpWork::inCreation ? makeThermal(*platform_, {}) : nullptr),
      hidThermal_(*platform_->hid),
      cpuUsageSampler_(*platform_->host),
      hardware_(describeHardware(*platform_)) {}

// Probing still under way ends at its next key; the future then waits for it.
PowerMetrics::~PowerMetrics() { startUpStop_.requestStop(); }

SMCThermal* PowerMetrics::thermal(const StopToken& stop) {
  // The probing takes a few seconds at most, once: looking for a stop
  // request every few milliseconds costs nothing worth a wake-up signal.
  static constexpr auto kStopCheck = std::chrono::milliseconds(5);
  if (!thermal_) {
    while (probing_.wait_for(kStopCheck) != std::future_status::ready) {
      if (stop.stopRequested()) return nullptr;
    }
    thermal_ = probing_.get();
  }
  return thermal_.get();
}

std::unique_ptr<RawSample> PowerMetrics::takeRawSample() {
  return platform_->counters->createSamples(sampler_.subscription(), sampler_.channels());
}

PowerSnapshot PowerMetrics::sample(double interval, StopToken stop) {
  CounterReportPort& counters = *platform_->counters;
  ClockPort& clock = *platform_->clock;
  const auto start = clock.now();

  const auto failed = [&] { return PMError::sampleFailed(counters.failureText(CounterFailure::sampleFailed, {})); };
  const std::unique_ptr<RawSample> a = takeRawSample();
  if (!a) throw failed();
  const auto readA = clock.steadyNow();
  // Stopped: the rest is skipped, and nobody reads the error.
  if (!clock.sleep(interval, stop)) throw PMError::sampleFailed();
  const std::unique_ptr<RawSample> b = takeRawSample();
  if (!b) throw failed();
  const auto readB = clock.steadyNow();
  const std::optional<CounterDelta> delta = counters.createSamplesDelta(*a, *b);
  if (!delta) throw failed();
  SMCThermal* const smcThermal = thermal(stop);
  if (smcThermal == nullptr) throw PMError::sampleFailed();

  const double duration = std::chrono::duration<double>(readB - readA).count();
  const PowerReading power = IOReportSampler::parsePower(*delta, duration);
  const UsageReading usage = IOReportSampler::parseUsage(*delta);
  CPUUsageSampler::Usage cpu = cpuUsageSampler_.sample();
  const BandwidthReading bandwidth = IOReportSampler::parseBandwidth(*delta, duration);
  const double gpuFreq = sampler_.parseGPUFreq(*delta);
  ThermalReading smc = smcThermal->read();
  CoreTemps hid = hidThermal_.read();
  EnergyBreakdown breakdown = parseAllPower(*delta, duration);

  std::vector<FanInfo> fans;
  fans.reserve(smc.fans.size());
  for (const FanReading& fan : smc.fans) fans.emplace_back(fan.id, fan.rpm);

  const double gpuPower = breakdown.gpu() > 0 ? breakdown.gpu() : power.gpu;
  const std::optional<double> cpuTemp = hid.cpu > 0 ? std::optional<double>(hid.cpu) : smc.cpu;
  const std::optional<double> gpuTemp = hid.gpu ? hid.gpu : smc.gpu;
  const double totalPower = breakdown.socTotal();
  const std::optional<double> platformPower = platformWatts(breakdown);

  PowerSnapshot snapshot(start, duration, power.cpu, gpuPower, power.ane, power.dram, totalPower, power.eCpu,
                         power.pCpu, cpuTemp, gpuTemp, std::move(hid.cores), cpu.total, usage.gpu, usage.eCpu,
                         usage.pCpu, std::move(cpu.perCore), gpuFreq, bandwidth.toMemoryBandwidth(), std::move(fans),
                         std::move(breakdown), platformPower);
  MeasuredFigures figures = withSensorsOf(figuresOf(*delta, sampler_), snapshot);
  figures.cpuUsage = hardware_.measured.cpuUsage;
  std::vector<GpuFigures> gpus =
      calorim::gpuFigures(sampler_.parseGpuDevices(*delta, duration), hardware_.gpus, *platform_->registry);
  std::lock_guard guard(descriptionLock_);
  figures_ = figures;
  gpus_ = std::move(gpus);
  return snapshot;
}

std::vector<GpuFigures> PowerMetrics::gpuFigures() {
  std::lock_guard guard(descriptionLock_);
  return gpus_;
}

MachineDescription PowerMetrics::description() {
  MachineDescription d = hardware_;
  {
    std::lock_guard guard(descriptionLock_);
    if (figures_) {
      d.measured = *figures_;
      return d;
    }
  }
  const std::unique_ptr<RawSample> a = takeRawSample();
  const std::unique_ptr<RawSample> b = a ? takeRawSample() : nullptr;
  const std::optional<CounterDelta> delta = b ? platform_->counters->createSamplesDelta(*a, *b) : std::nullopt;
  MeasuredFigures figures = delta ? figuresOf(*delta, sampler_) : MeasuredFigures{};
  figures.cpuUsage = hardware_.measured.cpuUsage;
  SMCThermal* const smcThermal = thermal({});
  d.measured = withSensorsOf(figures, smcThermal != nullptr ? smcThermal->read() : ThermalReading{}, hidThermal_.read());
  return d;
}

bool PowerMetrics::overran(const PowerSnapshot& snapshot, double interval) {
  const double span = snapshot.duration();
  return span > 2 * interval && span - interval > kOverrunSlack;
}

std::optional<PowerMetrics::WindowRefusal> PowerMetrics::beginWindow(const std::string& name) {
  if (name.size() > kMaxWindowNameBytes) return WindowRefusal::nameTooLong;
  std::lock_guard guard(lock_);
  if (windows_.size() >= kMaxWindows && !windows_.contains(name)) return WindowRefusal::tooManyWindows;
  std::unique_ptr<RawSample> start = takeRawSample();
  if (start) windows_[name] = Window{platform_->clock->steadyNow(), std::move(start)};
  return std::nullopt;
}

std::optional<EnergyMetrics> PowerMetrics::endWindow(const std::string& name) {
  Window window;
  {
    std::lock_guard guard(lock_);
    auto it = windows_.find(name);
    if (it == windows_.end()) return std::nullopt;
    window = std::move(it->second);
    windows_.erase(it);
  }
  const std::unique_ptr<RawSample> end = takeRawSample();
  if (!end) return std::nullopt;
  return energyBetween(window, *end, platform_->clock->steadyNow());
}

std::optional<EnergyMetrics> PowerMetrics::splitWindow(const std::string& name) {
  std::lock_guard guard(lock_);
  auto it = windows_.find(name);
  if (it == windows_.end()) return std::nullopt;
  std::unique_ptr<RawSample> end = takeRawSample();
  if (!end) return std::nullopt;
  const auto endTime = platform_->clock->steadyNow();
  std::optional<EnergyMetrics> energy = energyBetween(it->second, *end, endTime);
  if (energy) it->second = Window{endTime, std::move(end)};
  return energy;
}

std::optional<EnergyMetrics> PowerMetrics::energyBetween(const Window& window, const RawSample& end,
                                                         std::chrono::steady_clock::time_point endTime) {
  const std::optional<CounterDelta> delta = platform_->counters->createSamplesDelta(*window.sample, end);
  if (!delta) return std::nullopt;
  const double d = std::chrono::duration<double>(endTime - window.start).count();
  const PowerReading power = IOReportSampler::parsePower(*delta, d);
  const EnergyBreakdown breakdown = parseAllPower(*delta, d);
  const double gpu = breakdown.gpu() > 0 ? breakdown.gpu() : power.gpu;
  return EnergyMetrics(d, power.cpu * d, gpu * d, power.ane * d, power.dram * d, breakdown.socTotal() * d);
}

std::unique_ptr<SnapshotStream> PowerMetrics::stream(double interval) {
  return std::make_unique<SnapshotStream>(*this, interval);
}

// ---- stream -----------------------------------------------------------------

SnapshotStream::SnapshotStream(PowerMetrics& metrics, double interval)
    : producer_([this, &metrics, interval, stop = stopping_.token()] { produce(stop, metrics, interval); }) {}

SnapshotStream::~SnapshotStream() { stop(); }

void SnapshotStream::produce(StopToken stop, PowerMetrics& metrics, double interval) {
  while (!stop.stopRequested()) {
    try {
      PowerSnapshot snapshot = metrics.sample(interval, stop);
      if (PowerMetrics::overran(snapshot, interval)) continue;
      std::lock_guard guard(mutex_);
      buffer_.push_back(std::move(snapshot));
      ready_.notify_one();
    } catch (const PMError&) {
      metrics.platform().clock->sleep(PowerMetrics::kStreamRetryPause, stop);
    }
  }
  std::lock_guard guard(mutex_);
  finished_ = true;
  ready_.notify_all();
}

std::optional<PowerSnapshot> SnapshotStream::next() {
  std::unique_lock guard(mutex_);
  ready_.wait(guard, [this] { return !buffer_.empty() || finished_; });
  if (buffer_.empty()) return std::nullopt;
  PowerSnapshot snapshot = std::move(buffer_.front());
  buffer_.pop_front();
  return snapshot;
}

void SnapshotStream::stop() {
  if (!producer_.joinable()) return;
  stopping_.requestStop();
  producer_.join();
}

}  // namespace calorim
