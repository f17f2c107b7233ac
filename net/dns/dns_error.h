// The one exception of the DNS resolver and the texts it carries; every
// failure to build a query or to read a reply is reported through it.
#pragma once

#include <string>

#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdDnsResolverError, EIdException);

// A reply that ends before what its counts, lengths or pointers announce.
[[noreturn]] void RaiseMalformedReply();
// A name that cannot be written as a question (see EncodeQueryName).
[[noreturn]] void RaiseBadQueryName(const std::string& name);

}  // namespace quillon
