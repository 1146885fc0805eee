#include "gstreamer/zov_video_decoder.h"

#include <gst/video/video.h>

#include <string>

#include "gstreamer/stream_lookup.h"
#include "zov/zovdec.h"

GST_DEBUG_CATEGORY_STATIC(gst_zov_dec_debug);
#define GST_CAT_DEFAULT gst_zov_dec_debug

struct _GstZovDec {
  GstVideoDecoder parent;
  ZOVDecoder* decoder;
  int pixelFormat;       // the ZOVDecPixelFormat matching the negotiated output
  gboolean waiting;      // frames are dropped until the next key frame
  gboolean warned;       // the current wait has been reported on the bus
  gboolean afterDamage;  // the current wait follows a damaged frame
};

G_DEFINE_TYPE(GstZovDec, gst_zov_dec, GST_TYPE_VIDEO_DECODER)

namespace {

// avidemux gives ZOV streams as unknown AVI video with the stream's format word as the FourCC:
// 'v','1' or 'v','2' in its upper 16 bits, the scheme and stream flags below.
#define ZOV_SINK_CAPS                                                       \
  "video/x-avi-unknown, fourcc = (int) [ 829816832, 829882367 ]; " /* v1 */ \
  "video/x-avi-unknown, fourcc = (int) [ 846594048, 846659583 ]"   /* v2 */

// Output formats in the order the element prefers them when downstream takes any.
#define ZOV_SRC_FORMATS "{ BGRx, RGBx, RGB, BGR, RGB16, RGB15 }"

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(ZOV_SINK_CAPS));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) " ZOV_SRC_FORMATS
                    ", width = (int) [ 1, 640 ], height = (int) [ 1, 960 ], "
                    "framerate = (fraction) [ 0/1, MAX ]"));

struct FormatPair {
  GstVideoFormat gst;
  int zov;
};
constexpr FormatPair kFormats[] = {
    {GST_VIDEO_FORMAT_BGRx, ZOVDEC_BGRX32},  {GST_VIDEO_FORMAT_RGBx, ZOVDEC_RGBX32},
    {GST_VIDEO_FORMAT_RGB, ZOVDEC_RGB24},    {GST_VIDEO_FORMAT_BGR, ZOVDEC_BGR24},
    {GST_VIDEO_FORMAT_RGB16, ZOVDEC_RGB565}, {GST_VIDEO_FORMAT_RGB15, ZOVDEC_RGB555},
};

int zovFormatOf(GstVideoFormat f) {
  for (const FormatPair& p : kFormats)
    if (p.gst == f) return p.zov;
  return -1;
}

// The first format downstream lists (its preference), or BGRx when it takes anything.
GstVideoFormat chooseFormat(GstZovDec* self) {
  GstCaps* allowed = gst_pad_get_allowed_caps(GST_VIDEO_DECODER_SRC_PAD(self));
  GstVideoFormat chosen = GST_VIDEO_FORMAT_BGRx;
  if (allowed && !gst_caps_is_empty(allowed) && !gst_caps_is_any(allowed)) {
    const GValue* v = gst_structure_get_value(gst_caps_get_structure(allowed, 0), "format");
    if (v && GST_VALUE_HOLDS_LIST(v) && gst_value_list_get_size(v) > 0)
      v = gst_value_list_get_value(v, 0);
    if (v && G_VALUE_HOLDS_STRING(v)) {
      GstVideoFormat f = gst_video_format_from_string(g_value_get_string(v));
      if (zovFormatOf(f) >= 0) chosen = f;
    }
  }
  if (allowed) gst_caps_unref(allowed);
  return chosen;
}

void closeDecoder(GstZovDec* self) {
  ZOVDecDestroy(self->decoder);
  self->decoder = nullptr;
}

void startWaiting(GstZovDec* self, gboolean afterDamage) {
  self->waiting = TRUE;
  self->warned = FALSE;
  self->afterDamage = afterDamage;
}

gboolean setFormat(GstVideoDecoder* dec, GstVideoCodecState* state) {
  GstZovDec* self = GST_ZOV_DEC(dec);
  const GstStructure* s = gst_caps_get_structure(state->caps, 0);
  int fourcc = 0;
  if (!gst_structure_get_int(s, "fourcc", &fourcc)) return FALSE;
  const uint32_t formatWord = uint32_t(fourcc);
  zov::gst::StreamGeometry g;
  // A producer that knows the size may put it in the caps; avidemux does not.
  if (!gst_structure_get_int(s, "width", &g.width) ||
      !gst_structure_get_int(s, "height", &g.height)) {
    std::string error;
    if (!zov::gst::lookUpStream(GST_VIDEO_DECODER_SINK_PAD(dec), formatWord, g, error)) {
      GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The picture size of the ZOV stream is unknown."),
                        ("%s", error.c_str()));
      return FALSE;
    }
  }
  gst_structure_get_fraction(s, "framerate", &g.fpsNumerator, &g.fpsDenominator);

  closeDecoder(self);
  const int r = ZOVDecCreate(formatWord, g.width, g.height, &self->decoder);
  if (r != ZOVDEC_OK) {
    GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("This ZOV stream cannot be decoded."),
                      ("stream %dx%d, format word 0x%08X: %s", g.width, g.height, formatWord,
                       ZOVDecStatusText(r)));
    return FALSE;
  }
  int width = 0, height = 0;
  ZOVDecGetOutputSize(self->decoder, &width, &height);
  const GstVideoFormat format = chooseFormat(self);
  self->pixelFormat = zovFormatOf(format);
  GstVideoCodecState* out =
      gst_video_decoder_set_output_state(dec, format, guint(width), guint(height), state);
  if (g.fpsNumerator > 0) {
    GST_VIDEO_INFO_FPS_N(&out->info) = g.fpsNumerator;
    GST_VIDEO_INFO_FPS_D(&out->info) = g.fpsDenominator;
  }
  GST_VIDEO_INFO_PAR_N(&out->info) = 1;
  GST_VIDEO_INFO_PAR_D(&out->info) = 1;
  gst_video_codec_state_unref(out);
  GstTagList* tags = gst_tag_list_new(
      GST_TAG_VIDEO_CODEC, (formatWord >> 24) == '1' ? "ZOV1 video" : "ZOV2 video", nullptr);
  gst_video_decoder_merge_tags(dec, tags, GST_TAG_MERGE_REPLACE);
  gst_tag_list_unref(tags);
  startWaiting(self, FALSE);
  GST_DEBUG_OBJECT(self, "stream %dx%d, format word 0x%08X, output %s %dx%d", g.width, g.height,
                   formatWord, gst_video_format_to_string(format), width, height);
  return gst_video_decoder_negotiate(dec);
}

// A frame that cannot be shown: one warning per stretch of dropped frames, playback goes on.
GstFlowReturn dropWaiting(GstZovDec* self, GstVideoCodecFrame* frame, guint64 number) {
  if (!self->warned) {
    self->warned = TRUE;
    if (self->afterDamage)
      GST_ELEMENT_WARNING(
          self, STREAM, DECODE,
          ("Frames after a damaged ZOV frame are dropped until the next key frame."),
          ("frame %" G_GUINT64_FORMAT " dropped", number));
    else
      GST_ELEMENT_WARNING(self, STREAM, DECODE,
                          ("ZOV frames before the first key frame are dropped."),
                          ("frame %" G_GUINT64_FORMAT " dropped", number));
  }
  return gst_video_decoder_drop_frame(GST_VIDEO_DECODER(self), frame);
}

GstFlowReturn handleFrame(GstVideoDecoder* dec, GstVideoCodecFrame* frame) {
  GstZovDec* self = GST_ZOV_DEC(dec);
  if (!self->decoder) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (nullptr), ("no stream format before the data"));
    gst_video_codec_frame_unref(frame);
    return GST_FLOW_NOT_NEGOTIATED;
  }
  GstBuffer* in = frame->input_buffer;
  const guint64 number =
      GST_BUFFER_OFFSET_IS_VALID(in) ? GST_BUFFER_OFFSET(in) : frame->system_frame_number;
  GstMapInfo map;
  if (!gst_buffer_map(in, &map, GST_MAP_READ)) {
    GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot map the input buffer"));
    gst_video_codec_frame_unref(frame);
    return GST_FLOW_ERROR;
  }
  if (self->waiting && ZOVDecIsKeyFrame(map.data, map.size) != 1) {
    gst_buffer_unmap(in, &map);
    return dropWaiting(self, frame, number);
  }
  GstFlowReturn ret = gst_video_decoder_allocate_output_frame(dec, frame);
  if (ret != GST_FLOW_OK) {
    gst_buffer_unmap(in, &map);
    gst_video_decoder_drop_frame(dec, frame);
    return ret;
  }
  GstVideoCodecState* state = gst_video_decoder_get_output_state(dec);
  GstVideoFrame out;
  int r = ZOVDEC_ERR_INVALID_ARGUMENT;
  if (gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE)) {
    r = ZOVDecDecodeFrame(self->decoder, map.data, map.size, GST_VIDEO_FRAME_PLANE_DATA(&out, 0),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0), self->pixelFormat, 0);
    gst_video_frame_unmap(&out);
  }
  gst_video_codec_state_unref(state);
  gst_buffer_unmap(in, &map);
  switch (r) {
    case ZOVDEC_OK:
      self->waiting = FALSE;
      return gst_video_decoder_finish_frame(dec, frame);
    case ZOVDEC_NEED_KEY_FRAME:
      return dropWaiting(self, frame, number);
    case ZOVDEC_ERR_INVALID_DATA:
      GST_ELEMENT_WARNING(self, STREAM, DECODE, ("A ZOV frame is damaged."),
                          ("frame %" G_GUINT64_FORMAT ": %s; frames are dropped until the next "
                           "key frame",
                           number, ZOVDecStatusText(r)));
      startWaiting(self, TRUE);
      self->warned = TRUE;  // this warning covers the frames dropped after it
      return gst_video_decoder_drop_frame(dec, frame);
    default:
      GST_ELEMENT_ERROR(self, STREAM, DECODE, (nullptr),
                        ("frame %" G_GUINT64_FORMAT ": %s", number, ZOVDecStatusText(r)));
      gst_video_decoder_drop_frame(dec, frame);
      return GST_FLOW_ERROR;
  }
}

gboolean flush(GstVideoDecoder* dec) {
  GstZovDec* self = GST_ZOV_DEC(dec);
  if (self->decoder) ZOVDecReset(self->decoder);
  startWaiting(self, FALSE);
  return TRUE;
}

gboolean stop(GstVideoDecoder* dec) {
  closeDecoder(GST_ZOV_DEC(dec));
  return TRUE;
}

void finalize(GObject* object) {
  closeDecoder(GST_ZOV_DEC(object));
  G_OBJECT_CLASS(gst_zov_dec_parent_class)->finalize(object);
}

}  // namespace

static void gst_zov_dec_class_init(GstZovDecClass* klass) {
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* decoderClass = GST_VIDEO_DECODER_CLASS(klass);
  objectClass->finalize = finalize;
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
  gst_element_class_set_static_metadata(elementClass, "ZOV video decoder", "Codec/Decoder/Video",
                                        "Decodes ZOV1 and ZOV2 video into RGB pictures",
                                        "The ZOV developers");
  decoderClass->set_format = setFormat;
  decoderClass->handle_frame = handleFrame;
  decoderClass->flush = flush;
  decoderClass->stop = stop;
  GST_DEBUG_CATEGORY_INIT(gst_zov_dec_debug, "zovdec", 0, "ZOV video decoder");
}

static void gst_zov_dec_init(GstZovDec* self) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  // Each buffer from avidemux is one whole frame.
  gst_video_decoder_set_packetized(dec, TRUE);
  gst_video_decoder_set_needs_format(dec, TRUE);
  GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(dec));
  self->decoder = nullptr;
  self->pixelFormat = ZOVDEC_BGRX32;
  startWaiting(self, FALSE);
}
