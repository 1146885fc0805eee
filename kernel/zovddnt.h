// zovddnt: the selector driver. It gives user-mode callers 16-bit data-segment selectors whose
// segment starts at the first byte of a block of their memory, so code that addresses a record as
// offsets from a segment register can do so. One device, "\Device\zovddnt", reached from user mode
// as "\\.\zovddnt"; two device-control codes; no state between requests.
#pragma once

#include <cstdint>

#include "kernel/nt_kernel.h"

namespace zov::nt {

inline constexpr DEVICE_TYPE kZovDeviceType = 0x8400;
inline constexpr const char16_t* kZovDeviceName = u"\\Device\\zovddnt";
inline constexpr const char16_t* kZovDosDeviceName = u"\\DosDevices\\zovddnt";
inline constexpr const char16_t* kZovUserDeviceName = u"\\\\.\\zovddnt";

inline constexpr ULONG MAKE_ZERO_BASED_SELECTOR =
    CTL_CODE(kZovDeviceType, 0x840, METHOD_BUFFERED, FILE_ANY_ACCESS);
inline constexpr ULONG FREE_SELECTOR =
    CTL_CODE(kZovDeviceType, 0x841, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(MAKE_ZERO_BASED_SELECTOR == 0x84002100);
static_assert(FREE_SELECTOR == 0x84002104);

// The MAKE_ZERO_BASED_SELECTOR request: exactly 10 bytes, packed little-endian.
#pragma pack(push, 1)
struct ZeroBasedSelectorRequest {
  uint16_t templateSelector;  // the caller's current data-segment selector
  uint32_t offset;            // the block's offset in that segment (its linear address when flat)
  uint32_t size;              // the block's size in bytes
};
#pragma pack(pop)
static_assert(sizeof(ZeroBasedSelectorRequest) == 10);

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
NTSTATUS ZovDispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ZovDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);
void ZovUnload(PDRIVER_OBJECT driver);

}  // namespace zov::nt
