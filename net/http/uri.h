// A URL split into its parts (protocol, user information, host, port, path,
// document, query and fragment) and composed back. No percent-coding is done:
// every part is kept and sent exactly as written.
#pragma once

#include <string>

#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdURIException, EIdException);

class TIdURI {
 public:
  TIdURI() = default;
  explicit TIdURI(const std::string& uri);

  // Replaces every part with those of `uri`; never fails.
  void ParseUri(const std::string& uri);
  // Raises EIdURIException when the protocol or the host is empty.
  std::string ComposeUri(bool withUserInfo, bool withBookmark) const;
  // Keeps the full form in URI and returns the form without user
  // information and fragment.
  std::string PlainUri();

  std::string URI;  // the text last parsed or composed
  std::string Protocol;
  std::string Username;
  std::string Password;
  std::string Host;      // an IPv6 literal keeps its brackets: "[2001:db8::1]"
  std::string Port;
  std::string Path;      // directory part, "/" at both ends in the absolute form
  std::string Document;  // last path segment
  std::string Params;    // query with its leading "?"
  std::string Bookmark;  // fragment without the "#"
};

// The host to connect to: an IPv6 literal without its brackets.
std::string UnbracketedHost(const std::string& host);

}  // namespace quillon
