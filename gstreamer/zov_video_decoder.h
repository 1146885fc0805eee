// The zovdec element: a GstVideoDecoder for the ZOV1/ZOV2 video streams avidemux hands out,
// decoding through libzovdec into raw RGB video.
#pragma once

#include <gst/video/gstvideodecoder.h>

G_BEGIN_DECLS

#define GST_TYPE_ZOV_DEC (gst_zov_dec_get_type())
G_DECLARE_FINAL_TYPE(GstZovDec, gst_zov_dec, GST, ZOV_DEC, GstVideoDecoder)

G_END_DECLS
