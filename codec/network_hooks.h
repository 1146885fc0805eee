// Where the network movie source plugs into the codec library. The source (network/) is built
// into the library and registers its entry points here when it starts; until it does, the
// exports ZOVAccessZEV / ZOVObtainAudio / ZOVFreeZEV answer "no source" and every frame is
// decoded as it comes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov::codec {

struct NetworkSourceApi {
  // ZOVAccessZEV: the local placeholder file's path, or null on failure or cancel.
  const char* (*access)(void* owner) = nullptr;
  // ZOVObtainAudio.
  const void* (*obtainAudio)(uint32_t chunk, uint32_t* out) = nullptr;
  // ZOVFreeZEV; also run when the library is unloaded.
  void (*release)() = nullptr;
  // Whether a source is open: while one is, every compressed frame is a 4-byte chunk number.
  bool (*isOpen)() = nullptr;
  // The real data of a chunk, or null when it is not cached yet (the codec then waits for the
  // next key frame).
  const uint8_t* (*frameData)(uint32_t chunk, size_t* size) = nullptr;
  // ZOVNetworkedMovieName: the open movie's name on its server, or null.
  const char* (*movieName)() = nullptr;
};

void setNetworkSourceApi(const NetworkSourceApi& api);
bool networkSourceOpen();
const uint8_t* networkFrameData(uint32_t chunk, size_t* size);
void releaseNetworkSource();

}  // namespace zov::codec
