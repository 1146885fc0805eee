#include "tools/zovinfo/commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>

#include "encoder/avi_writer_format.h"
#include "format/output_preview.h"
#include "format/stream_format.h"
#include "tools/zovinfo/block_listing.h"
#include "tools/zovinfo/codec_playback.h"
#include "tools/zovinfo/movie_stream.h"
#include "tools/zovinfo/png_writer.h"
#include "tools/zovinfo/stream_session.h"
#include "tools/zovinfo/y4m_writer.h"

namespace zov::info {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  zovinfo decode --format WORD --size WxH --out DIR [--png [--method N]] FRAME.bin ...\n"
    "  zovinfo decode MOVIE.avi [--out DIR [--png [--method N]]] [--y4m FILE|-]\n"
    "                 [--first N] [--last N]\n"
    "  zovinfo MOVIE.avi [--json]\n"
    "  zovinfo frames MOVIE.avi [--json]\n"
    "  zovinfo blocks FILE.blk [--json]\n"
    "  zovinfo bench MOVIE.avi [--codec] [--repeat N]\n"
    "\n"
    "decode  decodes the frames as one stream and writes DIR/NNNNNN.raw for frame n: the decoded\n"
    "        5-5-5 picture, width x height 16-bit little-endian values, bottom row first.\n"
    "        --png also writes DIR/NNNNNN.png (top row first). WORD is the stream format word\n"
    "        (decimal or 0x-hex), as in the stream's biCompression. --method N renders the PNG\n"
    "        through output method N (0-15: enlargements, 8-bit palettes, grey, YUY2/UYVY)\n"
    "        as a player shows it: methods 0-12 are chosen in the codec library (found through\n"
    "        $ZOV_CODEC_PATH, beside the program, ../lib, the install libdir), which writes\n"
    "        each frame into the destination it proposes; the user's codec settings are put\n"
    "        back afterwards. Methods 13-15 cannot be chosen there and, like every method when\n"
    "        the codec library is missing (a note says so), go through the output stage\n"
    "        directly. The .raw files are always the decoder's own picture.\n"
    "        --y4m writes the movie's pictures as a YUV4MPEG2 stream (4:4:4) to FILE, or to\n"
    "        standard output for '-'. --first and --last (1-based frame numbers) choose the\n"
    "        frames written; the frames before them are still decoded.\n"
    "MOVIE   alone prints a summary: streams, size, frame rate, duration, frames by kind\n"
    "        (key, inter, empty), bitrate, audio format and the problems found; --json\n"
    "        prints it as one JSON object.\n"
    "frames  lists the stream and, per video frame, the index key flag, the chunk size, the\n"
    "        header fields, the entries of each block list, NSYM, N1 and N2.\n"
    "bench   decodes every frame N times (default 10) in memory and prints the speed;\n"
    "        --codec times the whole playback path instead: the codec library decompressing\n"
    "        each frame into a 16-bit DIB.\n"
    "blocks  lists a block file (run mode 3): its header, then per frame the offset, size, key\n"
    "        flag and audio bytes.\n"
    "--json  prints the summary as one JSON object, and the frames and blocks listings as JSON\n"
    "        lines: the stream's or the header's object, then one object a frame.\n"
    "\n"
    "exit status: 0 success, 2 usage or file error, 3 a malformed frame\n";

struct UsageError {
  std::string message;
};

// Parsed command line: the options and the remaining (positional) arguments.
struct Args {
  std::string command;
  std::vector<std::string> files;
  std::string out;
  std::string format;
  std::string size;
  std::string repeat;
  std::string method;
  std::string first;
  std::string last;
  std::string y4m;
  bool png = false;
  bool json = false;
  bool codec = false;
  bool help = false;
};

Args parseArgs(const std::vector<std::string>& args) {
  Args a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) throw UsageError{"option " + s + " needs a value"};
      if (!into.empty()) throw UsageError{"option " + s + " given twice"};
      into = args[++i];
      if (into.empty()) throw UsageError{"option " + s + " needs a value"};
    };
    if (s == "--help" || s == "-h") {
      a.help = true;
    } else if (s == "--out") {
      value(a.out);
    } else if (s == "--format") {
      value(a.format);
    } else if (s == "--size") {
      value(a.size);
    } else if (s == "--repeat") {
      value(a.repeat);
    } else if (s == "--method") {
      value(a.method);
    } else if (s == "--first") {
      value(a.first);
    } else if (s == "--last") {
      value(a.last);
    } else if (s == "--y4m") {
      value(a.y4m);
    } else if (s == "--json") {
      a.json = true;
    } else if (s == "--png") {
      a.png = true;
    } else if (s == "--codec") {
      a.codec = true;
    } else if (s.size() > 1 && s[0] == '-') {
      throw UsageError{"unknown option " + s};
    } else if (a.command.empty()) {
      a.command = s;
    } else {
      a.files.push_back(s);
    }
  }
  return a;
}

bool parseUnsigned(const std::string& text, uint64_t limit, uint64_t& value) {
  if (text.empty()) return false;
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  uint64_t v = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int d = c >= '0' && c <= '9'                 ? c - '0'
            : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
    if (d < 0) return false;
    v = v * uint64_t(base) + uint64_t(d);
    if (v > limit) return false;
  }
  value = v;
  return true;
}

std::string hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// Creates dir (and its parents) when missing.
bool makeDirs(const std::string& dir, std::string& error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      error = std::strerror(errno);
      return false;
    }
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "is not a directory";
    return false;
  }
  return true;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    error = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
    ok = false;
  } else if (uint64_t(st.st_size) > kMaxFrameBytes) {
    error = "is " + std::to_string(st.st_size) + " bytes, too large for a ZOV frame";
    ok = false;
  }
  if (ok) {
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (ok && done < bytes.size()) {
      ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        error = "read error";
        ok = false;
      }
      if (got > 0) done += size_t(got);
    }
  }
  ::close(fd);
  return ok;
}

// Writes the picture of frame n as DIR/NNNNNN.raw (and .png).
class FrameWriter {
 public:
  // method: the output method the PNG is rendered through, or -1 for the picture as decoded.
  FrameWriter(std::string dir, bool png, int method)
      : dir_(std::move(dir)), png_(png), method_(method) {}

  // codec: when set, the PNG shows the codec's destination instead of the output stage's.
  bool write(int n, const StreamSession& s, const CodecPlayback* codec, std::string& error) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06d", n);
    std::string base = dir_ + name;
    const uint16_t* p = s.picture();
    size_t count = size_t(s.width()) * size_t(s.height());
    bytes_.resize(count * 2);
    for (size_t i = 0; i < count; ++i) {
      bytes_[2 * i] = uint8_t(p[i]);
      bytes_[2 * i + 1] = uint8_t(p[i] >> 8);
    }
    std::FILE* f = std::fopen((base + ".raw").c_str(), "wb");
    bool ok = f && std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) {
      error = base + ".raw: " + std::strerror(errno);
      return false;
    }
    if (png_ && method_ >= 0) {
      PreviewImage image = codec ? codec->render(s.layout())
                                 : previewMethod(method_, p, s.layout(), PixelKind::Rgb555);
      if (image.width == 0) {
        error = "output method " + std::to_string(method_) + " cannot show a " +
                std::to_string(s.width()) + "x" + std::to_string(s.height()) +
                " stream of this kind";
        return false;
      }
      std::string pngError;
      if (!writePngRgb(base + ".png", image.rgb.data(), image.width, image.height, pngError)) {
        error = base + ".png: " + pngError;
        return false;
      }
    } else if (png_) {
      std::string pngError;
      if (!writePng555(base + ".png", p, s.width(), s.height(), pngError)) {
        error = base + ".png: " + pngError;
        return false;
      }
    }
    return true;
  }

 private:
  std::string dir_;
  bool png_;
  int method_;
  std::vector<uint8_t> bytes_;
};

// Opens a movie; on failure prints "FILE: problem" and returns false.
bool openMovie(const std::string& path, MovieStream& m, std::ostream& err) {
  std::string error;
  if (!m.open(path, error)) {
    err << path << ": " << error << "\n";
    return false;
  }
  return true;
}

bool isZovStream(const MovieStream& s) {
  uint32_t tag = s.compression & 0xFFFF0000u;
  uint32_t handler = s.handler | 0x20202020u;  // lower case
  return tag == kZov1Tag || tag == kZov2Tag || handler == makeFourCC("zov1") ||
         handler == makeFourCC("zov2");
}

bool beginMovieStream(const std::string& path, const MovieStream& s, StreamSession& session,
                      std::ostream& err) {
  if (!isZovStream(s)) {
    err << path << ": the video stream is not ZOV video (handler '" << fourCCText(s.handler)
        << "', compression " << hex32(s.compression) << ")\n";
    return false;
  }
  std::string error;
  if (!session.begin(s.width, s.height, s.compression, error)) {
    err << path << ": " << error << "\n";
    return false;
  }
  return true;
}

// The --method value: -1 when absent, else 0..15 (only with --png).
int outputMethod(const Args& a) {
  if (a.method.empty()) return -1;
  uint64_t m = 0;
  if (!parseUnsigned(a.method, 15, m))
    throw UsageError{"bad --method value '" + a.method + "' (0 to 15)"};
  if (!a.png) throw UsageError{"--method goes with --png"};
  return int(m);
}

// The methods the codec's style record can choose.
constexpr int kLastStyleMethod = 12;

// Opens the codec for --method when the style record can choose that method; `codec` stays null
// when the output stage renders directly. False (after saying why) when the codec is there but
// cannot show the stream with that method.
bool openCodecFor(int method, int width, int height, uint32_t formatWord, CodecPlayback& playback,
                  CodecPlayback*& codec, std::ostream& err) {
  codec = nullptr;
  if (method < 0 || method > kLastStyleMethod) return true;
  std::string error;
  if (playback.open(width, height, formatWord, method, error)) {
    codec = &playback;
    return true;
  }
  if (!playback.codecFound()) {
    err << "zovinfo: note: " << error << "; output method " << method
        << " is rendered by the output stage directly\n";
    return true;
  }
  err << "zovinfo: " << error << "\n";
  return false;
}

void reportDamage(std::ostream& err, const std::string& where, int n, const FrameSummary& s) {
  err << where << ": frame " << n << " is malformed";
  if (!s.fault.empty()) err << " (" << s.fault << ")";
  err << "; decoding stops there\n";
}

int decodeFrames(const Args& a, std::ostream& out, std::ostream& err) {
  if (a.files.empty()) throw UsageError{"decode needs frame files"};
  uint64_t word = 0;
  if (!parseUnsigned(a.format, 0xFFFFFFFFu, word))
    throw UsageError{"bad --format value '" + a.format + "'"};
  uint64_t w = 0, h = 0;
  size_t x = a.size.find_first_of("xX");
  if (x == std::string::npos || !parseUnsigned(a.size.substr(0, x), 100000, w) ||
      !parseUnsigned(a.size.substr(x + 1), 100000, h))
    throw UsageError{"bad --size value '" + a.size + "' (expected WxH)"};
  std::string error;
  if (!makeDirs(a.out, error)) {
    err << a.out << ": " << error << "\n";
    return kExitUsage;
  }
  StreamSession session;
  if (!session.begin(int(w), int(h), uint32_t(word), error)) {
    err << "zovinfo: " << error << "\n";
    return kExitUsage;
  }
  int method = outputMethod(a);
  FrameWriter writer(a.out, a.png, method);
  CodecPlayback playback;
  CodecPlayback* codec = nullptr;
  if (!openCodecFor(method, int(w), int(h), uint32_t(word), playback, codec, err))
    return kExitUsage;
  std::vector<uint8_t> bytes;
  for (size_t n = 0; n < a.files.size(); ++n) {
    const std::string& where = a.files[n];
    if (!readWholeFile(a.files[n], bytes, error)) {
      err << a.files[n] << ": " << error << "\n";
      return kExitUsage;
    }
    FrameSummary summary;
    if (!session.decode(bytes.data(), bytes.size(), summary)) {
      reportDamage(err, a.files[n], int(n), summary);
      return kExitDamaged;
    }
    if (codec && !codec->decompress(bytes.data(), bytes.size(), error)) {
      err << where << ": frame " << n << ": " << error << "\n";
      return kExitDamaged;
    }
    if (!writer.write(int(n), session, codec, error)) {
      err << error << "\n";
      return kExitUsage;
    }
  }
  out << "decoded " << a.files.size() << " frames " << session.width() << "x" << session.height()
      << " into " << a.out << "\n";
  return kExitOk;
}

int decodeMovie(const Args& a, std::ostream& out, std::ostream& err) {
  if (a.files.size() != 1)
    throw UsageError{"decode takes one movie (or --format and --size with frame files)"};
  const std::string& path = a.files[0];
  MovieStream m;
  if (!openMovie(path, m, err)) return kExitUsage;
  StreamSession session;
  if (!beginMovieStream(path, m, session, err)) return kExitUsage;
  uint64_t first = 1, last = m.frames.size();
  if (!a.first.empty() && (!parseUnsigned(a.first, 0xFFFFFFFFu, first) || first == 0))
    throw UsageError{"bad --first value '" + a.first + "' (a frame number from 1)"};
  if (!a.last.empty() && (!parseUnsigned(a.last, 0xFFFFFFFFu, last) || last == 0))
    throw UsageError{"bad --last value '" + a.last + "' (a frame number from 1)"};
  if (first > last || last > m.frames.size()) {
    err << path << ": frames " << first << " to " << last << " are not in its " << m.frames.size()
        << " frames\n";
    return kExitUsage;
  }
  std::string error;
  if (!a.out.empty() && !makeDirs(a.out, error)) {
    err << a.out << ": " << error << "\n";
    return kExitUsage;
  }
  int method = outputMethod(a);
  FrameWriter writer(a.out, a.png, method);
  CodecPlayback playback;
  CodecPlayback* codec = nullptr;
  if (!openCodecFor(method, m.width, m.height, m.compression, playback, codec, err))
    return kExitUsage;
  std::ofstream y4mFile;
  std::ostream* y4mStream = nullptr;
  if (a.y4m == "-") {
    y4mStream = &out;
  } else if (!a.y4m.empty()) {
    y4mFile.open(a.y4m, std::ios::binary | std::ios::trunc);
    if (!y4mFile) {
      err << a.y4m << ": " << std::strerror(errno) << "\n";
      return kExitUsage;
    }
    y4mStream = &y4mFile;
  }
  std::optional<Y4mWriter> y4m;
  if (y4mStream) y4m.emplace(*y4mStream, m.width, m.height, m.rate, m.scale);
  std::vector<uint8_t> bytes;
  for (size_t n = 0; n < last; ++n) {
    const std::string& where = path;
    if (!m.readFrame(n, bytes, error)) {
      err << path << ": frame " << n << ": " << error << "\n";
      return kExitUsage;
    }
    FrameSummary summary;
    if (!session.decode(bytes.data(), bytes.size(), summary)) {
      reportDamage(err, path, int(n), summary);
      return kExitDamaged;
    }
    if (codec && !codec->decompress(bytes.data(), bytes.size(), error)) {
      err << where << ": frame " << n << ": " << error << "\n";
      return kExitDamaged;
    }
    if (n + 1 < first) continue;
    if (!a.out.empty() && !writer.write(int(n), session, codec, error)) {
      err << error << "\n";
      return kExitUsage;
    }
    if (y4m && !y4m->write(session.picture())) {
      err << (a.y4m == "-" ? std::string("standard output") : a.y4m) << ": write error\n";
      return kExitUsage;
    }
  }
  if (y4mFile.is_open()) {
    y4mFile.close();
    if (!y4mFile) {
      err << a.y4m << ": write error\n";
      return kExitUsage;
    }
  }
  // With the pictures on standard output the summary goes to the error stream.
  (a.y4m == "-" ? err : out) << "decoded " << (last - first + 1) << " frames " << session.width()
                             << "x" << session.height() << " into "
                             << (a.out.empty() ? a.y4m : a.out) << "\n";
  return kExitOk;
}

std::string jsonText(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      quoted += buf;
    } else {
      quoted += char(c);
    }
  }
  return quoted + "\"";
}

int listFrames(const Args& a, std::ostream& out, std::ostream& err) {
  if (a.files.size() != 1) throw UsageError{"frames takes one movie"};
  if (!a.out.empty() || !a.format.empty() || !a.size.empty() || !a.repeat.empty() || a.png ||
      !a.method.empty() || a.codec || !a.first.empty() || !a.last.empty() || !a.y4m.empty())
    throw UsageError{"frames takes no options"};
  const std::string& path = a.files[0];
  MovieStream s;
  if (!openMovie(path, s, err)) return kExitUsage;
  StreamSession session;
  if (a.json)
    out << "{\"stream\":{\"width\":" << s.width << ",\"height\":" << s.height << ",\"format\":\""
        << hex32(s.compression) << "\",\"fourcc\":" << jsonText(fourCCText(s.handler))
        << ",\"frames\":" << s.frames.size() << "}}\n";
  else
    out << "stream " << s.width << "x" << s.height << " format=" << hex32(s.compression)
        << " fourcc=" << fourCCText(s.handler) << " frames=" << s.frames.size() << "\n";
  if (!beginMovieStream(path, s, session, err)) return kExitUsage;
  std::vector<uint8_t> bytes;
  std::string error;
  int status = kExitOk;
  for (size_t n = 0; n < s.frames.size(); ++n) {
    const MovieFrame& f = s.frames[n];
    if (!s.readFrame(n, bytes, error)) {
      err << path << ": frame " << n << ": " << error << "\n";
      return kExitUsage;
    }
    FrameSummary r;
    bool ok = session.decode(bytes.data(), bytes.size(), r);
    const char* indexKey = f.key == KeyFlag::Key     ? "key"
                           : f.key == KeyFlag::Delta ? "delta"
                                                     : "none";
    if (a.json) {
      out << "{\"frame\":" << n << ",\"index\":\"" << indexKey << "\",\"bytes\":" << f.size;
      if (r.empty) {
        out << ",\"empty\":true}\n";
        continue;
      }
      out << ",\"KEY\":" << r.key << ",\"scheme\":" << jsonText(schemeName(r.scheme))
          << ",\"ENPY\":" << r.enpy << ",\"EDGE\":" << r.edge << ",\"LBOX\":" << r.lbox
          << ",\"margins\":[" << r.marginTop << "," << r.marginBottom
          << "],\"interframe\":" << r.interframe << ",\"chroma\":" << r.chroma
          << ",\"rle\":" << r.rle << ",\"entropy\":" << r.entropy << ",\"NSYM\":" << r.nsym
          << ",\"N1\":" << r.n1 << ",\"N2\":" << r.n2
          << ",\"malformed\":" << (ok ? "false" : "true") << "}\n";
      if (!ok) {
        err << path << ": frame " << n << " is malformed";
        if (!r.fault.empty()) err << " (" << r.fault << ")";
        err << "\n";
        status = kExitDamaged;
      }
      continue;
    }
    out << "frame " << n << " index=" << indexKey << " bytes=" << f.size;
    if (r.empty) {
      out << " empty\n";
      continue;
    }
    out << " KEY=" << r.key << " scheme=" << schemeName(r.scheme) << " ENPY=" << r.enpy
        << " EDGE=" << r.edge << " LBOX=" << r.lbox << " margins=" << r.marginTop << ","
        << r.marginBottom << " interframe=" << r.interframe << " chroma=" << r.chroma
        << " rle=" << r.rle << " entropy=" << r.entropy << " NSYM=" << r.nsym << " N1=" << r.n1
        << " N2=" << r.n2;
    if (!ok) {
      out << " malformed";
      // The listing goes on: later frames still show their own fields.
      err << path << ": frame " << n << " is malformed";
      if (!r.fault.empty()) err << " (" << r.fault << ")";
      err << "\n";
      status = kExitDamaged;
    }
    out << "\n";
  }
  return status;
}

uint32_t littleEndian(const std::vector<uint8_t>& b, size_t at, size_t bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes && at + i < b.size(); ++i) v |= uint32_t(b[at + i]) << (8 * i);
  return v;
}

// The movie alone on the command line: what it holds and what is wrong with it.
int summarize(const std::string& path, bool json, std::ostream& out, std::ostream& err) {
  MovieStream m;
  if (!openMovie(path, m, err)) return kExitUsage;
  struct stat st {};
  uint64_t fileBytes = ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
  double fps = m.scale != 0 ? double(m.rate) / double(m.scale) : 0;
  double seconds = fps > 0 ? double(m.frames.size()) / fps : 0;
  uint64_t videoBytes = 0;
  for (const MovieFrame& f : m.frames) videoBytes += f.size;
  double kbits = seconds > 0 ? double(videoBytes) * 8 / seconds / 1000 : 0;
  uint64_t keys = 0, inters = 0, empties = 0;
  std::vector<std::string> problems;
  if (!m.hasIndex) problems.push_back("no index: the frames were found by scanning the file");
  if (fps <= 0) problems.push_back("the video stream gives no frame rate");
  StreamSession session;
  std::string error;
  if (!isZovStream(m)) {
    problems.push_back("the video stream is not ZOV video (handler '" + fourCCText(m.handler) +
                       "'); its frames are not checked");
  } else if (!session.begin(m.width, m.height, m.compression, error)) {
    problems.push_back(error);
  } else {
    std::vector<uint8_t> bytes;
    for (size_t n = 0; n < m.frames.size(); ++n) {
      FrameSummary r;
      if (!m.readFrame(n, bytes, error)) {
        problems.push_back("frame " + std::to_string(n) + ": " + error);
        break;
      }
      bool ok = session.decode(bytes.data(), bytes.size(), r);
      if (!ok) {
        problems.push_back("frame " + std::to_string(n) + " is malformed" +
                           (r.fault.empty() ? "" : " (" + r.fault + ")") +
                           "; later frames are not checked");
        break;
      }
      ++(r.empty ? empties : r.key ? keys : inters);
    }
  }
  const std::vector<uint8_t>& a = m.audioFormat;
  std::ostringstream text;
  text << std::fixed;
  if (json) {
    text << "{\"file\":" << jsonText(path) << ",\"bytes\":" << fileBytes
         << ",\"video\":{\"width\":" << m.width << ",\"height\":" << m.height
         << ",\"fourcc\":" << jsonText(fourCCText(m.handler))
         << ",\"format\":" << jsonText(hex32(m.compression)) << ",\"fps\":" << std::setprecision(3)
         << fps << ",\"duration\":" << seconds << ",\"frames\":" << m.frames.size()
         << ",\"key\":" << keys << ",\"inter\":" << inters << ",\"empty\":" << empties
         << ",\"kbps\":" << std::setprecision(1) << kbits << "}";
    text << ",\"audio\":";
    if (a.empty())
      text << "null";
    else
      text << "{\"tag\":" << littleEndian(a, 0, 2) << ",\"channels\":" << littleEndian(a, 2, 2)
           << ",\"rate\":" << littleEndian(a, 4, 4) << ",\"bits\":" << littleEndian(a, 14, 2)
           << "}";
    text << ",\"problems\":[";
    for (size_t i = 0; i < problems.size(); ++i) text << (i ? "," : "") << jsonText(problems[i]);
    text << "]}\n";
  } else {
    text << path << ": " << fileBytes << " bytes\n"
         << "video: " << m.width << "x" << m.height << " " << fourCCText(m.handler) << " "
         << hex32(m.compression) << ", " << std::setprecision(3) << fps << " fps, "
         << m.frames.size() << " frames (" << keys << " key, " << inters << " inter, " << empties
         << " empty), " << std::setprecision(3) << seconds << " s, " << std::setprecision(1)
         << kbits << " kbit/s\n";
    if (a.empty())
      text << "audio: none\n";
    else
      text << "audio: format " << littleEndian(a, 0, 2) << ", " << littleEndian(a, 2, 2)
           << " channels, " << littleEndian(a, 4, 4) << " Hz, " << littleEndian(a, 14, 2)
           << " bits\n";
    if (problems.empty()) text << "problems: none\n";
    for (const std::string& p : problems) text << "problem: " << p << "\n";
  }
  out << text.str();
  for (const std::string& p : problems)
    if (p.find("malformed") != std::string::npos) return kExitDamaged;
  return kExitOk;
}

int bench(const Args& a, std::ostream& out, std::ostream& err) {
  if (a.files.size() != 1) throw UsageError{"bench takes one movie"};
  uint64_t repeat = 10;
  if (!a.repeat.empty() && (!parseUnsigned(a.repeat, 1000000, repeat) || repeat == 0))
    throw UsageError{"bad --repeat value '" + a.repeat + "' (1 to 1000000)"};
  const std::string& path = a.files[0];
  MovieStream m;
  if (!openMovie(path, m, err)) return kExitUsage;
  std::vector<std::vector<uint8_t>> frames(m.frames.size());
  std::string error;
  for (size_t n = 0; n < frames.size(); ++n) {
    if (!m.readFrame(n, frames[n], error)) {
      err << path << ": frame " << n << ": " << error << "\n";
      return kExitUsage;
    }
  }
  StreamSession session;
  if (!beginMovieStream(path, m, session, err)) return kExitUsage;
  CodecPlayback playback;
  if (a.codec && !playback.open(m.width, m.height, m.compression, -1, error)) {
    err << path << ": " << error << "\n";
    return kExitUsage;
  }
  auto start = std::chrono::steady_clock::now();
  for (uint64_t r = 0; r < repeat && a.codec; ++r) {
    if (r > 0 && !playback.restart(error)) {
      err << path << ": " << error << "\n";
      return kExitUsage;
    }
    for (size_t n = 0; n < frames.size(); ++n) {
      if (!playback.decompress(frames[n].data(), frames[n].size(), error)) {
        err << path << ": frame " << n << ": " << error << "\n";
        return kExitDamaged;
      }
    }
  }
  for (uint64_t r = 0; r < repeat && !a.codec; ++r) {
    // Each pass is the stream from its start, as a player seeking back to frame 0.
    if (r > 0 && !session.begin(m.width, m.height, m.compression, error)) {
      err << path << ": " << error << "\n";
      return kExitUsage;
    }
    for (size_t n = 0; n < frames.size(); ++n) {
      FrameSummary summary;
      if (!session.decode(frames[n].data(), frames[n].size(), summary)) {
        reportDamage(err, path, int(n), summary);
        return kExitDamaged;
      }
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint64_t total = repeat * frames.size();
  double fps = seconds > 0 ? double(total) / seconds : 0;
  double mpx = fps * double(session.width()) * double(session.height()) / 1e6;
  std::ostringstream line;
  line << std::fixed << "decoded " << total << " frames " << session.width() << "x"
       << session.height() << " in " << std::setprecision(3) << seconds
       << " s: " << std::setprecision(1) << fps << " fps, " << std::setprecision(1) << mpx
       << " Mpx/s\n";
  out << line.str();
  return kExitOk;
}

}  // namespace

int runZovinfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    Args a = parseArgs(args);
    if (a.help) {
      out << kUsage;
      return kExitOk;
    }
    if (a.command.empty()) throw UsageError{"no command given"};
    if (a.json && (a.command == "decode" || a.command == "bench"))
      throw UsageError{"--json goes with the listings (a movie alone, frames, blocks)"};
    if (a.command == "decode") {
      if (a.out.empty() && a.y4m.empty()) throw UsageError{"decode needs --out DIR or --y4m"};
      if (a.out.empty() && a.png) throw UsageError{"--png goes with --out DIR"};
      if (!a.repeat.empty() || a.codec) throw UsageError{"decode takes no --repeat or --codec"};
      bool frameMode = !a.format.empty() || !a.size.empty();
      if (frameMode && (a.out.empty() || !a.y4m.empty() || !a.first.empty() || !a.last.empty()))
        throw UsageError{
            "frame files are decoded into --out DIR; --y4m, --first, --last go "
            "with a movie"};
      if (frameMode && (a.format.empty() || a.size.empty()))
        throw UsageError{"decoding frame files needs both --format and --size"};
      return frameMode ? decodeFrames(a, out, err) : decodeMovie(a, out, err);
    }
    if (a.command == "frames") return listFrames(a, out, err);
    if (a.command == "blocks") {
      if (a.files.size() != 1) throw UsageError{"blocks takes one block file"};
      return listBlocks(a.files[0], a.json, out, err);
    }
    if (a.command == "bench") {
      if (!a.out.empty() || !a.format.empty() || !a.size.empty() || a.png || !a.method.empty() ||
          !a.first.empty() || !a.last.empty() || !a.y4m.empty())
        throw UsageError{"bench takes only --codec and --repeat"};
      return bench(a, out, err);
    }
    if (a.files.empty()) {
      if (!a.out.empty() || !a.format.empty() || !a.size.empty() || !a.repeat.empty() || a.png ||
          !a.method.empty() || a.codec || !a.first.empty() || !a.last.empty() || !a.y4m.empty())
        throw UsageError{"a movie alone takes only --json"};
      return summarize(a.command, a.json, out, err);
    }
    throw UsageError{"unknown command '" + a.command + "'"};
  } catch (const UsageError& e) {
    err << "zovinfo: " << e.message << "\n" << kUsage;
    return kExitUsage;
  }
}

int decodeAviImage(const uint8_t* data, size_t size) {
  MovieStream stream;
  std::string error;
  if (!stream.openImage(data, size, error) || !isZovStream(stream)) return -1;
  StreamSession session;
  if (!session.begin(stream.width, stream.height, stream.compression, error)) return -1;
  std::vector<uint8_t> bytes;
  int good = 0;
  for (size_t n = 0; n < stream.frames.size(); ++n) {
    if (!stream.readFrame(n, bytes, error)) break;
    FrameSummary summary;
    if (session.decode(bytes.data(), bytes.size(), summary)) ++good;
  }
  return good;
}

}  // namespace zov::info
