// The least of HTTP authentication the header sets need: an authenticator
// with a parameter list ("Username", "Password"), the header value it gives
// and a reset; the one scheme built is Basic (RFC 7617).
#pragma once

#include <string>
#include <string_view>

#include "net/http/header_list.h"

namespace quillon {

std::string EncodeBase64(std::string_view bytes);

class TIdAuthentication {
 public:
  TIdAuthentication();
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;
  virtual ~TIdAuthentication() = default;

  // The value of the Authorization (or Proxy-Authorization) header.
  virtual std::string Authentication() = 0;
  // Forgets the progress of a multi-step exchange; the parameters stay.
  virtual void Reset() { CurrentStep = 0; }

  // Read untrimmed: blanks at the ends of a password are part of it.
  std::string Username() const { return RawParam("Username"); }
  std::string Password() const { return RawParam("Password"); }
  void SetUsername(std::string_view value) { Params.SetValueOf("Username", value); }
  void SetPassword(std::string_view value) { Params.SetValueOf("Password", value); }

  TIdHeaderList Params;
  int CurrentStep = 0;

 private:
  std::string RawParam(std::string_view name) const;
};

class TIdBasicAuthentication : public TIdAuthentication {
 public:
  // "Basic " + base64 of "user:password".
  std::string Authentication() override;
};

}  // namespace quillon
