#pragma once

#include <string>

namespace quatdepth {

// Whether a request's Host header names this server: the address it
// listens on (or "localhost" when that is a loopback address) and its
// port. A page that a foreign name was rebound to this address sends that
// foreign name and is refused. On a wildcard address (0.0.0.0, ::) any
// IP address is taken, since only names can be rebound.
bool hostNamesServer(const std::string &host, const std::string &listenAddress,
                     int port);

// The address in URL form: IPv6 in brackets, a wildcard as its loopback.
std::string urlHost(const std::string &listenAddress);

// Whether the address is one of this machine's loopback addresses.
bool isLoopbackAddress(const std::string &address);

// Whether the address is every address of the machine (0.0.0.0, ::).
bool isWildcardAddress(const std::string &address);

// The address to listen on as the user means it: an IPv4 address written
// as IPv6 (::ffff:0.0.0.0, ::ffff:127.0.0.1) is that IPv4 address, which
// is all such a socket serves.
std::string plainListenAddress(const std::string &address);

// ADDRESS:PORT as messages write it, IPv6 in brackets; a wildcard as it is.
std::string addressWithPort(const std::string &address, int port);

}  // namespace quatdepth
