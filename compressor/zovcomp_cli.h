// The compressor's command line: "zovcomp compress INPUT -o OUTPUT [options]".
//
// It opens the source (an AVI or YUV4MPEG2 file, "-" for YUV4MPEG2 on standard input, or an
// edit-list file), applies the extraction values and the settings given, checks them with the
// same rules as the configuration dialog, runs a compression and reports progress.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <array>

#include "encoder/avi_writer.h"
#include "encoder/compression_settings.h"

namespace zov {

// The presets of the "Compression Defaults" question: "Video", "Smoke/Clouds/Rain",
// "Animation". Lossy follows ImageLossLevel; the field switches are cleared.
enum class CompressionPreset { Video, SmokeCloudsRain, Animation };
std::optional<CompressionPreset> parsePreset(std::string_view name);
void applyPreset(CompressionPreset preset, CompressionSettings& settings,
                 CompressorOptions& options);

// A filter argument: a kind name ("Smoothen: Median", or its last word "Median"), or
// KIND:LEVEL where KIND is a name or a kind number 0..8 and LEVEL is the level as the list
// shows it ("1.05" for hundredths).
std::optional<FilterEntry> parseFilterArgument(std::string_view text, std::string* error);

// A "compress" command as parsed: the files, the run mode, the settings and options resolved as
// the run uses them (settings file, presets, --set pairs and filters applied in order), and the
// extraction values given (single source; frames 1-based).
struct CompressCommand {
  std::string input, output, audio;
  RunMode mode = RunMode::Compress;
  CompressionSettings settings;
  CompressorOptions options;
  std::optional<uint32_t> first, last;
  std::optional<std::array<uint32_t, 4>> crop;  // left, top, width, height
  std::optional<std::array<uint32_t, 2>> letterbox, resize;
  std::optional<bool> interpolate;
  std::optional<uint32_t> strip;
};
// Parses the arguments after "compress"; false (after a message on `err`) for a usage error or
// settings that can't be read.
bool parseCompressCommand(const std::vector<std::string>& args, CompressCommand& command,
                          std::ostream& err);

// Runs the command line; returns the exit status. `terminal` selects the progress bar.
int zovcompMain(int argc, char** argv, std::ostream& out, std::ostream& err, bool terminal);

std::string zovcompUsage();

}  // namespace zov
