// Feeds arbitrary bytes to every value parser of the Linux backend: the whole
// input as the contents of each kind of sysfs/procfs file, and its lines as the
// attributes of a power supply, a charger's PDOs, a USB device, a Thunderbolt
// router and the DMI strings, which then go through the pure functions that
// shape them for the ports. Besides crashes and leaks, a finding is a broken
// promise of a parser: an order that is not kept, a number that does not read
// back, a report that is not JSON.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "core/platform/linux/cpu_topology.h"
#include "core/platform/linux/gpus.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/linux_hardware_report.h"
#include "core/platform/linux/linux_host.h"
#include "core/platform/linux/linux_processes.h"
#include "core/platform/linux/linux_registry.h"
#include "core/platform/linux/machine_identity.h"
#include "core/platform/linux/pci_ids.h"
#include "core/platform/linux/power_supply.h"
#include "core/platform/linux/powercap.h"
#include "core/platform/linux/proc_stat.h"
#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"
#include "core/platform/linux/thunderbolt.h"
#include "core/platform/linux/usb_devices.h"
#include "core/platform/linux/usb_power_delivery.h"

namespace {

using namespace calorim::sysfs;

[[noreturn]] void broken(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

void check(bool holds, const char* what, std::string_view text) {
  if (!holds) broken(what, text);
}

// Lines of the input, each one attribute of the records built below; missing
// lines read as absent attributes.
class Lines {
 public:
  explicit Lines(std::string_view text) {
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      lines_.push_back(text.substr(0, end));
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
  }
  std::optional<std::string> text() {
    if (next_ >= lines_.size()) return std::nullopt;
    return std::string(trim(lines_[next_++]));
  }
  std::optional<std::int64_t> number() {
    const std::optional<std::string> t = text();
    return t ? parseSigned(*t) : std::nullopt;
  }

 private:
  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;
};

void wholeFileParsers(std::string_view text) {
  const std::vector<ProcStatCpu> cpus = parseProcStat(text);
  for (std::size_t i = 1; i < cpus.size(); ++i) check(cpus[i - 1].cpu < cpus[i].cpu, "proc/stat order", text);

  if (const std::optional<std::vector<int>> list = parseCpuList(text)) {
    for (std::size_t i = 1; i < list->size(); ++i) check((*list)[i - 1] < (*list)[i], "cpulist order", text);
  }

  if (const std::optional<ProcessStat> stat = parseProcessStat(text)) {
    check(stat->pid >= 0 && stat->comm.size() < text.size(), "process stat", text);
  }
  (void)parseCgroupUsage(text);
  (void)parseMemInfo(text);
  (void)parseCpuModelName(text);
  if (const std::optional<calorim::OsVersion> os = parseKernelRelease(text)) {
    check(os->name == "Linux" && os->major >= 0 && os->minor >= 0 && os->patch >= 0, "kernel release", text);
  }

  if (const std::optional<std::uint64_t> u = parseUnsigned(text)) {
    check(parseUnsigned(std::to_string(*u)) == u, "unsigned round trip", text);
  }
  if (const std::optional<std::int64_t> s = parseSigned(text)) {
    check(parseSigned(std::to_string(*s)) == s, "signed round trip", text);
  }
  const std::string_view trimmed = trim(text);
  check(trim(trimmed) == trimmed, "trim is not idempotent", text);

  (void)parseMillidegrees(text);
  if (const std::optional<double> mhz = parseDpmClock(text)) check(*mhz >= 0 && *mhz <= 1e6, "DPM clock", text);
  (void)parseChannelIndex(text, "temp", "input");
  (void)parseChannelIndex(text, "fan", "input");
  (void)parseActiveUsbType(text);
  (void)parseRouterName(text);
  (void)parseLinkSpeed(text);
  (void)parseUeventValue(text, "DEVTYPE");
  (void)parseUsbSpeed(text);
  (void)parseHex(text);
  (void)parseBcdVersion(text);
  (void)isUsbDeviceName(text);
  (void)parsePdoFolderName(text);
  for (std::string_view unit : {"mV", "mA", "mW"}) (void)parseUnitValue(text, unit);
  (void)raplDomain(text);
  (void)isPlaceholder(text);
  (void)shortVendorName(text);

  // Natural order is strict: never both ways round, and never an element before itself.
  const std::string_view a = text.substr(0, text.size() / 2);
  const std::string_view b = text.substr(text.size() / 2);
  check(!(naturalLess(a, b) && naturalLess(b, a)), "natural order not antisymmetric", text);
  check(!naturalLess(a, a), "natural order not irreflexive", text);
}

void shapedRecords(std::string_view text) {
  Lines lines(text);

  DmiIdentity dmi{lines.text(), lines.text(), lines.text(), lines.text(), lines.text()};
  (void)machineNameFromDmi(dmi);

  std::vector<PowerSupply> supplies(2);
  for (PowerSupply& s : supplies) {
    s.name = lines.text().value_or("");
    s.type = lines.text().value_or("Unknown");
    s.scope = lines.text();
    s.status = lines.text();
    if (const std::optional<std::string> usbType = lines.text()) s.usbType = parseActiveUsbType(*usbType);
    s.manufacturer = lines.text();
    s.modelName = lines.text();
    s.online = lines.number();
    s.capacity = lines.number();
    s.voltageNow = lines.number();
    s.currentNow = lines.number();
    s.powerNow = lines.number();
    s.energyNow = lines.number();
    s.energyFull = lines.number();
  }
  std::vector<Pdo> pdos;
  for (int i = 0; i < 3; ++i) {
    const std::optional<std::string> folder = lines.text();
    const std::optional<std::string> voltage = lines.text();
    const std::optional<std::string> current = lines.text();
    const auto kind = folder ? parsePdoFolderName(*folder) : std::nullopt;
    const auto mv = voltage ? parseUnitValue(*voltage, "mV") : std::nullopt;
    const auto ma = current ? parseUnitValue(*current, "mA") : std::nullopt;
    if (kind && mv && ma) pdos.push_back(Pdo{kind->first, kind->second, *mv, std::nullopt, *ma});
  }
  (void)detail::batteryDictionary(supplies, pdos);

  UsbDevice usb;
  usb.name = lines.text().value_or("");
  usb.product = lines.text();
  usb.manufacturer = lines.text();
  if (const auto speed = lines.text()) usb.speedBitsPerSecond = parseUsbSpeed(*speed);
  if (const auto vendor = lines.text()) usb.vendorId = parseHex(*vendor);
  if (const auto version = lines.text()) usb.bcdUsb = parseBcdVersion(*version);
  (void)detail::usbDeviceDictionary(usb);

  std::vector<ThunderboltRouter> routers;
  for (int i = 0; i < 2; ++i) {
    const std::optional<std::string> name = lines.text();
    const auto parsed = name ? parseRouterName(*name) : std::nullopt;
    if (!parsed) continue;
    ThunderboltRouter r;
    r.name = *name;
    r.domain = parsed->first;
    r.route = parsed->second;
    r.vendorName = lines.text();
    r.deviceName = lines.text();
    r.uniqueId = lines.text();
    r.generation = lines.number();
    if (const auto speed = lines.text()) r.rxSpeedGbps = parseLinkSpeed(*speed);
    r.rxLanes = lines.number();
    routers.push_back(std::move(r));
  }
  std::vector<int> domains;
  for (const ThunderboltRouter& r : routers) domains.push_back(r.domain);
  const std::string report = detail::thunderboltReport(domains, routers);
  check(calorim::Json::accept(report), "Thunderbolt report is not JSON", report);
}

}  // namespace

// The input as the PCI ids database: a name found is one device line's name,
// never empty, and never longer than a line may be.
void pciIdsDatabase(std::string_view text) {
  for (const auto& [vendor, device] : {std::pair<std::uint16_t, std::uint16_t>{0x1002, 0x73bf}, {0x8086, 0x56a0}}) {
    std::istringstream in{std::string(text)};
    const std::optional<std::string> name = pciDeviceName(in, vendor, device);
    if (!name) continue;
    check(!name->empty() && name->size() < kPciIdsMaxLineBytes, "PCI device name", text);
    check(!gpuDisplayName(vendor, *name).empty(), "GPU display name", *name);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pciIdsDatabase(text);
  wholeFileParsers(text);
  shapedRecords(text);
  return 0;
}
