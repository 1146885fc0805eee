// The decoder's kernels against their references: the Entropy-run pairs of sharing rows and of
// rows that carry colour difference, and the symbol look-ups.
#include <algorithm>
#include <cstdio>

#include "format/bit_writer.h"
#include "format/colour_tables.h"
#include "format/cpu_features.h"
#include "format/decoder_kernels.h"
#include "format/huffman_table.h"
#include "kernel_cases.h"

namespace zov::test {
namespace {

constexpr int kRow = 640;

bool pairsSame(unsigned flags) {
  return decoderKernelsFor(flags).sharingPairs == sharingPairsScalar;
}

// One job through the reference and through `f` on copies of the same row; compares the count,
// the final luminance and every pixel of the row (also those the kernels must not touch).
bool pairsOne(SharingPairsFn f, const SharingPairs& job, const uint8_t* symbols, int pairs, int y,
              std::string& why) {
  std::vector<uint16_t> refRow(kRow, 0xBEEF), row(kRow, 0xBEEF);
  SharingPairs a = job, b = job;
  a.row = refRow.data();
  b.row = row.data();
  const SharingPairsDone ref = sharingPairsScalar(a, symbols, pairs, y);
  const SharingPairsDone got = f(b, symbols, pairs, y);
  if (got.pairs == ref.pairs && got.y == ref.y && row == refRow) return true;
  why = "x " + std::to_string(job.x) + " pairs " + std::to_string(pairs) + " edge " +
        std::to_string(job.edge) + " coded first " + std::to_string(job.codedFirst) + ": " +
        std::to_string(got.pairs) + " pairs, luminance " + std::to_string(got.y) + ", reference " +
        std::to_string(ref.pairs) + " " + std::to_string(ref.y);
  for (int i = 0; i < kRow; ++i)
    if (row[i] != refRow[i]) {
      why += ", first pixel apart at column " + std::to_string(i);
      break;
    }
  return false;
}

// Symbols and colour differences taken from footage: luminance steps between neighbouring
// pixels (clamped to the code's range) and the pixels' own colour differences.
struct PairsInput {
  std::vector<uint8_t> symbols;
  std::vector<uint16_t> c12;
};

PairsInput footageInput(const KernelInputs& in, size_t at) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  PairsInput p{std::vector<uint8_t>(kRow / 2 + 8, 7), std::vector<uint16_t>(kRow + 16, 0)};
  const std::vector<uint16_t>& c = in.footageColours;
  for (int i = 0; i < kRow / 2 && at + 2 * i + 2 < c.size(); ++i) {
    const int d = int(t.rgbToYc[c[at + 2 * i + 2]] >> 12) - int(t.rgbToYc[c[at + 2 * i]] >> 12);
    p.symbols[size_t(i)] = uint8_t(std::clamp(d + 7, 0, 14));
  }
  for (int i = 0; i < kRow && at + i < c.size(); ++i)
    p.c12[size_t(i)] = uint16_t(t.rgbToYc[c[at + i]] & 0xFFF);
  return p;
}

PairsInput randomInput(KernelInputs& in) {
  std::uniform_int_distribution<int> any(0, 14), near(5, 9), pick(0, 3), chroma(0, 0xFFF);
  PairsInput p{std::vector<uint8_t>(kRow / 2 + 8), std::vector<uint16_t>(kRow + 16)};
  for (uint8_t& s : p.symbols) s = uint8_t(pick(in.random) ? near(in.random) : any(in.random));
  for (uint16_t& v : p.c12) v = uint16_t(chroma(in.random));
  return p;
}

bool pairsCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const SharingPairsFn f = decoderKernelsFor(flags).sharingPairs;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::uniform_int_distribution<int> column(0, kRow - 2), luminance(64, 95), coin(0, 1);
  // Half the jobs start at a coded pixel (the first interpolated pixel left unwritten).
  auto job = [&](const PairsInput& p, int x, bool edge) {
    return SharingPairs{
        x, edge, p.c12.data(), t.ycToRgbByChroma.data(), nullptr, coin(in.random) == 1, kRow};
  };
  for (size_t at = 0; at + kRow < in.footageColours.size(); at += 997) {
    const PairsInput p = footageInput(in, at);
    const int x = column(in.random) | 1;
    const int pairs = std::min((kRow - x) / 2, int(at % 41));
    if (!pairsOne(f, job(p, x, coin(in.random)), p.symbols.data(), pairs, luminance(in.random),
                  why))
      return false;
  }
  for (int n = 0; n < 20000; ++n) {
    const PairsInput p = randomInput(in);
    const int x = column(in.random);
    const int pairs = std::uniform_int_distribution<int>(0, (kRow - x) / 2)(in.random) >> (n % 4);
    if (!pairsOne(f, job(p, x, coin(in.random)), p.symbols.data(), pairs, luminance(in.random),
                  why))
      return false;
  }
  return true;
}

uint64_t pairsBench(unsigned flags, KernelInputs& in) {
  const SharingPairsFn f = decoderKernelsFor(flags).sharingPairs;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::vector<uint16_t> row(kRow);
  std::vector<PairsInput> inputs;
  for (size_t at = 0; at + kRow < in.footageColours.size() && inputs.size() < 64; at += 4099)
    inputs.push_back(footageInput(in, at));
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (const PairsInput& p : inputs)
      // Runs as long as they come on camera footage: a few pairs up to a few dozen.
      for (int x = 1; x + 64 < kRow; x += 48) {
        const int pairs = 2 + (x + pass) % 23;
        const SharingPairs j{x,          true,  p.c12.data(), t.ycToRgbByChroma.data(),
                             row.data(), false, kRow};
        const SharingPairsDone d = f(j, p.symbols.data() + x / 2, pairs, 80);
        sink += uint64_t(d.pairs) + uint64_t(d.y);
        ++calls;
      }
  if (sink == 1) std::printf(" ");
  return calls;
}

bool carryingSame(unsigned flags) {
  return decoderKernelsFor(flags).carryingPairs == carryingPairsScalar;
}

// A carrying-row job on random symbols (mostly small steps, some 0 and 14) from a random value:
// the reference and `f` on copies of the same row and chroma store must agree in the count, the
// symbols taken, the final value, every pixel and every stored colour difference.
bool carryingCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const CarryingPairsFn f = decoderKernelsFor(flags).carryingPairs;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::uniform_int_distribution<int> any(0, 14), near(5, 9), pick(0, 3), column(0, kRow / 2 - 1);
  std::uniform_int_distribution<uint32_t> y(64, 95), c(64, 127);
  for (int n = 0; n < 20000; ++n) {
    std::vector<uint8_t> symbols(3 * kRow / 2 + 8);
    for (uint8_t& s : symbols) s = uint8_t(pick(in.random) ? near(in.random) : any(in.random));
    const int x = 2 * column(in.random) + 1;
    const int pairs = std::uniform_int_distribution<int>(0, (kRow - x) / 2)(in.random) >> (n % 4);
    const uint32_t start = y(in.random) << 16 | c(in.random) << 8 | c(in.random);
    std::vector<uint16_t> refRow(kRow, 0xBEEF), row(kRow, 0xBEEF);
    std::vector<uint32_t> refStore(kRow / 2 + 2, 7), store(kRow / 2 + 2, 7);
    const int shift = 1 + n % 2;
    CarryingPairs a{x, shift, refStore.data(), t.ycToRgbByChroma.data(), refRow.data(), n % 3 == 0};
    CarryingPairs b = a;
    b.chroma = store.data();
    b.row = row.data();
    const CarryingPairsDone ref = carryingPairsScalar(a, symbols.data(), pairs, start);
    const CarryingPairsDone got = f(b, symbols.data(), pairs, start);
    if (got.pairs != ref.pairs || got.used != ref.used || got.value != ref.value || row != refRow ||
        store != refStore) {
      why = "x " + std::to_string(x) + " pairs " + std::to_string(pairs) + " group shift " +
            std::to_string(shift) + " coded first " + std::to_string(a.codedFirst) + ": " +
            std::to_string(got.pairs) + " pairs, " + std::to_string(got.used) +
            " symbols, reference " + std::to_string(ref.pairs) + ", " + std::to_string(ref.used);
      return false;
    }
  }
  return true;
}

uint64_t carryingBench(unsigned flags, KernelInputs& in) {
  const CarryingPairsFn f = decoderKernelsFor(flags).carryingPairs;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::vector<uint16_t> row(kRow);
  std::vector<uint32_t> store(kRow / 2 + 2);
  std::vector<PairsInput> inputs;
  for (size_t at = 0; at + kRow < in.footageColours.size() && inputs.size() < 64; at += 4099)
    inputs.push_back(footageInput(in, at));
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (const PairsInput& p : inputs)
      // The footage's luminance steps, read as the symbols of a 16:1:1 carrying row; runs as long
      // as they come on camera footage.
      for (int x = 1; x + 64 < kRow; x += 48) {
        const CarryingPairs j{x, 2, store.data(), t.ycToRgbByChroma.data(), row.data(), false};
        const CarryingPairsDone d = f(j, p.symbols.data() + x / 4, 2 + (x + pass) % 23, 0x505050);
        sink += uint64_t(d.pairs) + d.value;
        ++calls;
      }
  if (sink == 1) std::printf(" ");
  return calls;
}

template <bool Carrying>
RowFn rowKernel(unsigned flags) {
  const DecoderKernels k = decoderKernelsFor(flags);
  return Carrying ? k.carryingRow : k.sharingRow;
}

template <bool Carrying>
bool rowSame(unsigned flags) {
  return rowKernel<Carrying>(flags) == nullptr;
}

// A whole row: its blocks (covered and Entropy runs between plain ones, at most one block from
// column 0, no Entropy run there), the pictures' colours under them, the chroma store's colour
// differences, the symbols, from footage or at random; for carrying rows also the store itself
// and the maps of the rows that share it (mostly this row's blocks, some of them changed).
struct RowInput {
  int width = kRow;
  std::vector<uint8_t> bm = std::vector<uint8_t>(kRow), em = std::vector<uint8_t>(kRow);
  std::vector<uint16_t> row = std::vector<uint16_t>(kRow, 0xBEEF);
  std::vector<uint16_t> c12 = std::vector<uint16_t>(kRow, 0);
  std::vector<uint8_t> symbols = std::vector<uint8_t>(4 * kRow, 7);
  std::vector<uint32_t> store = std::vector<uint32_t>(kRow / 2 + 2, 7);
  std::vector<uint8_t> partnerBm[3], partnerEm[3];
  int partners = 0;
  uint32_t start = 0x505050;
  bool oddRow = false;
  int groupShift = 2;
};

RowInput rowInput(KernelInputs& in, int width, size_t at, bool footage) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& f = in.footageColours;
  std::uniform_int_distribution<int> any(0, 14), near(5, 9), pick(0, 7), chroma(0, 0xFFF);
  std::uniform_int_distribution<int> gap(0, 12), block(1, 40), wide(1, 255), coin(0, 1);
  std::uniform_int_distribution<int> colour(0, 0x7FFF);
  std::uniform_int_distribution<uint32_t> y(64, 95), c(64, 127);
  RowInput r;
  r.width = width;
  for (int x = int(coin(in.random)); x < width;) {
    x += x == 0 ? 0 : gap(in.random);  // plain pixels
    if (x >= width) break;
    const int n = std::min(width - x, pick(in.random) ? block(in.random) : wide(in.random));
    r.bm[size_t(x)] = uint8_t(n);
    r.em[size_t(x)] = uint8_t(x > 0 && coin(in.random));
    x += n;
  }
  for (int x = 0; x < width; ++x) {
    const size_t i = (at + size_t(x)) % f.size();
    r.row[size_t(x)] = footage ? f[i] : uint16_t(colour(in.random));
    r.c12[size_t(x)] = uint16_t(footage ? t.rgbToYc[f[i]] & 0xFFF : uint32_t(chroma(in.random)));
  }
  for (size_t k = 0; k < r.symbols.size(); ++k) {
    const size_t i = (at + k) % (f.size() - 1);
    const int d = int(t.rgbToYc[f[i + 1]] >> 12) - int(t.rgbToYc[f[i]] >> 12);
    r.symbols[k] = uint8_t(footage ? std::clamp(d + 7, 0, 14)
                                   : (pick(in.random) ? near(in.random) : any(in.random)));
  }
  r.start = y(in.random) << 16 | c(in.random) << 8 | c(in.random);
  r.oddRow = coin(in.random);
  r.groupShift = 1 + coin(in.random);
  r.partners = r.groupShift == 1 ? 1 : 3;
  for (int i = 0; i < r.partners; ++i) {
    r.partnerBm[i] = r.bm;
    r.partnerEm[i] = r.em;
    for (int x = 0; x < width; ++x)
      if (r.bm[size_t(x)] != 0 && pick(in.random) == 0) {
        r.partnerBm[i][size_t(x)] = uint8_t(block(in.random));
        r.partnerEm[i][size_t(x)] = uint8_t(coin(in.random));
      }
  }
  return r;
}

RowJob rowJob(RowInput& r, uint16_t* row, uint32_t* store) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  RowJob j{r.bm.data(),      r.em.data(), r.c12.data(), t.ycToRgbByChroma.data(),
           t.rgbToYc.data(), row,         r.width,      r.groupShift,
           r.oddRow,         r.start};
  j.chroma = store;
  j.partners = r.partners;
  for (int i = 0; i < r.partners; ++i) {
    j.partnerBm[i] = r.partnerBm[i].data();
    j.partnerEm[i] = r.partnerEm[i].data();
  }
  return j;
}

// The reference and the kernel on copies of the row and the chroma store: the symbols taken
// (or both leaving the row to the walk), every pixel and every stored colour difference.
template <bool Carrying>
bool rowCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const RowFn f = rowKernel<Carrying>(flags);
  const RowFn reference = Carrying ? carryingRowScalar : sharingRowScalar;
  std::uniform_int_distribution<int> width(1, kRow);
  for (int n = 0; n < 20000; ++n) {
    const bool footage = n % 2 == 0;
    RowInput r = rowInput(in, n % 3 ? kRow : width(in.random), size_t(n) * 997, footage);
    std::vector<uint16_t> refRow = r.row, row = r.row;
    std::vector<uint32_t> refStore = r.store, store = r.store;
    const int ref = reference(rowJob(r, refRow.data(), refStore.data()), r.symbols.data());
    const int got = f(rowJob(r, row.data(), store.data()), r.symbols.data());
    if (got == ref && row == refRow && store == refStore) continue;
    why = std::string(footage ? "footage" : "random") + " row " + std::to_string(n) + ", width " +
          std::to_string(r.width) + ": " + std::to_string(got) + " symbols, reference " +
          std::to_string(ref) + (store == refStore ? "" : ", the stores apart");
    for (int i = 0; i < r.width; ++i)
      if (row[size_t(i)] != refRow[size_t(i)]) {
        why += ", first pixel apart at column " + std::to_string(i);
        break;
      }
    return false;
  }
  return true;
}

template <bool Carrying>
uint64_t rowBench(unsigned flags, KernelInputs& in) {
  const RowFn f =
      flags ? rowKernel<Carrying>(flags) : (Carrying ? carryingRowScalar : sharingRowScalar);
  std::mt19937 keep = in.random;
  in.random.seed(20261210);  // the same rows for every path
  std::vector<RowInput> inputs;
  for (size_t at = 0; inputs.size() < 64; at += 4099)
    inputs.push_back(rowInput(in, kRow, at, true));
  in.random = keep;
  std::vector<uint16_t> row(kRow);
  std::vector<uint32_t> store(kRow / 2 + 2);
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 100; ++pass)
    for (RowInput& r : inputs) {
      row = r.row;
      sink += uint64_t(f(rowJob(r, row.data(), store.data()), r.symbols.data()));
      ++calls;
    }
  if (sink == 1) std::printf(" ");
  return calls;
}

bool symbolsSame(unsigned flags) {
  return (flags & kCpuSse2) == 0;
}

// A random complete code of 2..15 leaves, at most maxLength bits, and a stream of `count` of its
// codes (skewed towards the first leaves, as residuals are) followed by zero padding.
struct SymbolStream {
  std::vector<CodeLeaf> leaves;
  int width = 0;
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
};

SymbolStream symbolStream(std::mt19937& rng, uint32_t count, size_t minLeaves = 2, int minWidth = 1,
                          int maxWidth = 16) {
  SymbolStream s;
  do {
    const int maxLength = 1 + int(rng() % 15);
    const size_t wanted = 2 + rng() % 14;
    s.leaves = {{0, 0, 0}};
    while (s.leaves.size() < wanted) {
      std::vector<size_t> open;
      for (size_t i = 0; i < s.leaves.size(); ++i)
        if (s.leaves[i].length < maxLength) open.push_back(i);
      if (open.empty()) break;
      const CodeLeaf l = s.leaves[open[rng() % open.size()]];
      s.leaves.erase(std::find_if(s.leaves.begin(), s.leaves.end(), [&](const CodeLeaf& x) {
        return x.code == l.code && x.length == l.length;
      }));
      s.leaves.push_back({l.code << 1, l.length + 1, 0});
      s.leaves.push_back({l.code << 1 | 1, l.length + 1, 0});
    }
    s.width = 0;
    for (size_t i = 0; i < s.leaves.size(); ++i) {
      s.leaves[i].symbol = uint8_t(i);
      s.width = std::max(s.width, s.leaves[i].length);
    }
    s.width = std::min(16, s.width + int(rng() % 4));
  } while (s.leaves.size() < minLeaves || s.width < minWidth || s.width > maxWidth);
  BitWriter w;
  const uint32_t n = uint32_t(s.leaves.size());
  for (uint32_t i = 0; i < count; ++i) {
    const CodeLeaf& l = s.leaves[std::min(rng() % n, rng() % n)];
    w.write(l.code, l.length);
  }
  w.writeZeros(16);
  w.finishWord();
  s.bytes = w.bytes();
  s.count = count;
  return s;
}

// Long streams as one chain and as two: the same symbols and the same bits read.
bool symbolsCheck(unsigned flags, KernelInputs& in, std::string& why) {
  for (int n = 0; n < 300; ++n) {
    const SymbolStream s = symbolStream(in.random, 8192 + in.random() % 30000);
    HuffmanTable table;
    table.build(s.leaves, s.width);
    std::vector<uint8_t> want(s.count + 8), got(s.count + 8);
    BitReader r(s.bytes.data(), s.bytes.size()), g = r;
    table.decode(r, want.data(), s.count, 0);
    table.decode(g, got.data(), s.count, flags);
    want.resize(s.count);
    got.resize(s.count);
    if (want == got && r.bitPosition() == g.bitPosition()) continue;
    why = "stream " + std::to_string(n) + " width " + std::to_string(s.width) + ": bits read " +
          std::to_string(g.bitPosition()) + ", reference " + std::to_string(r.bitPosition());
    return false;
  }
  return true;
}

uint64_t symbolsBench(unsigned flags, KernelInputs& in) {
  std::mt19937 rng(20261209);  // the same streams for every path
  (void)in;
  std::vector<SymbolStream> streams;
  // Codes like those of camera footage: 12 or more values, windows of 11 to 13 bits.
  while (streams.size() < 8) streams.push_back(symbolStream(rng, 100000, 12, 11, 13));
  std::vector<uint8_t> out(100008);
  uint64_t calls = 0, sink = 0;
  HuffmanTable table;  // its buffers kept from call to call, as in a decoder
  for (int pass = 0; pass < 100; ++pass)
    for (const SymbolStream& s : streams) {
      table.build(s.leaves, s.width);
      BitReader r(s.bytes.data(), s.bytes.size());
      table.decode(r, out.data(), s.count, flags);
      sink += out[s.count / 2];
      ++calls;
    }
  return calls + (sink & 0);
}

}  // namespace

KernelCase symbolDecodingCase() {
  return {"Symbol look-ups, two chains", symbolsSame, symbolsCheck, symbolsBench};
}

KernelCase carryingPairsCase() {
  return {"Entropy pairs, carrying rows", carryingSame, carryingCheck, carryingBench};
}

KernelCase sharingRowCase() {
  return {"Sharing rows, whole", rowSame<false>, rowCheck<false>, rowBench<false>};
}

KernelCase carryingRowCase() {
  return {"Carrying rows, whole", rowSame<true>, rowCheck<true>, rowBench<true>};
}

KernelCase sharingPairsCase() {
  return {"Entropy pairs, sharing rows", pairsSame, pairsCheck, pairsBench};
}

}  // namespace zov::test
