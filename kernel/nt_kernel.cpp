#include "kernel/nt_kernel.h"

#include <cstring>
#include <memory>

namespace zov::nt {
namespace {

struct KernelState {
  std::array<KGDTENTRY, SimKernel::kGdtEntries> gdt{};
  std::array<bool, SimKernel::kGdtEntries> inUse{};
  std::map<std::u16string, std::unique_ptr<DEVICE_OBJECT>> devices;
  std::map<std::u16string, std::u16string> links;
  NTSTATUS allocationFault = STATUS_SUCCESS;
  NTSTATUS linkFault = STATUS_SUCCESS;
  NTSTATUS deviceFault = STATUS_SUCCESS;
  size_t completed = 0;
};

KernelState& kernel() {
  static KernelState state;
  static bool booted = false;
  if (!booted) {
    booted = true;
    SimKernel::reset();
  }
  return state;
}

std::u16string toString(const UNICODE_STRING* text) {
  if (text == nullptr || text->Buffer == nullptr) return {};
  return std::u16string(text->Buffer, text->Length / sizeof(char16_t));
}

// Code and data descriptor types with the S bit (bit 4) set: execute/read and read/write, both
// accessed, as NT's boot table has them.
constexpr UCHAR kCodeType = 0x1B;
constexpr UCHAR kDataType = 0x13;

size_t indexOf(USHORT selector) {
  return selector >> 3;
}

}  // namespace

void RtlInitUnicodeString(UNICODE_STRING* destination, const char16_t* source) {
  destination->Buffer = source;
  if (source == nullptr) {
    destination->Length = destination->MaximumLength = 0;
    return;
  }
  size_t length = 0;
  while (source[length] != 0) ++length;
  destination->Length = static_cast<USHORT>(length * sizeof(char16_t));
  destination->MaximumLength = static_cast<USHORT>(destination->Length + sizeof(char16_t));
}

// ---- Descriptors ----

ULONG descriptorBase(const KGDTENTRY& e) {
  return ULONG{e.BaseLow} | (ULONG{e.BaseMid} << 16) | (ULONG{e.BaseHi} << 24);
}

ULONG descriptorLimit(const KGDTENTRY& e) {
  return ULONG{e.LimitLow} | (ULONG{static_cast<UCHAR>(e.Flags2 & 0x0F)} << 16);
}

bool descriptorPageGranular(const KGDTENTRY& e) {
  return (e.Flags2 & kDescriptorGranularity) != 0;
}

unsigned descriptorPrivilege(const KGDTENTRY& e) {
  return (e.Flags1 >> 5) & 3;
}

KGDTENTRY makeDescriptor(ULONG base, ULONG limit20, UCHAR type, unsigned dpl, bool pageGranular,
                         bool big) {
  KGDTENTRY e;
  e.LimitLow = static_cast<USHORT>(limit20 & 0xFFFF);
  e.BaseLow = static_cast<USHORT>(base & 0xFFFF);
  e.BaseMid = static_cast<UCHAR>((base >> 16) & 0xFF);
  e.BaseHi = static_cast<UCHAR>((base >> 24) & 0xFF);
  e.Flags1 = static_cast<UCHAR>((type & 0x1F) | ((dpl & 3) << 5) | kDescriptorPresent);
  e.Flags2 = static_cast<UCHAR>(((limit20 >> 16) & 0x0F) | (big ? kDescriptorBig : 0) |
                                (pageGranular ? kDescriptorGranularity : 0));
  return e;
}

void storeGdtRegister(KDESCRIPTOR* descriptor) {
  KernelState& k = kernel();
  descriptor->Base = k.gdt.data();
  descriptor->Limit = static_cast<USHORT>(sizeof(k.gdt) - 1);
}

// ---- Selector services ----

NTSTATUS KeI386AllocateGdtSelectors(USHORT* selectorArray, USHORT numberOfSelectors) {
  KernelState& k = kernel();
  if (k.allocationFault != STATUS_SUCCESS) {
    NTSTATUS status = k.allocationFault;
    k.allocationFault = STATUS_SUCCESS;
    return status;
  }
  std::vector<size_t> found;
  for (size_t i = SimKernel::kFirstPoolEntry; i < k.gdt.size() && found.size() < numberOfSelectors;
       ++i) {
    if (!k.inUse[i]) found.push_back(i);
  }
  if (found.size() < numberOfSelectors) return STATUS_INSUFFICIENT_RESOURCES;
  for (size_t n = 0; n < found.size(); ++n) {
    k.inUse[found[n]] = true;
    selectorArray[n] = static_cast<USHORT>(found[n] << 3);
  }
  return STATUS_SUCCESS;
}

NTSTATUS KeI386ReleaseGdtSelectors(USHORT* selectorArray, USHORT numberOfSelectors) {
  KernelState& k = kernel();
  // The whole request is checked first so a bad entry releases nothing.
  for (USHORT n = 0; n < numberOfSelectors; ++n) {
    size_t i = indexOf(selectorArray[n]);
    if ((selectorArray[n] & 7) != 0 || i < SimKernel::kFirstPoolEntry || i >= k.gdt.size() ||
        !k.inUse[i])
      return STATUS_INVALID_PARAMETER;
  }
  for (USHORT n = 0; n < numberOfSelectors; ++n) {
    size_t i = indexOf(selectorArray[n]);
    k.inUse[i] = false;
    k.gdt[i] = KGDTENTRY{};
  }
  return STATUS_SUCCESS;
}

NTSTATUS KeI386SetGdtSelector(ULONG selector, const KGDTENTRY* entry) {
  KernelState& k = kernel();
  size_t i = indexOf(static_cast<USHORT>(selector));
  if ((selector & 7) != 0 || selector > 0xFFFF || i < SimKernel::kFirstPoolEntry ||
      i >= k.gdt.size() || !k.inUse[i])
    return STATUS_INVALID_PARAMETER;
  k.gdt[i] = *entry;
  return STATUS_SUCCESS;
}

// ---- Devices and links ----

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG deviceExtensionSize,
                        PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                        ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject) {
  KernelState& k = kernel();
  *deviceObject = nullptr;
  if (k.deviceFault != STATUS_SUCCESS) {
    NTSTATUS status = k.deviceFault;
    k.deviceFault = STATUS_SUCCESS;
    return status;
  }
  std::u16string name = toString(deviceName);
  if (name.empty() || name[0] != u'\\') return STATUS_OBJECT_NAME_INVALID;
  if (k.devices.count(name) != 0) return STATUS_OBJECT_NAME_COLLISION;
  auto device = std::make_unique<DEVICE_OBJECT>();
  device->DriverObject = driver;
  device->DeviceType = deviceType;
  device->Characteristics = deviceCharacteristics;
  device->Exclusive = exclusive != 0;
  device->Flags = DO_DEVICE_INITIALIZING;
  device->Name = name;
  if (deviceExtensionSize != 0) {
    device->ExtensionStorage.assign(deviceExtensionSize, 0);
    device->DeviceExtension = device->ExtensionStorage.data();
  }
  device->NextDevice = driver->DeviceObject;
  driver->DeviceObject = device.get();
  *deviceObject = device.get();
  k.devices.emplace(name, std::move(device));
  return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT device) {
  KernelState& k = kernel();
  if (device == nullptr) return;
  PDRIVER_OBJECT driver = device->DriverObject;
  if (driver != nullptr) {
    for (PDEVICE_OBJECT* p = &driver->DeviceObject; *p != nullptr; p = &(*p)->NextDevice) {
      if (*p == device) {
        *p = device->NextDevice;
        break;
      }
    }
  }
  k.devices.erase(device->Name);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING linkName, PUNICODE_STRING deviceName) {
  KernelState& k = kernel();
  if (k.linkFault != STATUS_SUCCESS) {
    NTSTATUS status = k.linkFault;
    k.linkFault = STATUS_SUCCESS;
    return status;
  }
  std::u16string link = toString(linkName);
  if (link.empty() || link[0] != u'\\') return STATUS_OBJECT_NAME_INVALID;
  if (k.links.count(link) != 0) return STATUS_OBJECT_NAME_COLLISION;
  k.links.emplace(link, toString(deviceName));
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING linkName) {
  return kernel().links.erase(toString(linkName)) != 0 ? STATUS_SUCCESS
                                                       : STATUS_OBJECT_NAME_NOT_FOUND;
}

void IofCompleteRequest(PIRP irp, CCHAR priorityBoost) {
  irp->Completed = true;
  irp->PriorityBoost = priorityBoost;
  ++kernel().completed;
}

// ---- Simulation controls ----

void SimKernel::reset() {
  KernelState& k = kernel();
  k.gdt.fill(KGDTENTRY{});
  k.inUse.fill(false);
  // The flat segments: base 0, 4 GB in pages.
  k.gdt[indexOf(KGDT_R0_CODE)] = makeDescriptor(0, 0xFFFFF, kCodeType, 0, true, true);
  k.gdt[indexOf(KGDT_R0_DATA)] = makeDescriptor(0, 0xFFFFF, kDataType, 0, true, true);
  k.gdt[indexOf(KGDT_R3_CODE)] = makeDescriptor(0, 0xFFFFF, kCodeType, 3, true, true);
  k.gdt[indexOf(KGDT_R3_DATA)] = makeDescriptor(0, 0xFFFFF, kDataType, 3, true, true);
  // The user thread environment block: one byte-granular page.
  k.gdt[indexOf(KGDT_R3_TEB)] = makeDescriptor(kTebBase, 0xFFF, kDataType, 3, false, true);
  for (size_t i = 0; i < kFirstPoolEntry; ++i) k.inUse[i] = true;
  k.devices.clear();
  k.links.clear();
  k.allocationFault = k.linkFault = k.deviceFault = STATUS_SUCCESS;
  k.completed = 0;
}

const KGDTENTRY& SimKernel::entry(USHORT selector) {
  return kernel().gdt.at(indexOf(selector));
}

bool SimKernel::allocated(USHORT selector) {
  size_t i = indexOf(selector);
  return i >= kFirstPoolEntry && i < kGdtEntries && kernel().inUse[i];
}

size_t SimKernel::allocatedCount() {
  size_t n = 0;
  for (size_t i = kFirstPoolEntry; i < kGdtEntries; ++i) n += kernel().inUse[i] ? 1 : 0;
  return n;
}

void SimKernel::setEntry(USHORT selector, const KGDTENTRY& e) {
  kernel().gdt.at(indexOf(selector)) = e;
}

void SimKernel::failAllocation(NTSTATUS status) {
  kernel().allocationFault = status;
}
void SimKernel::failSymbolicLink(NTSTATUS status) {
  kernel().linkFault = status;
}
void SimKernel::failDeviceCreation(NTSTATUS status) {
  kernel().deviceFault = status;
}

PDEVICE_OBJECT SimKernel::device(const std::u16string& name) {
  auto it = kernel().devices.find(name);
  return it == kernel().devices.end() ? nullptr : it->second.get();
}

std::optional<std::u16string> SimKernel::linkTarget(const std::u16string& linkName) {
  auto it = kernel().links.find(linkName);
  if (it == kernel().links.end()) return std::nullopt;
  return it->second;
}

size_t SimKernel::deviceCount() {
  return kernel().devices.size();
}
size_t SimKernel::linkCount() {
  return kernel().links.size();
}
size_t SimKernel::completedRequests() {
  return kernel().completed;
}

// ---- User-mode view ----

namespace {

NTSTATUS dispatch(PDEVICE_OBJECT device, IRP& irp) {
  PDRIVER_DISPATCH routine =
      device->DriverObject->MajorFunction[irp.CurrentStackLocation.MajorFunction];
  if (routine == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  return routine(device, &irp);
}

}  // namespace

std::optional<UserHandle> openDevice(const std::u16string& dosName, NTSTATUS* status) {
  static const std::u16string kPrefix = u"\\\\.\\";
  NTSTATUS result = STATUS_OBJECT_NAME_NOT_FOUND;
  std::optional<UserHandle> handle;
  if (dosName.compare(0, kPrefix.size(), kPrefix) == 0) {
    auto target = SimKernel::linkTarget(u"\\DosDevices\\" + dosName.substr(kPrefix.size()));
    PDEVICE_OBJECT device = target ? SimKernel::device(*target) : nullptr;
    if (device != nullptr) {
      IRP irp;
      irp.CurrentStackLocation.MajorFunction = IRP_MJ_CREATE;
      result = dispatch(device, irp);
      if (NT_SUCCESS(result)) handle = UserHandle{device};
    }
  }
  if (status != nullptr) *status = result;
  return handle;
}

NTSTATUS closeDevice(const UserHandle& handle) {
  if (handle.device == nullptr) return STATUS_INVALID_HANDLE;
  IRP irp;
  irp.CurrentStackLocation.MajorFunction = IRP_MJ_CLOSE;
  return dispatch(handle.device, irp);
}

NTSTATUS deviceIoControl(const UserHandle& handle, ULONG code, const void* input, ULONG inputLength,
                         void* output, ULONG outputLength, ULONG* bytesReturned) {
  if (bytesReturned != nullptr) *bytesReturned = 0;
  if (handle.device == nullptr) return STATUS_INVALID_HANDLE;
  std::vector<unsigned char> systemBuffer(std::max(inputLength, outputLength));
  if (inputLength != 0 && input != nullptr) std::memcpy(systemBuffer.data(), input, inputLength);
  IRP irp;
  irp.AssociatedIrp.SystemBuffer = systemBuffer.empty() ? nullptr : systemBuffer.data();
  IO_STACK_LOCATION& stack = irp.CurrentStackLocation;
  stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  stack.Parameters.DeviceIoControl.IoControlCode = code;
  NTSTATUS status = dispatch(handle.device, irp);
  if (NT_SUCCESS(status)) {
    // The I/O manager copies back no more than the caller's output buffer holds.
    ULONG copied = static_cast<ULONG>(std::min<ULONG_PTR>(irp.IoStatus.Information, outputLength));
    if (copied != 0 && output != nullptr) std::memcpy(output, systemBuffer.data(), copied);
    if (bytesReturned != nullptr) *bytesReturned = copied;
  }
  return status;
}

}  // namespace zov::nt
