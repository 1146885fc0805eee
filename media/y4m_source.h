// YUV4MPEG2 streams as compressor sources, so that any other tool can pipe frames in.
//
// A file is read in any order. Standard input ("-") is a streamed source (media_file.h): its
// frames are coded as they arrive and only the few still in reach are kept; it can be opened
// once per process. Either appears as one video stream of planar
// YUV frames (I420 for every 4:2:0 variant, Y42B, 444P, Y800) at the header's frame rate. An
// optional WAV file gives PCM audio.
#pragma once

#include <memory>
#include <string>

#include "media/media_file.h"

namespace zov {

std::unique_ptr<MediaFile> openYuv4Mpeg(const std::string& path, const std::string& wavPath,
                                        std::string* error);

}  // namespace zov
