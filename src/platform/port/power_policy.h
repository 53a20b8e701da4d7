// The power-profile records in the binary layout the platform uses (32-bit
// and 64-bit Windows alike: every member is 8, 16 or 32 bits wide). Names
// are the platform's own, so the operations read like the platform calls.
// The Windows build checks every size and offset against the system headers.
#pragma once

#include <cstdint>

namespace zrt::port {

using BOOLEAN = std::uint8_t;
using UCHAR = std::uint8_t;
using ULONG = std::uint32_t;
using POWER_ACTION = std::uint32_t;        // an enumeration of the platform
using SYSTEM_POWER_STATE = std::uint32_t;  // an enumeration of the platform

// POWER_ACTION values.
constexpr POWER_ACTION kPowerActionNone = 0;
constexpr POWER_ACTION kPowerActionReserved = 1;
constexpr POWER_ACTION kPowerActionSleep = 2;
constexpr POWER_ACTION kPowerActionHibernate = 3;
constexpr POWER_ACTION kPowerActionShutdown = 4;
constexpr POWER_ACTION kPowerActionShutdownReset = 5;
constexpr POWER_ACTION kPowerActionShutdownOff = 6;
constexpr POWER_ACTION kPowerActionWarmEject = 7;

// POWER_ACTION_POLICY flags and event codes.
constexpr ULONG kPowerActionQueryAllowed = 0x00000001;
constexpr ULONG kPowerActionUiAllowed = 0x00000002;
constexpr ULONG kPowerUserNotifyButton = 0x00000008;
constexpr ULONG kPowerUserNotifyShutdown = 0x00000010;
constexpr ULONG kPowerForceTriggerReset = 0x80000000;

struct POWER_ACTION_POLICY {
  POWER_ACTION Action;
  ULONG Flags;
  ULONG EventCode;
};

struct USER_POWER_POLICY {
  ULONG Revision;
  POWER_ACTION_POLICY IdleAc;
  POWER_ACTION_POLICY IdleDc;
  ULONG IdleTimeoutAc;
  ULONG IdleTimeoutDc;
  UCHAR IdleSensitivityAc;
  UCHAR IdleSensitivityDc;
  UCHAR ThrottlePolicyAc;
  UCHAR ThrottlePolicyDc;
  SYSTEM_POWER_STATE MaxSleepAc;
  SYSTEM_POWER_STATE MaxSleepDc;
  ULONG Reserved[2];
  ULONG VideoTimeoutAc;
  ULONG VideoTimeoutDc;
  ULONG SpindownTimeoutAc;
  ULONG SpindownTimeoutDc;
  BOOLEAN OptimizeForPowerAc;
  BOOLEAN OptimizeForPowerDc;
  UCHAR FanThrottleToleranceAc;
  UCHAR FanThrottleToleranceDc;
  UCHAR ForcedThrottleAc;
  UCHAR ForcedThrottleDc;
};

struct MACHINE_POWER_POLICY {
  ULONG Revision;
  SYSTEM_POWER_STATE MinSleepAc;
  SYSTEM_POWER_STATE MinSleepDc;
  SYSTEM_POWER_STATE ReducedLatencySleepAc;
  SYSTEM_POWER_STATE ReducedLatencySleepDc;
  ULONG DozeTimeoutAc;
  ULONG DozeTimeoutDc;
  ULONG DozeS4TimeoutAc;
  ULONG DozeS4TimeoutDc;
  UCHAR MinThrottleAc;
  UCHAR MinThrottleDc;
  UCHAR pad1[2];
  POWER_ACTION_POLICY OverThrottledAc;
  POWER_ACTION_POLICY OverThrottledDc;
};

// One scheme's policy.
struct POWER_POLICY {
  USER_POWER_POLICY user;
  MACHINE_POWER_POLICY mach;
};

struct SYSTEM_POWER_LEVEL {
  BOOLEAN Enable;
  UCHAR Spare[3];
  ULONG BatteryLevel;
  POWER_ACTION_POLICY PowerPolicy;
  SYSTEM_POWER_STATE MinSystemState;
};

constexpr int kNumDischargePolicies = 4;

struct GLOBAL_USER_POWER_POLICY {
  ULONG Revision;
  POWER_ACTION_POLICY PowerButtonAc;
  POWER_ACTION_POLICY PowerButtonDc;
  POWER_ACTION_POLICY SleepButtonAc;
  POWER_ACTION_POLICY SleepButtonDc;
  POWER_ACTION_POLICY LidCloseAc;
  POWER_ACTION_POLICY LidCloseDc;
  SYSTEM_POWER_LEVEL DischargePolicy[kNumDischargePolicies];
  ULONG GlobalFlags;
};

struct GLOBAL_MACHINE_POWER_POLICY {
  ULONG Revision;
  SYSTEM_POWER_STATE LidOpenWakeAc;
  SYSTEM_POWER_STATE LidOpenWakeDc;
  ULONG BroadcastCapacityResolution;
};

// The machine-wide policy: buttons, lid, battery discharge levels, flags.
struct GLOBAL_POWER_POLICY {
  GLOBAL_USER_POWER_POLICY user;
  GLOBAL_MACHINE_POWER_POLICY mach;
};

// GLOBAL_USER_POWER_POLICY::GlobalFlags bits.
constexpr ULONG kEnableSysTrayBatteryMeter = 0x01;
constexpr ULONG kEnableMultiBatteryDisplay = 0x02;
constexpr ULONG kEnablePasswordLogon = 0x04;
constexpr ULONG kEnableWakeOnRing = 0x08;
constexpr ULONG kEnableVideoDimDisplay = 0x10;

struct BATTERY_REPORTING_SCALE {
  ULONG Granularity;
  ULONG Capacity;
};

struct SYSTEM_POWER_CAPABILITIES {
  BOOLEAN PowerButtonPresent;
  BOOLEAN SleepButtonPresent;
  BOOLEAN LidPresent;
  BOOLEAN SystemS1;
  BOOLEAN SystemS2;
  BOOLEAN SystemS3;
  BOOLEAN SystemS4;
  BOOLEAN SystemS5;
  BOOLEAN HiberFilePresent;
  BOOLEAN FullWake;
  BOOLEAN VideoDimPresent;
  BOOLEAN ApmPresent;
  BOOLEAN UpsPresent;
  BOOLEAN ThermalControl;
  BOOLEAN ProcessorThrottle;
  UCHAR ProcessorMinThrottle;
  UCHAR ProcessorMaxThrottle;
  BOOLEAN FastSystemS4;
  UCHAR spare2[3];
  BOOLEAN DiskSpinDown;
  UCHAR spare3[8];
  BOOLEAN SystemBatteriesPresent;
  BOOLEAN BatteriesAreShortTerm;
  BATTERY_REPORTING_SCALE BatteryScale[3];
  SYSTEM_POWER_STATE AcOnLineWake;
  SYSTEM_POWER_STATE SoftLidWake;
  SYSTEM_POWER_STATE RtcWake;
  SYSTEM_POWER_STATE MinDeviceWakeState;
  SYSTEM_POWER_STATE DefaultLowLatencyWake;
};

static_assert(sizeof(POWER_ACTION_POLICY) == 12);
static_assert(sizeof(USER_POWER_POLICY) == 80);
static_assert(sizeof(MACHINE_POWER_POLICY) == 64);
static_assert(sizeof(POWER_POLICY) == 144);
static_assert(sizeof(GLOBAL_USER_POWER_POLICY) == 176);
static_assert(sizeof(GLOBAL_MACHINE_POWER_POLICY) == 16);
static_assert(sizeof(GLOBAL_POWER_POLICY) == 192);
static_assert(sizeof(SYSTEM_POWER_CAPABILITIES) == 76);

}  // namespace zrt::port
