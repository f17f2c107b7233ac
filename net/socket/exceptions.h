// The exception tree of the network code. Every failure is an EIdException
// carrying a ready-made French message; subsystems derive their own classes
// with QUILLON_EXCEPTION next to the code that raises them.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace quillon {

class EIdException : public std::exception {
 public:
  explicit EIdException(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  const std::string& message() const noexcept { return Message; }

 protected:
  std::string Message;
};

// Declares `Name`, derived from `Base`, constructed from its message.
#define QUILLON_EXCEPTION(Name, Base)                                \
  class Name : public Base {                                         \
   public:                                                           \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

// The expected end of data and other failures that callers usually swallow.
QUILLON_EXCEPTION(EIdSilentException, EIdException);
QUILLON_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);

// Socket layer.
QUILLON_EXCEPTION(EIdInvalidSocket, EIdException);
QUILLON_EXCEPTION(EIdStackError, EIdException);
QUILLON_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
QUILLON_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
QUILLON_EXCEPTION(EIdInvalidServiceName, EIdException);
QUILLON_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);
QUILLON_EXCEPTION(EIdConvertError, EIdException);

QUILLON_EXCEPTION(EIdSocketHandleError, EIdException);
QUILLON_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
QUILLON_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
QUILLON_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
QUILLON_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
QUILLON_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);

// A failed socket call: the socket library's error code and its text.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, std::string message)
      : EIdException(std::move(message)), SocketErrorCode(code) {}
  int SocketErrorCode;
};

// A socket function called while the socket library is not started.
class EIdWS2StubError : public EIdException {
 public:
  EIdWS2StubError(int systemCode, std::string systemText, std::string baseText);
  int SystemErrorCode;
  std::string SystemErrorText;
  std::string BaseText;
};

}  // namespace quillon
