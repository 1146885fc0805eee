// Drives the selector driver with a sequence of device-control requests of any code, lengths
// and contents: the driver must never read outside the request or the descriptor table, never
// change an entry it did not allocate, and keep its allocations consistent with what it returns.
//
// Input: repeated records of [kind, input length, output length, 10 data bytes]; kind picks the
// code (make, free, or something else).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "kernel/zovddnt.h"

using namespace zov::nt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SimKernel::reset();
  DRIVER_OBJECT driver;
  if (DriverEntry(&driver, nullptr) != STATUS_SUCCESS) std::abort();
  auto handle = openDevice(kZovUserDeviceName);
  if (!handle) std::abort();

  KGDTENTRY boot[SimKernel::kFirstPoolEntry];
  for (size_t i = 0; i < SimKernel::kFirstPoolEntry; ++i)
    boot[i] = SimKernel::entry(static_cast<USHORT>(i * 8));

  std::set<uint16_t> mine;
  constexpr size_t kRecord = 13;
  for (size_t at = 0; at + kRecord <= size; at += kRecord) {
    const uint8_t* r = data + at;
    ULONG code = r[0] % 3 == 0   ? MAKE_ZERO_BASED_SELECTOR
                 : r[0] % 3 == 1 ? FREE_SELECTOR
                                 : 0x84000000u | r[0];
    ULONG inLength = r[1] % 16;
    ULONG outLength = r[2] % 8;
    uint8_t input[16] = {};
    std::memcpy(input, r + 3, 10);
    if (code == FREE_SELECTOR && !mine.empty() && (r[0] & 0x80)) {
      uint16_t pick = *mine.begin();
      pick = static_cast<uint16_t>(pick | (r[3] & 3));
      std::memcpy(input, &pick, 2);
    }
    uint8_t output[8] = {};
    ULONG returned = 0;
    NTSTATUS status = deviceIoControl(*handle, code, input, inLength, output, outLength, &returned);
    if (code == MAKE_ZERO_BASED_SELECTOR && status == STATUS_SUCCESS) {
      uint16_t selector;
      std::memcpy(&selector, output, 2);
      if (returned != 2 || !SimKernel::allocated(selector & ~3)) std::abort();
      mine.insert(static_cast<uint16_t>(selector & ~3));
    } else if (code == FREE_SELECTOR && status == STATUS_SUCCESS) {
      uint16_t selector;
      std::memcpy(&selector, input, 2);
      if (mine.erase(static_cast<uint16_t>(selector & ~3)) != 1) std::abort();
    }
    if (SimKernel::allocatedCount() != mine.size()) std::abort();
  }
  for (size_t i = 0; i < SimKernel::kFirstPoolEntry; ++i)
    if (std::memcmp(&boot[i], &SimKernel::entry(static_cast<USHORT>(i * 8)), 8) != 0) std::abort();
  closeDevice(*handle);
  driver.DriverUnload(&driver);
  return 0;
}
