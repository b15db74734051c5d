// The built-in simulated machine: an Apple Silicon laptop with a
// 12-core "Apple M3 Pro" (6 efficiency cores in one cluster, 6 performance
// cores in two clusters of 3), an 18-core GPU and 18 GiB of memory, running
// on its 96 W USB-C adapter while the battery charges at 76 %. Light use with
// the built-in display on: about 7 W for the chip. Names of channels, keys,
// sensors, registry classes and properties are those that platform publishes.
// PROFILE.md describes the format.

#include "core/platform/simulated/machine_profile.h"

namespace calorim::fake {
namespace {

constexpr std::string_view kBuiltinProfile = R"profile({
  "name": "Apple M3 Pro laptop (simulated)",
  "variation": 0.1,
  "periodSeconds": 60,
  "residencyHz": 24000000,
  "ticksPerSecond": 100,
  "os": {"name": "macOS", "major": 15, "minor": 1, "patch": 0},
  "systemValues": {
    "machdep.cpu.brand_string": "Apple M3 Pro",
    "hw.model": "Mac15,6",
    "hw.logicalcpu": 12,
    "hw.physicalcpu": 12,
    "hw.ncpu": 12,
    "hw.nperflevels": 2,
    "hw.perflevel0.name": "Performance",
    "hw.perflevel0.logicalcpu": 6,
    "hw.perflevel0.physicalcpu": 6,
    "hw.perflevel1.name": "Efficiency",
    "hw.perflevel1.logicalcpu": 6,
    "hw.perflevel1.physicalcpu": 6,
    "hw.memsize": 19327352832,
    "hw.pagesize": 16384,
    "kern.osproductversion": "15.1"
  },
  "memory": {"usedBytes": 12079595520, "swapUsedBytes": 1610612736, "variation": 0.03},
  "cpus": [
    {"busy": 0.32},
    {"busy": 0.3},
    {"busy": 0.29},
    {"busy": 0.28},
    {"busy": 0.27},
    {"busy": 0.26},
    {"busy": 0.18},
    {"busy": 0.16},
    {"busy": 0.15},
    {"busy": 0.13},
    {"busy": 0.12},
    {"busy": 0.11}
  ],
  "processes": [
    {"pid": 0, "name": "kernel_task", "share": 0.08, "uid": 0},
    {"pid": 1, "name": "launchd", "share": 0.01, "uid": 0},
    {"pid": 412, "name": "WindowServer", "share": 0.16, "uid": 88},
    {"pid": 688, "name": "mds_stores", "share": 0.05, "uid": 0},
    {"pid": 1043, "name": "Finder", "share": 0.02, "uid": 501},
    {"pid": 2210, "name": "Xcode", "share": 0.22, "uid": 501},
    {"pid": 2291, "name": "clang", "share": 0.14, "uid": 501},
    {"pid": 3105, "name": "Safari", "share": 0.11, "uid": 501},
    {"pid": 3170, "name": "Music", "share": 0.04, "uid": 501},
    {"pid": 3388, "name": "Terminal", "share": 0.03, "uid": 501},
    {"pid": 3402, "name": "cloudd", "share": 0.02, "uid": 501}
  ],
  "counters": [
    {"group": "Energy Model", "name": "CPU Energy", "unit": "mJ", "watts": 3.6},
    {"group": "Energy Model", "name": "EACC_CPU", "unit": "mJ", "watts": 0.66, "within": "CPU Energy"},
    {"group": "Energy Model", "name": "EACC_CPU0", "unit": "uJ", "watts": 0.11, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "EACC_CPU1", "unit": "uJ", "watts": 0.1, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "EACC_CPU2", "unit": "uJ", "watts": 0.1, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "EACC_CPU3", "unit": "uJ", "watts": 0.1, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "EACC_CPU4", "unit": "uJ", "watts": 0.1, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "EACC_CPU5", "unit": "uJ", "watts": 0.09, "within": "EACC_CPU"},
    {"group": "Energy Model", "name": "PACC0_CPU", "unit": "mJ", "watts": 1.72, "within": "CPU Energy"},
    {"group": "Energy Model", "name": "PACC0_CPU0", "unit": "uJ", "watts": 0.6, "within": "PACC0_CPU"},
    {"group": "Energy Model", "name": "PACC0_CPU1", "unit": "uJ", "watts": 0.5, "within": "PACC0_CPU"},
    {"group": "Energy Model", "name": "PACC0_CPU2", "unit": "uJ", "watts": 0.5, "within": "PACC0_CPU"},
    {"group": "Energy Model", "name": "PACC1_CPU", "unit": "mJ", "watts": 1.08, "within": "CPU Energy"},
    {"group": "Energy Model", "name": "PACC1_CPU0", "unit": "uJ", "watts": 0.4, "within": "PACC1_CPU"},
    {"group": "Energy Model", "name": "PACC1_CPU1", "unit": "uJ", "watts": 0.3, "within": "PACC1_CPU"},
    {"group": "Energy Model", "name": "PACC1_CPU2", "unit": "uJ", "watts": 0.3, "within": "PACC1_CPU"},
    {"group": "Energy Model", "name": "EACC_DTL", "unit": "uJ", "watts": 0.02},
    {"group": "Energy Model", "name": "PACC0_DTL", "unit": "uJ", "watts": 0.03},
    {"group": "Energy Model", "name": "PACC1_DTL", "unit": "uJ", "watts": 0.02},
    {"group": "Energy Model", "name": "GPU Energy", "unit": "nJ", "watts": 1.6},
    {"group": "Energy Model", "name": "GPU", "unit": "mJ", "watts": 1.4, "within": "GPU Energy"},
    {"group": "Energy Model", "name": "GPU SRAM", "unit": "mJ", "watts": 0.15, "within": "GPU Energy"},
    {"group": "Energy Model", "name": "ANE", "unit": "mJ", "watts": 0.05},
    {"group": "Energy Model", "name": "ANE_DTL", "unit": "uJ", "watts": 0.01},
    {"group": "Energy Model", "name": "DRAM", "unit": "mJ", "watts": 0.55},
    {"group": "Energy Model", "name": "AMCC", "unit": "mJ", "watts": 0.32},
    {"group": "Energy Model", "name": "DCS", "unit": "mJ", "watts": 0.41},
    {"group": "Energy Model", "name": "DISP", "unit": "mJ", "watts": 0.92},
    {"group": "Energy Model", "name": "DISPEXT", "unit": "mJ", "watts": 0.0},
    {"group": "Energy Model", "name": "AFR", "unit": "mJ", "watts": 0.24},
    {"group": "Energy Model", "name": "ISP", "unit": "mJ", "watts": 0.0},
    {"group": "Energy Model", "name": "AVE", "unit": "mJ", "watts": 0.0},
    {"group": "Energy Model", "name": "MSR", "unit": "mJ", "watts": 0.02},
    {"group": "Energy Model", "name": "ProRes", "unit": "mJ", "watts": 0.0},
    {"group": "Energy Model", "name": "AVD", "unit": "mJ", "watts": 0.07},
    {"group": "Energy Model", "name": "SOC_AON", "unit": "mJ", "watts": 0.04},
    {"group": "CPU Stats", "subgroup": "CPU Complex Performance States", "name": "ECPU", "residency": {"IDLE": 0.589, "OFF": 0.121, "V0P1": 0.116, "V0P2": 0.078, "V0P3": 0.049, "V0P4": 0.029, "V0P5": 0.017}},
    {"group": "CPU Stats", "subgroup": "CPU Complex Performance States", "name": "PCPU", "residency": {"IDLE": 0.456, "OFF": 0.404, "V1P1": 0.046, "V1P2": 0.038, "V1P3": 0.028, "V1P4": 0.017, "V1P5": 0.007, "V1P6": 0.004}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU0", "residency": {"IDLE": 0.564, "OFF": 0.116, "V0P1": 0.122, "V0P2": 0.091, "V0P3": 0.052, "V0P4": 0.034, "V0P5": 0.018}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU1", "residency": {"IDLE": 0.581, "OFF": 0.119, "V0P1": 0.126, "V0P2": 0.077, "V0P3": 0.054, "V0P4": 0.028, "V0P5": 0.019}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU2", "residency": {"IDLE": 0.589, "OFF": 0.121, "V0P1": 0.11, "V0P2": 0.082, "V0P3": 0.047, "V0P4": 0.03, "V0P5": 0.017}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU3", "residency": {"IDLE": 0.598, "OFF": 0.122, "V0P1": 0.118, "V0P2": 0.072, "V0P3": 0.05, "V0P4": 0.027, "V0P5": 0.018}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU4", "residency": {"IDLE": 0.606, "OFF": 0.124, "V0P1": 0.103, "V0P2": 0.077, "V0P3": 0.044, "V0P4": 0.028, "V0P5": 0.015}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "ECPU5", "residency": {"IDLE": 0.614, "OFF": 0.126, "V0P1": 0.109, "V0P2": 0.067, "V0P3": 0.046, "V0P4": 0.025, "V0P5": 0.016}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU0", "residency": {"IDLE": 0.435, "OFF": 0.385, "V1P1": 0.056, "V1P2": 0.051, "V1P3": 0.034, "V1P4": 0.023, "V1P5": 0.009, "V1P6": 0.006}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU1", "residency": {"IDLE": 0.445, "OFF": 0.395, "V1P1": 0.055, "V1P2": 0.041, "V1P3": 0.034, "V1P4": 0.018, "V1P5": 0.008, "V1P6": 0.005}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU2", "residency": {"IDLE": 0.451, "OFF": 0.399, "V1P1": 0.047, "V1P2": 0.043, "V1P3": 0.028, "V1P4": 0.019, "V1P5": 0.007, "V1P6": 0.005}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU3", "residency": {"IDLE": 0.461, "OFF": 0.409, "V1P1": 0.045, "V1P2": 0.033, "V1P3": 0.027, "V1P4": 0.015, "V1P5": 0.007, "V1P6": 0.004}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU4", "residency": {"IDLE": 0.466, "OFF": 0.414, "V1P1": 0.038, "V1P2": 0.034, "V1P3": 0.023, "V1P4": 0.015, "V1P5": 0.006, "V1P6": 0.004}},
    {"group": "CPU Stats", "subgroup": "CPU Core Performance States", "name": "PCPU5", "residency": {"IDLE": 0.472, "OFF": 0.418, "V1P1": 0.038, "V1P2": 0.028, "V1P3": 0.023, "V1P4": 0.013, "V1P5": 0.006, "V1P6": 0.003}},
    {"group": "GPU Stats", "subgroup": "GPU Performance States", "name": "GPUPH", "residency": {"OFF": 0.55, "IDLE": 0.25, "P1": 0.08, "P2": 0.05, "P3": 0.03, "P4": 0.02, "P5": 0.01, "P6": 0.005, "P7": 0.003, "P8": 0.001, "P9": 0.001}}
  ],
  "smc": [
    {"key": "Tp01", "type": "flt ", "value": 46.8, "variation": 0.04},
    {"key": "Tp05", "type": "flt ", "value": 48.9, "variation": 0.04},
    {"key": "Tp09", "type": "flt ", "value": 47.5, "variation": 0.04},
    {"key": "Tg05", "type": "sp78", "value": 42.3, "variation": 0.04},
    {"key": "Tg0d", "type": "sp78", "value": 43.6, "variation": 0.04},
    {"key": "TB0T", "type": "sp78", "value": 30.5, "variation": 0.02},
    {"key": "FNum", "type": "ui8 ", "value": 2},
    {"key": "F0Ac", "type": "flt ", "value": 1224, "variation": 0.05},
    {"key": "F1Ac", "type": "flt ", "value": 1302, "variation": 0.05}
  ],
  "hidSensors": [
    {"product": "PMU tdie1", "celsius": 47.2, "variation": 0.04},
    {"product": "PMU tdie2", "celsius": 48.1, "variation": 0.04},
    {"product": "PMU tdie3", "celsius": 46.5, "variation": 0.04},
    {"product": "PMU tdie4", "celsius": 49.3, "variation": 0.04},
    {"product": "PMU tdie5", "celsius": 48.7, "variation": 0.04},
    {"product": "PMU tdie6", "celsius": 47.9, "variation": 0.04},
    {"product": "PMU tdev1", "celsius": 35.4, "variation": 0.04},
    {"product": "PMU tcal", "celsius": 51.8, "variation": 0.04},
    {"product": "eACC MTR Temp Sensor0", "celsius": 44.1, "variation": 0.04},
    {"product": "eACC MTR Temp Sensor3", "celsius": 44.9, "variation": 0.04},
    {"product": "pACC MTR Temp Sensor3", "celsius": 49.2, "variation": 0.04},
    {"product": "pACC MTR Temp Sensor5", "celsius": 50.4, "variation": 0.04},
    {"product": "GPU MTR Temp Sensor1", "celsius": 42.0, "variation": 0.04},
    {"product": "GPU MTR Temp Sensor4", "celsius": 42.8, "variation": 0.04},
    {"product": "SOC MTR Temp Sensor0", "celsius": 40.5, "variation": 0.04},
    {"product": "SOC MTR Temp Sensor1", "celsius": 41.1, "variation": 0.04},
    {"product": "NAND CH0 temp", "celsius": 36.0, "variation": 0.04},
    {"product": "gas gauge battery", "celsius": 30.2, "variation": 0.04}
  ],
  "registry": [
    {
      "class": "AppleARMIODevice",
      "properties": {
        "name": "gfx-asc",
        "compatible": "iop,ascwrap-v6"
      }
    },
    {
      "class": "AppleARMIODevice",
      "properties": {
        "name": "pmgr",
        "compatible": "pmgr1,t6030",
        "voltage-states1": {
          "$dvfsMHz": [
            744,
            1044,
            1476,
            2004,
            2268,
            2496,
            2748
          ]
        },
        "voltage-states5": {
          "$dvfsMHz": [
            696,
            1092,
            1356,
            1596,
            1884,
            2172,
            2424,
            2616,
            2808,
            3000,
            3204,
            3408,
            3504,
            4056
          ]
        },
        "voltage-states9": {
          "$dvfsMHz": [
            338,
            618,
            796,
            924,
            952,
            1056,
            1103,
            1305,
            1398
          ]
        }
      }
    },
    {
      "class": "AGXAccelerator",
      "properties": {
        "gpu-core-count": 18,
        "model": "Apple M3 Pro",
        "IOClass": "AGXAcceleratorG15X"
      }
    },
    {
      "class": "AppleSmartBattery",
      "properties": {
        "CurrentCapacity": 76,
        "MaxCapacity": 100,
        "IsCharging": true,
        "ExternalConnected": true,
        "FullyCharged": false,
        "CycleCount": 143,
        "Temperature": 3052,
        "Voltage": 12410,
        "Amperage": {
          "$vary": 951,
          "$signal": "battery charge"
        },
        "AdapterDetails": {
          "Watts": 96,
          "AdapterVoltage": 20000,
          "Current": 4700,
          "Name": "96W USB-C Power Adapter",
          "Manufacturer": "Apple Inc.",
          "SerialString": "SIM0000000096",
          "Description": "pd charger",
          "IsWireless": false,
          "UsbHvcMenu": [
            {
              "Index": 0,
              "MaxVoltage": 5000,
              "MaxCurrent": 3000
            },
            {
              "Index": 1,
              "MaxVoltage": 9000,
              "MaxCurrent": 3000
            },
            {
              "Index": 2,
              "MaxVoltage": 15000,
              "MaxCurrent": 3000
            },
            {
              "Index": 3,
              "MaxVoltage": 20000,
              "MaxCurrent": 4700
            }
          ],
          "UsbHvcHvcIndex": 3
        },
        "PowerTelemetryData": {
          "SystemPowerIn": {
            "$vary": 31500,
            "$signal": "adapter input"
          },
          "SystemVoltageIn": 20000,
          "SystemCurrentIn": {
            "$vary": 1575,
            "$signal": "adapter input"
          },
          "BatteryPower": {
            "$vary": 11800,
            "$signal": "battery charge"
          }
        }
      }
    },
    {
      "class": "IOUSBHostDevice",
      "properties": {
        "USB Product Name": "Magic Keyboard with Touch ID",
        "kUSBProductString": "Magic Keyboard with Touch ID",
        "kUSBVendorString": "Apple Inc.",
        "UsbLinkSpeed": 12000000,
        "idVendor": 1452,
        "idProduct": 666
      }
    },
    {
      "class": "IOUSBHostDevice",
      "properties": {
        "USB Product Name": "USB-C SSD 1TB",
        "kUSBProductString": "USB-C SSD 1TB",
        "kUSBVendorString": "Northwind Storage",
        "UsbLinkSpeed": 10000000000,
        "idVendor": 4660,
        "idProduct": 22136
      }
    }
  ],
  "hardwareReports": {
    "SPHardwareDataType": {
      "SPHardwareDataType": [
        {
          "_name": "hardware_overview",
          "chip_type": "Apple M3 Pro",
          "machine_model": "Mac15,6",
          "machine_name": "MacBook Pro",
          "number_processors": "proc 12:6:6",
          "physical_memory": "18 GB",
          "platform_UUID": "00000000-0000-4000-8000-000000000001",
          "serial_number": "SIMULATED001"
        }
      ]
    },
    "SPThunderboltDataType": {
      "SPThunderboltDataType": [
        {
          "_name": "thunderbolt_bus_0",
          "device_name_key": "MacBook Pro",
          "vendor_name_key": "Apple Inc.",
          "receptacle_1_tag": {
            "current_speed_key": "Up to 40 Gb/s",
            "receptacle_id_key": "1",
            "receptacle_status_key": "receptacle_connected"
          },
          "_items": [
            {
              "_name": "TB4 Dock",
              "device_name_key": "TB4 Dock",
              "vendor_name_key": "Dockworks Ltd.",
              "mode_key": "thunderbolt_four",
              "route_string_key": "1",
              "receptacle_upstream_ambiguous_tag": {
                "current_speed_key": "Up to 40 Gb/s",
                "link_status_key": "0x2"
              }
            }
          ]
        },
        {
          "_name": "thunderbolt_bus_1",
          "device_name_key": "MacBook Pro",
          "vendor_name_key": "Apple Inc.",
          "receptacle_2_tag": {
            "receptacle_id_key": "2",
            "receptacle_status_key": "receptacle_no_devices_connected"
          }
        },
        {
          "_name": "thunderbolt_bus_2",
          "device_name_key": "MacBook Pro",
          "vendor_name_key": "Apple Inc.",
          "receptacle_3_tag": {
            "receptacle_id_key": "3",
            "receptacle_status_key": "receptacle_no_devices_connected"
          }
        }
      ]
    }
  }
}
)profile";

}  // namespace

std::string_view builtinProfileJson() { return kBuiltinProfile; }

}  // namespace calorim::fake
