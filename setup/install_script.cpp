#include "setup/install_script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/profile.h"
#include "setup/driver_service.h"
#include "setup/program_manager.h"

namespace zov::setup {
namespace {

constexpr const char* kCannotProcess =
    "\rRorarev.ini cannot be processed (some icons may not appear).";

void fail(WindowHandle owner, const std::string& text) {
  messageBox(owner, text, kSetupBoxTitle, MB_OK | MB_ICONERROR);
}

void failFile(WindowHandle owner, const char* what, const std::string& path) {
  fail(owner, "Error: Unable to " + std::string(what) + " \"" + path + "\"." + kCannotProcess);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Copies one file in 4 KB blocks, keeping its permission bits. A copy that fails half-way is
// removed, so the installation never leaves a truncated file that looks complete.
bool copyFile(WindowHandle owner, const std::string& from, const std::string& to) {
  FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    failFile(owner, "open", from);
    return false;
  }
  struct stat info;
  if (::fstat(in.get(), &info) != 0) {
    failFile(owner, "determine size of", from);
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(to).parent_path(), error);
  // A link at the target would make the copy write wherever it points.
  struct stat existing;
  bool existed = ::lstat(to.c_str(), &existing) == 0;
  if (existed && S_ISLNK(existing.st_mode)) {
    failFile(owner, "create", to);
    return false;
  }
  // Not truncated on opening: the target may be the source itself (by any path).
  FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                            (info.st_mode & 0777) | 0200));
  struct stat opened;
  if (out.get() < 0 || ::fstat(out.get(), &opened) != 0) {
    failFile(owner, "create", to);
    return false;
  }
  if (opened.st_dev == info.st_dev && opened.st_ino == info.st_ino) return true;
  if (::ftruncate(out.get(), 0) != 0) {
    if (!existed) ::unlink(to.c_str());
    failFile(owner, "write to", to);
    return false;
  }
  char block[4096];
  for (;;) {
    ssize_t got = ::read(in.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::unlink(to.c_str());
      failFile(owner, "read from", from);
      return false;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(out.get(), block + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ::unlink(to.c_str());
        failFile(owner, "write to", to);
        return false;
      }
      done += put;
    }
  }
  ::fchmod(out.get(), info.st_mode & 0777);
  if (::close(out.release()) != 0) {
    ::unlink(to.c_str());
    failFile(owner, "write to", to);
    return false;
  }
  return true;
}

// A copy-list name must stay inside the installation directory: no absolute path, no "..".
bool leavesFolder(const std::string& name) {
  std::filesystem::path path(name);
  if (path.is_absolute()) return true;
  for (const auto& part : path)
    if (part == "..") return true;
  return false;
}

// A folder of the name that is a link inside the installation directory would carry the copy
// wherever it points.
bool throughLinkedFolder(const std::string& targetWithSeparator, const std::string& name) {
  std::filesystem::path path(name);
  std::string at = targetWithSeparator;
  for (auto part = path.begin(); part != path.end(); ++part) {
    if (std::next(part) == path.end()) break;  // the file itself: copyFile refuses a link there
    at += part->string();
    struct stat info;
    if (::lstat(at.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return true;
    at += '/';
  }
  return false;
}

bool copyList(WindowHandle owner, const ProfileFile& script, const std::string& scriptPath,
              const DirectoryParts& source, const DirectoryParts& target) {
  for (unsigned n = 1;; ++n) {
    std::string key = "FileName" + std::to_string(n);
    std::string name;
    if (!script.lookup("Copy List", key, name) || name.empty()) return true;
    std::string from = source.withSeparator + name;
    std::string to = target.withSeparator + name;
    if (leavesFolder(name) || throughLinkedFolder(target.withSeparator, name)) {
      failFile(owner, "create", to);
      return false;
    }
    if (from.size() > kMaxScriptPath || to.size() > kMaxScriptPath) {
      fail(owner,
           formatMessage("Error: The file \"%s\" specified in FileName%u= in the [Copy List] "
                         "section of %s is too long!.",
                         name.c_str(), n, scriptPath.c_str()) +
               kCannotProcess);
      return false;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(from, error)) {
      fail(owner, formatMessage("Error: The file specified in FileName%u= in the [Copy List] "
                                "section of %s was not found using \"%s\".",
                                n, scriptPath.c_str(), from.c_str()) +
                      kCannotProcess);
      return false;
    }
    if (!copyFile(owner, from, to)) return false;
  }
}

bool iconList(WindowHandle owner, const ProfileFile& script, const DirectoryParts& source,
              const DirectoryParts& target) {
  std::optional<ProgramManagerConversation> conversation;
  for (long n = 1;; ++n) {
    std::string suffix = std::to_string(n);
    std::string group, commandLine, caption;
    if (!script.lookup("Icon List", "Group" + suffix, group) || group.empty() ||
        !script.lookup("Icon List", "CmdLine" + suffix, commandLine) || commandLine.empty() ||
        !script.lookup("Icon List", "Caption" + suffix, caption) || caption.empty())
      return true;
    std::string workDir = script.getString("Icon List", "WorkDir" + suffix, "", kMaxScriptPath + 1);
    std::string iconName =
        script.getString("Icon List", "IconName" + suffix, "", kMaxScriptPath + 1);
    int iconIndex = static_cast<int>(script.getInt("Icon List", "IconIndex" + suffix, 0));

    std::string fields[5] = {group, commandLine, caption, workDir, iconName};
    for (std::string& field : fields) {
      std::string translated;
      if (!translateItem(field, source, target, translated)) {
        fail(owner, std::string("Error: Item is too long to translate.") + kCannotProcess);
        return false;
      }
      field = translated;
    }

    if (!conversation) {
      if (testing::ddeInitializeFails()) {
        fail(owner, std::string("Error: Unable to initialize DDE.") + kCannotProcess);
        return false;
      }
      conversation.emplace();
      if (!conversation->connect()) {
        fail(owner,
             std::string("Error: Unable to start a conversation with PROGMAN.") + kCannotProcess);
        return false;
      }
    }
    std::string commands = ProgramManagerConversation::createGroupCommand(fields[0]) +
                           ProgramManagerConversation::addItemCommand(
                               fields[1], fields[2], fields[4], iconIndex, fields[3]);
    if (!conversation->execute(commands)) {
      std::string path = conversation->failedPath().empty() ? applicationsDirectory().string()
                                                            : conversation->failedPath().string();
      failFile(owner, "create", path);
      return false;
    }
  }
}

void iniLine(WindowHandle owner, const ProfileFile& script, const char* key, const char* file,
             const char* section) {
  std::string line;
  if (!script.lookup("General", key, line) || line.empty()) return;
  size_t equals = line.find('=');
  std::string name = equals == std::string::npos ? std::string() : line.substr(0, equals);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (equals == std::string::npos || name.empty()) {
    fail(owner, "Error: " + std::string(key) + " in Rorarev.ini is invalid.");
    return;
  }
  std::string value = line.substr(equals + 1);
  size_t start = value.find_first_not_of(' ');
  value = start == std::string::npos ? std::string() : value.substr(start);
  ProfileFile(file).writeString(section, name, value);
}

}  // namespace

bool splitDirectory(std::string_view directory, DirectoryParts& parts) {
  if (directory.size() >= 2 && directory[0] == '/' && directory[1] == '/') {
    // "//server/share[/...]": the root is the server and share part.
    size_t server = directory.find('/', 2);
    if (server == std::string_view::npos || server == 2) return false;
    size_t share = directory.find('/', server + 1);
    std::string_view root = directory.substr(0, share);
    if (root.size() == server + 1) return false;  // no share name
    parts.root = std::string(root);
  } else if (!directory.empty() && directory[0] == '/') {
    parts.root.clear();
  } else {
    return false;
  }
  parts.withSeparator = std::string(directory);
  if (parts.withSeparator.back() != '/') parts.withSeparator += '/';
  return true;
}

bool translateItem(std::string_view text, const DirectoryParts& source,
                   const DirectoryParts& target, std::string& result) {
  result.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      result += '%';
      ++i;
    } else if (text[i] == '%' && i + 2 < text.size() &&
               (text[i + 1] == 'S' || text[i + 1] == 's' || text[i + 1] == 'T' ||
                text[i + 1] == 't') &&
               (text[i + 2] == '1' || text[i + 2] == '2')) {
      const DirectoryParts& parts = (text[i + 1] == 'S' || text[i + 1] == 's') ? source : target;
      result += text[i + 2] == '1' ? parts.root : parts.withSeparator;
      i += 2;
    } else {
      result += text[i];
    }
    if (result.size() > kMaxScriptPath) return false;
  }
  return true;
}

bool completeSetup(WindowHandle owner, std::string_view sourceDirectory,
                   std::string_view installDirectory) {
  // The codec's recorded location in its plain form (Linux paths have no short form).
  ProfileFile codecSettings("zovcodec.ini");
  std::string location;
  if (codecSettings.lookup("Install", "Location", location) && !location.empty()) {
    std::string plain = std::filesystem::path(location).lexically_normal().string();
    if (plain != location) codecSettings.writeString("Install", "Location", plain);
  }

  DirectoryParts source, target;
  for (auto [directory, parts] :
       {std::pair{sourceDirectory, &source}, std::pair{installDirectory, &target}}) {
    if (!splitDirectory(directory, *parts)) {
      fail(owner, "Error: unable to determine drive given \"" + std::string(directory) + "\"." +
                      kCannotProcess);
      return false;
    }
  }

  std::string scriptPath = source.withSeparator + "rorarev.ini";
  ProfileFile script(scriptPath);
  if (!copyList(owner, script, scriptPath, source, target)) return false;
  if (!iconList(owner, script, source, target)) return false;
  iniLine(owner, script, "AddPlayerIniLine", "zovbrindle.ini", "Movie Player");
  iniLine(owner, script, "AddCodecIniLine", "zovcodec.ini", "ZOV1");
  return true;
}

}  // namespace zov::setup
