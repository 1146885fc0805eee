#include "network/zev_source.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include "platform/profile.h"

namespace zov::network {

namespace {

constexpr char kTitle[] = "Orvane Network";
constexpr uint32_t kBoxStyle = MB_ICONHAND | MB_SYSTEMMODAL;
constexpr char kSettingsFile[] = "zovcodec.ini";
constexpr char kSettingsSection[] = "ZOV1";
constexpr int kMaxRecall = 8;
// Entries just behind the play position that the worker does not evict for reading ahead.
constexpr int64_t kKeepBehind = 2;
// A server may list at most this many movies (each a 256-byte name).
constexpr uint32_t kMaxMovies = 65536;
// How often a dialog answered OK without a choice is shown again before it counts as cancelled
// (a real user stays in the dialog; a scripted host must not loop forever).
constexpr int kMaxDialogRetries = 16;

std::mutex gOptionsLock;
NetworkOptions gOptions;

std::string format(const char* fmt, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

std::string tempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

}  // namespace

void setNetworkOptions(const NetworkOptions& options) {
  std::lock_guard lock(gOptionsLock);
  gOptions = options;
}

NetworkOptions networkOptions() {
  std::lock_guard lock(gOptionsLock);
  return gOptions;
}

// ---- Boxes ----

std::string ZEVClass::prefix() const {
  return format("ZEVClass %8.8lx: ", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
}

void ZEVClass::box(const std::string& text) {
  // While the source is being torn down, a transfer cut short is expected, not news.
  if (stopRequested_) return;
  messageBox(owner_, text, kTitle, kBoxStyle);
}

void ZEVClass::systemBox(const std::string& step, int error) {
  box(prefix() + format("%s failed, RC=%lu", step.c_str(), static_cast<unsigned long>(error)));
}

void ZEVClass::winsockBox(const std::string& step, int error) {
  box(winsockErrorText(step, error));
}

// ---- Construction ----

ZEVClass::ZEVClass(WindowHandle owner) : owner_(owner) {
  try {
    cache_.assign(size_t(kSlotCount) * kSlotBytes, 0);
  } catch (const std::bad_alloc&) {
    box(prefix() + format("Constructor failed, unable to allocate %lu bytes for a cache", 32ul));
    return;
  }
  // Locked like the original's cache so playback never waits on paging; not required.
  cacheLocked_ = mlock(cache_.data(), cache_.size()) == 0;
  for (uint32_t s = 0; s < kSlotCount; ++s) setSlot(s, -1, -1);
  cacheStatus_.refreshMs = 1000;
  cacheStatus_.refresh = [this] { cachePercent(); };
  if (!construct() && socket_ >= 0) {
    // Nothing more will be read: stop the server's side early.
    ::shutdown(socket_, SHUT_RDWR);
  }
}

bool ZEVClass::construct() {
  if (!runSiteDialog()) return false;
  if (!connectToSite()) return false;
  if (!runMovieDialog()) return false;
  uint8_t field[256] = {};
  std::memcpy(field, movie_.data(), std::min<size_t>(movie_.size(), 255));
  if (!sendAll(field, sizeof field)) return false;

  loading_.rangeMax = 30;
  loading_.position = 0;
  openProgress(loading_, kLoadingDialog);
  if (!buildLocalAVIAndMemoryIndex()) {
    closeProgress(loading_);
    return false;
  }
  try {
    thread_ = std::thread([this] { worker(); });
  } catch (const std::system_error& e) {
    systemBox("Constructor CreateThread()", e.code().value());
    closeProgress(loading_);
    return false;
  }
  loading_.rangeMax = 100;
  updateModelessDialog(loading_);
  while (status() == 2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    loading_.position = cacheFull_ ? 100 : 50 + 50 * filledSlots() / int(kSlotCount);
    updateModelessDialog(loading_);
  }
  closeProgress(loading_);
  if (status() == 0) {
    cachePercent();
    openProgress(cacheStatus_, kCacheStatusDialog);
  }
  return true;
}

void ZEVClass::openProgress(ProgressDialogData& dialog, const char* name) {
  dialog.open = true;
  openModelessDialog(owner_, name, dialog);
}

void ZEVClass::closeProgress(ProgressDialogData& dialog) {
  if (!dialog.open.exchange(false)) return;
  closeModelessDialog(dialog);
}

bool ZEVClass::runSiteDialog() {
  ProfileFile profile(kSettingsFile);
  SiteDialogData data;
  for (int i = 1; i <= kMaxRecall; ++i) {
    std::string value =
        profile.getString(kSettingsSection, format("SiteRecall%u", unsigned(i)), "", 260);
    if (!value.empty()) data.recall.push_back(value);
  }
  data.text = data.recall.empty() ? std::string() : data.recall.front();
  if (!dialogHost()) {
    box(prefix() + "Constructor failed, unable to display site dialog");
    return false;
  }
  for (int tries = 0;; ++tries) {
    if (tries == kMaxDialogRetries) return false;
    if (runModalDialog(owner_, kSiteDialog, data) != IDOK) return false;  // cancelled quietly
    if (!data.text.empty()) break;
    messageBeep(MB_OK);
  }
  site_ = data.text.substr(0, 259);
  // The recall list keeps the last eight sites, most recent first, without duplicates.
  profile.writeString(kSettingsSection, "SiteRecall1", site_);
  unsigned key = 2;
  for (const std::string& entry : data.recall) {
    if (key > unsigned(kMaxRecall)) break;
    if (entry != site_) profile.writeString(kSettingsSection, format("SiteRecall%u", key++), entry);
  }
  return true;
}

bool ZEVClass::connectToSite() {
  const NetworkOptions options = networkOptions();
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    winsockBox("socket", errno);
    return false;
  }
  int zero = 0, buffer = int(kSlotBytes);
  timeval io{options.ioTimeoutMs / 1000, (options.ioTimeoutMs % 1000) * 1000};
  if (setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &zero, sizeof zero) != 0 ||
      setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) != 0 ||
      setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer) != 0 ||
      setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &io, sizeof io) != 0 ||
      setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &io, sizeof io) != 0) {
    winsockBox("setsockopt", errno);
    return false;
  }
  int pending = 0;
  if (ioctl(socket_, FIONREAD, &pending) != 0) {
    winsockBox("ioctlsocket", errno);
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    winsockBox("bind", errno);
    return false;
  }

  sockaddr_in server{};
  server.sin_family = AF_INET;
  // ZOV_ZEV_PORT (1..65535) overrides the port: hosts reach the codec library's own copy of
  // this source only through its exports, so this is how they point it at a server that does
  // not listen on the usual port (tests use an ephemeral loopback port).
  uint16_t port = options.port;
  if (const char* env = std::getenv("ZOV_ZEV_PORT")) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(env, &end, 10);
    if (end != env && *end == '\0' && value >= 1 && value <= 65535) port = uint16_t(value);
  }
  server.sin_port = htons(port);
  const bool dotted = site_.find_first_not_of("0123456789.") == std::string::npos;
  if (dotted) {
    // A dotted address is used as it is: a reverse lookup would only add a way to fail.
    if (inet_pton(AF_INET, site_.c_str(), &server.sin_addr) != 1) {
      winsockBox("gethostbyaddr", kHostNotFound);
      return false;
    }
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(site_.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
      winsockBox("gethostbyname", resolverError(rc));
      return false;
    }
    if (found->ai_addrlen != sizeof(sockaddr_in)) {
      freeaddrinfo(found);
      box("socket address length is incorrect for TCP/IP");
      return false;
    }
    server.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }

  // Connect with a time limit: a host that never answers must not hold the caller for minutes.
  int flags = fcntl(socket_, F_GETFL, 0);
  fcntl(socket_, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof server);
  int error = rc == 0 ? 0 : errno;
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{socket_, POLLOUT, 0};
    int n;
    do n = poll(&p, 1, options.connectTimeoutMs);
    while (n < 0 && errno == EINTR);
    if (n == 0) {
      error = ETIMEDOUT;
    } else {
      socklen_t len = sizeof error;
      if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
  }
  fcntl(socket_, F_SETFL, flags);
  if (error != 0) {
    winsockBox("connect", error);
    return false;
  }
  return true;
}

bool ZEVClass::runMovieDialog() {
  if (!dialogHost()) {
    box(prefix() + "Constructor failed, unable to display object dialog");
    return false;
  }
  uint8_t countBytes[4];
  if (!receive(countBytes, 4)) return false;
  uint32_t count = le32(countBytes);
  if (count == 0) {
    messageBox(owner_, "No movies are currently available", kTitle,
               MB_ICONINFORMATION | MB_SYSTEMMODAL);
    return false;
  }
  if (count > kMaxMovies) {
    box(prefix() + format("movie list from server is not valid (%lu names)", (unsigned long)count));
    return false;
  }
  MovieDialogData data;
  // All names in one receive, so that the rate rule of receive covers the whole list.
  std::vector<char> names(size_t(count) * 256);
  if (!receive(names.data(), names.size())) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const char* field = &names[size_t(i) * 256];
    data.movies.emplace_back(field, strnlen(field, 256));
  }
  data.selected = 0;
  for (int tries = 0;; ++tries) {
    if (tries == kMaxDialogRetries) return false;
    if (runModalDialog(owner_, kMovieDialog, data) != IDOK) return false;
    if (data.selected >= 0 && size_t(data.selected) < data.movies.size()) break;
    messageBeep(MB_OK);
  }
  movie_ = data.movies[size_t(data.selected)];
  return true;
}

// ---- Transfers ----

bool ZEVClass::receive(void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  size_t have = 0;
  // Besides the limit on each wait, the whole message must arrive at 1 KB a second or better:
  // a server that drips a byte now and then would otherwise hold the caller for days.
  const int ioMs = networkOptions().ioTimeoutMs;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(ioMs) + int64_t(size));
  while (have < size) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd ready{socket_, POLLIN, 0};
    int waited = left > 0 ? poll(&ready, 1, int(std::min<int64_t>(left, ioMs))) : 0;
    if (waited < 0 && errno == EINTR) continue;
    ssize_t n = -1;
    if (waited == 0) {
      errno = EAGAIN;
    } else {
      n = ::recv(socket_, p + have, size - have, 0);
    }
    if (n > 0) {
      have += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == ECONNRESET) {
      box("Zero bytes received, server reset connection");
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      winsockBox("recv", ETIMEDOUT);  // the receive time limit ran out
    } else {
      winsockBox("recv", errno);
    }
    return false;
  }
  return true;
}

bool ZEVClass::sendAll(const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = ::send(socket_, p + sent, size - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == ECONNRESET || errno == EPIPE) {
      box("Zero bytes sent, server reset connection");
    } else if (sent > 0) {
      box(format("send failed, only sent %lu of %lu bytes\n", (unsigned long)sent,
                 (unsigned long)size));
    } else {
      winsockBox("send", errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno);
    }
    return false;
  }
  return true;
}

bool ZEVClass::requestRange(uint32_t offset, uint32_t length, void* into) {
  uint8_t request[8];
  putLe32(request, offset);
  putLe32(request + 4, length);
  return sendAll(request, sizeof request) && receive(into, length);
}

// ---- Header, index and local file ----

bool ZEVClass::processAVIHeader(const uint8_t* header) {
  std::string failure;
  if (!parseZevHeader(header, kHeaderBytes, header_, failure)) {
    box(prefix() + "ProcessAVIHeader failed, " + failure);
    return false;
  }
  return true;
}

bool ZEVClass::buildLocalAVIAndMemoryIndex() {
  std::vector<uint8_t> header(kHeaderBytes);
  if (!requestRange(0, kHeaderBytes, header.data())) return false;
  if (!processAVIHeader(header.data())) return false;

  const LocalLayout layout = localLayout(header_);
  const std::string dir = tempDirectory();
  struct statvfs fs {};
  if (statvfs(dir.c_str(), &fs) != 0) {
    systemBox("BuildLocalAVIAndMemoryIndex GetDiskFreeSpace()", errno);
    return false;
  }
  uint64_t freeBytes = uint64_t(fs.f_bavail) * fs.f_frsize;
  if (freeBytes < layout.fileSize()) {
    box(prefix() + format("BuildLocalAVIAndMemoryIndex failed, %lu additional bytes needed on "
                          "temp drive",
                          (unsigned long)(layout.fileSize() - freeBytes)));
    return false;
  }

  const uint64_t indexBytes = uint64_t(header_.indexEntries) * 8;
  try {
    index_.assign(size_t(indexBytes), 0);
  } catch (const std::bad_alloc&) {
    box(prefix() + format("BuildLocalAVIAndMemoryIndex failed, Unable to allocate %lu bytes #3",
                          (unsigned long)indexBytes));
    return false;
  }

  // mkstemp creates the file exclusively with owner-only access: no other user can slip in a
  // link or read the placeholder.
  std::string path = dir + "/ZOVXXXXXX.avi";
  int fd = mkstemps(path.data(), 4);
  if (fd < 0) {
    systemBox("BuildLocalAVIAndMemoryIndex GetTempFileName()", errno);
    return false;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  localFile_ = path;
  auto write = [&](const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fd, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += size_t(n);
    }
    if (done == size) return true;
    box(prefix() + format("LocalWrite failed, only read %lu of %lu bytes", (unsigned long)done,
                          (unsigned long)size));
    return false;
  };
  auto fail = [&]() {
    ::close(fd);
    if (::unlink(localFile_.c_str()) != 0) systemBox("BuildLocalAVIAndMemoryIndex remove()", errno);
    localFile_.clear();
    return false;
  };

  std::vector<uint8_t> local = localHeader(header.data(), header_);
  if (!write(local.data(), local.size())) return fail();

  for (uint64_t done = 0; done < indexBytes;) {
    uint32_t piece = uint32_t(std::min<uint64_t>(indexBytes - done, kSlotBytes));
    if (!requestRange(uint32_t(header_.indexOffset + done), piece, &index_[size_t(done)]))
      return fail();
    done += piece;
  }
  int64_t bad = firstBadEntry(index_);
  if (bad >= 0) {
    box(prefix() + format("BuildLocalAVIAndMemoryIndex failed, index entry %lu in ZEV file is "
                          "not valid",
                          (unsigned long)bad));
    return fail();
  }

  if (!writeLocalBody(header_, index_, write, [this](int p) {
        loading_.position = p;
        updateModelessDialog(loading_);
      }))
    return fail();
  if (::close(fd) != 0) {
    systemBox("BuildLocalAVIAndMemoryIndex CloseHandle()", errno);
    fd = -1;
    ::unlink(localFile_.c_str());
    localFile_.clear();
    return false;
  }
  return true;
}

// ---- Cache ----

int32_t ZEVClass::slotFirst(uint32_t s) const {
  return int32_t(le32(&cache_[size_t(s) * kSlotBytes]));
}
int32_t ZEVClass::slotLast(uint32_t s) const {
  return int32_t(le32(&cache_[size_t(s) * kSlotBytes + 4]));
}
void ZEVClass::setSlot(uint32_t s, int32_t first, int32_t last) {
  putLe32(&cache_[size_t(s) * kSlotBytes], uint32_t(first));
  putLe32(&cache_[size_t(s) * kSlotBytes + 4], uint32_t(last));
}

int ZEVClass::findSlot(int64_t entry) const {
  if (entry < 0 || cache_.empty()) return -1;
  for (uint32_t s = 0; s < kSlotCount; ++s)
    if (slotFirst(s) >= 0 && slotFirst(s) <= entry && entry <= slotLast(s)) return int(s);
  return -1;
}

const uint8_t* ZEVClass::lookup(int64_t entry, size_t* size) {
  if (size) *size = entry >= 0 ? entrySize(entry) : 0;
  if (entry < 0) return nullptr;
  const uint8_t* data = nullptr;
  {
    std::lock_guard lock(mutex_);
    wantedChunk_ = entry;
    int s = findSlot(entry);
    if (s >= 0) {
      // The slot holds the file bytes from its first entry's offset on.
      data = &cache_[size_t(s) * kSlotBytes + 8 + (entryOffset(entry) - entryOffset(slotFirst(s)))];
    }
    wakeSignalled_ = true;
  }
  wake_.notify_one();
  return data;
}

const uint8_t* ZEVClass::frameData(uint32_t chunk, size_t* size) {
  return lookup(videoEntry(header_, chunk), size);
}

const uint8_t* ZEVClass::audioData(uint32_t chunk, uint32_t* size) {
  size_t n = 0;
  const uint8_t* data = lookup(audioEntry(header_, chunk), &n);
  if (size) *size = uint32_t(n);
  return data;
}

int ZEVClass::filledSlots() {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (uint32_t s = 0; s < kSlotCount; ++s) n += slotFirst(s) >= 0;
  return n;
}

int ZEVClass::cachePercent() {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (int s = findSlot(std::max<int64_t>(wantedChunk_, 0)); s >= 0 && n < int(kSlotCount);
       s = findSlot(int64_t(slotLast(uint32_t(s))) + 1))
    ++n;
  int percent = std::min(100, n * 100 / 28);
  cacheStatus_.position = percent;
  return percent;
}

int ZEVClass::status() const {
  if (!thread_.joinable() || workerEnded_) return 1;
  if (!workerRunning_ || !cacheFull_) return 2;
  return 0;
}

void ZEVClass::worker() {
  workerRunning_ = true;
  const int64_t entries = header_.indexEntries;
  std::unique_lock lock(mutex_);
  bool idle = false;  // nothing to fetch until the play position moves
  while (!stopRequested_) {
    if ((cacheFull_ && windowActive_) || atEnd_ || idle) {
      wake_.wait(lock, [this] { return wakeSignalled_ || stopRequested_; });
      wakeSignalled_ = false;
      if (stopRequested_) break;
      if (cacheFull_ && windowActive_) continue;  // the whole movie is here: nothing to do
      atEnd_ = false;
      idle = false;
    }
    // The run of entries cached contiguously around the play position.
    const int64_t wanted = std::clamp<int64_t>(wantedChunk_, 0, entries - 1);
    int64_t runStart = wanted, runEnd = wanted - 1;
    if (int s = findSlot(wanted); s >= 0) {
      runStart = slotFirst(uint32_t(s));
      runEnd = slotLast(uint32_t(s));
      for (int t; (t = findSlot(runEnd + 1)) >= 0;) runEnd = slotLast(uint32_t(t));
      for (int t; (t = findSlot(runStart - 1)) >= 0;) runStart = slotFirst(uint32_t(t));
    }
    const int64_t next = runEnd + 1;
    if (next >= entries) {
      atEnd_ = true;
      if (runStart == 0) {
        windowActive_ = true;
        windowFirst_ = 0;
        windowLast_ = entries - 1;
        cacheFull_ = true;
      }
      continue;
    }

    // A free slot, or one to evict: behind the play position first (oldest first), then one
    // ahead that is not part of the run. Slots at and after the play position in the run stay,
    // and so does the pair of entries just behind it: a player asks for a frame's audio and its
    // video one after the other, and they lie side by side in the file.
    int slot = -1;
    for (uint32_t s = 0; s < kSlotCount && slot < 0; ++s)
      if (slotFirst(s) < 0) slot = int(s);
    if (slot < 0) {
      for (uint32_t s = 0; s < kSlotCount; ++s)
        if (slotLast(s) + kKeepBehind < wanted &&
            (slot < 0 || slotFirst(s) < slotFirst(uint32_t(slot))))
          slot = int(s);
    }
    if (slot < 0) {
      for (uint32_t s = 0; s < kSlotCount; ++s)
        if (slotFirst(s) > runEnd && (slot < 0 || slotFirst(s) > slotFirst(uint32_t(slot))))
          slot = int(s);
    }
    if (slot < 0) {
      idle = true;  // the cache holds a full window from the play position on
      continue;
    }
    setSlot(uint32_t(slot), -1, -1);

    // The next run: consecutive entries whose bytes fit one slot, up to the next cached slot.
    int64_t limit = entries;
    for (uint32_t s = 0; s < kSlotCount; ++s)
      if (slotFirst(s) > runEnd && slotFirst(s) < limit) limit = slotFirst(s);
    // Entries must follow each other in the file (at most a pad byte between them).
    auto follows = [](uint32_t end, uint32_t o) { return o >= end && o <= end + 1; };
    int64_t first = next, last = next;
    uint32_t base = entryOffset(next);
    uint32_t end = base + entrySize(next);
    // A play position not cached yet (a jump, or audio asked for before its frame's video):
    // the entries just before it come along when they fit, so the pair is fetched at once.
    if (runEnd < runStart) {
      while (first > 0 && next - first < kKeepBehind && findSlot(first - 1) < 0) {
        uint32_t o = entryOffset(first - 1), n = entrySize(first - 1);
        if (!follows(o + n, base) || uint64_t(end) - o > kSlotDataBytes) break;
        --first;
        base = o;
      }
    }
    while (last + 1 < limit) {
      uint32_t o = entryOffset(last + 1), n = entrySize(last + 1);
      if (!follows(end, o) || uint64_t(o) + n - base > kSlotDataBytes) break;
      ++last;
      end = o + n;
    }
    uint8_t* into = &cache_[size_t(slot) * kSlotBytes + 8];
    lock.unlock();
    bool ok = requestRange(base, end - base, into);
    lock.lock();
    if (!ok) break;
    setSlot(uint32_t(slot), int32_t(first), int32_t(last));
    bool anyFree = false;
    for (uint32_t s = 0; s < kSlotCount; ++s) anyFree |= slotFirst(s) < 0;
    if (!anyFree) cacheFull_ = true;
  }
  lock.unlock();
  workerRunning_ = false;
  workerEnded_ = true;
}

// ---- Destruction ----

ZEVClass::~ZEVClass() {
  // The cache status dialog asks this object for its bar: it goes first.
  closeProgress(loading_);
  closeProgress(cacheStatus_);
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopRequested_ = true;
      wakeSignalled_ = true;
    }
    // A worker waiting on the server leaves at once when the connection is shut down.
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    wake_.notify_all();
    thread_.join();
  }
  stopRequested_ = true;
  if (cacheLocked_) munlock(cache_.data(), cache_.size());
  if (!localFile_.empty() && ::unlink(localFile_.c_str()) != 0) {
    stopRequested_ = false;
    systemBox("Destructor remove()", errno);
    stopRequested_ = true;
  }
  if (socket_ >= 0 && ::close(socket_) != 0) {
    stopRequested_ = false;
    winsockBox("closesocket", errno);
  }
}

// ---- Exports ----

namespace {
std::atomic<ZEVClass*> gSource{nullptr};
std::mutex gAccessLock;
}  // namespace

ZEVClass* currentSource() {
  return gSource.load();
}

const char* accessZEV(void* owner) {
  std::lock_guard lock(gAccessLock);
  if (gSource.load()) {
    messageBox(owner, "Unable to open a second ZEV", "Orvane Codec", kBoxStyle);
    return nullptr;
  }
  std::unique_ptr<ZEVClass> source;
  try {
    source = std::make_unique<ZEVClass>(owner);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (source->status() == 1) return nullptr;
  gSource = source.release();
  return gSource.load()->localFile().c_str();
}

const void* obtainAudio(uint32_t chunk, uint32_t* out) {
  ZEVClass* source = gSource.load();
  if (!source) {
    if (out) *out = 0;
    return nullptr;
  }
  return source->audioData(chunk, out);
}

void freeZEV() {
  std::lock_guard lock(gAccessLock);
  delete gSource.exchange(nullptr);
}

bool sourceOpen() {
  return gSource.load() != nullptr;
}

const uint8_t* frameData(uint32_t chunk, size_t* size) {
  ZEVClass* source = gSource.load();
  if (!source) {
    if (size) *size = 0;
    return nullptr;
  }
  return source->frameData(chunk, size);
}

}  // namespace zov::network
