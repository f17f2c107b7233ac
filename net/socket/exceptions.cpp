// Out-of-line parts of the exception tree.
#include "net/socket/exceptions.h"

namespace quillon {

EIdWS2StubError::EIdWS2StubError(int systemCode, std::string systemText, std::string baseText)
    : EIdException(systemCode != 0 ? baseText + ": " + systemText : baseText),
      SystemErrorCode(systemCode),
      SystemErrorText(std::move(systemText)),
      BaseText(std::move(baseText)) {}

}  // namespace quillon
