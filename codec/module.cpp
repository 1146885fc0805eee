#include "codec/module.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
  void* block = nullptr;
  if (m.failAllocations > 0) {
    --m.failAllocations;
  } else {
    // The record heads the block; the decoder's pictures and maps live in the stream engine,
    // which sizes them for each stream, so the block itself needs only the record.
    block = std::calloc(1, sizeof(CodecState));
  }
  if (!block) {
    if (boxes && !m.resourceBoxShown) {
      m.resourceBoxShown = true;
      char text[160];
      std::snprintf(text, sizeof text,
                    "Unable to allocate %lu bytes of storage!\rPlease reboot and try this again.",
                    static_cast<unsigned long>(bytes));
      showStopBox(text);
    }
    return nullptr;
  }
  auto* state = new (block) CodecState{};
  if (!obtainAccessHandle(block, bytes, access)) {
    std::free(block);
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
  std::free(state);
}

bool isListed(const InstanceLinkStruct* link) {
  for (InstanceLinkStruct* l = module().instances; l; l = l->next)
    if (l == link) return true;
  return false;
}

InstanceLinkStruct* firstInstanceOfProcess() {
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

// For tests of the allocator's failure path: the next `count` working-memory allocations fail.
extern "C" __attribute__((visibility("default"))) void ZOVTestingFailAllocations(int count) {
  zov::codec::module().failAllocations = count;
}

// For tests: the size of the record a fresh instance allocates.
extern "C" __attribute__((visibility("default"))) unsigned long ZOVTestingStateSize() {
  return sizeof(zov::codec::CodecState);
}
