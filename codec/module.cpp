#include "codec/module.h"

#include <unistd.h>

#include <cstdio>
#include <new>

#include "codec/stream_engine.h"

namespace zov::codec {

Module& module() {
  static Module m;
  return m;
}

pid_t currentProcessId() {
  return getpid();
}

int showStopBox(const std::string& text, WindowHandle owner, const char* title) {
  return messageBox(owner, text, title, kStopBox);
}

namespace {

// The platform side of the working memory: a flat address space needs no access handle, so
// obtaining and giving one back always succeed.
bool obtainAccessHandle(void*, size_t, uint16_t* access) {
  *access = 0;
  return true;
}
bool releaseAccessHandle(uint16_t) {
  return true;
}

}  // namespace

CodecState* allocateWorkingMemory(size_t bytes, bool boxes, uint16_t* access) {
  Module& m = module();
  // The record heads the block; the decoder's pictures and maps live in the stream engine,
  // which sizes them for each stream, so the block itself needs only the record.
  void* block = ::operator new(sizeof(CodecState), std::nothrow);
  if (!block) {
    if (boxes && !m.resourceBoxShown.exchange(true)) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "Unable to allocate %lu bytes of storage!\rPlease reboot and try this again.",
                    static_cast<unsigned long>(bytes));
      showStopBox(text);
    }
    return nullptr;
  }
  auto* state = new (block) CodecState{};  // zero-filled
  if (!obtainAccessHandle(block, bytes, access)) {
    ::operator delete(block);
    return nullptr;
  }
  state->workingMemoryBytes = bytes;
  return state;
}

void releaseWorkingMemory(CodecState* state, uint16_t access, bool) {
  if (!state) return;
  releaseAccessHandle(access);
  delete state->engine;
  state->engine = nullptr;
  state->~CodecState();
  ::operator delete(state);
}

void reportOutOfMemory() noexcept {
  Module& m = module();
  if (m.resourceBoxShown.exchange(true)) return;
  try {
    showStopBox("Unable to allocate storage!\rPlease reboot and try this again.");
  } catch (...) {
    // Showing the box needs memory too; the failure is still answered.
  }
}

bool isListed(const InstanceLinkStruct* link) {
  InstanceListLock lock;
  for (InstanceLinkStruct* l = module().instances; l; l = l->next)
    if (l == link) return true;
  return false;
}

InstanceLinkStruct* firstInstanceOfProcess() {
  InstanceListLock lock;
  pid_t me = currentProcessId();
  for (InstanceLinkStruct* l = module().instances; l; l = l->next)
    if (l->state && l->state->ownerProcessId == me) return l;
  return nullptr;
}

void updateHiddenWindow() {
  Module& m = module();
  if (!m.videEditClassRegistered) return;
  m.videEditWindow = !m.settings.useHardware;
}

}  // namespace zov::codec
