// A small simulated Windows NT kernel for the selector driver: the records and services the
// driver uses (device objects, symbolic links, I/O request packets, the x86 global descriptor
// table and the KeI386* selector services), with the same names, layouts and status values as the
// real kernel, so the driver's logic runs and is tested in user mode.
//
// The kernel is one process-wide instance. `SimKernel::reset()` puts it back into its boot state
// (an NT-like descriptor table, no devices, no links); tests call it before each case. It is not
// thread-safe: the driver takes no locks and neither do its tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zov::nt {

using NTSTATUS = int32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using UCHAR = uint8_t;
using CCHAR = char;
using BOOLEAN = uint8_t;
using ULONG_PTR = uintptr_t;
using DEVICE_TYPE = ULONG;
using PVOID = void*;

inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = static_cast<NTSTATUS>(0xC0000010);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<NTSTATUS>(0xC0000033);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035);
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC000009A);
inline constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = static_cast<NTSTATUS>(0xC0000206);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023);

constexpr bool NT_SUCCESS(NTSTATUS status) {
  return status >= 0;
}

inline constexpr CCHAR IO_NO_INCREMENT = 0;

// Counted UTF-16 strings as the kernel passes names; Length and MaximumLength are in bytes.
struct UNICODE_STRING {
  USHORT Length = 0;
  USHORT MaximumLength = 0;
  const char16_t* Buffer = nullptr;
};
using PUNICODE_STRING = UNICODE_STRING*;

void RtlInitUnicodeString(UNICODE_STRING* destination, const char16_t* source);

// ---- I/O requests ----

enum : UCHAR {
  IRP_MJ_CREATE = 0x00,
  IRP_MJ_CLOSE = 0x02,
  IRP_MJ_READ = 0x03,
  IRP_MJ_WRITE = 0x04,
  IRP_MJ_DEVICE_CONTROL = 0x0E,
  IRP_MJ_MAXIMUM_FUNCTION = 0x1B,
};

inline constexpr ULONG METHOD_BUFFERED = 0;
inline constexpr ULONG FILE_ANY_ACCESS = 0;
inline constexpr ULONG DO_DIRECT_IO = 0x00000010;
inline constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;

constexpr ULONG CTL_CODE(ULONG deviceType, ULONG function, ULONG method, ULONG access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

struct IO_STATUS_BLOCK {
  NTSTATUS Status = STATUS_SUCCESS;
  ULONG_PTR Information = 0;
};

struct IO_STACK_LOCATION {
  UCHAR MajorFunction = 0;
  UCHAR MinorFunction = 0;
  struct {
    struct {
      ULONG OutputBufferLength = 0;
      ULONG InputBufferLength = 0;
      ULONG IoControlCode = 0;
      PVOID Type3InputBuffer = nullptr;
    } DeviceIoControl;
  } Parameters;
};

struct DEVICE_OBJECT;

struct IRP {
  IO_STATUS_BLOCK IoStatus;
  struct {
    PVOID SystemBuffer = nullptr;  // METHOD_BUFFERED: input in, output out
  } AssociatedIrp;
  IO_STACK_LOCATION CurrentStackLocation;
  // Simulation bookkeeping: set by IofCompleteRequest.
  bool Completed = false;
  CCHAR PriorityBoost = 0;
};
using PIRP = IRP*;

inline IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(PIRP irp) {
  return &irp->CurrentStackLocation;
}

struct DRIVER_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp);
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT driver);

struct DEVICE_OBJECT {
  PDRIVER_OBJECT DriverObject = nullptr;
  PDEVICE_OBJECT NextDevice = nullptr;
  DEVICE_TYPE DeviceType = 0;
  ULONG Flags = 0;
  ULONG Characteristics = 0;
  PVOID DeviceExtension = nullptr;
  // Simulation bookkeeping.
  std::u16string Name;
  bool Exclusive = false;
  std::vector<unsigned char> ExtensionStorage;
};

struct DRIVER_OBJECT {
  PDEVICE_OBJECT DeviceObject = nullptr;
  std::array<PDRIVER_DISPATCH, IRP_MJ_MAXIMUM_FUNCTION + 1> MajorFunction{};
  PDRIVER_UNLOAD DriverUnload = nullptr;
};

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG deviceExtensionSize,
                        PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                        ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject);
void IoDeleteDevice(PDEVICE_OBJECT device);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING linkName, PUNICODE_STRING deviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING linkName);
void IofCompleteRequest(PIRP irp, CCHAR priorityBoost);
inline void IoCompleteRequest(PIRP irp, CCHAR priorityBoost) {
  IofCompleteRequest(irp, priorityBoost);
}

// ---- The x86 global descriptor table ----

// One segment descriptor in the processor's layout: the 32-bit base is split over BaseLow
// (bits 0-15), BaseMid (16-23) and BaseHi (24-31); the 20-bit limit over LimitLow and the low
// nibble of Flags2.
#pragma pack(push, 1)
struct KGDTENTRY {
  USHORT LimitLow = 0;
  USHORT BaseLow = 0;
  UCHAR BaseMid = 0;
  UCHAR Flags1 = 0;  // type (4 bits), S (descriptor type), DPL (2 bits), P (present)
  UCHAR Flags2 = 0;  // limit 16-19 (4 bits), AVL, L, D/B, G (granularity)
  UCHAR BaseHi = 0;
};
#pragma pack(pop)
static_assert(sizeof(KGDTENTRY) == 8, "a descriptor is 8 bytes");

inline constexpr UCHAR kDescriptorGranularity = 0x80;  // in Flags2: limit counts 4 KB pages
inline constexpr UCHAR kDescriptorBig = 0x40;          // in Flags2: 32-bit segment
inline constexpr UCHAR kDescriptorPresent = 0x80;      // in Flags1

// Helpers for building and reading descriptors (used by the simulated kernel and by tests).
ULONG descriptorBase(const KGDTENTRY& entry);
ULONG descriptorLimit(const KGDTENTRY& entry);  // in units of the granularity
bool descriptorPageGranular(const KGDTENTRY& entry);
unsigned descriptorPrivilege(const KGDTENTRY& entry);
KGDTENTRY makeDescriptor(ULONG base, ULONG limit20, UCHAR type, unsigned dpl, bool pageGranular,
                         bool big);

// What the sgdt instruction stores: the table's limit (size in bytes - 1) and linear base.
struct KDESCRIPTOR {
  USHORT Limit = 0;
  const KGDTENTRY* Base = nullptr;
};
// Stands for the sgdt instruction of the processor the driver runs on.
void storeGdtRegister(KDESCRIPTOR* descriptor);

NTSTATUS KeI386AllocateGdtSelectors(USHORT* selectorArray, USHORT numberOfSelectors);
NTSTATUS KeI386ReleaseGdtSelectors(USHORT* selectorArray, USHORT numberOfSelectors);
NTSTATUS KeI386SetGdtSelector(ULONG selector, const KGDTENTRY* entry);

// ---- The simulation's own controls and a user-mode view of devices ----

// Selectors of the boot table, as on NT.
inline constexpr USHORT KGDT_R0_CODE = 0x08;
inline constexpr USHORT KGDT_R0_DATA = 0x10;
inline constexpr USHORT KGDT_R3_CODE = 0x18;
inline constexpr USHORT KGDT_R3_DATA = 0x20;
inline constexpr USHORT KGDT_R3_TEB = 0x38;

class SimKernel {
 public:
  static constexpr size_t kGdtEntries = 128;
  // Entries from here on form the pool KeI386AllocateGdtSelectors hands out.
  static constexpr size_t kFirstPoolEntry = 32;
  // The user-mode thread environment block's segment base in the boot table.
  static constexpr ULONG kTebBase = 0x7FFDE000;

  // Back to the boot state: the NT-like table, an empty pool, no devices or links, no faults.
  static void reset();

  static const KGDTENTRY& entry(USHORT selector);
  static bool allocated(USHORT selector);
  static size_t allocatedCount();
  // Writes an entry directly (tests prepare unusual template segments with it).
  static void setEntry(USHORT selector, const KGDTENTRY& entry);

  // Fault injection: the next calls of these services fail with the status given.
  static void failAllocation(NTSTATUS status);
  static void failSymbolicLink(NTSTATUS status);
  static void failDeviceCreation(NTSTATUS status);

  // The kernel's object names.
  static PDEVICE_OBJECT device(const std::u16string& name);
  static std::optional<std::u16string> linkTarget(const std::u16string& linkName);
  static size_t deviceCount();
  static size_t linkCount();
  static size_t completedRequests();
};

// A user-mode handle to a device opened through its DOS name ("\\.\zovddnt").
struct UserHandle {
  PDEVICE_OBJECT device = nullptr;
};

// Opens "\\.\name" as CreateFile does: follows "\DosDevices\name" to the device and sends
// IRP_MJ_CREATE. Returns nullopt and the status when the name is unknown or the create fails.
std::optional<UserHandle> openDevice(const std::u16string& dosName, NTSTATUS* status = nullptr);
NTSTATUS closeDevice(const UserHandle& handle);

// DeviceIoControl with METHOD_BUFFERED: the input is copied into a system buffer as large as the
// larger of the two buffers, the device's dispatch routine runs, and on success the request's
// information (at most the output length) is copied back. Returns the request's status.
NTSTATUS deviceIoControl(const UserHandle& handle, ULONG code, const void* input, ULONG inputLength,
                         void* output, ULONG outputLength, ULONG* bytesReturned);

}  // namespace zov::nt
