// The ZOV2 encoder: codes the pictures of one compression run into ZOV2 frames.
//
// A run calls StartEncoder once, EncodeFrame once per output frame (plus the extra final call
// in enhanced interframe mode, and once with CodingBackground for a background bitmap), and
// EndEncoder at the end, normally or not. The settings record carries both the settings and
// the encoder's state (EncoderState); the run sets KeyFrame, FinalCall and CodingBackground
// before each call and reads KeyFrame back.
//
// Every frame written decodes, with the frame decoder, to exactly the picture the encoder keeps
// as its reconstruction (the next frame is predicted from it); VerifyFrames checks that on
// every frame.
//
// The background bitmap (Chroma streams): call EncodeFrame once with CodingBackground set, the
// bitmap as input and KeyFrame 1, right before the first call that produces a frame (in
// enhanced mode that is the second call: the first only takes its picture in), and append its
// output and the 4-byte offset to that frame's chunk. The background call leaves FirstCall and
// the pictures held for enhanced mode alone; its reconstruction becomes the background.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "encoder/compression_settings.h"

namespace zov {

struct EncoderSetup {
  int width = 0;            // 80..640, a multiple of 4
  int height = 0;           // 60..480, a multiple of 4: the active area, without letterbox lines
  uint32_t frameCount = 0;  // frames the run will compress (enhanced mode needs more than one)
  // Background picture for chroma keying (15-bit, bottom-up, width x height). When null and
  // ChromaBackground names a file, StartEncoder loads that bitmap.
  const uint16_t* background = nullptr;
};

struct CompressParams {
  // The picture to code: 15-bit, bottom-up, width x height (the active area). Null on the
  // final call of enhanced mode.
  const uint16_t* input = nullptr;
  uint8_t* output = nullptr;  // receives the frame
  size_t outputCapacity = 0;
  size_t outputLength = 0;  // set by EncodeFrame: 0 = skipped by data-rate control
  // Optional: the picture the next call will most likely hand in. With more than one thread
  // the encoder takes it in while this frame is coded; the next call uses that work only when
  // its picture is the same, so a wrong guess costs time, never a different output.
  const uint16_t* next = nullptr;
};

// Derives the geometry, allocates every buffer (zero-filled) and sets EncoderStarted,
// FirstCall, KeyFrame and EnhancedInterframe. Returns false, with everything released and a
// message through EncoderMessages, for a size outside the limits or an unreadable background
// bitmap.
bool StartEncoder(CompressionSettings& s, const EncoderSetup& setup);

// Codes one frame. Returns false only for a fault (no encoder started, output buffer too
// small, or a verification failure, each reported through EncoderMessages).
bool EncodeFrame(CompressionSettings& s, CompressParams& p);

// Frees the buffers and clears EncoderStarted.
void EndEncoder(CompressionSettings& s);

// The stream format word of the run's ZOV2 stream (the encoder's flags: V4, Chroma or
// Chroma1st, WField, SField; scheme byte 0).
uint32_t streamFormatWord(const CompressionSettings& s, bool backgroundBitmap);

// Largest frame EncodeFrame can write for a picture of this size, for sizing output buffers.
size_t maxFrameBytes(int width, int height);

// The encoder's reconstruction of the last coded frame (coded lines only; null when none),
// and the background picture in use, for previews and tests.
const uint16_t* encoderReconstruction(const CompressionSettings& s);
const uint16_t* encoderBackground(const CompressionSettings& s);

}  // namespace zov
