// Private-profile (INI) files with the behaviour the programs' settings code relies on.
//
// - Files addressed by a bare name live in the ZOV home directory (platform/zov_home.h).
// - Section and key names match without regard to case; the first occurrence wins.
// - Integer reads parse like the Windows profile functions: optional leading blanks, an optional
//   sign, decimal digits up to the first non-digit, accumulated modulo 2^32 and returned as an
//   unsigned 32-bit value. So "-1" reads as 4294967295, "  42abc" as 42, "+7" as 7, and
//   "4294967296" wraps to 0. A missing key or section, an empty value, or a value without any
//   digit gives the default.
// - String reads are cut like the Windows ones: a buffer of `size` characters receives at most
//   size - 1 of them. Values have their surrounding blanks removed, and one pair of matching
//   single or double quotes around the whole value is dropped. Writes put a value that reading
//   would alter that way inside double quotes, so every written value reads back exactly.
// - Comments (";" or "#") and lines that are neither sections nor keys are kept as they are.
// - Every write goes to disk at once and atomically: the new content is written to a temporary
//   file in the same folder, flushed to the disk, and renamed over the old file. A crash at any
//   point leaves either the old or the new file, never a mix; a temporary file left by a crash
//   (".<name>.tmp-XXXXXX") is never read. A ProfileUpdate gathers many writes into one such
//   replacement. Other processes' updates wait for an advisory lock held on the folder.
// - A file its user may not write (or one without any write permission) is never replaced:
//   writes to it fail with EACCES.
// - Files with CR LF line ends keep them; new files use LF. A UTF-8 byte-order mark at the start
//   is ignored when reading and kept when writing.
//
// Operations are serialised within the process, so threads may share a file. Failures set the
// system error code (errno values) available from lastError() / profileLastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zov {

class ProfileFile {
 public:
  // fileName: a bare name (resolved in the ZOV home directory) or an absolute path.
  explicit ProfileFile(std::string_view fileName);

  const std::filesystem::path& path() const { return path_; }

  // ---- Reading ----
  uint32_t getInt(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // The value cut to at most size - 1 characters (size 0 gives an empty string); the default
  // (with trailing blanks removed) when the key is missing.
  std::string getString(std::string_view section, std::string_view key,
                        std::string_view defaultValue, size_t size) const;
  // The value without a length limit; false when the key (or its section) is missing.
  bool lookup(std::string_view section, std::string_view key, std::string& value) const;
  bool hasSection(std::string_view section) const;
  bool hasKey(std::string_view section, std::string_view key) const;
  // Keys of a section in file order, as spelt in the file; empty when the section is missing.
  std::vector<std::string> keys(std::string_view section) const;
  // Key/value pairs of a section in file order.
  std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
  std::vector<std::string> sections() const;

  // ---- Writing (each call is one atomic update of the file) ----
  // Sets a key, creating the section and the file (and the home directory) when missing.
  bool writeString(std::string_view section, std::string_view key, std::string_view value);
  // Writes a number in decimal ("%d").
  bool writeInt(std::string_view section, std::string_view key, int32_t value);
  // Removes a key; succeeds when it was not there.
  bool deleteKey(std::string_view section, std::string_view key);
  // Removes a section with all its keys and comments; succeeds when it was not there.
  bool deleteSection(std::string_view section);
  // Replaces the content of a section by the given keys (none: the section stays, empty),
  // creating it when missing.
  bool replaceSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries);
  bool emptySection(std::string_view section) { return replaceSection(section, {}); }

  // The error code of the last failed operation of this object (0 after success).
  int lastError() const { return lastError_; }

 private:
  std::filesystem::path path_;
  mutable int lastError_ = 0;
};

struct ProfileDocument;
struct ProfileEdit;

// Several writes to one file that reach the disk together: each write is checked at once (its
// failure is known when it is made, as for a single write) and kept; commit() replaces the file
// once, under the folder's lock, with the writes applied to its content at that moment.
class ProfileUpdate {
 public:
  explicit ProfileUpdate(std::string_view fileName);
  ~ProfileUpdate();
  ProfileUpdate(const ProfileUpdate&) = delete;
  ProfileUpdate& operator=(const ProfileUpdate&) = delete;

  bool writeString(std::string_view section, std::string_view key, std::string_view value);
  bool writeInt(std::string_view section, std::string_view key, int32_t value);
  bool replaceSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries);
  bool emptySection(std::string_view section) { return replaceSection(section, {}); }
  // Writes the file with every write kept so far; true when there was nothing to write.
  bool commit();
  // Makes every later write fail with `error` (for a caller that learnt the file can't be
  // written and reports each write's failure as usual).
  void refuse(int error) { refused_ = error; }

  const std::filesystem::path& path() const { return path_; }
  int lastError() const { return lastError_; }

 private:
  int check(std::string_view section, std::string_view key);

  std::filesystem::path path_;
  std::vector<ProfileEdit> edits_;
  int lastError_ = 0;
  int refused_ = 0;
  bool readable_ = false;
};

// The error code of the last failed profile operation of the calling thread (0 after success).
int profileLastError();

// ---- The Windows shape, for call sites written against it ----

// Returns the value or the default (a negative default comes back as its unsigned image).
uint32_t getPrivateProfileInt(const char* section, const char* key, int32_t defaultValue,
                              const char* fileName);
// Copies at most size - 1 characters and a terminator into buffer; returns the number copied.
// With section null, lists the section names; with key null, the section's keys (each
// terminated by a NUL, the list by a second NUL, cut to fit as Windows does).
size_t getPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, size_t size, const char* fileName);
// Sets a key; a null value deletes the key, a null key deletes the whole section. Returns false
// on failure (see profileLastError()).
bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName);
// Replaces the keys of a section by "key=value" strings, each NUL-terminated, the list ended by a
// second NUL; an empty list ("\0") leaves the section empty.
bool writePrivateProfileSection(const char* section, const char* keyValues, const char* fileName);

// ---- Parsing helpers shared with other readers of settings text ----

// Parses like the profile integer read; false when there is no digit.
bool parseProfileUnsigned(std::string_view text, uint32_t& value);

namespace profile_testing {
// Installs a check run before every write (key empty for whole-section updates); a non-zero
// result fails that write with this error code and leaves the file unchanged. Null removes it.
void setWriteFault(std::function<int(std::string_view section, std::string_view key)> fault);
// Makes the next atomic write stop after writing `bytes` bytes of the temporary file and fail
// with EIO, leaving the temporary file behind, as a crash at that point would.
void failNextWriteAfter(size_t bytes);
}  // namespace profile_testing

}  // namespace zov
