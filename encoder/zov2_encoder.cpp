#include "encoder/zov2_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "encoder/background_bitmap.h"
#include "encoder/chroma_key.h"
#include "encoder/encoder_buffers.h"
#include "encoder/frame_writer.h"
#include "encoder/huffman_code.h"
#include "encoder/prequantise.h"
#include "encoder/rectangle_search.h"
#include "encoder/rectangle_search_kernels.h"
#include "encoder/residual_coder.h"
#include "encoder/smooth_kernels.h"
#include "encoder/table_width_kernels.h"
#include "encoder/unchanged_analysis.h"
#include "encoder/worker_pool.h"
#include "format/stream_format.h"

namespace zov {

EncoderBuffers::EncoderBuffers() = default;
EncoderBuffers::~EncoderBuffers() = default;

EncoderBuffersHandle::EncoderBuffersHandle() = default;
EncoderBuffersHandle::~EncoderBuffersHandle() = default;
EncoderBuffersHandle::EncoderBuffersHandle(const EncoderBuffersHandle&) {}
EncoderBuffersHandle& EncoderBuffersHandle::operator=(const EncoderBuffersHandle& other) {
  if (this != &other) p_.reset();
  return *this;
}
EncoderBuffersHandle::EncoderBuffersHandle(EncoderBuffersHandle&&) noexcept = default;
EncoderBuffersHandle& EncoderBuffersHandle::operator=(EncoderBuffersHandle&&) noexcept = default;
void EncoderBuffersHandle::reset(EncoderBuffers* p) {
  p_.reset(p);
}

namespace {

constexpr int kDivisor[5] = {30, 20, 15, 13, 11};
constexpr int kCellW[5] = {1, 2, 2, 4, 4};
constexpr int kCellH[5] = {1, 1, 2, 2, 4};
const char* const kOverflowMessage[4] = {
    "Number of Interframe blocks exceeded 255", "Number of Chroma blocks exceeded 255",
    "Number of Rle blocks exceeded 255", "Number of Entropy blocks exceeded 255"};

void message(const CompressionSettings& s, const std::string& text) {
  if (s.EncoderMessages) s.EncoderMessages(text);
}

bool backgroundListPresent(const CompressionSettings& s, const EncoderBuffers& b) {
  return s.ChromaKeying && (b.bitmapGiven || s.ChromaScreening == kScreeningBackground);
}

// Copies the coded lines of an input picture (every line, or the odd lines in single field).
void takePicture(const EncoderBuffers& b, const uint16_t* input, uint16_t* pic) {
  if (!b.singleField) {
    std::memcpy(pic, input, size_t(b.pixels) * 2);
    return;
  }
  for (int l = 0; l < b.lines; ++l)
    std::memcpy(pic + size_t(l) * b.width, input + size_t(2 * l + 1) * b.width,
                size_t(b.width) * 2);
}

// Steps applied to each picture as it comes in: chroma keying and pre-quantisation.
void intake(EncoderBuffers& b, const CompressionSettings& s, const uint16_t* input, uint16_t* pic,
            uint32_t* yc, uint8_t* keyMap, bool aside = false) {
  // The byte after a key map is set while the map may hold keyed pixels.
  uint8_t& keyed = keyMap[b.pixels];
  if (s.ChromaKeying && s.ChromaScreening != kScreeningBackground && !s.CodingBackground) {
    takePicture(b, input, pic);
    chromaKey(b, s, pic, keyMap);
    keyed = 1;
    prequantise(b, pic, yc, s.EnhancedEdges, aside);
    return;
  }
  if (keyed) {
    std::memset(keyMap, 0, size_t(b.pixels));
    keyed = 0;
  }
  // Every line coded: the pre-quantiser reads the picture where it is and writes its own.
  if (!b.singleField) {
    prequantise(b, input, pic, yc, s.EnhancedEdges, aside);
    return;
  }
  takePicture(b, input, pic);
  prequantise(b, pic, yc, s.EnhancedEdges, aside);
}

// Takes in the call's picture: the work done ahead when it was this picture, else now.
void takeIn(EncoderBuffers& b, const CompressionSettings& s, const uint16_t* input,
            ZeroedBuffer<uint16_t>& pic, ZeroedBuffer<uint32_t>& yc,
            ZeroedBuffer<uint8_t>& keyMap) {
  if (b.aheadValid &&
      std::memcmp(input, b.aheadInput.data(), b.aheadInput.size() * sizeof(uint16_t)) == 0) {
    pic.swap(b.aheadPic);
    yc.swap(b.aheadYc);
    keyMap.swap(b.aheadKeyMap);
  } else {
    intake(b, s, input, pic.data(), yc.data(), keyMap.data());
  }
  b.aheadValid = false;
}

// Waits, whatever way EncodeFrame returns, for the next picture's intake started beside it,
// taking a share of its remaining tasks.
struct AheadIntake {
  EncoderBuffers& b;
  const CompressionSettings& s;
  bool started = false;
  void operator()() {
    intake(b, s, b.aheadInput.data(), b.aheadPic.data(), b.aheadYc.data(), b.aheadKeyMap.data(),
           true);
  }
  void start(const uint16_t* next) {
    std::memcpy(b.aheadInput.data(), next, b.aheadInput.size() * sizeof(uint16_t));
    b.aheadValid = true;
    started = true;
    b.pool->startAside(*this);
  }
  ~AheadIntake() {
    if (started) b.pool->waitAside();
  }
};

void clearLists(EncoderBuffers& b) {
  for (RectList& list : b.lists) {
    list.rects.clear();
    std::fill(list.longCount.begin(), list.longCount.end(), 0);
    std::fill(list.shortCount.begin(), list.shortCount.end(), 0);
    list.overflowReported = false;
  }
}

void search(EncoderBuffers& b, const CompressionSettings& s, BlockListKind kind,
            const RectangleSearch& rule) {
  bool overflow = false;
  searchRectangles(b, rule, b.lists[kind], overflow);
  if (overflow) message(s, kOverflowMessage[kind]);
  // Candidates not taken go back to being coded.
  if (rule.candidate == kMapCoded) return;
  rectangleSearchKernels().replaceEntries(b.blockMap.data(), b.pixels, rule.candidate, kMapCoded);
}

// Pixels covered by a rectangle of `list` take `source` (colour and target): the list's
// rectangles are exactly the pixels its search marked.
void fillFrom(EncoderBuffers& b, const RectList& list, const uint16_t* source) {
  const uint32_t* rgbToYc = b.tables->rgbToYc.data();
  for (const BlockRect& r : list.rects)
    for (int l = 0; l < r.height; ++l) {
      const size_t first = r.pos + size_t(l) * size_t(b.width);
      std::memcpy(b.cur.data() + first, source + first, size_t(r.width) * 2);
      uint32_t* yc = b.curYc.data() + first;
      const uint16_t* from = source + first;
      for (int x = 0; x < r.width; ++x) yc[x] = rgbToYc[from[x]];
    }
}

// A cell whose anchor (first pixel of its last line) is covered by an unchanged or background
// rectangle gives its chroma to the cell's pixels that are not covered.
void keepCellChroma(EncoderBuffers& b) {
  static_assert(kMapBackground == 0xFE && kMapUnchanged == 0xFF);
  const int w = b.width, cw = b.cellW, ch = b.cellH;
  const uint8_t* map = b.blockMap.data();
  uint32_t* yc = b.curYc.data();
  uint16_t* pic = b.cur.data();
  const uint16_t* ycToRgb = b.tables->ycToRgb.data();
  for (int l = 0; l + ch <= b.lines; l += ch) {
    const size_t anchors = size_t(l + ch - 1) * w;
    for (int x = 0; x < w; x += cw) {
      if (map[anchors + x] < kMapBackground) continue;
      const uint32_t chroma = yc[anchors + x] & 0xFFF;
      for (int dy = 0; dy < ch; ++dy) {
        const size_t first = size_t(l + dy) * w + x;
        // A cell line of four wholly covered (every entry 0xFE or 0xFF) has nothing to take.
        uint32_t line = 0;
        if (cw == 4) std::memcpy(&line, map + first, 4);
        if (cw == 4 && (line & 0xFEFEFEFEu) == 0xFEFEFEFEu) continue;
        for (int dx = 0; dx < cw; ++dx) {
          const size_t i = first + size_t(dx);
          if (map[i] >= kMapBackground) continue;
          yc[i] = (yc[i] & ~0xFFFu) | chroma;
          pic[i] = ycToRgb[yc[i]];
        }
      }
    }
  }
}

void markSmoothCandidates(EncoderBuffers& b, const CompressionSettings& s) {
  const int w = b.width;
  const SmoothLineFn smoothLine = smoothKernels().smoothLine;
  // Each pixel reads the targets and writes only its own map entry: bands of lines in any order.
  const int bands = (b.lines + kBandLines - 1) / kBandLines;
  b.pool->run(bands, [&](int band, int) {
    const int end = std::min(b.lines, (band + 1) * kBandLines);
    for (int l = band * kBandLines; l < end; ++l) {
      // The decoder interpolates odd columns of odd coded lines and even columns of even ones;
      // in single field every coded line is an odd line of the picture.
      const bool oddLine = b.singleField || (l & 1) != 0;
      const size_t first = size_t(l) * w;
      smoothLine(b.blockMap.data() + first, b.curYc.data() + first, w, oddLine, s.ImageLossLevel,
                 s.EnhancedEdges);
    }
  });
}

bool verifyFrame(CompressionSettings& s, EncoderBuffers& b, const uint8_t* data, size_t size) {
  FrameDecoder& d = *b.verifier;
  if (d.decodeFrame(data, size) != DecodeStatus::Ok) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "Verification: frame %u does not decode (%s)", b.frameNumber,
                  d.lastFrame().fault ? d.lastFrame().fault : "damaged");
    message(s, buf);
    return false;
  }
  const uint16_t* pic = d.picture();
  const int bottom = int(s.LetterboxPresent ? s.LetterboxBottomLines : 0);
  const uint16_t* rec = b.cur.data();  // the caller swapped the reconstruction in
  for (int l = 0; l < b.lines; ++l) {
    int row = bottom + (b.singleField ? 2 * l + 1 : l);
    for (int x = 0; x < b.width; ++x) {
      uint16_t got = pic[size_t(row) * b.width + x], want = rec[size_t(l) * b.width + x];
      if (got != want) {
        char buf[240];
        std::snprintf(
            buf, sizeof buf,
            "Verification: frame %u decodes differently from the reconstruction at column %d, "
            "coded line %d: decoded 0x%04X, expected 0x%04X",
            b.frameNumber, x, l, got, want);
        message(s, buf);
        return false;
      }
    }
  }
  if (s.CodingBackground) d.setBackground(pic, PixelKind::Rgb555);
  return true;
}

}  // namespace

uint32_t streamFormatWord(const CompressionSettings& s, bool backgroundBitmap) {
  uint32_t word = kZov2Tag | stream_flag::kV4;
  if (s.ChromaKeying && backgroundBitmap)
    word |= stream_flag::kChroma;
  else if (s.ChromaKeying && s.ChromaScreening == kScreeningBackground)
    word |= stream_flag::kChroma1st;
  if (s.FieldType == kFieldWide) word |= stream_flag::kWField;
  if (s.FieldType == kFieldSingle) word |= stream_flag::kSField;
  return word;
}

size_t maxFrameBytes(int width, int height) {
  // Lists (4 x 4095 entries of at most 44 bits, segment counts), at most 921,600 symbols of at
  // most 14 bits, the header, table and padding.
  size_t segments = (size_t(width) * height + kSegmentPositions - 1) / kSegmentPositions;
  return 4 * (4095 * 44 / 8 + segments * 2) + size_t(kMaxSymbols) * 14 / 8 + 256;
}

bool StartEncoder(CompressionSettings& s, const EncoderSetup& setup) {
  EndEncoder(s);
  const int w = setup.width, h = setup.height;
  if (w < 80 || h < 60 || w > kMaxWidth || h > kMaxHeight || w % 4 || h % 4) {
    message(s, "The image size must be 80x60 to 640x480 with width and height multiples of 4");
    return false;
  }
  auto b = std::make_unique<EncoderBuffers>();
  b->tables = &colourTables(PixelKind::Rgb555);
  b->width = w;
  b->height = h;
  b->singleField = s.FieldType == kFieldSingle;
  b->lines = b->singleField ? h / 2 : h;
  b->pixels = w * b->lines;
  b->activeArea = w * h;
  b->segments = (b->activeArea + kSegmentPositions - 1) / kSegmentPositions;
  b->type = int(std::min<uint32_t>(s.CompressionType, 4));
  b->cellW = kCellW[b->type];
  b->cellH = kCellH[b->type];
  const int d = kDivisor[b->type];
  b->minUnchanged = 230 / d;
  b->minSolid = 380 / d;
  b->minSmooth = 2 * (230 / d);

  const size_t n = size_t(b->pixels);
  for (auto* v : {&b->cur, &b->prev, &b->lookahead, &b->background, &b->work}) v->assign(n, 0);
  for (auto* v : {&b->curYc, &b->lookYc}) v->assign(n, 0);
  for (auto* v : {&b->blockMap, &b->diffClasses, &b->lookClasses, &b->keyMapCopy, &b->runs,
                  &b->scratchHeights, &b->coverWidth, &b->entropyStart})
    v->assign(n, 0);
  b->coverRows.clear();
  b->coverRows.reserve(4 * size_t(kMaxRectsPerList) + 1);  // every list full, and the seed
  // Key maps: one byte more (set while the map may hold keyed pixels, see intake).
  for (auto* v : {&b->keyMap, &b->lookKeyMap}) v->assign(n + 1, 0);
  b->searchLine.assign(2 * (size_t(w) + 1), 0);
  b->runsByColumn.assign(n + 32, 0);
  b->chromaStore.assign(size_t(w) / 2 + 1, 0);
  b->columnStore.assign(size_t(b->lines), 0);
  b->cellChroma.assign((size_t(b->lines) / b->cellH + 1) * (size_t(w) / b->cellW), 0);
  const size_t cells = b->cellChroma.size();
  b->voteColours.assign(cells * size_t(b->cellW * b->cellH), 0);
  b->voteLumas.assign(cells * size_t(b->cellW * b->cellH), 0);
  b->voteResult.assign(cells, 0);
  b->voteKnown.assign(cells, 0);
  b->lumaRows.assign(size_t(kYcValues) + 2, 0);  // room for the line kernels' 4-byte reads
  buildLumaRows(*b->tables, b->lumaRows.data());
  b->lumaModels.resize(4096);
  buildLumaRowModels(b->lumaRows.data(), b->lumaModels.data());
  const int threads = int(std::clamp<uint32_t>(s.threads, 1, kMaxEncoderThreads));
  b->pool = std::make_unique<WorkerPool>(threads);
  b->residual = std::make_unique<ResidualScratch>();
  b->residual->allocate(w, b->lines, threads);
  // One luma cache per worker, and with helpers one more for the intake beside the coding.
  const size_t caches = size_t(threads) + (threads > 1 ? 1 : 0);
  b->lumaCaches.resize(caches);
  for (auto& cache : b->lumaCaches) cache.assign(size_t(1) << kLumaCacheBits, 0);
  if (threads > 1) {
    b->aheadInput.assign(size_t(w) * size_t(h), 0);
    b->aheadPic.assign(n, 0);
    b->aheadYc.assign(n, 0);
    b->aheadKeyMap.assign(n + 1, 0);
  }
  b->bucketHead.assign(kMaxArea + 1, -1);
  b->searchSlots.assign(n, SearchSlot{});
  b->searchChunks.assign(n / kChunkPixels + kMaxArea + 2, SearchChunk{});
  b->levelOrder.assign(n, 0);
  for (RectList& list : b->lists) {
    list.rects.reserve(kMaxRectsPerList);
    list.longCount.assign(size_t(b->segments), 0);
    list.shortCount.assign(size_t(b->segments), 0);
  }
  b->sym1.assign(kMaxSymbols + 64, 0);
  b->sym2.assign(kMaxSymbols + 64, 0);
  b->patternSeen.assign(kTableWidthScratch, 0);
  b->listOrder.assign(kMaxRectsPerList, 0);
  b->segmentStart.assign(size_t(b->segments) + 1, 0);
  b->codeWords.assign(packedWords(2 * (kMaxSymbols + 64), 31), 0);
  b->codeEnds.assign(packedWords(2 * (kMaxSymbols + 64), 31), 0);
  b->codeJoined.assign(b->codeWords.size(), 0);
  b->writer.reserve(maxFrameBytes(w, h) + 64);

  if (s.ChromaKeying && (setup.background || !s.ChromaBackground.empty())) {
    if (setup.background) {
      // The caller's picture is in the frame's own line order; keep the coded lines.
      takePicture(*b, setup.background, b->background.data());
    } else {
      std::vector<uint16_t> bitmap;
      std::string error;
      if (!loadBackgroundBitmap(s.ChromaBackground, w, h, bitmap, &error)) {
        message(s, error);
        return false;
      }
      takePicture(*b, bitmap.data(), b->background.data());
    }
    b->bitmapGiven = true;
    b->haveBackground = true;
  }
  b->formatWord = streamFormatWord(s, b->bitmapGiven);
  b->streamHeight =
      h + (s.LetterboxPresent ? int(s.LetterboxTopLines + s.LetterboxBottomLines) : 0);
  if (s.VerifyFrames) {
    b->verifier = std::make_unique<FrameDecoder>();
    if (!b->verifier->prepareStream(w, b->streamHeight, b->formatWord, DecoderOptions{})) {
      message(s, "Verification: the frame decoder refuses the stream format");
      return false;
    }
  }

  s.LossyActive = s.Lossy && s.CompressionType != 0 && !s.FastCompression;
  s.EnhancedInterframe = setup.frameCount > 1 && s.KeyCountdown != 0;
  s.FirstCall = true;
  s.FinalCall = false;
  s.KeyFrame = 1;
  s.RateDebt = 0;
  s.IncreaseKeyRateBudget = 0;
  s.Buffers.reset(b.release());
  s.EncoderStarted = true;
  return true;
}

void EndEncoder(CompressionSettings& s) {
  s.Buffers.reset();
  s.EncoderStarted = false;
}

const uint16_t* encoderReconstruction(const CompressionSettings& s) {
  const EncoderBuffers* b = s.Buffers.get();
  return b && b->havePrevious ? b->prev.data() : nullptr;
}

const uint16_t* encoderBackground(const CompressionSettings& s) {
  const EncoderBuffers* b = s.Buffers.get();
  return b ? b->background.data() : nullptr;
}

bool EncodeFrame(CompressionSettings& s, CompressParams& p) {
  p.outputLength = 0;
  EncoderBuffers* bp = s.Buffers.get();
  if (!s.EncoderStarted || !bp) {
    message(s, "The encoder is not started");
    return false;
  }
  EncoderBuffers& b = *bp;
  const bool background = s.CodingBackground;
  const bool enhanced = s.EnhancedInterframe && !background;

  // 1. Data-rate budget.
  if (s.DataRate != 0) {
    double rate = s.FrameScale ? double(s.FrameRate) / double(s.FrameScale) : 0.0;
    s.FrameBudget = rate > 0 ? int64_t(double(s.DataRate) / rate) : 0;
  }
  if (s.FirstCall && !background) s.RateDebt = 0;
  auto decay = [&]() { s.RateDebt = int64_t(0.75 * double(s.RateDebt)) - s.FrameBudget; };

  // 2. Early skip.
  if (!enhanced && !background && s.DataRate != 0 && (s.KeyCountdown <= 1 || !s.KeyFrame) &&
      s.RateDebt > s.FrameBudget && b.havePrevious) {
    decay();
    s.FirstCall = false;
    return true;
  }

  // 3.-5. Intake, chroma keying, pre-quantisation.
  if (background) {
    if (!p.input) {
      message(s, "The background bitmap call needs a picture");
      return false;
    }
    takePicture(b, p.input, b.cur.data());
    std::memset(b.keyMap.data(), 0, size_t(b.pixels));
    prequantise(b, b.cur.data(), b.curYc.data(), s.EnhancedEdges);
  } else if (enhanced) {
    if (s.FirstCall) {
      if (!p.input) return true;
      takeIn(b, s, p.input, b.lookahead, b.lookYc, b.lookKeyMap);
      b.holdingPicture = true;
      s.FirstCall = false;
      return true;
    }
    if (!b.holdingPicture) return true;
    b.cur.swap(b.lookahead);
    b.curYc.swap(b.lookYc);
    b.keyMap.swap(b.lookKeyMap);
    b.holdingPicture = false;
    if (!s.FinalCall && p.input) {
      takeIn(b, s, p.input, b.lookahead, b.lookYc, b.lookKeyMap);
      b.holdingPicture = true;
    }
    // 6. Late skip: the picture just taken in is dropped and the held one kept.
    if (s.DataRate != 0 && !s.FastCompression && (s.KeyCountdown <= 1 || !s.KeyFrame) &&
        s.RateDebt > s.FrameBudget && b.havePrevious) {
      b.cur.swap(b.lookahead);
      b.curYc.swap(b.lookYc);
      b.keyMap.swap(b.lookKeyMap);
      b.holdingPicture = true;
      decay();
      return true;
    }
  } else {
    if (!p.input) {
      message(s, "No picture given to the encoder");
      return false;
    }
    takeIn(b, s, p.input, b.cur, b.curYc, b.keyMap);
  }
  const bool lookaheadValid = enhanced && b.holdingPicture;
  // The next picture's intake needs nothing the coding below touches (chroma keying may read
  // the background the coding captures, so it is not taken in ahead).
  AheadIntake ahead{b, s};
  if (p.next && b.pool->threads() > 1 && !background && !s.ChromaKeying) ahead.start(p.next);

  // 7. Unchanged analysis (it writes the whole block map; without it the map starts clear).
  clearLists(b);
  bool key = background || s.KeyFrame || !b.havePrevious;
  const bool analysed = !background && !s.FastCompression && !key;
  if (!analysed) {
    std::memset(b.blockMap.data(), 0, size_t(b.pixels));
  } else {
    const uint32_t t = s.InterframeDetection * 10, n = s.NoiseReduction * 10;
    differenceClasses(*b.pool, b.cur.data(), b.prev.data(), b.diffClasses.data(), b.width, b.lines,
                      t, n);
    if (lookaheadValid)
      differenceClasses(*b.pool, b.lookahead.data(), b.prev.data(), b.lookClasses.data(), b.width,
                        b.lines, t, n);
    markUnchanged(b, b.diffClasses.data(), lookaheadValid ? b.lookClasses.data() : nullptr,
                  b.type != 0, true);
    search(b, s, kListUnchanged, {kMapCandidate, kMapUnchanged, b.minUnchanged, false});
  }

  // 8. Key-frame decision.
  auto becomeKey = [&]() {
    key = true;
    // With no periodic key frames (KeyRate 0 or interframes off) the countdown is left alone,
    // so that one forced key frame does not turn every later frame into one.
    if (s.KeyRate != 0 && s.KeyCountdown != 0) s.KeyCountdown = s.KeyRate + 1;
  };
  if (!background) {
    if (b.lists[kListUnchanged].rects.empty()) {
      becomeKey();
    } else if (s.DataRateControl && (s.ForceKeyFrame || s.IncreaseKeyRate)) {
      int marked = 0;
      for (int i = 0; i < b.pixels; ++i) marked += b.blockMap[i] == kMapUnchanged;
      uint32_t percent = uint32_t(int64_t(marked) * 100 / b.pixels);
      if (s.ForceKeyFrame && percent < s.ForceKeyFramePercent) becomeKey();
      if (s.IncreaseKeyRate && !key) {
        if (s.KeyCountdown == s.KeyRate) {
          s.IncreaseKeyRateBudget = s.IncreaseKeyRateValue;
        } else if (s.IncreaseKeyRateBudget == 0 || s.KeyCountdown != 1 ||
                   percent <= s.IncreaseKeyRatePercent) {
          if (s.KeyRate < s.IncreaseKeyRateValue - s.IncreaseKeyRateBudget) becomeKey();
        } else {
          s.KeyCountdown = 2;
        }
        if (s.IncreaseKeyRateBudget > 0) --s.IncreaseKeyRateBudget;
      }
    }
  }
  if (key) {
    if (analysed) {
      clearLists(b);
      std::memset(b.blockMap.data(), 0, size_t(b.pixels));
    }
  } else {
    fillFrom(b, b.lists[kListUnchanged], b.prev.data());
  }

  // 9. Background rectangles.
  const bool bgList = backgroundListPresent(s, b);
  if (bgList && !background && !s.CaptureBackground) {
    if (s.ChromaScreening == kScreeningBackground) {
      differenceClasses(*b.pool, b.cur.data(), b.background.data(), b.diffClasses.data(), b.width,
                        b.lines, s.BackgroundDetection * 10, s.BackgroundNoiseReduction * 10);
      markUnchanged(b, b.diffClasses.data(), nullptr, false, false);
    } else {
      for (int i = 0; i < b.pixels; ++i)
        if (b.keyMap[i] && b.blockMap[i] == kMapCoded) b.blockMap[i] = kMapCandidate;
    }
    search(b, s, kListBackground, {kMapCandidate, kMapBackground, b.minUnchanged, false});
    fillFrom(b, b.lists[kListBackground], b.background.data());
  }

  // 10. Chroma consistency: a cell partly covered takes the chroma of its covered pixel.
  if (b.type != 0 && (s.KeyCountdown != 0 || s.ChromaKeying) && !background) keepCellChroma(b);

  // 11. Solid rectangles.
  if (!s.FastCompression) {
    int minArea = b.minSolid * (s.LossyActive ? 2 : 1);
    search(b, s, kListSolid, {kMapCoded, kMapSolid, minArea, true});
    for (const BlockRect& r : b.lists[kListSolid].rects) {
      uint32_t yc = b.tables->rgbToYc[r.colour];
      for (int l = 0; l < r.height; ++l)
        for (int x = 0; x < r.width; ++x) {
          size_t i = r.pos + size_t(l) * b.width + x;
          b.cur[i] = r.colour;
          b.curYc[i] = yc;
        }
    }
  }

  // 12. Smooth-luma rectangles.
  if (s.LossyActive) {
    markSmoothCandidates(b, s);
    search(b, s, kListSmooth, {kMapSmoothCandidate, kMapSmooth, b.minSmooth, false});
  }

  // 13. Coding passes.
  const bool seed = buildCoverMaps(b);
  codeResiduals(b, s.EnhancedEdges);

  // 14.-16. Huffman code and output.
  FrameHeader h;
  h.key = key;
  h.scheme = b.type;
  h.enpy = s.LossyActive;
  h.edge = s.EnhancedEdges;
  h.letterbox = s.LetterboxPresent;
  h.topLines = int(s.LetterboxTopLines);
  h.bottomLines = int(s.LetterboxBottomLines);
  h.unchangedList = !key;
  h.backgroundList = bgList;
  h.smoothList = s.LossyActive;
  size_t length = writeFrame(b, h, seed);
  if (length > p.outputCapacity || !p.output) {
    message(s, "The output buffer is too small for the frame");
    return false;
  }
  b.writer.copyBytes(p.output);
  p.outputLength = length;
  s.KeyFrame = key ? 1 : 0;
  ++b.frameNumber;

  // 17. End of frame.
  if (background) {
    b.background.swap(b.cur);
    b.haveBackground = true;
  } else {
    if (s.CaptureBackground) {
      b.background = b.cur;
      b.haveBackground = true;
      s.CaptureBackground = false;
    }
    b.prev.swap(b.cur);
    b.havePrevious = true;
    if (s.DataRate != 0)
      s.RateDebt = int64_t(0.75 * double(s.RateDebt)) - s.FrameBudget + int64_t(length);
    s.FirstCall = false;
  }
  if (s.VerifyFrames && b.verifier) {
    // The frame just written must decode to the reconstruction (now in prev, or background).
    b.cur.swap(background ? b.background : b.prev);
    bool ok = verifyFrame(s, b, p.output, length);
    b.cur.swap(background ? b.background : b.prev);
    if (!ok) return false;
  }
  return true;
}

}  // namespace zov
