// The few socket chores the relay and the benchmark share.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

// "a.b.c.d:port" into an IPv4 socket address.
inline bool ParseUdpAddress(const std::string& text, sockaddr_in* out) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
  if (port < 0 || port > 65535) return false;
  out->sin_port = htons(uint16_t(port));
  return inet_pton(AF_INET, text.substr(0, colon).c_str(), &out->sin_addr) == 1;
}

// As large as allowed: past the system's ceiling only with the privilege to force it.
inline void GrowSocketBuffer(int fd, int option, int bytes) {
  const int forced = option == SO_RCVBUF ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
  if (setsockopt(fd, SOL_SOCKET, forced, &bytes, sizeof bytes) != 0) setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes);
}

inline int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}
