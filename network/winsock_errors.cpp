#include "network/winsock_errors.h"

#include <netdb.h>

#include <cerrno>
#include <cstdio>

namespace zov::network {

const char* winsockErrorName(int e) {
  switch (e) {
    case EINTR:
      return "WSAEINTR";
    case EBADF:
      return "WSAEBADF";
    case EACCES:
      return "WSAEACCES";
    case EFAULT:
      return "WSAEFAULT";
    case EINVAL:
      return "WSAEINVAL";
    case EMFILE:
      return "WSAEMFILE";
    case EWOULDBLOCK:
      return "WSAEWOULDBLOCK";
    case EINPROGRESS:
      return "WSAEINPROGRESS";
    case EALREADY:
      return "WSAEALREADY";
    case ENOTSOCK:
      return "WSAENOTSOCK";
    case EDESTADDRREQ:
      return "WSAEDESTADDRREQ";
    case EMSGSIZE:
      return "WSAEMSGSIZE";
    case EPROTOTYPE:
      return "WSAEPROTOTYPE";
    case ENOPROTOOPT:
      return "WSAENOPROTOOPT";
    case EPROTONOSUPPORT:
      return "WSAEPROTONOSUPPORT";
    case ESOCKTNOSUPPORT:
      return "WSAESOCKTNOSUPPORT";
    case EOPNOTSUPP:
      return "WSAEOPNOTSUPP";
    case EPFNOSUPPORT:
      return "WSAEPFNOSUPPORT";
    case EAFNOSUPPORT:
      return "WSAEAFNOSUPPORT";
    case EADDRINUSE:
      return "WSAEADDRINUSE";
    case EADDRNOTAVAIL:
      return "WSAEADDRNOTAVAIL";
    case ENETDOWN:
      return "WSAENETDOWN";
    case ENETUNREACH:
      return "WSAENETUNREACH";
    case ENETRESET:
      return "WSAENETRESET";
    case ECONNABORTED:
      return "WSAECONNABORTED";
    case ECONNRESET:
      return "WSAECONNRESET";
    case ENOBUFS:
      return "WSAENOBUFS";
    case EISCONN:
      return "WSAEISCONN";
    case ENOTCONN:
      return "WSAENOTCONN";
    case ESHUTDOWN:
      return "WSAESHUTDOWN";
    case ETOOMANYREFS:
      return "WSAETOOMANYREFS";
    case ETIMEDOUT:
      return "WSAETIMEDOUT";
    case ECONNREFUSED:
      return "WSAECONNREFUSED";
    case ELOOP:
      return "WSAELOOP";
    case ENAMETOOLONG:
      return "WSAENAMETOOLONG";
    case EHOSTDOWN:
      return "WSAEHOSTDOWN";
    case EHOSTUNREACH:
      return "WSAEHOSTUNREACH";
    case ENOTEMPTY:
      return "WSAENOTEMPTY";
    case EUSERS:
      return "WSAEUSERS";
    case EDQUOT:
      return "WSAEDQUOT";
    case ESTALE:
      return "WSAESTALE";
    case EREMOTE:
      return "WSAEREMOTE";
    case EPIPE:
      return "WSAECONNRESET";  // a write to a connection the peer closed
    case kHostNotFound:
      return "WSAHOST_NOT_FOUND";
    case kTryAgain:
      return "WSATRY_AGAIN";
    case kNoRecovery:
      return "WSANO_RECOVERY";
    case kNoData:
      return "WSANO_DATA";
    default:
      return "";
  }
}

std::string winsockErrorText(const std::string& step, int error) {
  std::string text = step + " Error: ";
  const char* name = winsockErrorName(error);
  if (*name) {
    char padded[32];
    std::snprintf(padded, sizeof padded, "%-18s", name);
    return text + padded;
  }
  return text + "WSAGetLastError returned " + std::to_string(error);
}

int resolverError(int gai) {
  switch (gai) {
    case EAI_AGAIN:
      return kTryAgain;
    case EAI_FAIL:
      return kNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kNoData;
#endif
    case EAI_SYSTEM:
      return errno;
    default:
      return kHostNotFound;
  }
}

}  // namespace zov::network
