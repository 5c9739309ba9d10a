// The port checks: whether a port number is usable and free on this machine (and, with IIS, not
// bound to a web site), over the ports the package lists in OV_Port.
#pragma once
#include <cstdint>
#include <optional>
#include "MsiHelper.h"

namespace Msi {

// True when a TCP socket can be bound to 0.0.0.0 on the port; false when the port is in use
// (WSAEADDRINUSE) or refused (WSAEACCES). Raises "ERR_WSA_STARTUP_FAILED",
// "ERR_CANNOT_CREATE_SOCKET" or, for any other bind error, "ERR_OTHER_SOCKET_BIND_ERROR" with the
// code; Winsock is cleaned up on every path.
bool IsPortFree(uint16_t port);

// A port text read as the C library's unsigned conversion would: StrictInteger's rules, with a
// leading minus accepted and wrapped modulo 2^32.
std::optional<uint32_t> StrictUnsignedPort(const CUnicodeString& text);

}  // namespace Msi
