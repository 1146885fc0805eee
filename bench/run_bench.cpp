// End-to-end speed of "zovcomp compress" on the bundled footage: frames per second of the whole
// command (opening the source, the run, finishing the file; the benchmark's time), and where the
// run's time goes, as milliseconds per frame of each stage (counters read_ms, filter_ms, encode_ms,
// write_ms) from the run's own stage timers (--times). Reading includes decoding the source
// (Motion-JPEG for the pan), cropping and colour conversion; filtering is the filter list applied
// to each frame.
//
// The pan's cases also time the bare encoder on the same frames with the same settings and
// threads, alternating with the command so that both see the same moments of the machine:
// counters bare_fps and of_bare (the command's frames per second over the bare encoder's).
// The bare encoder's frames are the same bytes as the command's (checked).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "compressor/zovcomp_cli.h"
#include "encoder/zov2_encoder.h"
#include "encoder_footage.h"
#include "media/avi_container.h"

namespace zov {
namespace {

struct StageTimes {
  double read = 0, filter = 0, encode = 0, write = 0;
  double total = 0;  // the run, as zovcomp timed it
  double wall = 0;   // the whole command
  double cpu = 0;    // the process's CPU time (all threads) over the command
};

// CPU time of this process, all threads, user and system.
double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Runs zovcomp with --times; false when it failed or printed no stage line.
bool runOnce(std::vector<std::string> args, StageTimes& t, std::string& error) {
  args.insert(args.begin(), "zovcomp");
  args.insert(args.end(), {"-q", "--times"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const double cpu = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const int rc = zovcompMain(int(argv.size()), argv.data(), out, err, false);
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = processCpuSeconds() - cpu;
  if (rc != 0) {
    error = err.str();
    return false;
  }
  const std::string text = out.str();
  const size_t at = text.find("Stage times: ");
  if (at == std::string::npos ||
      std::sscanf(text.c_str() + at,
                  "Stage times: read %lf s, filter %lf s, encode %lf s, write %lf s, total %lf s",
                  &t.read, &t.filter, &t.encode, &t.write, &t.total) != 5) {
    error = "no stage times in: " + text;
    return false;
  }
  return true;
}

// The bare encoder on `clip` (only its calls timed, as encoder_bench times them): seconds, and
// the bytes of the frames.
double bareSeconds(bench::PresetKind preset, uint32_t threads, const bench::Clip& clip,
                   size_t& bytes, double& cpuSeconds) {
  CompressionSettings s = bench::runSettings(preset, threads);
  EncoderSetup setup{clip.width, clip.height, uint32_t(clip.pictures.size()), nullptr};
  StartEncoder(s, setup);
  std::vector<uint8_t> out(maxFrameBytes(clip.width, clip.height));
  const double cpu = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  bytes = bench::codeClip(s, clip, out, [](size_t, size_t) {});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cpuSeconds += processCpuSeconds() - cpu;
  EndEncoder(s);
  return seconds;
}

// The command's threads: one per core, as its default.
uint32_t commandThreads() {
  return std::clamp<uint32_t>(std::thread::hardware_concurrency(), 1, kMaxEncoderThreads);
}

struct Bare {
  bench::PresetKind preset;
};

// `threads` 0: one per core, as the command's default.
void compressClip(benchmark::State& state, const char* clip, uint32_t frames,
                  std::vector<std::string> extra, std::optional<Bare> bare = std::nullopt,
                  uint32_t threads = 0) {
  const std::string input = std::string(ZOV_TEST_DATA_DIR) + "/" + clip;
  const std::string output = (std::filesystem::temp_directory_path() /
                              ("zov-run-bench-" + std::to_string(getpid()) + ".avi"))
                                 .string();
  if (threads == 0) threads = commandThreads();
  std::vector<std::string> args = {"compress",  input,
                                   "-o",        output,
                                   "--last",    std::to_string(frames),
                                   "--threads", std::to_string(threads)};
  args.insert(args.end(), extra.begin(), extra.end());
  const bench::Clip* pictures = nullptr;
  if (bare) {
    pictures = &bench::footage(bench::kPan, 640, 480, int(frames));
    if (pictures->pictures.empty()) {
      state.SkipWithError("footage missing");
      return;
    }
  }
  StageTimes sum;
  double bareSum = 0, bareCpu = 0;
  size_t bareBytes = 0;
  for (auto _ : state) {
    StageTimes t;
    std::string error;
    if (!runOnce(args, t, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(t.wall);
    sum.read += t.read, sum.filter += t.filter, sum.encode += t.encode, sum.write += t.write;
    sum.total += t.total, sum.wall += t.wall, sum.cpu += t.cpu;
    if (bare) bareSum += bareSeconds(bare->preset, threads, *pictures, bareBytes, bareCpu);
  }
  // The command's frames must be what the bare encoder made: else the two did not code alike.
  if (bare && bareSum > 0) {
    int64_t bytes = 0;
    std::string error;
    if (auto movie = AviContainer::open(output, &error))
      for (uint32_t i = 0; i < movie->frameCount(); ++i) bytes += movie->frameSize(i);
    if (bytes != int64_t(bareBytes)) {
      state.SkipWithError(("the command's frames are " + std::to_string(bytes) +
                           " bytes, the bare encoder's " + std::to_string(bareBytes))
                              .c_str());
      bareSum = 0;
    }
  }
  std::filesystem::remove(output);
  const double n = double(state.iterations()) * frames;
  if (n == 0) return;
  state.counters["fps"] = n / sum.wall;
  // CPU time per frame over all threads: on a machine whose cores the coding fills, the
  // command can keep up with the bare encoder only as far as the reading's CPU fits beside it.
  state.counters["cpu_ms"] = 1000 * sum.cpu / n;
  state.counters["read_ms"] = 1000 * sum.read / n;
  state.counters["filter_ms"] = 1000 * sum.filter / n;
  state.counters["encode_ms"] = 1000 * sum.encode / n;
  state.counters["write_ms"] = 1000 * sum.write / n;
  // Opening the source, starting the encoder, reporting and the rest outside the four stages.
  state.counters["other_ms"] =
      1000 * (sum.wall - sum.read - sum.filter - sum.encode - sum.write) / n;
  if (bare && bareSum > 0) {
    state.counters["bare_fps"] = n / bareSum;
    state.counters["bare_cpu_ms"] = 1000 * bareCpu / n;
    state.counters["of_bare"] = bareSum / sum.wall;
  }
}

void BM_TeapotRgb24(benchmark::State& state) {
  compressClip(state, "teapot-256x256-rgb24.avi", 45, {});
}
void BM_TeapotRgb24MedianFilter(benchmark::State& state) {
  compressClip(state, "teapot-256x256-rgb24.avi", 45, {"--filter", "Smoothen: Median"});
}
// The pan cases take the encoder's threads as their argument (0: one per core). With one, the
// reading runs beside the encoder on a thread of its own; with one per core it has to find its
// time on cores the encoder keeps busy.
void BM_PanMjpegWithAudio(benchmark::State& state) {
  compressClip(state, "pan-640x480-mjpeg-pcm.avi", 60, {}, Bare{bench::kVideo},
               uint32_t(state.range(0)));
}
// The pan with FastCompression on, over `frames` frames.
void compressPanFast(benchmark::State& state, uint32_t frames) {
  // A settings file rather than --set: each --set goes through a scratch settings file written
  // key by key, which costs about half a second of the command on a slow disk.
  const std::string ini = (std::filesystem::temp_directory_path() /
                           ("zov-run-bench-" + std::to_string(getpid()) + ".ini"))
                              .string();
  std::ofstream(ini) << "[General]\nFastCompression=1\n";
  compressClip(state, "pan-640x480-mjpeg-pcm.avi", frames, {"--settings", ini}, Bare{bench::kFast},
               uint32_t(state.range(0)));
  std::filesystem::remove(ini);
}
void BM_PanMjpegWithAudioFast(benchmark::State& state) {
  compressPanFast(state, 60);
}
// The whole clip (150 frames): the start of the command (opening the source, setting up the
// encoder, the first frames) weighs less than in the 60 frames above, as in a longer movie.
void BM_PanMjpegWithAudioWhole(benchmark::State& state) {
  compressClip(state, "pan-640x480-mjpeg-pcm.avi", 150, {}, Bare{bench::kVideo},
               uint32_t(state.range(0)));
}
void BM_PanMjpegWithAudioWholeFast(benchmark::State& state) {
  compressPanFast(state, 150);
}

BENCHMARK(BM_TeapotRgb24)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TeapotRgb24MedianFilter)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
void panCase(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")->Arg(1)->Arg(0);
  b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
}
BENCHMARK(BM_PanMjpegWithAudio)->Apply(panCase);
BENCHMARK(BM_PanMjpegWithAudioFast)->Apply(panCase);
BENCHMARK(BM_PanMjpegWithAudioWhole)->Apply(panCase);
BENCHMARK(BM_PanMjpegWithAudioWholeFast)->Apply(panCase);

}  // namespace
}  // namespace zov
