#include "net/tcp/rfc_reply.h"

#include "net/socket/text_helpers.h"

namespace quillon {

void TIdRFCReply::SetNumericCode(int code) {
  numericCode_ = code;
  if (code > 0) textCode_ = std::to_string(code);
}

void TIdRFCReply::SetTextCode(const std::string& code) {
  textCode_ = code;
  numericCode_ = StrToIntDef(code, 0);
}

void TIdRFCReply::Clear() {
  numericCode_ = 0;
  textCode_.clear();
  Text.clear();
}

std::string TIdRFCReply::JoinedText() const {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (i) out += "\r\n";
    out += Text[i];
  }
  return out;
}

}  // namespace quillon
