#include "encoder/riff_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zov {

RiffWriter::~RiffWriter() {
  close();
}

bool RiffWriter::create(const std::string& path) {
  close();
  error_ = 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  pos_ = end_ = bufferStart_ = 0;
  buffer_.clear();
  buffer_.reserve(kBufferSize);
  failed_ = false;
  return true;
}

bool RiffWriter::close() {
  if (fd_ < 0) return true;
  bool ok = flush() && !failed_;
  if (::close(fd_) != 0) {
    if (!error_) error_ = errno;
    ok = false;
  }
  fd_ = -1;
  return ok;
}

bool RiffWriter::flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n =
        ::pwrite(fd_, buffer_.data() + done, buffer_.size() - done, off_t(bufferStart_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!error_) error_ = n < 0 ? errno : ENOSPC;
      failed_ = true;
      buffer_.clear();
      return false;
    }
    done += size_t(n);
  }
  buffer_.clear();
  bufferStart_ = pos_;
  return true;
}

bool RiffWriter::write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  // The buffer always holds the bytes just before pos_; a seek flushes it.
  if (bufferStart_ + buffer_.size() != pos_ && !flush()) return false;
  if (buffer_.empty()) bufferStart_ = pos_;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    size_t room = kBufferSize - buffer_.size();
    if (room == 0) {
      if (!flush()) return false;
      continue;
    }
    size_t n = std::min(room, size);
    buffer_.insert(buffer_.end(), p, p + n);
    p += n;
    size -= n;
    pos_ += n;
  }
  end_ = std::max(end_, pos_);
  return true;
}

bool RiffWriter::writeZeros(uint64_t count) {
  static const uint8_t zeros[4096] = {};
  while (count > 0) {
    size_t n = size_t(std::min<uint64_t>(count, sizeof zeros));
    if (!write(zeros, n)) return false;
    count -= n;
  }
  return true;
}

bool RiffWriter::seek(uint64_t position) {
  if (fd_ < 0 || failed_) return false;
  if (position == pos_) return true;
  if (!flush()) return false;
  end_ = std::max(end_, pos_);
  pos_ = position;
  bufferStart_ = pos_;
  return true;
}

bool RiffWriter::createChunk(Chunk& chunk, FourCC id) {
  chunk = Chunk{};
  chunk.id = id;
  chunk.headerOffset = pos_;
  uint8_t header[8];
  putLE32(header, id);
  putLE32(header + 4, 0);
  if (!write(header, 8)) return false;
  chunk.dataOffset = pos_;
  return true;
}

bool RiffWriter::createList(Chunk& chunk, FourCC listId, FourCC formType) {
  if (!createChunk(chunk, listId)) return false;
  chunk.formType = formType;
  uint8_t form[4];
  putLE32(form, formType);
  return write(form, 4);
}

bool RiffWriter::ascend(const Chunk& chunk) {
  if (fd_ < 0 || failed_ || pos_ < chunk.dataOffset) return false;
  uint64_t size = pos_ - chunk.dataOffset;
  if (size > 0xFFFFFFFFull) return false;  // no RIFF size field can hold it
  uint64_t after = pos_;
  if (size & 1) {
    const uint8_t pad = 0;
    if (!write(&pad, 1)) return false;
    after = pos_;
  }
  uint8_t field[4];
  putLE32(field, uint32_t(size));
  if (!seek(chunk.headerOffset + 4) || !write(field, 4)) return false;
  return seek(after);
}

}  // namespace zov
