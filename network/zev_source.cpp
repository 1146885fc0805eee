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
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "network/site_address.h"
#include "platform/profile.h"

namespace zov::network {

namespace {

// Every range answer is followed by the answer to a check request for these header bytes
// ("LIST" and the size of the header list), which the source already holds.
constexpr uint32_t kCheckOffset = 12;
constexpr uint32_t kCheckLength = 8;
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
// How often the window thread looks at the loading dialog (its bar and Cancel) while it waits.
constexpr auto kLoadTick = std::chrono::milliseconds(20);

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

std::atomic<void (*)()> gOutOfMemory{nullptr};

// Runs the body of a thread the source starts: no exception leaves it, since nobody above it
// could catch one. Running out of memory is reported through the hook. False when it threw.
template <typename F>
bool threadBody(F&& body) noexcept {
  try {
    body();
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (...) {
    return false;
  }
  if (void (*report)() = gOutOfMemory.load()) report();
  return false;
}

}  // namespace

void setOutOfMemoryReport(void (*report)()) {
  gOutOfMemory = report;
}

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

namespace {
// Where box texts go instead of the screen on this thread, while a HeldBoxes lives.
thread_local std::string* tHeldBox = nullptr;
}  // namespace

ZEVClass::HeldBoxes::HeldBoxes(std::string& first) : previous_(tHeldBox) {
  tHeldBox = &first;
}
ZEVClass::HeldBoxes::~HeldBoxes() {
  tHeldBox = previous_;
}

void ZEVClass::box(const std::string& text) {
  // While the source is being torn down, a transfer cut short is expected, not news.
  if (stopRequested_) return;
  if (tHeldBox) {
    if (tHeldBox->empty()) *tHeldBox = text;
    return;
  }
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
  std::fill(std::begin(pendingFirst_), std::end(pendingFirst_), -1);
  std::fill(std::begin(pendingLast_), std::end(pendingLast_), -1);
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
  // Connecting and every transfer up to the cache's first filling run on a loader thread; this
  // (the window) thread keeps the loading dialog up meanwhile, and its Cancel ends the load.
  loading_.cancellable = true;
  loading_.rangeMax = 30;
  loading_.position = 0;
  std::vector<std::string> movies;
  openProgress(loading_, kLoadingDialog);
  const bool listed = load([&] { return connectToSite() && receiveMovieList(movies); });
  closeProgress(loading_);
  if (!listed || !runMovieDialog(movies)) return false;

  loading_.position = 0;
  openProgress(loading_, kLoadingDialog);
  const bool built = load([this] {
    uint8_t field[256] = {};
    std::memcpy(field, movie_.data(), std::min<size_t>(movie_.size(), 255));
    return sendAll(field, sizeof field) && buildLocalAVIAndMemoryIndex();
  });
  if (!built) {
    closeProgress(loading_);
    return false;
  }
  try {
    thread_ = std::thread([this] {
      // A failure inside (out of memory) ends the worker as a request that reconnecting could
      // not mend does: what is cached stays, nothing more is fetched.
      if (!threadBody([this] { worker(); })) {
        workerRunning_ = false;
        workerEnded_ = true;
      }
    });
  } catch (const std::system_error& e) {
    systemBox("Constructor CreateThread()", e.code().value());
    closeProgress(loading_);
    return false;
  }
  loading_.rangeMax = 100;
  while (status() == 2) {
    if (loading_.cancelled) stopTransfers();  // the worker ends; the caller destroys the source
    loading_.position = cacheFull_ ? 100 : 50 + 50 * filledSlots() / int(kSlotCount);
    updateModelessDialog(loading_);
    std::this_thread::sleep_for(kLoadTick);
  }
  closeProgress(loading_);
  if (status() == 0) {
    cachePercent();
    openProgress(cacheStatus_, kCacheStatusDialog);
  }
  return true;
}

bool ZEVClass::load(const std::function<bool()>& step) {
  std::mutex doneLock;
  std::condition_variable doneSignal;
  bool done = false, ok = false;
  std::thread loader;
  try {
    loader = std::thread([&] {
      // A failure inside (out of memory) fails the step.
      bool result = false;
      threadBody([&] { result = step(); });
      std::lock_guard lock(doneLock);
      ok = result;
      done = true;
      doneSignal.notify_one();
    });
  } catch (const std::system_error& e) {
    systemBox("Constructor CreateThread()", e.code().value());
    return false;
  }
  // The dialog is served until the loader has ended, cancelled or not: a box it shows is
  // shown through this thread's events.
  std::unique_lock lock(doneLock);
  while (!doneSignal.wait_for(lock, kLoadTick, [&] { return done; })) {
    lock.unlock();
    if (loading_.cancelled) stopTransfers();
    updateModelessDialog(loading_);
    lock.lock();
  }
  lock.unlock();
  loader.join();
  return ok && !stopRequested_;
}

void ZEVClass::stopTransfers() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    wakeSignalled_ = true;
  }
  wake_.notify_all();
  // A transfer waiting on the server ends at once when the connection is shut down.
  std::lock_guard socketLock(socketLock_);
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
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
  // ZOV_ZEV_PORT (1..65535) overrides the usual port: hosts reach the codec library's own copy
  // of this source only through its exports, so this is how they point it at a server that does
  // not listen on the usual port (tests use an ephemeral loopback port). A port typed with the
  // site ("host:port") overrides both.
  uint16_t port = options.port;
  if (const char* env = std::getenv("ZOV_ZEV_PORT")) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(env, &end, 10);
    if (end != env && *end == '\0' && value >= 1 && value <= 65535) port = uint16_t(value);
  }
  const auto address = parseSite(site_, port);
  if (!address) {
    box(prefix() + "site \"" + site_ + "\" is not a host name or address with a valid port");
    return false;
  }
  // Names and addresses, IPv4 and IPv6, all through the resolver; a numeric address is used as
  // it is (a reverse lookup would only add a way to fail).
  const bool numeric = address->host.find_first_not_of("0123456789.") == std::string::npos ||
                       address->host.find(':') != std::string::npos;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(address->port);
  const int rc = getaddrinfo(address->host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || !found) {
    winsockBox(numeric ? "gethostbyaddr" : "gethostbyname", resolverError(rc));
    return false;
  }
  // Each address in turn until one answers; the box names the last failure.
  bool connected = false;
  for (addrinfo* a = found; a && !connected && !stopRequested_; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    // Only the last address's failure is shown.
    std::string ignored;
    std::optional<HeldBoxes> hold;
    if (a->ai_next) hold.emplace(ignored);
    connected =
        connectTo(a->ai_addr, unsigned(a->ai_addrlen), a->ai_family, options.connectTimeoutMs);
  }
  freeaddrinfo(found);
  return connected;
}

bool ZEVClass::connectTo(const void* address, unsigned length, int family, int timeoutMs) {
  const NetworkOptions options = networkOptions();
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    winsockBox("socket", errno);
    return false;
  }
  {
    std::lock_guard lock(socketLock_);
    if (socket_ >= 0) ::close(socket_);
    socket_ = fd;
  }
  // The receive buffer is left to the system's automatic tuning: a fixed 128 KB buffer would
  // cap the rate at 128 KB per round trip, whatever the link.
  int zero = 0, buffer = int(kSlotBytes);
  timeval io{options.ioTimeoutMs / 1000, (options.ioTimeoutMs % 1000) * 1000};
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &zero, sizeof zero) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &io, sizeof io) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &io, sizeof io) != 0) {
    winsockBox("setsockopt", errno);
    return false;
  }
  int pending = 0;
  if (ioctl(fd, FIONREAD, &pending) != 0) {
    winsockBox("ioctlsocket", errno);
    return false;
  }
  sockaddr_storage local{};
  local.ss_family = sa_family_t(family);
  const socklen_t localSize = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), localSize) != 0) {
    winsockBox("bind", errno);
    return false;
  }
  // Connect with a time limit: a host that never answers must not hold the caller for minutes.
  // The wait is cut into short steps so that a source being torn down leaves at once.
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, static_cast<const sockaddr*>(address), socklen_t(length));
  int error = rc == 0 ? 0 : errno;
  if (rc != 0 && errno == EINPROGRESS) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int n = 0;
    while (n == 0 && !stopRequested_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLOUT, 0};
      n = poll(&p, 1, 100);
      if (n < 0 && errno == EINTR) n = 0;
    }
    if (n <= 0) {
      error = ETIMEDOUT;
    } else {
      socklen_t len = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
  }
  fcntl(fd, F_SETFL, flags);
  if (error != 0) {
    winsockBox("connect", error);
    return false;
  }
  return true;
}

void ZEVClass::dropConnection() {
  std::lock_guard lock(socketLock_);
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

bool ZEVClass::receiveMovieList(std::vector<std::string>& names) {
  uint8_t countBytes[4];
  if (!receive(countBytes, 4)) return false;
  uint32_t count = le32(countBytes);
  if (count == 0) {
    names.clear();
    return true;
  }
  if (count > kMaxMovies) {
    box(prefix() + format("movie list from server is not valid (%lu names)", (unsigned long)count));
    return false;
  }
  // All names in one receive, so that the rate rule of receive covers the whole list.
  std::vector<char> fields(size_t(count) * 256);
  if (!receive(fields.data(), fields.size())) return false;
  names.clear();
  for (uint32_t i = 0; i < count; ++i) {
    const char* field = &fields[size_t(i) * 256];
    names.emplace_back(field, strnlen(field, 256));
  }
  return true;
}

bool ZEVClass::runMovieDialog(std::vector<std::string>& movies) {
  if (!dialogHost()) {
    box(prefix() + "Constructor failed, unable to display object dialog");
    return false;
  }
  MovieDialogData data;
  data.movies = std::move(movies);
  if (data.movies.empty()) {
    messageBox(owner_, "No movies are currently available", kTitle,
               MB_ICONINFORMATION | MB_SYSTEMMODAL);
    return false;
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
  return sendRange(offset, length) && receiveRange(length, into);
}

bool ZEVClass::sendRange(uint32_t offset, uint32_t length) {
  uint8_t requests[16];
  putLe32(requests, offset);
  putLe32(requests + 4, length);
  putLe32(requests + 8, kCheckOffset);
  putLe32(requests + 12, kCheckLength);
  return sendAll(requests, sizeof requests);
}

bool ZEVClass::receiveRange(uint32_t length, void* into) {
  uint8_t check[kCheckLength];
  if (!receive(into, length) || !receive(check, sizeof check)) return false;
  // The header request is the first: until it is in, its own bytes are the reference.
  const uint8_t* expected = headerBytes_.empty() ? static_cast<const uint8_t*>(into) + kCheckOffset
                                                 : &headerBytes_[kCheckOffset];
  if (std::memcmp(check, expected, kCheckLength) != 0) {
    box(prefix() + "range request failed, the server's answer was not the length asked for");
    return false;
  }
  return true;
}

bool ZEVClass::fetchIndex(std::vector<uint8_t>& into) {
  const uint64_t indexBytes = uint64_t(header_.indexEntries) * 8;
  for (uint64_t done = 0; done < indexBytes;) {
    uint32_t piece = uint32_t(std::min<uint64_t>(indexBytes - done, kSlotBytes));
    if (!requestRange(uint32_t(header_.indexOffset + done), piece, &into[size_t(done)]))
      return false;
    done += piece;
  }
  return true;
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
  headerBytes_ = header;

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

  if (!fetchIndex(index_)) return fail();
  int64_t bad = firstBadEntry(index_);
  if (bad >= 0) {
    box(prefix() + format("BuildLocalAVIAndMemoryIndex failed, index entry %lu in ZEV file is "
                          "not valid",
                          (unsigned long)bad));
    return fail();
  }

  // The window thread shows the bar as it goes.
  if (!writeLocalBody(header_, index_, write, [this](int p) { loading_.position = p; }))
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

int ZEVClass::findCovered(int64_t entry) const {
  if (int s = findSlot(entry); s >= 0) return s;
  for (uint32_t s = 0; s < kSlotCount; ++s)
    if (pendingFirst_[s] >= 0 && pendingFirst_[s] <= entry && entry <= pendingLast_[s])
      return int(s);
  return -1;
}

int64_t ZEVClass::coveredLast(int s) const {
  return slotFirst(uint32_t(s)) >= 0 ? slotLast(uint32_t(s)) : pendingLast_[s];
}

bool ZEVClass::planFetch(Fetch& fetch) {
  const int64_t entries = header_.indexEntries;
  if (entries <= 0) return false;
  const int64_t wanted = std::clamp<int64_t>(wantedChunk_, 0, entries - 1);
  // Walk the entries cached or on their way from the play position on, wrapping from the last
  // entry to the first: a movie played to its end and started again finds its start waiting.
  int64_t next = wanted, ahead = 0;
  bool anyPending = false;
  while (ahead < entries) {
    const int s = findCovered(next);
    if (s < 0) break;
    anyPending |= slotFirst(uint32_t(s)) < 0;
    const int64_t last = coveredLast(s);
    ahead += last - next + 1;
    next = last + 1 == entries ? 0 : last + 1;
  }
  if (ahead >= entries) {
    if (!anyPending) {
      windowActive_ = true;
      windowFirst_ = 0;
      windowLast_ = entries - 1;
      cacheFull_ = true;
    }
    return false;
  }

  // A free slot, or one to evict: the one farthest ahead of the play position (counting round
  // the end of the movie), so slots behind it go first, oldest first, and only then slots ahead
  // that lie beyond the entry to fetch. The slot holding the play position stays, and so does
  // the pair of entries just behind it: a player asks for a frame's audio and its video one
  // after the other, and they lie side by side in the file.
  int slot = -1;
  for (uint32_t s = 0; s < kSlotCount && slot < 0; ++s)
    if (slotFirst(s) < 0 && pendingFirst_[s] < 0) slot = int(s);
  if (slot < 0) {
    int64_t farthest = ahead;
    for (uint32_t s = 0; s < kSlotCount; ++s) {
      const int64_t first = slotFirst(s), last = slotLast(s);
      if (first < 0 || pendingFirst_[s] >= 0) continue;
      if (first <= wanted && wanted <= last) continue;
      if (last < wanted && last + kKeepBehind >= wanted) continue;
      const int64_t distance = (first - wanted + entries) % entries;
      if (distance > farthest) {
        farthest = distance;
        slot = int(s);
      }
    }
  }
  if (slot < 0) return false;  // the cache holds a full window from the play position on

  // The next run: consecutive entries whose bytes fit one slot, up to the next covered slot.
  int64_t limit = entries;
  for (uint32_t s = 0; s < kSlotCount; ++s) {
    const int64_t first = slotFirst(s) >= 0 ? slotFirst(s) : pendingFirst_[s];
    if (first > next && first < limit && int(s) != slot) limit = first;
  }
  // Entries must follow each other in the file (at most a pad byte between them).
  auto follows = [](uint32_t end, uint32_t o) { return o >= end && o <= end + 1; };
  int64_t first = next, last = next;
  uint32_t base = entryOffset(next);
  uint32_t end = base + entrySize(next);
  // A play position not cached yet (a jump, or audio asked for before its frame's video):
  // the entries just before it come along when they fit, so the pair is fetched at once.
  if (ahead == 0) {
    while (first > 0 && next - first < kKeepBehind && findCovered(first - 1) < 0) {
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
  setSlot(uint32_t(slot), -1, -1);
  pendingFirst_[slot] = int32_t(first);
  pendingLast_[slot] = int32_t(last);
  fetch = {uint32_t(slot), base, end - base, int32_t(first), int32_t(last)};
  return true;
}

bool ZEVClass::reconnect(std::string& verdict, int& tries) {
  const NetworkOptions options = networkOptions();
  for (; tries < options.reconnectTries; ++tries) {
    const int delayMs = options.reconnectDelayMs << std::min(tries, 16);
    for (int waited = 0; waited < delayMs && !stopRequested_; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stopRequested_) return false;
    dropConnection();
    std::vector<std::string> names;
    if (!connectToSite() || !receiveMovieList(names)) continue;
    if (std::find(names.begin(), names.end(), movie_) == names.end()) {
      verdict = prefix() + "movie \"" + movie_ + "\" is no longer offered by the server";
      continue;
    }
    uint8_t field[256] = {};
    std::memcpy(field, movie_.data(), std::min<size_t>(movie_.size(), 255));
    std::vector<uint8_t> header(kHeaderBytes), index(index_.size());
    if (!sendAll(field, sizeof field) || !requestRange(0, kHeaderBytes, header.data())) continue;
    const bool sameHeader = header == headerBytes_;
    if (sameHeader && !fetchIndex(index)) continue;
    if (!sameHeader || index != index_) {
      verdict = prefix() + "movie \"" + movie_ + "\" changed on the server";
      continue;
    }
    verdict.clear();
    ++tries;
    return true;
  }
  return false;
}

void ZEVClass::worker() {
  workerRunning_ = true;
  const size_t depth = size_t(std::max(1, networkOptions().pipelineDepth));
  // A failure is shown only when reconnecting does not mend it.
  std::string failure;
  HeldBoxes hold(failure);
  std::deque<Fetch> inFlight;
  // Reconnects since the last range received whole: a server that takes the connection but
  // fails the same request every time is given up on, not reconnected to for ever.
  int reconnects = 0;
  std::unique_lock lock(mutex_);
  while (!stopRequested_) {
    std::vector<Fetch> planned;
    for (Fetch f; inFlight.size() + planned.size() < depth && planFetch(f);) planned.push_back(f);
    if (inFlight.empty() && planned.empty()) {
      wake_.wait(lock, [this] { return wakeSignalled_ || stopRequested_; });
      wakeSignalled_ = false;
      continue;
    }
    lock.unlock();
    // A request that cannot be sent (the server closed) fails after the answers before it:
    // those may still be waiting, and the reason the receive gives is the one to show.
    std::string sendFailure;
    bool sent = true;
    {
      HeldBoxes holdSend(sendFailure);
      for (const Fetch& f : planned) sent = sent && sendRange(f.base, f.length);
    }
    inFlight.insert(inFlight.end(), planned.begin(), planned.end());
    const Fetch front = inFlight.front();
    bool ok = receiveRange(front.length, &cache_[size_t(front.slot) * kSlotBytes + 8]);
    if (ok && !sent) box(sendFailure);
    lock.lock();
    if (ok) {
      reconnects = 0;
      inFlight.pop_front();
      pendingFirst_[front.slot] = pendingLast_[front.slot] = -1;
      setSlot(front.slot, front.first, front.last);
      // Full when every slot holds its range: a range still in flight is not there yet (the
      // loading would end with slots empty, the movie's start still on its way).
      bool anyOpen = false;
      for (uint32_t s = 0; s < kSlotCount; ++s) anyOpen |= slotFirst(s) < 0;
      if (!anyOpen) cacheFull_ = true;
      if (sent) continue;
    }
    for (const Fetch& f : inFlight) pendingFirst_[f.slot] = pendingLast_[f.slot] = -1;
    inFlight.clear();
    if (stopRequested_) break;
    lock.unlock();
    std::string verdict;
    const bool back = reconnect(verdict, reconnects);
    lock.lock();
    if (!back) {
      // A server that answered but no longer has the same movie says more than the first
      // failure did.
      if (!verdict.empty()) failure = verdict;
      lock.unlock();
      if (!stopRequested_ && !failure.empty()) messageBox(owner_, failure, kTitle, kBoxStyle);
      lock.lock();
      break;
    }
    failure.clear();
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
    stopTransfers();
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
  // No input to the owner while the source is built: the user answers its dialogs or cancels.
  // The owner gets back the state it had.
  const bool ownerEnabled = enableWindow(owner, false);
  std::unique_ptr<ZEVClass> source;
  try {
    source = std::make_unique<ZEVClass>(owner);
  } catch (const std::bad_alloc&) {
  }
  if (source && source->status() == 1) source.reset();
  if (ownerEnabled) enableWindow(owner, true);
  if (!source) return nullptr;
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

const char* movieName() {
  ZEVClass* source = gSource.load();
  return source ? source->movie().c_str() : nullptr;
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
