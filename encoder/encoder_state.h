// The encoder's run-time state, held in the compression settings record beside the settings.
// The compression run sets the request fields (KeyFrame, FinalCall, CodingBackground, the
// letterbox and rate fields) before each call; the encoder keeps the rest from call to call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zov {

struct EncoderBuffers;  // geometry, pictures, maps, lists and symbol stream of one run

// Owns the per-run buffers. A copy of a settings record never shares or owns the buffers of
// the original's run: copying yields an empty handle, so editing a copy of the settings (the
// configuration dialog's working copy) cannot free a running encoder's memory.
class EncoderBuffersHandle {
 public:
  EncoderBuffersHandle();
  ~EncoderBuffersHandle();
  EncoderBuffersHandle(const EncoderBuffersHandle&);
  EncoderBuffersHandle& operator=(const EncoderBuffersHandle&);
  EncoderBuffersHandle(EncoderBuffersHandle&&) noexcept;
  EncoderBuffersHandle& operator=(EncoderBuffersHandle&&) noexcept;

  EncoderBuffers* get() const { return p_.get(); }
  void reset(EncoderBuffers* p = nullptr);
  explicit operator bool() const { return p_ != nullptr; }

 private:
  std::unique_ptr<EncoderBuffers> p_;
};

// Receives the encoder's messages ("Number of Rle blocks exceeded 255", verification
// failures); the compressor shows them in a message box captioned "Compressor".
using EncoderMessageSink = std::function<void(const std::string& text)>;

struct EncoderState {
  bool EncoderStarted = false;      // the buffers exist
  bool FirstCall = false;           // set by StartEncoder, cleared after the first call
  bool EnhancedInterframe = false;  // the encoder codes each picture one call late
  bool FinalCall = false;           // enhanced mode: the extra call without a picture
  uint8_t KeyFrame = 0;             // requested by the run, as coded on return
  uint32_t KeyCountdown = 0;        // frames to the next periodic key frame; 0 = no interframes
  uint32_t IncreaseKeyRateBudget = 0;
  bool LossyActive = false;  // Lossy, CompressionType not 0 and FastCompression off
  bool LetterboxPresent = false;
  uint32_t LetterboxTopLines = 0;
  uint32_t LetterboxBottomLines = 0;
  bool CaptureBackground = false;  // take the next coded picture as the chroma background
  bool CodingBackground = false;   // this call codes the background bitmap itself
  uint32_t FrameRate = 0;          // output stream rate and scale, for the data-rate budget
  uint32_t FrameScale = 1;
  int64_t FrameBudget = 0;  // bytes per frame allowed by DataRate
  int64_t RateDebt = 0;     // bytes written beyond the budget, decaying by a quarter a frame

  // Not part of the original record: a sink for the encoder's messages (none: dropped), and
  // the verification switch, which decodes every frame just written with the frame decoder and
  // fails the call when the picture differs from the encoder's reconstruction.
  EncoderMessageSink EncoderMessages;
  bool VerifyFrames = false;

  EncoderBuffersHandle Buffers;  // allocated by StartEncoder, freed by EndEncoder
};

}  // namespace zov
