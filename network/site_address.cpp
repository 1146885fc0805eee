#include "network/site_address.h"

namespace zov::network {

namespace {

std::optional<uint16_t> portNumber(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned long value = std::stoul(text);
  if (value < 1 || value > 65535) return std::nullopt;
  return uint16_t(value);
}

}  // namespace

std::optional<SiteAddress> parseSite(const std::string& site, uint16_t defaultPort) {
  SiteAddress out;
  out.port = defaultPort;
  std::string portText;
  bool hasPort = false;
  if (!site.empty() && site.front() == '[') {
    const size_t close = site.find(']');
    if (close == std::string::npos) return std::nullopt;
    out.host = site.substr(1, close - 1);
    const std::string rest = site.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      hasPort = true;
    }
  } else if (const size_t colon = site.find(':'); colon == std::string::npos) {
    out.host = site;
  } else if (site.find(':', colon + 1) != std::string::npos) {
    out.host = site;  // more than one colon: an IPv6 address without a port
  } else {
    out.host = site.substr(0, colon);
    portText = site.substr(colon + 1);
    hasPort = true;
  }
  if (out.host.empty()) return std::nullopt;
  if (hasPort) {
    const auto port = portNumber(portText);
    if (!port) return std::nullopt;
    out.port = *port;
  }
  return out;
}

}  // namespace zov::network
