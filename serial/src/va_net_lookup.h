// The name look-up both socket layers share: getaddrinfo on a thread of its
// own, given up after a time limit. Included after the platform's socket
// headers (<netdb.h>, or <winsock2.h> and <ws2tcpip.h>), which declare it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "va_net_socket.h"

namespace va::platform::net {

struct NameLookup {
  int result = 0;  // getaddrinfo's
  int error = 0;   // errno after it (POSIX's EAI_SYSTEM)
  std::shared_ptr<addrinfo> list;
};

// Says in `failure` why getaddrinfo failed: each platform's codes.
void TellLookupFailure(const std::string& host, const NameLookup& lookup, ConnectFailure& failure);

// The host's TCP addresses, looked up on a thread of their own within
// `limit_ms`; null when there are none, with the reason in `failure`.
inline std::shared_ptr<addrinfo> Resolve(const std::string& host, const std::string& port, uint32_t limit_ms,
                                         ConnectFailure& failure) {
  NameLookup lookup;
  const bool answered = RunWithin<NameLookup>(
      limit_ms,
      [host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* list = nullptr;
        NameLookup l;
        l.result = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
        l.error = errno;
        if (list) l.list.reset(list, freeaddrinfo);
        return l;
      },
      lookup);
  if (!answered) {
    failure.host_not_found = NoNameAnswer(host, limit_ms);
    return nullptr;
  }
  if (lookup.result != 0) {
    TellLookupFailure(host, lookup, failure);
    return nullptr;
  }
  return lookup.list;
}

}  // namespace va::platform::net
