// The few socket calls the test servers make, the same on every system (TestSocket_unix.cpp,
// TestSocket_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using TestSocket = std::intptr_t;
constexpr TestSocket kNoSocket = -1;

// Listens on 127.0.0.1 (port 0: one the system picks); the port it got goes to *boundPort.
TestSocket ListenOnLoopback(int port, int* boundPort, int backlog = 16);
// A connection attempt to 127.0.0.1:port, not waited for.
TestSocket StartConnecting(int port);
// The next connection; kNoSocket once StopListening was called.
TestSocket AcceptOn(TestSocket listener);
// Bytes received (0 at the end, negative on a failure).
long ReceiveFrom(TestSocket socket, char* buffer, std::size_t size);
bool SendAllTo(TestSocket socket, const std::string& bytes);
// The close that follows sends a reset instead of an orderly end.
void ResetOnClose(TestSocket socket);
// Wakes a thread waiting in AcceptOn; CloseListener once that thread is gone.
void StopListening(TestSocket listener);
void CloseListener(TestSocket listener);
// An orderly end of a connection (after ResetOnClose: a reset).
void CloseSocket(TestSocket socket);
