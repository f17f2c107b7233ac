// Reading the head of an HTTP response from untrusted bytes: the status code
// of the status line, the bounds of the header block, how the body is framed
// (RFC 9112 section 6.3) and chunk sizes (section 7.1), each with overflow and
// size checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http/header_list.h"
#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdHTTPHeaderTooLarge, EIdException);
QUILLON_EXCEPTION(EIdHTTPInvalidChunkSize, EIdException);
QUILLON_EXCEPTION(EIdHTTPInvalidFraming, EIdException);

namespace msg {
inline constexpr const char* kHeaderTooLarge =
    "En-tête de réponse HTTP trop grand : plus de 10000 lignes ou 1048576 octets.";
// Followed by the line in double quotes (at most 64 bytes of it).
inline constexpr const char* kInvalidChunkSize = "Taille de bloc HTTP incorrecte : ";
// Followed by what is wrong.
inline constexpr const char* kInvalidFraming = "Délimitation du corps de réponse HTTP incorrecte : ";
}  // namespace msg

// The version token, then the code up to the next blank; -1 when it is not a
// number ('HTTP/1.1 200 OK' gives 200).
int32_t StatusCodeOf(const std::string& statusLine);

// A chunk-size line: hexadecimal digits, optionally followed by blanks or a
// ";" extension. Raises EIdHTTPInvalidChunkSize on anything else or a size
// beyond 2^62.
int64_t ParseChunkSize(const std::string& line);

// How the body of a response that has one ends.
enum class TIdBodyFraming { Length, Chunked, UntilClose };

struct TIdResponseFraming {
  TIdBodyFraming Kind = TIdBodyFraming::UntilClose;
  int64_t Length = 0;       // for TIdBodyFraming::Length
  bool CloseAfter = false;  // the connection cannot carry another exchange
};

// The framing the header lines give (RFC 9112 section 6.3): Transfer-Encoding
// whose final coding is "chunked" (once) is chunked; any other
// Transfer-Encoding is read until the server closes; Transfer-Encoding beside
// Content-Length wins but the connection is not reused. Otherwise
// Content-Length, which must be digits only, its repeats (lines or list
// items) all the same; without either, until close. Raises
// EIdHTTPInvalidFraming for a framing that cannot be trusted.
TIdResponseFraming FramingOf(const TIdHeaderList& headers);

// The longest chunk-size line accepted (extensions included).
constexpr int kMaxChunkSizeLine = 4096;

// Counts the lines of a response head (status lines and headers of interim
// responses included) and raises once it grows past its bounds.
class TIdHeadLimit {
 public:
  static constexpr size_t MaxLines = 10000;
  static constexpr size_t MaxBytes = 1 << 20;

  void Count(size_t lineBytes);
  void Reset() { lines_ = bytes_ = 0; }

 private:
  size_t lines_ = 0;
  size_t bytes_ = 0;
};

}  // namespace quillon
