#include "explore/host_check.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quatdepth {
namespace {

bool isIpv4(const std::string &text) {
  in_addr address;
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIpv6(const std::string &text) {
  in6_addr address;
  return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// The same address, however it is spelt ("::1" and "0:0::1").
bool sameAddress(const std::string &a, const std::string &b) {
  in6_addr a6, b6;
  if (inet_pton(AF_INET6, a.c_str(), &a6) == 1 &&
      inet_pton(AF_INET6, b.c_str(), &b6) == 1)
    return std::equal(a6.s6_addr, a6.s6_addr + 16, b6.s6_addr);
  in_addr a4, b4;
  return inet_pton(AF_INET, a.c_str(), &a4) == 1 &&
         inet_pton(AF_INET, b.c_str(), &b4) == 1 && a4.s_addr == b4.s_addr;
}

std::string lowered(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool isLoopbackAddress(const std::string &address) {
  in_addr a4;
  if (inet_pton(AF_INET, address.c_str(), &a4) == 1)
    return (ntohl(a4.s_addr) >> 24) == 127;
  in6_addr a6;
  if (inet_pton(AF_INET6, address.c_str(), &a6) != 1) return false;
  // ::1, or 127.x.x.x mapped into IPv6 (::ffff:127.0.0.1).
  static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return sameAddress(address, "::1") ||
         (std::equal(mapped, mapped + 12, a6.s6_addr) && a6.s6_addr[12] == 127);
}

bool isWildcardAddress(const std::string &address) {
  return sameAddress(address, "0.0.0.0") || sameAddress(address, "::");
}

bool hostNamesServer(const std::string &host, const std::string &listenAddress,
                     int port) {
  // Host is NAME, NAME:PORT, [V6] or [V6]:PORT; no port means 80.
  std::string name = host, portText;
  bool hasPort = false;
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) return false;
    name = host.substr(1, close - 1);
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') return false;
      hasPort = true;
      portText = host.substr(close + 2);
    }
    if (!isIpv6(name)) return false;
  } else {
    const size_t colon = host.find(':');
    if (colon != std::string::npos) {
      hasPort = true;
      name = host.substr(0, colon);
      portText = host.substr(colon + 1);
    }
  }
  int hostPort = 80;
  if (hasPort) {
    const char *end = portText.data() + portText.size();
    const auto read = std::from_chars(portText.data(), end, hostPort);
    if (portText.empty() || read.ec != std::errc() || read.ptr != end)
      return false;
  }
  if (hostPort != port || name.empty()) return false;

  const bool wildcard = isWildcardAddress(listenAddress);
  if (lowered(name) == "localhost")
    return wildcard || isLoopbackAddress(listenAddress);
  if (wildcard) return isIpv4(name) || isIpv6(name);
  return sameAddress(name, listenAddress);
}

std::string urlHost(const std::string &listenAddress) {
  if (sameAddress(listenAddress, "0.0.0.0")) return "127.0.0.1";
  if (sameAddress(listenAddress, "::")) return "[::1]";
  return isIpv6(listenAddress) ? "[" + listenAddress + "]" : listenAddress;
}

std::string plainListenAddress(const std::string &address) {
  in6_addr a6;
  static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (inet_pton(AF_INET6, address.c_str(), &a6) != 1 ||
      !std::equal(mapped, mapped + 12, a6.s6_addr))
    return address;
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, a6.s6_addr + 12, text, sizeof text) ? text : address;
}

std::string addressWithPort(const std::string &address, int port) {
  return (isIpv6(address) ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace quatdepth
