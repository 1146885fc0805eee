// The selector driver against the simulated kernel: loading and unloading, the buffer checks of
// both control codes, and the descriptors it builds.
#include "kernel/zovddnt.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zov::nt {
namespace {

class SelectorDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    SimKernel::reset();
    ASSERT_EQ(DriverEntry(&driver_, nullptr), STATUS_SUCCESS);
    auto handle = openDevice(kZovUserDeviceName);
    ASSERT_TRUE(handle.has_value());
    handle_ = *handle;
  }

  NTSTATUS make(uint16_t templateSelector, uint32_t offset, uint32_t size, uint16_t* selector,
                ULONG inputLength = 10, ULONG outputLength = 2, ULONG* returned = nullptr) {
    unsigned char input[16] = {};
    ZeroBasedSelectorRequest request{templateSelector, offset, size};
    std::memcpy(input, &request, sizeof request);
    unsigned char output[8] = {};
    ULONG bytes = 0;
    NTSTATUS status = deviceIoControl(handle_, MAKE_ZERO_BASED_SELECTOR, input, inputLength, output,
                                      outputLength, &bytes);
    if (selector != nullptr) std::memcpy(selector, output, 2);
    if (returned != nullptr) *returned = bytes;
    return status;
  }

  NTSTATUS release(uint16_t selector, ULONG inputLength = 2) {
    unsigned char input[4] = {};
    std::memcpy(input, &selector, 2);
    return deviceIoControl(handle_, FREE_SELECTOR, input, inputLength, nullptr, 0, nullptr);
  }

  DRIVER_OBJECT driver_;
  UserHandle handle_;
};

TEST_F(SelectorDriver, EntryCreatesTheDeviceAndItsLinkAndUnloadRemovesThem) {
  PDEVICE_OBJECT device = SimKernel::device(kZovDeviceName);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(driver_.DeviceObject, device);
  EXPECT_EQ(device->DeviceType, 0x8400u);
  EXPECT_NE(device->Flags & DO_DIRECT_IO, 0u);
  EXPECT_EQ(device->DeviceExtension, nullptr);
  EXPECT_FALSE(device->Exclusive);
  EXPECT_EQ(SimKernel::linkTarget(kZovDosDeviceName), std::u16string(kZovDeviceName));
  EXPECT_NE(driver_.MajorFunction[IRP_MJ_CREATE], nullptr);
  EXPECT_NE(driver_.MajorFunction[IRP_MJ_CLOSE], nullptr);
  EXPECT_NE(driver_.MajorFunction[IRP_MJ_DEVICE_CONTROL], nullptr);
  ASSERT_NE(driver_.DriverUnload, nullptr);

  EXPECT_EQ(closeDevice(handle_), STATUS_SUCCESS);
  driver_.DriverUnload(&driver_);
  EXPECT_EQ(SimKernel::deviceCount(), 0u);
  EXPECT_EQ(SimKernel::linkCount(), 0u);
  EXPECT_FALSE(openDevice(kZovUserDeviceName).has_value());
}

TEST(SelectorDriverEntry, AFailedLinkDeletesTheDeviceAndReturnsTheStatus) {
  SimKernel::reset();
  SimKernel::failSymbolicLink(STATUS_OBJECT_NAME_COLLISION);
  DRIVER_OBJECT driver;
  EXPECT_EQ(DriverEntry(&driver, nullptr), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(SimKernel::deviceCount(), 0u);
  EXPECT_EQ(driver.DeviceObject, nullptr);

  SimKernel::failDeviceCreation(STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(DriverEntry(&driver, nullptr), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(SimKernel::linkCount(), 0u);
}

TEST_F(SelectorDriver, CreateAndCloseCompleteWithSuccessAndNoInformation) {
  IRP irp;
  irp.IoStatus.Information = 99;
  irp.CurrentStackLocation.MajorFunction = IRP_MJ_CREATE;
  EXPECT_EQ(driver_.MajorFunction[IRP_MJ_CREATE](driver_.DeviceObject, &irp), STATUS_SUCCESS);
  EXPECT_TRUE(irp.Completed);
  EXPECT_EQ(irp.IoStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(irp.IoStatus.Information, 0u);
}

TEST_F(SelectorDriver, WrongBufferSizesFailAndAllocateNothing) {
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x10000, 100, nullptr, 8, 2), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x10000, 100, nullptr, 10, 4), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x10000, 100, nullptr, 10, 0), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(SimKernel::allocatedCount(), 0u);
  EXPECT_EQ(release(0x100, 4), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(release(0x100, 0), STATUS_INVALID_BUFFER_SIZE);
}

TEST_F(SelectorDriver, EveryControlRequestIsCompletedWithItsStatus) {
  IRP irp;
  unsigned char buffer[10] = {};
  irp.AssociatedIrp.SystemBuffer = buffer;
  irp.CurrentStackLocation.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  irp.CurrentStackLocation.Parameters.DeviceIoControl.IoControlCode = MAKE_ZERO_BASED_SELECTOR;
  irp.CurrentStackLocation.Parameters.DeviceIoControl.InputBufferLength = 8;
  irp.CurrentStackLocation.Parameters.DeviceIoControl.OutputBufferLength = 2;
  EXPECT_EQ(ZovDispatchDeviceControl(driver_.DeviceObject, &irp), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_TRUE(irp.Completed);
  EXPECT_EQ(irp.PriorityBoost, IO_NO_INCREMENT);
  EXPECT_EQ(irp.IoStatus.Status, STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(irp.IoStatus.Information, 0u);
}

TEST_F(SelectorDriver, OtherControlCodesAreUnsuccessful) {
  unsigned char data[10] = {};
  ULONG returned = 7;
  EXPECT_EQ(deviceIoControl(handle_, 0x84002108, data, 10, data, 2, &returned),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(deviceIoControl(handle_, 0x84002101, data, 10, data, 2, &returned),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(SimKernel::allocatedCount(), 0u);
}

TEST_F(SelectorDriver, FlatTemplateGivesASegmentAtTheBlockInPages) {
  const uint32_t address = 0x00A53010;
  uint16_t selector = 0;
  ULONG returned = 0;
  ASSERT_EQ(make(KGDT_R3_DATA | 3, address, 1276492, &selector, 10, 2, &returned), STATUS_SUCCESS);
  EXPECT_EQ(returned, 2u);
  EXPECT_EQ(selector & 3, 3) << "the template's requested privilege level is kept";
  EXPECT_EQ(selector & 4, 0) << "a global table selector";
  ASSERT_TRUE(SimKernel::allocated(selector & ~3));

  const KGDTENTRY& made = SimKernel::entry(selector);
  const KGDTENTRY& flat = SimKernel::entry(KGDT_R3_DATA);
  EXPECT_EQ(descriptorBase(made), address);
  EXPECT_EQ(descriptorLimit(made), 311u);
  EXPECT_TRUE(descriptorPageGranular(made));
  EXPECT_EQ(made.Flags1, flat.Flags1) << "type, privilege and presence come from the template";
  EXPECT_EQ(made.Flags2 & 0xF0, flat.Flags2 & 0xF0) << "flag bits come from the template";
  EXPECT_EQ(descriptorPrivilege(made), 3u);

  EXPECT_EQ(release(selector), STATUS_SUCCESS);
  EXPECT_EQ(SimKernel::allocatedCount(), 0u);
}

TEST_F(SelectorDriver, BaseAdditionCarriesAcrossTheSplitFields) {
  // A byte-granular template whose base makes every field carry: 0x00FFFFFF + 0x00000001.
  const USHORT templ = 0x50;
  SimKernel::setEntry(templ, makeDescriptor(0x00FFFFFF, 0xFFFFF, 0x13, 1, false, false));
  uint16_t selector = 0;
  ASSERT_EQ(make(templ | 1, 1, 0x10000, &selector), STATUS_SUCCESS);
  const KGDTENTRY& made = SimKernel::entry(selector);
  EXPECT_EQ(made.BaseLow, 0x0000);
  EXPECT_EQ(made.BaseMid, 0x00);
  EXPECT_EQ(made.BaseHi, 0x01);
  EXPECT_EQ(descriptorLimit(made), 0xFFFFu) << "byte granular: size - 1";
  EXPECT_FALSE(descriptorPageGranular(made));
  EXPECT_EQ(made.Flags2 & 0x40, 0) << "a 16-bit template stays 16-bit";
  EXPECT_EQ(selector & 3, 1);

  // Mid-field carry only, and a 32-bit wrap at the top.
  SimKernel::setEntry(templ, makeDescriptor(0xFFFF8000, 0xFFFFF, 0x13, 3, true, true));
  ASSERT_EQ(make(templ, 0x00018000, 4096, &selector), STATUS_SUCCESS);
  EXPECT_EQ(descriptorBase(SimKernel::entry(selector)), 0x00010000u);
  EXPECT_EQ(descriptorLimit(SimKernel::entry(selector)), 0u) << "one page";
}

TEST_F(SelectorDriver, ByteGranularLimitKeepsItsHighNibble) {
  uint16_t selector = 0;
  ASSERT_EQ(make(KGDT_R3_TEB | 3, 0x10, 0x54321, &selector), STATUS_SUCCESS);
  const KGDTENTRY& made = SimKernel::entry(selector);
  EXPECT_EQ(descriptorBase(made), SimKernel::kTebBase + 0x10);
  EXPECT_EQ(made.LimitLow, 0x4320);
  EXPECT_EQ(made.Flags2 & 0x0F, 0x5);
  EXPECT_EQ(made.Flags2 & 0xF0, SimKernel::entry(KGDT_R3_TEB).Flags2 & 0xF0);
}

TEST_F(SelectorDriver, BlocksNoSegmentCanDescribeAreRefusedAndReleaseTheirSelector) {
  uint16_t selector = 0;
  // Larger than a byte-granular segment reaches.
  EXPECT_EQ(make(KGDT_R3_TEB | 3, 0, 0x100001, &selector), STATUS_INVALID_PARAMETER);
  // Empty block.
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x1000, 0, &selector), STATUS_INVALID_PARAMETER);
  // A template selector beyond the end of the table.
  EXPECT_EQ(make(0xFFFB, 0x1000, 100, &selector), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(make(SimKernel::kGdtEntries * 8, 0x1000, 100, &selector), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(SimKernel::allocatedCount(), 0u);
  // The last entry of the table is still a valid template.
  EXPECT_EQ(make((SimKernel::kGdtEntries - 1) * 8, 0x1000, 100, &selector), STATUS_SUCCESS);
}

TEST_F(SelectorDriver, AllocatorFailureIsReturnedAsItIs) {
  SimKernel::failAllocation(STATUS_INSUFFICIENT_RESOURCES);
  uint16_t selector = 0xAAAA;
  ULONG returned = 9;
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x1000, 100, &selector, 10, 2, &returned),
            STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(returned, 0u);

  // Until the pool is used up.
  size_t made = 0;
  while (make(KGDT_R3_DATA | 3, 0x1000, 100, &selector) == STATUS_SUCCESS) ++made;
  EXPECT_EQ(made, SimKernel::kGdtEntries - SimKernel::kFirstPoolEntry);
  EXPECT_EQ(make(KGDT_R3_DATA | 3, 0x1000, 100, &selector), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(SelectorDriver, FreeingWithPrivilegeBitsReleasesTheSameEntry) {
  uint16_t first = 0;
  uint16_t second = 0;
  ASSERT_EQ(make(KGDT_R3_DATA | 3, 0x1000, 100, &first), STATUS_SUCCESS);
  ASSERT_EQ(make(KGDT_R3_DATA | 3, 0x2000, 100, &second), STATUS_SUCCESS);
  ASSERT_EQ(first & 3, 3);
  EXPECT_EQ(release(first), STATUS_SUCCESS);
  EXPECT_FALSE(SimKernel::allocated(first & ~3));
  EXPECT_TRUE(SimKernel::allocated(second & ~3));
  // The entry is free again: the next request reuses it.
  uint16_t again = 0;
  ASSERT_EQ(make(KGDT_R3_DATA, 0x3000, 100, &again), STATUS_SUCCESS);
  EXPECT_EQ(again, first & ~3);
}

TEST_F(SelectorDriver, TheReleasersRefusalIsReturned) {
  EXPECT_EQ(release(0x0100), STATUS_INVALID_PARAMETER) << "never handed out";
  EXPECT_EQ(release(KGDT_R3_DATA | 3), STATUS_INVALID_PARAMETER) << "not from the pool";
  unsigned char input[2] = {0x00, 0x01};
  IRP irp;
  irp.AssociatedIrp.SystemBuffer = input;
  irp.IoStatus.Information = 5;
  auto& parameters = irp.CurrentStackLocation.Parameters.DeviceIoControl;
  parameters.IoControlCode = FREE_SELECTOR;
  parameters.InputBufferLength = 2;
  EXPECT_EQ(ZovDispatchDeviceControl(driver_.DeviceObject, &irp), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(irp.IoStatus.Information, 0u);
  EXPECT_EQ(irp.IoStatus.Status, STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace zov::nt
