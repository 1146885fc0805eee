// The site a user types for the network source: a host name, a dotted IPv4 address or an IPv6
// address, optionally with a port ("host:port", "[::1]:11541"). A bare IPv6 address ("::1",
// "fe80::1") has no port; a port must be written with brackets around such an address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zov::network {

struct SiteAddress {
  std::string host;
  uint16_t port = 0;
};

// Splits `site` into host and port (defaultPort when the site names none); nothing when the
// port is not a number in 1..65535 or the host is empty.
std::optional<SiteAddress> parseSite(const std::string& site, uint16_t defaultPort);

}  // namespace zov::network
