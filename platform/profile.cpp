#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/zov_home.h"

namespace zov {

namespace {

thread_local int tlsLastError = 0;

// One lock for every profile file of the process: the read-modify-write of an update must not
// interleave with another thread's update of the same file, and the files are small.
std::mutex& profileMutex() {
  static std::mutex m;
  return m;
}

// ---- Text helpers ----

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// ---- The parsed file ----

enum class LineKind { Other, Section, Key };

struct LineInfo {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

LineInfo classify(std::string_view line) {
  LineInfo info;
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#') return info;
  if (t.front() == '[') {
    size_t close = t.find(']');
    if (close == std::string_view::npos) return info;
    info.kind = LineKind::Section;
    info.name = trim(t.substr(1, close - 1));
    return info;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return info;
  std::string_view name = trim(t.substr(0, eq));
  if (name.empty()) return info;
  info.kind = LineKind::Key;
  info.name = name;
  info.value = trim(t.substr(eq + 1));
  return info;
}

}  // namespace

struct ProfileDocument {
  std::vector<std::string> lines;
  bool crlf = false;
  // A UTF-8 byte-order mark at the start is not part of the first line; it is written back.
  bool bom = false;

  static ProfileDocument parse(const std::string& text) {
    ProfileDocument doc;
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      doc.bom = true;
      start = 3;
    }
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
        doc.crlf = true;
      }
      doc.lines.push_back(std::move(line));
      start = end + 1;
    }
    return doc;
  }

  std::string serialise() const {
    std::string out = bom ? "\xEF\xBB\xBF" : "";
    const char* eol = crlf ? "\r\n" : "\n";
    for (const std::string& line : lines) {
      out += line;
      out += eol;
    }
    return out;
  }

  // Index of the header of the first section with this name, or npos.
  size_t findSection(std::string_view section, size_t from = 0) const {
    for (size_t i = from; i < lines.size(); ++i) {
      LineInfo info = classify(lines[i]);
      if (info.kind == LineKind::Section && equalsNoCase(info.name, section)) return i;
    }
    return std::string::npos;
  }

  // One past the last line of the section whose header is at `header`.
  size_t sectionEnd(size_t header) const {
    for (size_t i = header + 1; i < lines.size(); ++i) {
      if (classify(lines[i]).kind == LineKind::Section) return i;
    }
    return lines.size();
  }

  size_t findKey(size_t header, std::string_view key) const {
    size_t end = sectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
      LineInfo info = classify(lines[i]);
      if (info.kind == LineKind::Key && equalsNoCase(info.name, key)) return i;
    }
    return std::string::npos;
  }

  std::optional<std::string_view> value(std::string_view section, std::string_view key) const {
    size_t header = findSection(section);
    if (header == std::string::npos) return std::nullopt;
    size_t line = findKey(header, key);
    if (line == std::string::npos) return std::nullopt;
    return classify(lines[line]).value;
  }

  // Where a new key of the section goes: after its last key, or right after the header.
  size_t insertionPoint(size_t header) const {
    size_t end = sectionEnd(header);
    size_t at = header + 1;
    for (size_t i = header + 1; i < end; ++i) {
      if (classify(lines[i]).kind == LineKind::Key) at = i + 1;
    }
    return at;
  }

  // Appends a new section header (after a blank line when the file has content).
  size_t appendSection(std::string_view section) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
    std::string header = "[";
    header += section;
    header += ']';
    lines.push_back(std::move(header));
    return lines.size() - 1;
  }
};

namespace {

using Document = ProfileDocument;

// Drops one pair of matching quotes around a whole value, as the Windows reads do.
std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// ---- File access with a cache of the parsed content ----

// What identifies one version of a file: our writes replace the inode, other editors change
// the modification time or size.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
  bool operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileStamp stampOf(const struct stat& st) {
  return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct CacheEntry {
  FileStamp stamp;
  Document doc;
};

std::map<std::string, CacheEntry>& cache() {
  static std::map<std::string, CacheEntry> c;
  return c;
}

std::function<int(std::string_view, std::string_view)> gWriteFault;
size_t gFailAfterBytes = 0;
bool gFailArmed = false;

// Reads and parses the file (a missing file is an empty document). Returns an errno value.
// Called with the profile mutex held.
int loadDocument(const std::filesystem::path& path, Document& doc) {
  const std::string key = path.string();
  int fd = ::open(key.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    cache().erase(key);
    doc = Document{};
    return err == ENOENT ? 0 : err;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  FileStamp stamp = stampOf(st);
  auto it = cache().find(key);
  if (it != cache().end() && it->second.stamp == stamp) {
    ::close(fd);
    doc = it->second.doc;
    return 0;
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return err;
    }
    if (n == 0) break;
    text.append(buf, size_t(n));
  }
  ::close(fd);
  doc = Document::parse(text);
  cache()[key] = CacheEntry{stamp, doc};
  return 0;
}

int writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += w;
    n -= size_t(w);
  }
  return 0;
}

// A file its user may not write, or one marked read-only for everybody, is never replaced:
// renaming a new file over it would pass over its permissions.
int readOnlyError(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return EACCES;
  return 0;
}

// The advisory lock that keeps other processes' updates of the folder's settings files from
// interleaving with ours (each reads, edits and replaces a whole file): held on the folder,
// since the file itself is replaced by every update.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& file) {
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

// Replaces the file by `doc` atomically: temporary file in the same folder, flushed, renamed.
// Called with the profile mutex held. Returns an errno value.
int storeDocument(const std::filesystem::path& path, const Document& doc) {
  std::filesystem::path target = path;
  std::error_code ec;
  // Keep a symbolic link pointing where it did: write through to the file it names.
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  if (int err = readOnlyError(target)) return err;
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  if (!std::filesystem::is_directory(dir, ec)) {
    std::filesystem::create_directories(dir, ec);
    if (ec) return ec.value();
  }

  std::string tmpName = ".";
  tmpName += target.filename().string();
  tmpName += ".tmp-XXXXXX";
  std::string tmpl = (dir / tmpName).string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return errno;
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    return err;
  };

  struct stat st {};
  mode_t mode = (::stat(target.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) return fail(errno);

  const std::string text = doc.serialise();
  if (gFailArmed) {
    // A simulated crash in the middle of the write: part of the temporary file is on disk and
    // nothing else happens.
    gFailArmed = false;
    size_t n = std::min(gFailAfterBytes, text.size());
    writeAll(fd, text.data(), n);
    ::close(fd);
    return EIO;
  }
  if (int err = writeAll(fd, text.data(), text.size())) return fail(err);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return err;
  }
  if (::rename(tmpl.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return err;
  }
  // The folder is not flushed: should a power cut lose the rename, the old file is still whole,
  // and skipping it halves the cost of a write.

  struct stat after {};
  if (::stat(target.c_str(), &after) == 0) {
    cache()[path.string()] = CacheEntry{stampOf(after), doc};
  } else {
    cache().erase(path.string());
  }
  return 0;
}

// The error a test asked for on this write, or 0. Called with the profile mutex held.
int injectedFault(std::string_view section, std::string_view key) {
  return gWriteFault ? gWriteFault(section, key) : 0;
}

bool hasLineBreak(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

// A section name that reads back as itself.
bool validSection(std::string_view s) {
  return !s.empty() && trim(s) == s && s.find(']') == std::string_view::npos && !hasLineBreak(s);
}

// A key name that reads back as itself.
bool validKey(std::string_view k) {
  return !k.empty() && trim(k) == k && k.find('=') == std::string_view::npos && k[0] != '[' &&
         k[0] != ';' && k[0] != '#' && !hasLineBreak(k);
}

// A value that reading would alter (blanks at either end are trimmed, a pair of matching quotes
// is dropped) is written inside double quotes, so that it reads back exactly.
std::string keyLine(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  bool quote = !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                  (value.size() >= 2 && value.front() == value.back() &&
                                   (value.front() == '"' || value.front() == '\'')));
  if (quote) line += '"';
  line += value;
  if (quote) line += '"';
  return line;
}

}  // namespace

bool parseProfileUnsigned(std::string_view text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && (isBlank(text[i]) || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  size_t digitsStart = i;
  uint32_t v = 0;
  // Accumulates modulo 2^32 with no overflow check, as the Windows conversion does.
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10u + uint32_t(text[i] - '0');
    ++i;
  }
  if (i == digitsStart) return false;
  value = negative ? uint32_t(0u - v) : v;
  return true;
}

ProfileFile::ProfileFile(std::string_view fileName) : path_(resolveInZovHome(fileName)) {}

bool ProfileFile::lookup(std::string_view section, std::string_view key, std::string& value) const {
  std::lock_guard lock(profileMutex());
  Document doc;
  lastError_ = tlsLastError = loadDocument(path_, doc);
  auto v = doc.value(section, key);
  if (!v) return false;
  value = std::string(unquote(*v));
  return true;
}

uint32_t ProfileFile::getInt(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
  // As on Windows: a missing or empty value gives the default, a value that does not start
  // with a number reads as 0.
  std::string text;
  uint32_t v = 0;
  if (!lookup(section, key, text) || text.empty()) return uint32_t(defaultValue);
  return parseProfileUnsigned(text, v) ? v : 0;
}

std::string ProfileFile::getString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue, size_t size) const {
  std::string text;
  if (!lookup(section, key, text)) {
    while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
    text = std::string(defaultValue);
  }
  if (size == 0) return {};
  if (text.size() > size - 1) text.resize(size - 1);
  return text;
}

bool ProfileFile::hasSection(std::string_view section) const {
  std::lock_guard lock(profileMutex());
  Document doc;
  lastError_ = tlsLastError = loadDocument(path_, doc);
  return doc.findSection(section) != std::string::npos;
}

bool ProfileFile::hasKey(std::string_view section, std::string_view key) const {
  std::string ignored;
  return lookup(section, key, ignored);
}

std::vector<std::pair<std::string, std::string>> ProfileFile::entries(
    std::string_view section) const {
  std::lock_guard lock(profileMutex());
  Document doc;
  lastError_ = tlsLastError = loadDocument(path_, doc);
  std::vector<std::pair<std::string, std::string>> out;
  size_t header = doc.findSection(section);
  if (header == std::string::npos) return out;
  size_t end = doc.sectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    LineInfo info = classify(doc.lines[i]);
    if (info.kind != LineKind::Key) continue;
    // A repeated key reads as its first occurrence, so it is listed once.
    bool seen = false;
    for (const auto& e : out) seen = seen || equalsNoCase(e.first, info.name);
    if (!seen) out.emplace_back(std::string(info.name), std::string(unquote(info.value)));
  }
  return out;
}

std::vector<std::string> ProfileFile::keys(std::string_view section) const {
  std::vector<std::string> out;
  for (auto& e : entries(section)) out.push_back(std::move(e.first));
  return out;
}

std::vector<std::string> ProfileFile::sections() const {
  std::lock_guard lock(profileMutex());
  Document doc;
  lastError_ = tlsLastError = loadDocument(path_, doc);
  std::vector<std::string> out;
  for (const std::string& line : doc.lines) {
    LineInfo info = classify(line);
    if (info.kind != LineKind::Section) continue;
    bool seen = false;
    for (const auto& s : out) seen = seen || equalsNoCase(s, info.name);
    if (!seen) out.emplace_back(info.name);
  }
  return out;
}

bool ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) {
  ProfileUpdate update(path_.string());
  bool ok = update.writeString(section, key, value) && update.commit();
  lastError_ = tlsLastError = update.lastError();
  return ok;
}

bool ProfileFile::writeInt(std::string_view section, std::string_view key, int32_t value) {
  return writeString(section, key, std::to_string(value));
}

bool ProfileFile::deleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(profileMutex());
  FolderLock folder(path_);
  Document doc;
  if (int err = loadDocument(path_, doc)) {
    lastError_ = tlsLastError = err;
    return false;
  }
  lastError_ = tlsLastError = 0;
  size_t header = doc.findSection(section);
  if (header == std::string::npos) return true;
  bool changed = false;
  // Every occurrence goes, so that no later duplicate shows through.
  for (size_t line; (line = doc.findKey(header, key)) != std::string::npos;) {
    doc.lines.erase(doc.lines.begin() + ptrdiff_t(line));
    changed = true;
  }
  if (!changed) return true;
  int err = injectedFault(section, key);
  lastError_ = tlsLastError = err ? err : storeDocument(path_, doc);
  return lastError_ == 0;
}

bool ProfileFile::deleteSection(std::string_view section) {
  std::lock_guard lock(profileMutex());
  FolderLock folder(path_);
  Document doc;
  if (int err = loadDocument(path_, doc)) {
    lastError_ = tlsLastError = err;
    return false;
  }
  lastError_ = tlsLastError = 0;
  bool changed = false;
  for (size_t header; (header = doc.findSection(section)) != std::string::npos;) {
    doc.lines.erase(doc.lines.begin() + ptrdiff_t(header),
                    doc.lines.begin() + ptrdiff_t(doc.sectionEnd(header)));
    changed = true;
  }
  if (!changed) return true;
  int err = injectedFault(section, "");
  lastError_ = tlsLastError = err ? err : storeDocument(path_, doc);
  return lastError_ == 0;
}

bool ProfileFile::replaceSection(std::string_view section,
                                 const std::vector<std::pair<std::string, std::string>>& entries) {
  ProfileUpdate update(path_.string());
  bool ok = update.replaceSection(section, entries) && update.commit();
  lastError_ = tlsLastError = update.lastError();
  return ok;
}

// ---- Updates of several keys at once ----

namespace {

void replaceSectionIn(Document& doc, std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries) {
  size_t header = doc.findSection(section);
  if (header == std::string::npos) {
    header = doc.appendSection(section);
  } else {
    // Everything of the old section goes except the blank lines that separate it from the next.
    size_t end = doc.sectionEnd(header);
    size_t keepFrom = end;
    while (keepFrom > header + 1 && trim(doc.lines[keepFrom - 1]).empty()) --keepFrom;
    doc.lines.erase(doc.lines.begin() + ptrdiff_t(header + 1),
                    doc.lines.begin() + ptrdiff_t(keepFrom));
  }
  std::vector<std::string> newLines;
  for (const auto& e : entries) newLines.push_back(keyLine(e.first, e.second));
  doc.lines.insert(doc.lines.begin() + ptrdiff_t(header + 1), newLines.begin(), newLines.end());
}

// A run of key writes to one section, applied with one look at the section: existing keys are
// replaced where they stand, new ones appended after its last key, in order.
void setKeysIn(Document& doc, std::string_view section, const ProfileEdit* first,
               const ProfileEdit* last);

}  // namespace

struct ProfileEdit {
  std::string section, key, value;
  bool replacesSection = false;
  std::vector<std::pair<std::string, std::string>> entries;
};

namespace {

std::string lowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

void setKeysIn(Document& doc, std::string_view section, const ProfileEdit* first,
               const ProfileEdit* last) {
  size_t header = doc.findSection(section);
  if (header == std::string::npos) header = doc.appendSection(section);
  const size_t end = doc.sectionEnd(header);
  std::unordered_map<std::string, size_t> where;  // lower-case key -> line (first occurrence)
  for (size_t i = header + 1; i < end; ++i) {
    LineInfo info = classify(doc.lines[i]);
    if (info.kind == LineKind::Key) where.emplace(lowerText(info.name), i);
  }
  const size_t at = doc.insertionPoint(header);
  std::vector<std::string> added;
  for (const ProfileEdit* e = first; e != last; ++e) {
    auto [it, fresh] = where.emplace(lowerText(e->key), at + added.size());
    if (fresh) {
      added.push_back(keyLine(e->key, e->value));
    } else if (it->second >= at) {
      std::string& line = added[it->second - at];
      line = keyLine(classify(line).name, e->value);
    } else {
      // Keep the spelling of the key found in the file.
      std::string& line = doc.lines[it->second];
      line = keyLine(classify(line).name, e->value);
    }
  }
  doc.lines.insert(doc.lines.begin() + ptrdiff_t(at), std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
}

}  // namespace

ProfileUpdate::ProfileUpdate(std::string_view fileName) : path_(resolveInZovHome(fileName)) {}
ProfileUpdate::~ProfileUpdate() = default;

int ProfileUpdate::check(std::string_view section, std::string_view key) {
  if (refused_) {
    lastError_ = tlsLastError = refused_;
    return refused_;
  }
  std::lock_guard lock(profileMutex());
  // Never write over a file that could not be read (that would lose its content) or that its
  // user may not write. The content is read once; commit reads it again.
  int err = 0;
  if (!readable_) {
    Document doc;
    err = loadDocument(path_, doc);
    readable_ = err == 0;
  }
  if (!err) err = readOnlyError(path_);
  if (!err) err = injectedFault(section, key);
  lastError_ = tlsLastError = err;
  return err;
}

bool ProfileUpdate::writeString(std::string_view section, std::string_view key,
                                std::string_view value) {
  if (!validSection(section) || !validKey(key) || hasLineBreak(value)) {
    lastError_ = tlsLastError = EINVAL;
    return false;
  }
  if (check(section, key)) return false;
  edits_.push_back(ProfileEdit{std::string(section), std::string(key), std::string(value)});
  return true;
}

bool ProfileUpdate::writeInt(std::string_view section, std::string_view key, int32_t value) {
  return writeString(section, key, std::to_string(value));
}

bool ProfileUpdate::replaceSection(
    std::string_view section, const std::vector<std::pair<std::string, std::string>>& entries) {
  bool valid = validSection(section);
  for (const auto& e : entries) valid = valid && validKey(e.first) && !hasLineBreak(e.second);
  if (!valid) {
    lastError_ = tlsLastError = EINVAL;
    return false;
  }
  if (check(section, "")) return false;
  edits_.push_back(ProfileEdit{std::string(section), {}, {}, true, entries});
  return true;
}

bool ProfileUpdate::commit() {
  if (edits_.empty()) {
    lastError_ = tlsLastError = 0;
    return true;
  }
  std::lock_guard lock(profileMutex());
  FolderLock folder(path_);
  // The edits are made on the file as it is now, so keys that another program changed since
  // they were recorded are kept.
  Document doc;
  int err = loadDocument(path_, doc);
  if (!err) {
    for (size_t i = 0; i < edits_.size();) {
      const ProfileEdit& e = edits_[i];
      if (e.replacesSection) {
        replaceSectionIn(doc, e.section, e.entries);
        ++i;
        continue;
      }
      size_t j = i + 1;
      while (j < edits_.size() && !edits_[j].replacesSection &&
             equalsNoCase(edits_[j].section, e.section))
        ++j;
      setKeysIn(doc, e.section, edits_.data() + i, edits_.data() + j);
      i = j;
    }
    err = storeDocument(path_, doc);
  }
  edits_.clear();
  lastError_ = tlsLastError = err;
  return err == 0;
}

int profileLastError() {
  return tlsLastError;
}

// ---- The Windows shape ----

uint32_t getPrivateProfileInt(const char* section, const char* key, int32_t defaultValue,
                              const char* fileName) {
  if (!section || !key || !fileName) return uint32_t(defaultValue);
  return ProfileFile(fileName).getInt(section, key, defaultValue);
}

namespace {

// Copies a list of NUL-terminated names, ended by a second NUL, cut to fit the buffer the way
// the Windows function cuts it (the last name cut and both terminators kept).
size_t copyNameList(const std::vector<std::string>& names, char* buffer, size_t size) {
  if (size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  size_t pos = 0;
  for (const std::string& name : names) {
    for (char c : name) {
      if (pos + 2 >= size) {
        buffer[pos] = '\0';
        buffer[pos + 1] = '\0';
        return size - 2;
      }
      buffer[pos++] = c;
    }
    if (pos + 2 >= size) {
      buffer[pos] = '\0';
      buffer[pos + 1] = '\0';
      return size - 2;
    }
    buffer[pos++] = '\0';
  }
  buffer[pos] = '\0';
  return pos;
}

}  // namespace

size_t getPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, size_t size, const char* fileName) {
  if (!buffer || size == 0 || !fileName) return 0;
  ProfileFile file(fileName);
  if (!section) return copyNameList(file.sections(), buffer, size);
  if (!key) return copyNameList(file.keys(section), buffer, size);
  std::string v = file.getString(section, key, defaultValue ? defaultValue : "", size);
  std::memcpy(buffer, v.data(), v.size());
  buffer[v.size()] = '\0';
  return v.size();
}

bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName) {
  if (!section || !fileName) {
    tlsLastError = EINVAL;
    return false;
  }
  ProfileFile file(fileName);
  if (!key) return file.deleteSection(section);
  if (!value) return file.deleteKey(section, key);
  return file.writeString(section, key, value);
}

bool writePrivateProfileSection(const char* section, const char* keyValues, const char* fileName) {
  if (!section || !fileName) {
    tlsLastError = EINVAL;
    return false;
  }
  std::vector<std::pair<std::string, std::string>> entries;
  for (const char* p = keyValues; p && *p; p += std::strlen(p) + 1) {
    std::string_view item(p);
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      entries.emplace_back(std::string(trim(item)), std::string());
    } else {
      entries.emplace_back(std::string(trim(item.substr(0, eq))),
                           std::string(trim(item.substr(eq + 1))));
    }
  }
  return ProfileFile(fileName).replaceSection(section, entries);
}

namespace profile_testing {
void setWriteFault(std::function<int(std::string_view section, std::string_view key)> fault) {
  std::lock_guard lock(profileMutex());
  gWriteFault = std::move(fault);
}

void failNextWriteAfter(size_t bytes) {
  std::lock_guard lock(profileMutex());
  gFailAfterBytes = bytes;
  gFailArmed = true;
}
}  // namespace profile_testing

}  // namespace zov
