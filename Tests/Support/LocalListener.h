// A TCP listener on a port the system chose, for tests of port checks and connection checks: the
// port reads as busy, and accepts connections on 127.0.0.1, while the object lives. An exclusive
// listener (SO_EXCLUSIVEADDRUSE) makes a plain bind to its port fail with WSAEACCES instead of
// WSAEADDRINUSE (also under Wine).
#pragma once

#include <winsock2.h>

#include "UnicodeString.h"

namespace TestSupport {

class CListener {
 public:
  explicit CListener(ULONG address = INADDR_ANY, bool exclusive = false) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const BOOL on = TRUE;
    if (exclusive)
      ::setsockopt(m_socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(address);
    int size = sizeof where;
    ::bind(m_socket, reinterpret_cast<sockaddr*>(&where), size);
    ::listen(m_socket, 8);
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&where), &size);
    m_port = ntohs(where.sin_port);
  }
  ~CListener() {
    ::closesocket(m_socket);
    ::WSACleanup();
  }
  CListener(const CListener&) = delete;
  CListener& operator=(const CListener&) = delete;
  uint16_t Port() const noexcept { return m_port; }
  Vrn::CUnicodeString Text() const { return Vrn::CUnicodeString::FromInt(m_port); }

 private:
  SOCKET m_socket = INVALID_SOCKET;
  uint16_t m_port = 0;
};

}  // namespace TestSupport
