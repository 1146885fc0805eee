// Module-wide state of the codec library (one per process) and the helpers every handler uses:
// the error boxes, the working-memory allocator and walks over the instance list.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

#include "codec/codec_state.h"
#include "codec/settings.h"
#include "platform/ui.h"

namespace zov::codec {

inline constexpr const char* kBoxTitle = "Orvane Codec";
inline constexpr uint32_t kStopBox = MB_ICONHAND | MB_SYSTEMMODAL;
inline constexpr uint32_t kInterfaceVersion = 1035;

struct Module {
  int attachCount = 0;
  CodecSettings settings;
  InstanceLinkStruct* instances = nullptr;
  // The hidden "VidEdit" window: its class is registered at start-up; the window exists while
  // UseHardware is off. Nothing draws into it; it only mirrors the setting.
  bool videEditClassRegistered = false;
  bool videEditWindow = false;
  bool hiColorChecked = false;
  // A resource error box was shown: the allocator shows at most one per process. Also set from
  // the network source's threads.
  std::atomic<bool> resourceBoxShown{false};
  // Some instance placed output through the extended path (the status dialog's "Fast Video").
  // Instances set it while they play, on threads of their own, without the instance list.
  std::atomic<bool> fastVideo{false};
  // Fullscreen resolution index last chosen.
  int lastResolution = 2;
  // Guards the instance list: hosts may open and close instances from several threads at once.
  // Recursive, since a walk over the list may end in a handler that walks it again.
  std::recursive_mutex instancesLock;
};

Module& module();

// Holds the instance list for the scope.
class InstanceListLock {
 public:
  InstanceListLock() : guard_(module().instancesLock) {}

 private:
  std::lock_guard<std::recursive_mutex> guard_;
};

// The box of an allocation that failed outside the working-memory allocator, shown at most
// once per process (the allocator's flag).
void reportOutOfMemory() noexcept;

// Runs the body of DriverProc or of an export. No exception leaves the library: an allocation
// failure answers `onMemory` after the once-per-process box, anything else `onError`.
template <typename R, typename F>
R guarded(R onMemory, R onError, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    reportOutOfMemory();
    return onMemory;
  } catch (const std::length_error&) {
    reportOutOfMemory();
    return onMemory;
  } catch (...) {
    return onError;
  }
}
template <typename F>
void guarded(F&& body) noexcept {
  guarded(0, 0, [&] {
    body();
    return 0;
  });
}

// A stop box titled "Orvane Codec", system-modal.
int showStopBox(const std::string& text, WindowHandle owner = nullptr,
                const char* title = kBoxTitle);

// The working-memory allocator: a zero-filled block of `bytes` (at least sizeof(CodecState)),
// with the CodecState record constructed at its start, and its access handle. On failure shows
// "Unable to allocate %lu bytes of storage!..." when boxes are asked for and none was shown in
// this process, and returns null.
CodecState* allocateWorkingMemory(size_t bytes, bool boxes, uint16_t* access);
// Gives back the access handle and frees the block (and the stream engine it holds).
void releaseWorkingMemory(CodecState* state, uint16_t access, bool boxes);

// The instance list of this process.
bool isListed(const InstanceLinkStruct* link);
InstanceLinkStruct* firstInstanceOfProcess();
template <typename F>
void forEachInstanceOfProcess(F&& f);

pid_t currentProcessId();

// Keeps the hidden window in step with UseHardware.
void updateHiddenWindow();

template <typename F>
void forEachInstanceOfProcess(F&& f) {
  InstanceListLock lock;
  pid_t me = currentProcessId();
  for (InstanceLinkStruct* l = module().instances; l; l = l->next)
    if (l->state && l->state->ownerProcessId == me) f(*l->state);
}

}  // namespace zov::codec
