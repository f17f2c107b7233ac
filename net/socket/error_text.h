// Start-up and release of the socket library, the guard that refuses socket
// calls outside that window, and the French texts of socket error numbers.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// What the start-up reports about the library (kept for callers that show it).
struct TWSAData {
  uint16_t wVersion = 0;
  uint16_t wHighVersion = 0;
  std::string szDescription;
};

// Starts the socket library once per load: a later call while it is started
// answers 0 and does nothing else. Raises EIdWS2StubError when it cannot load.
int StartSocketLibrary(uint16_t requestedVersion, TWSAData& data);
// Releases the library (once, whoever calls): later socket calls raise.
void UnloadSocketLibrary();
bool SocketLibraryLoaded();
// Unloads the library when it goes out of scope. A program keeps one as the
// first object of main, so the library is released as the program ends,
// after every component has gone.
class TSocketLibraryRelease {
 public:
  TSocketLibraryRelease() = default;
  TSocketLibraryRelease(const TSocketLibraryRelease&) = delete;
  TSocketLibraryRelease& operator=(const TSocketLibraryRelease&) = delete;
  ~TSocketLibraryRelease() { UnloadSocketLibrary(); }
};
// Raises EIdWS2StubError naming `function` unless the library is started.
void RequireSocketLibrary(const char* function);

// The French text of a socket error number, empty for an unknown number.
const char* SocketErrorTextOf(int code);
// "Erreur de socket # <code>\r\n<text>".
std::string SocketErrorMessage(int code);
// The system's own description of an error number.
std::string SystemErrorText(int code);

}  // namespace quillon
