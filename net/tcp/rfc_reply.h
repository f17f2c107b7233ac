// A numbered reply of a line protocol ("250 OK", "250-first" ... "250 last"):
// the code as number and as text, and the text lines without their code.
#pragma once

#include <string>
#include <vector>

namespace quillon {

class TIdRFCReply {
 public:
  int NumericCode() const { return numericCode_; }
  const std::string& TextCode() const { return textCode_; }
  // A positive code also sets TextCode to its decimal text.
  void SetNumericCode(int code);
  // Also sets NumericCode to the text's value, 0 when it is not a number.
  void SetTextCode(const std::string& code);
  void Clear();
  // The lines joined by CR LF.
  std::string JoinedText() const;

  std::vector<std::string> Text;

 private:
  int numericCode_ = 0;
  std::string textCode_;
};

}  // namespace quillon
