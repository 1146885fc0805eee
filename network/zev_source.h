// The network movie source: plays a movie that lies on a movie server while it downloads.
//
// accessZEV asks the user (through the dialog host) for a server and a movie, fetches the movie's
// header and index over one TCP connection, writes a local placeholder AVI file whose video
// chunks hold only chunk numbers, and starts a worker thread that fills a 4 MB read-ahead cache
// of 32 slots with the real chunks ahead of the play position. The codec, given such a 4-byte
// chunk, asks frameData for the real bytes; audio comes through obtainAudio. freeZEV ends it all
// and deletes the local file. One source per process.
//
// The owner window is disabled while the source is built. The dialogs run on the caller's (the
// window) thread; connecting, the movie list, the header and the index are fetched on a loader
// thread meanwhile, and the window thread keeps the "Loading Video..." dialog up until the
// cache is first filled. Its Cancel ends the load at once: transfers are cut, the threads
// joined, the placeholder removed, and accessZEV answers null without a box.
//
// The codec library wires these into its exports (codec/network_hooks.h):
//   setNetworkSourceApi({&accessZEV, &obtainAudio, &freeZEV, &sourceOpen, &frameData});
//
// A silent or vanished server never freezes the caller: connecting gives up after
// connectTimeoutMs, and every receive and send after ioTimeoutMs without data, or when a message
// does not arrive at 1 KB a second or better (the "recv"/"send" box with WSAETIMEDOUT);
// destruction shuts the socket down first so the worker leaves at once.
//
// Real networks: the worker keeps up to pipelineDepth range requests in flight on its one
// connection, so the round-trip time does not cap the rate; each data answer is followed by the
// answer to a small check request for header bytes the source already holds, so an answer
// longer or shorter than asked is caught as a failed request instead of shifting the data after
// it. A failed request makes the worker reconnect (reconnectTries times, the waits doubling from
// reconnectDelayMs), select the movie again and check that its header and index are unchanged;
// only when that fails does its box follow and the worker end. The tries count from the last
// range received whole, so a server that keeps failing the same request is given up on too. The
// read-ahead wraps from the last entry to the first, so a movie that loops finds its start cached
// again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "network/winsock_errors.h"
#include "network/zev_layout.h"
#include "platform/ui.h"
#include "zov/zev_dialogs.h"

namespace zov::network {

struct NetworkOptions {
  uint16_t port = 11541;
  int connectTimeoutMs = 15000;
  int ioTimeoutMs = 20000;
  int reconnectTries = 3;
  int reconnectDelayMs = 200;
  int pipelineDepth = 8;
};
// Process-wide connection settings (tests use an ephemeral port and short time limits).
void setNetworkOptions(const NetworkOptions& options);
NetworkOptions networkOptions();
// How the source's worker and loader threads report running out of memory, which ends them
// like a failed request (the codec library's once-per-process box). Unset: silently.
void setOutOfMemoryReport(void (*report)());

class ZEVClass {
 public:
  explicit ZEVClass(WindowHandle owner);
  ~ZEVClass();
  ZEVClass(const ZEVClass&) = delete;
  ZEVClass& operator=(const ZEVClass&) = delete;

  // 1: no worker, or it ended; 2: loading; 0: ready (cache full or the whole movie cached).
  int status() const;
  const std::string& localFile() const { return localFile_; }
  const ZevHeader& header() const { return header_; }
  const std::vector<uint8_t>& index() const { return index_; }
  const std::string& site() const { return site_; }
  const std::string& movie() const { return movie_; }

  // The real data of video chunk `chunk` from the cache, or null when it is not cached yet;
  // `size` gets the chunk's size from the index (0 for a chunk outside the movie).
  const uint8_t* frameData(uint32_t chunk, size_t* size);
  const uint8_t* audioData(uint32_t chunk, uint32_t* size);
  // The cache status dialog's bar: slots chained from the play position, in percent of 28.
  int cachePercent();
  // Number of slots holding data.
  int filledSlots();

  ProgressDialogData& loadingDialog() { return loading_; }
  ProgressDialogData& cacheDialog() { return cacheStatus_; }

 private:
  bool construct();
  bool runSiteDialog();
  bool connectToSite();
  bool connectTo(const void* address, unsigned length, int family, int timeoutMs);
  bool receiveMovieList(std::vector<std::string>& names);
  bool fetchIndex(std::vector<uint8_t>& into);
  // Connects again and checks the movie, counting each try in `tries` (at most reconnectTries
  // in all, the waits doubling); `verdict` tells why a server that answered failed.
  bool reconnect(std::string& verdict, int& tries);
  void dropConnection();
  // Runs on the window thread; the movies are the server's list.
  bool runMovieDialog(std::vector<std::string>& movies);
  // Runs `step` on a loader thread while this thread serves the loading dialog; false when the
  // step failed or the user cancelled (which stops the step's transfers).
  bool load(const std::function<bool()>& step);
  // Tells the worker and any transfer to end now.
  void stopTransfers();
  bool buildLocalAVIAndMemoryIndex();
  bool processAVIHeader(const uint8_t* header);
  void worker();
  const uint8_t* lookup(int64_t entry, size_t* size);

  // Socket steps; each reports its own box and returns false.
  bool receive(void* data, size_t size);
  bool sendAll(const void* data, size_t size);
  bool requestRange(uint32_t offset, uint32_t length, void* into);
  // A range request and its check request, sent; and their answers, received and checked.
  bool sendRange(uint32_t offset, uint32_t length);
  bool receiveRange(uint32_t length, void* into);
  void winsockBox(const std::string& step, int error);
  void systemBox(const std::string& step, int error);
  void box(const std::string& text);
  // Holds the boxes of this thread while it lives, keeping the first text in `first` (the
  // worker shows a failure only when reconnecting has not mended it).
  class HeldBoxes {
   public:
    explicit HeldBoxes(std::string& first);
    ~HeldBoxes();
    HeldBoxes(const HeldBoxes&) = delete;
    HeldBoxes& operator=(const HeldBoxes&) = delete;

   private:
    std::string* previous_;
  };
  // Shows and closes a progress dialog through the dialog host.
  void openProgress(ProgressDialogData& dialog, const char* name);
  void closeProgress(ProgressDialogData& dialog);
  std::string prefix() const;

  // Slot headers live at the start of each slot, as two 32-bit entry numbers (-1: empty).
  int32_t slotFirst(uint32_t s) const;
  int32_t slotLast(uint32_t s) const;
  void setSlot(uint32_t s, int32_t first, int32_t last);
  int findSlot(int64_t entry) const;
  // A slot whose range, published or still on its way, holds the entry.
  int findCovered(int64_t entry) const;
  int64_t coveredLast(int s) const;
  // Plans the next fetch into a slot (marked in flight); false when there is nothing to fetch.
  struct Fetch {
    uint32_t slot = 0, base = 0, length = 0;
    int32_t first = 0, last = 0;
  };
  bool planFetch(Fetch& fetch);
  uint32_t entryOffset(int64_t e) const { return le32(&index_[size_t(e) * 8]); }
  uint32_t entrySize(int64_t e) const { return le32(&index_[size_t(e) * 8 + 4]) & ~kKeyFrameBit; }

  WindowHandle owner_;
  std::string site_;
  std::string movie_;
  std::string localFile_;
  ZevHeader header_;
  std::vector<uint8_t> index_;
  std::vector<uint8_t> cache_;
  std::vector<uint8_t> headerBytes_;  // the remote header as first fetched
  bool cacheLocked_ = false;
  std::mutex socketLock_;  // socket_ is replaced on a reconnect while the destructor may shut it
  std::atomic<int> socket_{-1};
  // Per slot: the entries of a request on its way into it (-1: none).
  int32_t pendingFirst_[kSlotCount] = {};
  int32_t pendingLast_[kSlotCount] = {};

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool wakeSignalled_ = false;  // the auto-reset event
  std::thread thread_;
  std::atomic<bool> workerRunning_{false};
  std::atomic<bool> workerEnded_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> cacheFull_{false};
  bool windowActive_ = false;
  int64_t windowFirst_ = -1, windowLast_ = -1;
  int64_t wantedChunk_ = -1;

  // Shown through the dialog host while they are open.
  ProgressDialogData loading_{kLoadingProgress};
  ProgressDialogData cacheStatus_{kCacheProgress};
};

// The exports' logic (the codec library exports them as ZOVAccessZEV, ZOVObtainAudio, ZOVFreeZEV).
const char* accessZEV(void* owner);
const void* obtainAudio(uint32_t chunk, uint32_t* out);
void freeZEV();
bool sourceOpen();
// The open movie's name on its server, or null when none is open (a title for the player).
const char* movieName();
const uint8_t* frameData(uint32_t chunk, size_t* size);
// The open source, or null (for hosts and tests).
ZEVClass* currentSource();

}  // namespace zov::network
