// The decoder against a slow, plain reconstruction written from the format's rules: random
// pictures, blocks and symbol streams for every scheme, both residual codes, SField, letterbox,
// single field and both pixel kinds. The model picks each symbol as it walks (keeping components
// in range), so it also yields the exact symbol parts that the frame must carry.
#include <gtest/gtest.h>

#include <random>

#include "format/colour_tables.h"
#include "format/decoder.h"
#include "support/frame_builder.h"

namespace zov {
namespace {

using test::Block;
using test::FrameSpec;

struct Comp {
  int v = 0;
  bool doubled = false;
};

// A pixel value of the walk: RGB (r, g, b 0..31) or Y 0..31, Cr + 31 and Cb + 31 0..62.
struct Val {
  Comp c[3];
};

class Model {
 public:
  Model(int w, int h, uint32_t format, std::mt19937& rng)
      : w_(w), h_(h), format_(format), rng_(rng) {
    pic.assign(size_t(w * h), 0);
    background.assign(size_t(w * h), 0);
  }

  // Frame set-up.
  void begin(const FrameSpec& spec, int top, int bottom) {
    spec_ = spec;
    scheme_ = spec.scheme;
    edge_ = spec.edge;
    top_ = top;
    bottom_ = bottom;
    sfield_ = hasFlag(format_, stream_flag::kSField);
    const int ha = h_ - top - bottom;
    rows_ = sfield_ ? ha / 2 : ha;
    width.assign(size_t(w_ * h_), 0);
    entropy.assign(size_t(w_ * h_), 0);
    part[0].clear();
    part[1].clear();
  }
  size_t idx(int cr, int x) const {
    return size_t((bottom_ + (sfield_ ? 2 * cr + 1 : cr)) * w_ + x);
  }
  void place(const Block& b, int list) {
    const int cr = int(b.pos) / w_, x = int(b.pos) % w_;
    for (int r = 0; r < b.height; ++r) {
      const size_t i = idx(cr + r, x);
      width[i] = b.width;
      if (list == 3) entropy[i] = 1;
      for (int k = 0; k < b.width; ++k) {
        if (list == 1) pic[i + k] = background[i + k];
        if (list == 2) pic[i + k] = b.colour;
      }
    }
  }

  // Symbols: a random step for component c keeping it within 0..hi, appended to the part.
  void stepComp(Comp& c, int hi) {
    std::vector<uint8_t>& out = part[cur_];
    auto ok = [&](int v) { return v >= 0 && v <= hi; };
    std::vector<int> choices;
    for (int s = 0; s <= 14; ++s) {
      int d = s - 7;
      if (!edge_ && c.doubled) d *= 2;
      if (ok(c.v + d)) choices.push_back(s);
    }
    const int s = choices[rng_() % choices.size()];
    out.push_back(uint8_t(s));
    const bool extreme = s == 0 || s == 14;
    if (!edge_) {
      c.v += c.doubled ? 2 * (s - 7) : s - 7;
      c.doubled = c.doubled ? extreme : extreme;
      return;
    }
    c.v += s - 7;
    if (!extreme) return;
    for (;;) {
      std::vector<int> more;
      for (int t = 0; t <= 14; ++t)
        if (ok(c.v + 2 * (t - 7))) more.push_back(t);
      const int t = more[rng_() % more.size()];
      out.push_back(uint8_t(t));
      c.v += 2 * (t - 7);
      if (t != 0 && t != 14) break;
    }
  }

  // RGB.
  Val rgbOf(uint16_t p) const { return Val{{{p >> 10 & 31}, {p >> 5 & 31}, {p & 31}}}; }
  uint16_t rgbPixel(const Val& v) const {
    return uint16_t(v.c[0].v << 10 | v.c[1].v << 5 | v.c[2].v);
  }
  void rgbStep(Val& v) {
    for (Comp& c : v.c) stepComp(c, 31);
  }

  // Luminance.
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  Val ycOf(uint16_t p) const {
    const uint32_t y = t.rgbToYc[p];
    return Val{{{int(y >> 12)}, {int(y >> 6 & 63)}, {int(y & 63)}}};
  }
  uint16_t ycPixel(const Val& v) const {
    return t.ycToRgb[size_t(v.c[0].v * 4096 + v.c[1].v * 64 + v.c[2].v)];
  }
  static Val normal(Val v) {
    for (Comp& c : v.c) c.doubled = false;
    return v;
  }
  void full(Val& v) {
    stepComp(v.c[0], 31);
    stepComp(v.c[1], 62);
    stepComp(v.c[2], 62);
  }
  void lum(Val& v) { stepComp(v.c[0], 31); }

  void reconstruct(bool singleField) {
    if (rows_ == 0) return;
    if (scheme_ == Scheme::Rgb)
      rgb(singleField);
    else
      yc(singleField);
  }

  void rgb(bool singleField) {
    cur_ = 0;
    Val v;
    for (int cr = 0; cr < rows_; ++cr) {
      const size_t i = idx(cr, 0);
      if (width[i]) {
        v = rgbOf(pic[i]);
      } else {
        rgbStep(v);
        pic[i] = rgbPixel(v);
      }
    }
    auto row = [&](int cr) {
      Val u = rgbOf(pic[idx(cr, 0)]);
      for (int x = width[idx(cr, 0)] > 1 ? 0 : 1; x < w_;) {
        const size_t i = idx(cr, x);
        if (width[i]) {
          x += width[i];
          u = rgbOf(pic[idx(cr, x - 1)]);
        } else {
          rgbStep(u);
          pic[i] = rgbPixel(u);
          ++x;
        }
      }
    };
    if (sfield_) {
      for (int cr = 0; cr < rows_; ++cr) row(cr);
      return;
    }
    for (int cr = 1; cr < rows_; cr += 2) row(cr);
    if (singleField) return;
    cur_ = 1;
    for (int cr = 0; cr < rows_; cr += 2) row(cr);
  }

  // Kinds: 0 own (422), 1 carrying, 2 sharing.
  int g_ = 2;
  int chroma_[400][2];
  std::vector<Val> col_;

  bool groupStart(int x) const {
    return scheme_ == Scheme::Yc422 ? (w_ - x) % 2 == 0 : x % g_ == 0;
  }

  void setChroma(Val& v, int group) {
    v.c[1].v = chroma_[group][0];
    v.c[2].v = chroma_[group][1];
  }
  void store(const Val& v, int group) {
    chroma_[group][0] = v.c[1].v;
    chroma_[group][1] = v.c[2].v;
  }

  void ycRow(int cr, int kind, const std::vector<int>& partners) {
    Val v = normal(col_[size_t(cr)]);
    const bool odd = sfield_ || cr % 2 == 1;
    if (kind == 2) store(v, 0);
    // A block at column 0 reaches into the row: its pixels are skipped like any covered run.
    auto coded = [&](int x) {
      if (kind == 0) {
        full(v);
      } else if (kind == 1) {
        if (x % g_ == 0) {
          full(v);
          store(v, x / g_);
        } else {
          lum(v);
        }
      } else {
        setChroma(v, x / g_);
        v.c[0].doubled = false;
        lum(v);
      }
      pic[idx(cr, x)] = ycPixel(v);
    };
    auto interp = [&](int x, const Val& left, int yRight) {
      Val p = left;
      p.c[0].v = left.c[0].v + (int)std::floor((yRight - left.c[0].v) / 2.0);
      if (kind == 2) setChroma(p, x / g_);
      pic[idx(cr, x)] = ycPixel(p);
    };
    auto plain = [&](int x) {
      if (groupStart(x)) {
        if (kind == 2) {
          setChroma(v, x / g_);
          lum(v);
        } else {
          full(v);
          if (kind == 1) store(v, x / g_);
        }
      } else {
        lum(v);
      }
      pic[idx(cr, x)] = ycPixel(v);
    };
    int x = width[idx(cr, 0)] > 1 ? 0 : 1;
    while (x < w_) {
      const size_t i = idx(cr, x);
      if (!width[i]) {
        plain(x);
        ++x;
      } else if (entropy[i]) {
        int end = x + width[i];
        while (x < end) {
          if ((x % 2 == 0) == odd) {
            coded(x);
            ++x;
            continue;
          }
          const Val left = v;
          const int xr = x + 1;
          const bool nextRun = xr == end && xr < w_ && width[idx(cr, xr)] && entropy[idx(cr, xr)];
          if (xr < end || nextRun) {
            if (nextRun) end = xr + width[idx(cr, xr)];
            coded(xr);
            interp(x, left, v.c[0].v);
            x += 2;
          } else if (xr < w_ && width[idx(cr, xr)]) {
            interp(x, left, ycOf(pic[idx(cr, xr)]).c[0].v);
            ++x;
          } else if (xr < w_) {
            plain(xr);
            interp(x, left, v.c[0].v);
            x += 2;
          } else {
            coded(x);
            ++x;
          }
        }
      } else {
        while (x < w_ && width[idx(cr, x)] && !entropy[idx(cr, x)]) {
          const int n = width[idx(cr, x)];
          if (kind == 1) {
            bool skip = true;
            for (int pr : partners) {
              const size_t q = idx(pr, x);
              if (!(width[q] >= n && !entropy[q])) skip = false;
            }
            if (!skip)
              for (int c = x; c < x + n; ++c)
                if (c % g_ == 0) store(ycOf(pic[idx(cr, c)]), c / g_);
          }
          x += n;
        }
        v = ycOf(pic[idx(cr, x - 1)]);
      }
    }
  }

  void yc(bool singleField) {
    g_ = scheme_ == Scheme::Yc811 || scheme_ == Scheme::Yc1611 ? 4 : 2;
    for (auto& c : chroma_) c[0] = c[1] = 31;
    col_.assign(size_t(rows_), Val{});
    cur_ = 0;
    Val v;
    for (int cr = 0; cr < rows_; ++cr) {
      const size_t i = idx(cr, 0);
      if (width[i]) {
        v = ycOf(pic[i]);
      } else {
        bool isFull = true;
        if (scheme_ == Scheme::Yc411 || scheme_ == Scheme::Yc811) isFull = (rows_ - cr) % 2 == 1;
        if (scheme_ == Scheme::Yc1611) isFull = (rows_ - 1 - cr) % 4 == 0;
        if (isFull)
          full(v);
        else
          lum(v);
        pic[i] = ycPixel(v);
      }
      col_[size_t(cr)] = v;
    }
    auto run = [&](int cr, int p, int kind, std::vector<int> partners) {
      if (sfield_) p = 0;
      if (p == 1 && singleField) return;
      cur_ = p;
      ycRow(cr, kind, partners);
    };
    if (scheme_ == Scheme::Yc422) {
      if (sfield_) {
        for (int cr = 0; cr < rows_; ++cr) run(cr, 0, 0, {});
        return;
      }
      for (int cr = 1; cr < rows_; cr += 2) run(cr, 0, 0, {});
      for (int cr = 0; cr < rows_; cr += 2) run(cr, 1, 0, {});
    } else if (scheme_ == Scheme::Yc411 || scheme_ == Scheme::Yc811) {
      int cr = 0;
      for (; cr + 1 < rows_; cr += 2) {
        run(cr + 1, 0, 1, {cr});
        run(cr, 1, 2, {});
      }
      if (cr < rows_) run(cr, 1, 2, {});
    } else {
      int cr = 0;
      for (; cr + 3 < rows_; cr += 4) {
        run(cr + 3, 0, 1, {cr + 2, cr + 1, cr});
        run(cr + 2, 1, 2, {});
        run(cr + 1, 0, 2, {});
        run(cr, 1, 2, {});
      }
      for (int r = rows_ - 1; r >= cr; --r) run(r, r % 2 ? 0 : 1, 2, {});
    }
  }

  std::vector<uint16_t> pic, background;
  std::vector<int> width;
  std::vector<uint8_t> entropy;
  std::vector<uint8_t> part[2];

 private:
  int w_, h_;
  uint32_t format_;
  std::mt19937& rng_;
  FrameSpec spec_;
  Scheme scheme_ = Scheme::Rgb;
  bool edge_ = false, sfield_ = false;
  int top_ = 0, bottom_ = 0, rows_ = 0;
  int cur_ = 0;
};

// Random non-overlapping blocks over the coded rows.
void randomBlocks(std::mt19937& rng, int w, int rows, bool key, bool chroma, bool entropy,
                  FrameSpec& spec) {
  std::vector<uint8_t> used(size_t(w * rows), 0);
  const int tries = int(rng() % 12);
  for (int k = 0; k < tries; ++k) {
    const int x = int(rng() % w), r = int(rng() % rows);
    const int bw = 1 + int(rng() % std::min(20, w - x));
    const int bh = 1 + int(rng() % std::min(6, rows - r));
    int list = int(rng() % 4);
    if (list == 0 && key) list = 2;
    if (list == 1 && !chroma) list = 2;
    if (list == 3 && (!entropy || x == 0)) list = 2;
    bool free = true;
    for (int i = 0; i < bh; ++i)
      for (int j = 0; j < bw; ++j) free = free && !used[size_t((r + i) * w + x + j)];
    if (!free) continue;
    for (int i = 0; i < bh; ++i)
      for (int j = 0; j < bw; ++j) used[size_t((r + i) * w + x + j)] = 1;
    Block b{uint32_t(r * w + x), bw, bh, uint16_t(rng() & 0x7FFF)};
    (list == 0   ? spec.interframe
     : list == 1 ? spec.chroma
     : list == 2 ? spec.rle
                 : spec.entropy)
        .push_back(b);
  }
}

struct Case {
  Scheme scheme;
  bool edge;
  uint32_t extraFlags;
  bool singleField;
  PixelKind kind;
  bool preV4 = false;
};

void runRandomCase(const Case& c, uint32_t seed) {
  std::mt19937 rng(seed);
  const bool sfield = hasFlag(c.extraFlags, stream_flag::kSField);
  const int w = 1 + int(rng() % 40);
  const int h = (sfield ? 2 : 1) + int(rng() % 24);
  const bool yc = c.scheme != Scheme::Rgb;
  // Pre-V4 streams: the scheme, ENPY and LBOX come from the format word.
  const uint32_t format = kZov2Tag | stream_flag::kChroma | c.extraFlags |
                          (c.preV4 ? uint32_t(c.scheme) | (yc ? stream_flag::kEnpy : 0u) |
                                         (seed % 2 ? stream_flag::kLbox : 0u)
                                   : stream_flag::kV4);
  Model model(w, h, format, rng);
  for (auto& p : model.background) p = uint16_t(rng() & 0x7FFF);
  FrameDecoder dec;
  DecoderOptions opt;
  opt.pixelKind = c.kind;
  opt.singleField = c.singleField;
  opt.noCache = seed % 3 == 0;
  ASSERT_TRUE(dec.prepareStream(w, h, format, opt));
  dec.setBackground(model.background.data(), PixelKind::Rgb555);
  int top = 0, bottom = 0;
  for (int frame = 0; frame < 4; ++frame) {
    FrameSpec spec;
    spec.key = frame % 3 == 0;
    spec.scheme = c.scheme;
    spec.edge = c.edge;
    spec.enpy = yc;
    if (rng() % 3 == 0) spec.lookupWidth = int(rng() % 16);  // a wider look-up than needed
    int prevTop = top, prevBottom = bottom;
    if (c.preV4 && hasFlag(format, stream_flag::kLbox)) {
      top = int(rng() % 3);
      bottom = int(rng() % 3);
      if (h - top - bottom < (sfield ? 2 : 1)) top = bottom = 0;
      spec.top = top;
      spec.bottom = bottom;
    } else if (spec.key && !c.preV4) {
      spec.lbox = rng() % 2 == 0;
      top = bottom = 0;
      if (spec.lbox) {
        top = int(rng() % 3);
        bottom = int(rng() % 3);
        if (h - top - bottom < (sfield ? 2 : 1)) top = bottom = 0;
      }
      spec.top = top;
      spec.bottom = bottom;
    }
    model.begin(spec, top, bottom);
    const int ha = h - top - bottom;
    const int rows = sfield ? ha / 2 : ha;
    if (rows == 0) continue;
    randomBlocks(rng, w, rows, spec.key, true, spec.enpy, spec);
    for (const Block& b : spec.interframe) model.place(b, 0);
    for (const Block& b : spec.chroma) model.place(b, 1);
    for (const Block& b : spec.rle) model.place(b, 2);
    for (const Block& b : spec.entropy) model.place(b, 3);
    const size_t first = model.idx(0, 0);
    if (!model.width[first]) {
      spec.seed = uint16_t(rng() & 0x7FFF);
      model.pic[first] = *spec.seed;
      model.width[first] = 1;
    }
    model.reconstruct(c.singleField);
    spec.part1 = model.part[0];
    spec.part2 = model.part[1];
    if (c.singleField && !sfield) {
      // The frame carries part 2 although it is not decoded: any symbols of the right kind do.
      spec.part2.assign(size_t(rng() % 50), 7);
    }
    std::vector<uint8_t> bytes = test::buildFrame(w, h, format, spec, prevTop, prevBottom);
    const DecodeStatus st = dec.decodeFrame(bytes.data(), bytes.size());
    SCOPED_TRACE(testing::Message() << "seed " << seed << " frame " << frame << " " << w << "x" << h
                                    << " lbox " << top << "," << bottom);
    ASSERT_EQ(st, DecodeStatus::Ok) << dec.lastFrame().fault;
    for (int i = 0; i < w * h; ++i) {
      const uint16_t want =
          c.kind == PixelKind::Rgb565 ? to565(model.pic[size_t(i)]) : model.pic[size_t(i)];
      ASSERT_EQ(dec.picture()[i], want) << "pixel " << i % w << "," << i / w;
    }
  }
}

class DecoderReference : public testing::TestWithParam<Case> {};

TEST_P(DecoderReference, MatchesPlainReconstructionOnRandomFrames) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    runRandomCase(GetParam(), seed * 7919 + uint32_t(GetParam().scheme));
    if (HasFatalFailure()) return;
  }
}

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (Scheme s : {Scheme::Rgb, Scheme::Yc422, Scheme::Yc411, Scheme::Yc811, Scheme::Yc1611})
    for (bool edge : {false, true}) {
      cases.push_back({s, edge, 0, false, PixelKind::Rgb555});
      cases.push_back({s, edge, 0, false, PixelKind::Rgb565});
      cases.push_back({s, edge, 0, true, PixelKind::Rgb555});
      cases.push_back({s, edge, stream_flag::kSField, false, PixelKind::Rgb555});
      if (!edge) cases.push_back({s, false, 0, false, PixelKind::Rgb555, true});
    }
  return cases;
}

std::string caseName(const testing::TestParamInfo<Case>& param) {
  static const char* const kNames[] = {"Rgb", "Yc422", "Yc411", "Yc811", "Yc1611"};
  std::string n = kNames[int(param.param.scheme)];
  n += param.param.edge ? "_Edge" : "_Doubling";
  if (param.param.kind == PixelKind::Rgb565) n += "_565";
  if (param.param.singleField) n += "_SingleField";
  if (param.param.extraFlags & stream_flag::kSField) n += "_SField";
  if (param.param.preV4) n += "_PreV4";
  return n;
}

INSTANTIATE_TEST_SUITE_P(AllSchemes, DecoderReference, testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace zov
