#include "kernel/zovddnt.h"

#include <cstring>

namespace zov::nt {
namespace {

// The new segment's descriptor: the template's type, privilege, size and granularity bits, its
// base moved by the block's offset and its limit cut to the block.
// Returns false when the block cannot be described by a segment of this template's granularity.
bool buildZeroBasedDescriptor(const KGDTENTRY& templateEntry, ULONG offset, ULONG size,
                              KGDTENTRY& result) {
  // A zero-sized block has no expand-up segment: its limit would wrap to the largest one.
  if (size == 0) return false;
  result = templateEntry;

  // The base is split over three fields; add field by field with the carries, as a 32-bit add.
  ULONG low = ULONG{templateEntry.BaseLow} + (offset & 0xFFFF);
  result.BaseLow = static_cast<USHORT>(low & 0xFFFF);
  ULONG mid = ULONG{templateEntry.BaseMid} + ((offset >> 16) & 0xFF) + (low >> 16);
  result.BaseMid = static_cast<UCHAR>(mid & 0xFF);
  ULONG high = ULONG{templateEntry.BaseHi} + ((offset >> 24) & 0xFF) + (mid >> 8);
  result.BaseHi = static_cast<UCHAR>(high & 0xFF);

  ULONG limit = size - 1;
  if (descriptorPageGranular(templateEntry)) limit /= 4096;
  // A byte-granular segment reaches 1 MB at most; a larger block cut to 20 bits would give the
  // caller a segment shorter than its block.
  if (limit > 0xFFFFF) return false;
  result.LimitLow = static_cast<USHORT>(limit & 0xFFFF);
  result.Flags2 = static_cast<UCHAR>((templateEntry.Flags2 & 0xF0) | ((limit >> 16) & 0x0F));
  return true;
}

NTSTATUS makeZeroBasedSelector(PIRP irp, const IO_STACK_LOCATION& stack) {
  if (stack.Parameters.DeviceIoControl.InputBufferLength != sizeof(ZeroBasedSelectorRequest) ||
      stack.Parameters.DeviceIoControl.OutputBufferLength != sizeof(USHORT))
    return STATUS_INVALID_BUFFER_SIZE;

  ZeroBasedSelectorRequest request;
  std::memcpy(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);

  USHORT selector = 0;
  NTSTATUS status = KeI386AllocateGdtSelectors(&selector, 1);
  if (!NT_SUCCESS(status)) return status;

  // The template's entry, read from the table the processor uses. The caller chooses the
  // selector, so it is checked against the table's limit before it is read.
  KDESCRIPTOR gdtr;
  storeGdtRegister(&gdtr);
  ULONG index = request.templateSelector >> 3;
  KGDTENTRY entry;
  if ((index + 1) * sizeof(KGDTENTRY) - 1 > gdtr.Limit ||
      !buildZeroBasedDescriptor(gdtr.Base[index], request.offset, request.size, entry)) {
    KeI386ReleaseGdtSelectors(&selector, 1);
    return STATUS_INVALID_PARAMETER;
  }
  status = KeI386SetGdtSelector(selector, &entry);
  if (!NT_SUCCESS(status)) {
    KeI386ReleaseGdtSelectors(&selector, 1);
    return status;
  }

  // The new selector carries the template selector's requested privilege level.
  USHORT result = static_cast<USHORT>(selector | (request.templateSelector & 3));
  std::memcpy(irp->AssociatedIrp.SystemBuffer, &result, sizeof result);
  irp->IoStatus.Information = sizeof result;
  return STATUS_SUCCESS;
}

NTSTATUS freeSelector(PIRP irp, const IO_STACK_LOCATION& stack) {
  if (stack.Parameters.DeviceIoControl.InputBufferLength != sizeof(USHORT))
    return STATUS_INVALID_BUFFER_SIZE;
  USHORT selector;
  std::memcpy(&selector, irp->AssociatedIrp.SystemBuffer, sizeof selector);
  // Selectors come back with the privilege bits they were handed out with.
  selector = static_cast<USHORT>(selector & ~3u);
  NTSTATUS status = KeI386ReleaseGdtSelectors(&selector, 1);
  if (NT_SUCCESS(status)) irp->IoStatus.Information = sizeof selector;
  return status;
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING /*registryPath*/) {
  UNICODE_STRING deviceName;
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&deviceName, kZovDeviceName);
  RtlInitUnicodeString(&linkName, kZovDosDeviceName);

  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, kZovDeviceType, 0, 0, &device);
  if (!NT_SUCCESS(status)) return status;
  device->Flags |= DO_DIRECT_IO;

  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = ZovDispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = ZovDispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ZovDispatchDeviceControl;
  driver->DriverUnload = ZovUnload;
  return STATUS_SUCCESS;
}

NTSTATUS ZovDispatchCreateClose(PDEVICE_OBJECT /*device*/, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

NTSTATUS ZovDispatchDeviceControl(PDEVICE_OBJECT /*device*/, PIRP irp) {
  const IO_STACK_LOCATION& stack = *IoGetCurrentIrpStackLocation(irp);
  irp->IoStatus.Information = 0;
  NTSTATUS status;
  switch (stack.Parameters.DeviceIoControl.IoControlCode) {
    case MAKE_ZERO_BASED_SELECTOR:
      status = makeZeroBasedSelector(irp, stack);
      break;
    case FREE_SELECTOR:
      status = freeSelector(irp, stack);
      break;
    default:
      status = STATUS_UNSUCCESSFUL;
      break;
  }
  irp->IoStatus.Status = status;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void ZovUnload(PDRIVER_OBJECT driver) {
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, kZovDosDeviceName);
  IoDeleteSymbolicLink(&linkName);
  IoDeleteDevice(driver->DeviceObject);
}

}  // namespace zov::nt
