#include "format/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "format/decoder_impl.h"
#include "format/post_filter.h"

namespace zov {
namespace {

constexpr uint32_t kSegmentPositions = 8192;

// A 15-bit colour from the stream as the picture stores it.
uint16_t pictureColour(uint32_t rgb555, PixelKind kind) {
  return kind == PixelKind::Rgb565 ? to565(static_cast<uint16_t>(rgb555))
                                   : static_cast<uint16_t>(rgb555 & 0x7FFF);
}

void convertPixels(std::vector<uint16_t>& pixels, PixelKind to) {
  for (uint16_t& p : pixels) p = to == PixelKind::Rgb565 ? to565(p) : from565(p);
}

}  // namespace

FrameDecoder::FrameDecoder() : impl_(new Impl) {}
FrameDecoder::~FrameDecoder() {
  delete impl_;
}

bool FrameDecoder::prepareStream(int width, int height, uint32_t formatWord,
                                 const DecoderOptions& options) {
  if (width < 1 || width > kMaxWidth || height < 1 || height > kMaxHeight ||
      defaultScheme(formatWord) >= kSchemeCount) {
    prepared_ = false;
    return false;
  }
  const size_t n = size_t(width) * size_t(height);
  const bool sameSize = prepared_ && width == width_ && height == height_;
  if (sameSize && options.pixelKind != options_.pixelKind) {
    convertPixels(picture_, options.pixelKind);
    convertPixels(background_, options.pixelKind);
  }
  if (!sameSize) {
    picture_.assign(n, 0);
    background_.assign(n, 0);
    hasBackground_ = false;
  }
  filtered_.assign(n, 0);
  blockMap_.assign(n, 0);
  unchangedMap_.assign(n, 0);
  entropyMap_.assign(n, 0);
  cover_.resize(width, height);
  // Blocks do not overlap, so their rows start at distinct pixels; the seed is one more.
  marks_.assign(n + 1, 0);
  markCount_ = 0;
  impl_->columnStore.assign(size_t(height), 0);
  impl_->chromaStore.assign(size_t(width) / 2 + 2, 0);
  impl_->c12.assign(size_t(width) + 16, 0);
  width_ = width;
  height_ = height;
  formatWord_ = formatWord;
  options_ = options;
  tables_ = &colourTables(options.pixelKind);
  v4_ = hasFlag(formatWord, stream_flag::kV4);
  sfield_ = hasFlag(formatWord, stream_flag::kSField);
  info_ = FrameInfo{};
  prepared_ = true;
  resetStreamState();
  return true;
}

void FrameDecoder::resetStreamState() {
  topRows_ = bottomRows_ = 0;
  setLetterbox(0, 0);  // derives the full-picture geometry
  letterboxSet_ = letterboxRemoved_ = false;
  scheme_ = static_cast<Scheme>(defaultScheme(formatWord_));
  enpy_ = !v4_ && hasFlag(formatWord_, stream_flag::kEnpy);
  edge_ = false;
  filterActive_ = false;
  std::fill(unchangedMap_.begin(), unchangedMap_.end(), 0);
  std::fill(entropyMap_.begin(), entropyMap_.end(), 0);
}

void FrameDecoder::setOptions(const DecoderOptions& options) {
  if (prepared_ && options.pixelKind != options_.pixelKind) {
    convertPixels(picture_, options.pixelKind);
    convertPixels(background_, options.pixelKind);
    tables_ = &colourTables(options.pixelKind);
  }
  options_ = options;
  filterActive_ = v4_ && (scheme_ == Scheme::Yc811 || scheme_ == Scheme::Yc1611) &&
                  options_.interpolate && !options_.singleField;
  // The filtered picture must match the picture as soon as the output stage may show it.
  if (prepared_ && filterActive_) runPostFilter();
}

bool FrameDecoder::usesBackground() const {
  return hasFlag(formatWord_, stream_flag::kChroma | stream_flag::kChroma1st);
}

void FrameDecoder::setBackground(const uint16_t* pixels, PixelKind kind) {
  if (!prepared_) return;
  std::memcpy(background_.data(), pixels, background_.size() * 2);
  if (kind != options_.pixelKind) convertPixels(background_, options_.pixelKind);
  hasBackground_ = true;
}

const uint16_t* FrameDecoder::outputPicture() const {
  return filterActive_ ? filtered_.data() : picture_.data();
}

bool FrameDecoder::unchangedMapMaintained() const {
  return options_.maintainUnchangedMap && !filterActive_;
}

// Records a letterbox and derives the geometry of its active area. The margins are marked in the
// unchanged map with runs of 255 (and a last shorter run) per row, so the changed-blocks writers
// skip them; the rows they leave become active and are cleared with the active area.
void FrameDecoder::setLetterbox(int top, int bottom) {
  if (top != topRows_ || bottom != bottomRows_) {
    letterboxSet_ = top != 0 || bottom != 0;
    letterboxRemoved_ = !letterboxSet_;
  }
  topRows_ = top;
  bottomRows_ = bottom;
  clearAll_ = true;  // rows of the old margins may become active
  const int activeRows = height_ - top - bottom;
  codedRows_ = sfield_ ? activeRows / 2 : activeRows;
  areaA_ = uint32_t(width_) * uint32_t(activeRows);
  positions_ = uint32_t(width_) * uint32_t(codedRows_);
  rowScale_ = ((uint64_t{1} << 40) + uint64_t(width_) - 1) / uint64_t(width_);
  posBits_ = std::bit_width(sfield_ ? areaA_ / 2 : areaA_);
  countBits_ = areaA_ > uint32_t(kSmallPixels) ? 19 : 18;
  segments_ = static_cast<int>((areaA_ + kSegmentPositions - 1) / kSegmentPositions);
  markMarginsUnchanged();
}

void FrameDecoder::markMarginsUnchanged() {
  auto markRow = [&](int row) {
    uint8_t* m = unchangedMap_.data() + size_t(row) * width_;
    std::memset(m, 0, size_t(width_));
    for (int x = 0; x < width_; x += 255) m[x] = static_cast<uint8_t>(std::min(255, width_ - x));
  };
  for (int row = 0; row < bottomRows_; ++row) markRow(row);
  for (int row = height_ - topRows_; row < height_; ++row) markRow(row);
}

DecodeStatus FrameDecoder::fail(const char* why) {
  if (!impl_->fault) impl_->fault = why;
  return DecodeStatus::Damaged;
}

// Malformed frames. Decoding stops at the first fault; whatever the frame changed before it
// (header state, letterbox, blocks already placed, rows already reconstructed) stays, and the
// frame is reported Damaged so that the caller drops frames until the next key frame. Faults:
// data shorter than the fields say, scheme 5-7, letterbox leaving no active row, a stored block
// size of 255, blocks outside the active area or overlapping, Entropy blocks in an RGB frame or
// starting at column 0, look-up width 0, symbol value 15, tree shapes with too many or too few
// leaves or codes longer than W, more than 921,600 symbols, symbol counts that do not match the
// pixels to be coded, and components carried out of range. An unprepared decoder refuses every
// frame.
DecodeStatus FrameDecoder::decodeFrame(const uint8_t* data, size_t size) {
  info_ = FrameInfo{};
  letterboxSet_ = letterboxRemoved_ = false;
  impl_->fault = nullptr;
  if (!prepared_) {
    info_.status = DecodeStatus::Damaged;
    info_.fault = "decoder not prepared";
    return info_.status;
  }
  if (data == nullptr) size = 0;
  // A Chroma1st stream keeps its first decoded picture as the background, unfiltered.
  const bool takeBackground = hasFlag(formatWord_, stream_flag::kChroma1st) && !hasBackground_;
  impl_->reader.reset(data, size);
  bool ok = readHeader() && readLists() && readResiduals();
  if (ok && impl_->reader.overrun()) ok = (fail("frame shorter than its fields"), false);
  if (ok && info_.nsym > 0) ok = reconstruct();
  if (filterActive_ && !takeBackground) runPostFilter();
  info_.bitsRead = impl_->reader.bitPosition();
  info_.status = ok ? DecodeStatus::Ok : DecodeStatus::Damaged;
  info_.fault = impl_->fault;
  if (takeBackground && ok) setBackground(picture_.data(), options_.pixelKind);
  return info_.status;
}

bool FrameDecoder::loadEmbeddedBackground(const uint8_t* chunk, size_t size,
                                          size_t* framePartSize) {
  *framePartSize = size;
  if (!prepared_ || chunk == nullptr || size < 4) return false;
  const size_t offset = size_t(chunk[size - 4]) | size_t(chunk[size - 3]) << 8 |
                        size_t(chunk[size - 2]) << 16 | size_t(chunk[size - 1]) << 24;
  // A frame's own part is never empty: an offset of 0 is the zero padding at the end of an
  // ordinary frame, met when the first frame a decoder gets is not the stream's first.
  if (offset < 4 || offset > size - 4) return false;
  *framePartSize = offset;
  // The background frame is decoded as any frame, but with every row and without the post
  // filter; the stream state it leaves is reset so that the carrying frame starts afresh.
  const DecoderOptions saved = options_;
  DecoderOptions full = options_;
  full.singleField = false;
  full.interpolate = false;
  options_ = full;
  resetStreamState();
  const DecodeStatus status = decodeFrame(chunk + offset, size - 4 - offset);
  const FrameInfo backgroundInfo = info_;
  setBackground(picture_.data(), options_.pixelKind);
  options_ = saved;
  resetStreamState();
  info_ = backgroundInfo;
  return status == DecodeStatus::Ok;
}

bool FrameDecoder::readHeader() {
  BitReader& in = impl_->reader;
  info_.key = in.readBit();
  int top = topRows_, bottom = bottomRows_;
  bool lbox = false;
  if (v4_) {
    if (info_.key) {
      const uint32_t scheme = in.read(3);
      const bool enpy = in.readBit();
      const bool edge = in.readBit();
      in.readBit();  // FLAT: carries nothing for decoding
      lbox = in.readBit();
      if (lbox) {
        top = static_cast<int>(in.read(8));
        bottom = static_cast<int>(in.read(8));
      } else {
        top = bottom = 0;
      }
      if (scheme >= uint32_t(kSchemeCount)) return fail("scheme 5-7"), false;
      // Clear the Entropy map of the stream's previous Entropy runs before they go out of use.
      if (enpy_ && !enpy) std::fill(entropyMap_.begin(), entropyMap_.end(), 0);
      scheme_ = static_cast<Scheme>(scheme);
      enpy_ = enpy;
      edge_ = edge;
      filterActive_ = (scheme_ == Scheme::Yc811 || scheme_ == Scheme::Yc1611) &&
                      options_.interpolate && !options_.singleField;
    }
  } else if (hasFlag(formatWord_, stream_flag::kLbox)) {
    lbox = true;
    top = static_cast<int>(in.read(8));
    bottom = static_cast<int>(in.read(8));
  }
  info_.lboxField = lbox;
  if (top != topRows_ || bottom != bottomRows_) {
    if (top + bottom >= height_) return fail("letterbox leaves no active row"), false;
    std::fill(entropyMap_.begin(), entropyMap_.end(), 0);
    setLetterbox(top, bottom);
  }
  info_.scheme = scheme_;
  info_.enpy = enpy_;
  info_.edge = edge_;
  info_.topRows = topRows_;
  info_.bottomRows = bottomRows_;
  if (in.overrun()) return fail("frame shorter than its header"), false;
  return true;
}

bool FrameDecoder::readLists() {
  // Maps over the active area: the block and cover maps always, the unchanged map while it is
  // maintained, the Entropy map while Entropy runs may occur.
  clearMaps();

  // Each list's marks, also those of a list cut short by a fault, for clearMaps.
  auto read = [&](BlockList list) {
    const size_t begin = markCount_;
    const bool ok = readList(list);
    listMarks_[int(list)] = {begin, markCount_};
    return ok;
  };
  if (!info_.key && !read(BlockList::Interframe)) return false;
  if (usesBackground() && !read(BlockList::Chroma)) return false;
  if (!read(BlockList::Rle)) return false;
  if (enpy_ && !read(BlockList::Entropy)) return false;
  return true;
}

void FrameDecoder::clearMaps() {
  const bool unchanged = unchangedMapMaintained();
  cover_.clearRows(bottomRows_, activeHeight());
  const size_t start = size_t(bottomRows_) * width_;
  const size_t count = size_t(areaA_);
  // Marks in more than half the lines of a map: clearing it whole, line after line, costs less
  // than a store to each mark's line at no pattern.
  const auto dense = [&](size_t marks) { return marks * 32 > count; };
  if (clearAll_ || unchanged != marksUnchanged_ || enpy_ != marksEntropy_) {
    std::memset(blockMap_.data() + start, 0, count);
    if (unchanged) std::memset(unchangedMap_.data() + start, 0, count);
    if (enpy_) std::memset(entropyMap_.data() + start, 0, count);
    clearAll_ = false;
  } else if (dense(markCount_)) {
    // The unchanged map, written only by the Interframe list, is judged by that list's marks.
    std::memset(blockMap_.data() + start, 0, count);
    if (enpy_) std::memset(entropyMap_.data() + start, 0, count);
    if (unchanged) {
      const MarkRange r = listMarks_[int(BlockList::Interframe)];
      if (dense(r.end - r.begin))
        std::memset(unchangedMap_.data() + start, 0, count);
      else
        for (size_t k = r.begin; k < r.end; ++k) unchangedMap_[marks_[k]] = 0;
    }
  } else {
    // The marks come list by list: each pixel's byte of the block map, and of the unchanged or
    // Entropy map only for the marks of their lists, so that no line of a map the block did not
    // write is fetched. A map not maintained is stood in for by the block map (the same byte
    // cleared twice).
    uint8_t* const block = blockMap_.data();
    uint8_t* const kept = unchanged ? unchangedMap_.data() : block;
    uint8_t* const entropy = enpy_ ? entropyMap_.data() : block;
    const uint32_t* const marks = marks_.data();
    auto clear = [&](size_t from, size_t to, uint8_t* also) {
      for (size_t k = from; k < to; ++k) {
        block[marks[k]] = 0;
        also[marks[k]] = 0;
      }
    };
    size_t at = 0;
    for (const auto& [list, also] :
         {std::pair{BlockList::Interframe, kept}, std::pair{BlockList::Entropy, entropy}}) {
      const MarkRange r = listMarks_[int(list)];
      if (r.end == r.begin) continue;  // the list was not read, or placed nothing
      clear(at, r.begin, block);
      clear(r.begin, r.end, also);
      at = r.end;
    }
    clear(at, markCount_, block);
  }
  markCount_ = 0;
  listMarks_ = {};
  marksUnchanged_ = unchanged;
  marksEntropy_ = enpy_;
}

bool FrameDecoder::readList(BlockList list) {
  BitReader& in = impl_->reader;
  const int li = static_cast<int>(list);
  info_.present[li] = true;
  const bool rle = list == BlockList::Rle;
  // `read(n)` reads an n-bit field, `overrun()` tells whether the chunk ran out.
  auto entries = [&](auto&& read, auto&& overrun, uint32_t base, uint32_t n, int posBits,
                     int sizeBits, bool isLong) {
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t pos = base + read(posBits);
      const int bw = static_cast<int>(read(sizeBits)) + 1;
      const int bh = static_cast<int>(read(sizeBits)) + 1;
      const uint16_t colour = rle ? static_cast<uint16_t>(read(15)) : 0;
      if (overrun()) return fail("frame shorter than its block lists"), false;
      if (isLong && (bw > 255 || bh > 255)) return fail("block size 255 stored"), false;
      if (!placeBlock(list, pos, bw, bh, colour)) return false;
    }
    (isLong ? info_.longEntries : info_.shortEntries)[li] += static_cast<int>(n);
    return true;
  };
  if (v4_) {
    // No field of a segment is wider than 15 bits, so they are read through a Run, whose next
    // word joins without a branch (the reader's refill comes every few fields, at no pattern).
    BitReader::Run run(in);
    const uint64_t total = in.totalBits();
    auto read = [&](int n) {
      const uint32_t v = static_cast<uint32_t>(run.window() >> (64 - n));
      run.step(static_cast<uint64_t>(n));
      return v;
    };
    auto overrun = [&] { return run.position() > total; };
    bool ok = true;
    for (int k = 0; k < segments_ && ok; ++k) {
      const uint32_t nLong = read(8), nShort = read(8);
      const uint32_t base = uint32_t(k) * kSegmentPositions;
      ok = entries(read, overrun, base, nLong, 13, 8, true) &&
           entries(read, overrun, base, nShort, 13, 4, false);
    }
    run.finish(in);
    if (!ok) return false;
  } else {
    auto read = [&](int n) { return in.read(n); };
    auto overrun = [&] { return in.overrun(); };
    const uint32_t nLong = in.read(12), nShort = in.read(12);
    if (!entries(read, overrun, 0, nLong, posBits_, 8, true) ||
        !entries(read, overrun, 0, nShort, posBits_, 4, false))
      return false;
  }
  if (in.overrun()) return fail("frame shorter than its block lists"), false;
  return true;
}

bool FrameDecoder::placeBlock(BlockList list, uint32_t pos, int bw, int bh, uint16_t colour) {
  if (pos >= positions_) return fail("block outside the active area"), false;
  const int row = static_cast<int>((uint64_t(pos) * rowScale_) >> 40);
  const int col = static_cast<int>(pos - uint32_t(row) * uint32_t(width_));
  if (col + bw > width_ || row + bh > codedRows_)
    return fail("block outside the active area"), false;
  if (list == BlockList::Entropy && (scheme_ == Scheme::Rgb || col == 0))
    return fail("Entropy block in an RGB frame or at column 0"), false;
  const int rowStep = sfield_ ? 2 : 1;
  const int firstRow = bottomRows_ + (sfield_ ? 1 : 0) + row * rowStep;
  const size_t first = size_t(firstRow) * width_ + col;
  const size_t stride = size_t(rowStep) * width_;
  const uint8_t width = static_cast<uint8_t>(bw);
  // Overlap: every pixel of every block is marked in the cover bits. In the same loop, each
  // row's width in the block map, its place in the list of marks (room for every pixel: the
  // cover bits refuse any overlap) and what its list adds. All through local pointers, which
  // the byte stores cannot change.
  uint8_t* const block = blockMap_.data();
  uint32_t* const mark = marks_.data() + markCount_;
  auto rows = [&](auto&& also) {
    const bool claimed = cover_.claim(firstRow, rowStep, bh, col, bw, [&](int r) {
      const size_t i = first + size_t(r) * stride;
      block[i] = width;
      mark[r] = static_cast<uint32_t>(i);
      also(i);
    });
    if (!claimed) return fail("overlapping blocks"), false;
    markCount_ += size_t(bh);
    return true;
  };
  // The map lists: their rows' bytes were 0 before the block (the maps were cleared where the
  // last frame set them, and no block of this frame covered these pixels), so a block that
  // meets an earlier one is taken back by clearing them again.
  auto mapRows = [&](uint8_t * also, uint8_t value) __attribute__((always_inline)) {
    const bool claimed = cover_.claimOrUndo(
        firstRow, rowStep, bh, col, bw,
        [&](int r) {
          const size_t i = first + size_t(r) * stride;
          block[i] = width;
          mark[r] = static_cast<uint32_t>(i);
          also[i] = value;
        },
        [&](int r) {
          const size_t i = first + size_t(r) * stride;
          block[i] = 0;
          also[i] = 0;
        });
    if (!claimed) return fail("overlapping blocks"), false;
    markCount_ += size_t(bh);
    return true;
  };
  switch (list) {
    case BlockList::Interframe:
      // A map not maintained is stood in for by the block map (the same byte written twice).
      return mapRows(unchangedMapMaintained() ? unchangedMap_.data() : block, width);
    case BlockList::Chroma: {
      uint16_t* const picture = picture_.data();
      const uint16_t* const background = background_.data();
      return rows([&](size_t i) { std::memcpy(picture + i, background + i, size_t(bw) * 2); });
    }
    case BlockList::Rle: {
      const uint16_t fill = pictureColour(colour, options_.pixelKind);
      uint16_t* const picture = picture_.data();
      return rows([&](size_t i) { std::fill_n(picture + i, bw, fill); });
    }
    case BlockList::Entropy:
      return mapRows(entropyMap_.data(), 1);
  }
  return true;
}

bool FrameDecoder::readResiduals() {
  BitReader& in = impl_->reader;
  Impl& s = *impl_;
  info_.nsym = static_cast<int>(in.read(4));
  if (info_.nsym == 0) return true;
  if (codedRows_ == 0) return fail("residuals without coded rows"), false;
  const size_t firstPixel = (size_t(bottomRows_) + (sfield_ ? 1 : 0)) * width_;
  if (blockMap_[firstPixel] == 0) {
    picture_[firstPixel] = pictureColour(in.read(15), options_.pixelKind);
    blockMap_[firstPixel] = 1;
    marks_[markCount_++] = static_cast<uint32_t>(firstPixel);
    info_.seed = true;
  }
  int width = 0;
  if (info_.nsym == 1) {
    s.symbolValues.assign(1, static_cast<uint8_t>(in.read(4)));
  } else {
    width = static_cast<int>(in.read(4));
    info_.lookupWidth = width;
    if (width == 0) return fail("look-up width 0"), false;
    s.symbolValues.resize(size_t(info_.nsym));
    for (uint8_t& v : s.symbolValues) v = static_cast<uint8_t>(in.read(4));
  }
  for (uint8_t v : s.symbolValues)
    if (v == 15) return fail("symbol value 15"), false;
  if (info_.nsym > 1) {
    switch (readTreeShape(in, s.symbolValues, width, s.leaves)) {
      case TreeStatus::Ok:
        break;
      case TreeStatus::TooFewLeaves:
        return fail("tree shape with too few leaves"), false;
      case TreeStatus::TooManyLeaves:
        return fail("tree shape with too many leaves"), false;
      case TreeStatus::TooLong:
        return fail("code longer than the look-up width"), false;
    }
  }
  s.n1 = in.read(countBits_);
  s.n2 = in.read(countBits_);
  info_.n1 = s.n1;
  info_.n2 = s.n2;
  if (in.overrun()) return fail("frame shorter than its code table"), false;
  s.part2 = !options_.singleField;
  const uint32_t total = s.part2 ? s.n1 + s.n2 : s.n1;
  if (s.n1 + s.n2 > kMaxSymbols) return fail("more than 921,600 symbols"), false;
  uint8_t* out = s.symbols.data();
  if (info_.nsym == 1) {
    std::memset(out, s.symbolValues[0], total);
  } else {
    s.huffman.build(s.leaves, options_.noCache ? kMaxLookupWidth : width);
    s.huffman.decode(in, out, total);
  }
  // Neutral steps after the stream, so that a count too small for the picture ends harmlessly.
  std::memset(out + total, 7, kSymbolSlack);
  return true;
}

void FrameDecoder::runPostFilter() {
  postFilter(picture_.data(), filtered_.data(), width_, height_, bottomRows_, height_ - topRows_,
             options_.pixelKind);
}

}  // namespace zov
