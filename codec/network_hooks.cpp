#include "codec/network_hooks.h"

#include "codec/module.h"
#include "zov/zovcod32.h"

namespace zov::codec {

NetworkSourceApi& api() {
  static NetworkSourceApi a;
  return a;
}

void setNetworkSourceApi(const NetworkSourceApi& a) {
  api() = a;
}

bool networkSourceOpen() {
  return api().isOpen && api().isOpen();
}

const uint8_t* networkFrameData(uint32_t chunk, size_t* size) {
  *size = 0;
  return api().frameData ? api().frameData(chunk, size) : nullptr;
}

void releaseNetworkSource() {
  if (api().release) api().release();
}

}  // namespace zov::codec

// No exception leaves the library: a failure answers "no source" or "no audio".
extern "C" ZOVCOD32_API const char* ZOVAccessZEV(void* owner) {
  const auto& a = zov::codec::api();
  return zov::codec::guarded<const char*>(nullptr, nullptr,
                                          [&] { return a.access ? a.access(owner) : nullptr; });
}

extern "C" ZOVCOD32_API const void* ZOVObtainAudio(uint32_t chunk, uint32_t* out) {
  const auto& a = zov::codec::api();
  return zov::codec::guarded<const void*>(nullptr, nullptr, [&]() -> const void* {
    if (a.obtainAudio) return a.obtainAudio(chunk, out);
    if (out) *out = 0;
    return nullptr;
  });
}

extern "C" ZOVCOD32_API const char* ZOVNetworkedMovieName(void) {
  const auto& a = zov::codec::api();
  return zov::codec::guarded<const char*>(nullptr, nullptr,
                                          [&] { return a.movieName ? a.movieName() : nullptr; });
}

extern "C" ZOVCOD32_API void ZOVFreeZEV(void) {
  zov::codec::guarded([] { zov::codec::releaseNetworkSource(); });
}
