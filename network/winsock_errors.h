// Socket errors under the Winsock names that the network source's boxes show.
#pragma once

#include <string>

namespace zov::network {

// The Winsock name of an errno value ("WSAECONNREFUSED"), empty when there is none.
const char* winsockErrorName(int error);
// The box text for a failed socket step: "connect Error: WSAECONNREFUSED   " (the name padded
// to 18 characters), or "... Error: WSAGetLastError returned 123" for an unnamed code.
std::string winsockErrorText(const std::string& step, int error);

// getaddrinfo results mapped to the Winsock resolver errors, as negative pseudo-errno values
// that winsockErrorName knows.
inline constexpr int kHostNotFound = -11001;
inline constexpr int kTryAgain = -11002;
inline constexpr int kNoRecovery = -11003;
inline constexpr int kNoData = -11004;
int resolverError(int gaiError);

}  // namespace zov::network
