#include "gstreamer/stream_lookup.h"

#include <memory>

#include "media/avi_container.h"

namespace zov::gst {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The local file upstream reads, or "" (with the reason in `error`).
std::string upstreamFile(GstPad* sinkPad, std::string& error) {
  GstQuery* query = gst_query_new_uri();
  gchar* uri = nullptr;
  if (gst_pad_peer_query(sinkPad, query)) gst_query_parse_uri(query, &uri);
  gst_query_unref(query);
  if (!uri) {
    error = "the source element does not say where the data come from";
    return "";
  }
  gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
  std::string result = path ? path : "";
  if (!path) error = std::string("the data come from ") + uri + ", not from a local file";
  g_free(path);
  g_free(uri);
  return result;
}

}  // namespace

bool lookUpStream(GstPad* sinkPad, uint32_t formatWord, StreamGeometry& g, std::string& error) {
  const std::string path = upstreamFile(sinkPad, error);
  if (path.empty()) return false;
  std::string why;
  std::unique_ptr<AviContainer> avi = AviContainer::open(path, &why);
  if (!avi) {
    error = path + ": " + why;
    return false;
  }
  const std::vector<uint8_t>& format = avi->videoFormat();
  if (!avi->hasVideo() || format.size() < 20 || le32(&format[16]) != formatWord) {
    error = path + ": no video stream with the format word of the stream being decoded";
    return false;
  }
  g.width = int(int32_t(le32(&format[4])));
  g.height = int(int32_t(le32(&format[8])));
  const AviStreamHeader& h = avi->videoHeader();
  if (h.rate > 0 && h.scale > 0 && h.rate <= uint32_t(G_MAXINT) && h.scale <= uint32_t(G_MAXINT)) {
    g.fpsNumerator = int(h.rate);
    g.fpsDenominator = int(h.scale);
  }
  return true;
}

}  // namespace zov::gst
