// libgstzov: the GStreamer plugin that lets every GStreamer player show ZOV movies.
#include <gst/gst.h>

#include "gstreamer/zov_video_decoder.h"

namespace {

gboolean pluginInit(GstPlugin* plugin) {
  // Primary rank: decodebin and playbin pick the element by themselves.
  return gst_element_register(plugin, "zovdec", GST_RANK_PRIMARY, GST_TYPE_ZOV_DEC);
}

}  // namespace

#define PACKAGE "zov"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zov, "ZOV1/ZOV2 video decoding", pluginInit,
                  ZOV_VERSION, "MIT/X11", "ZOV", "Unknown package origin")
