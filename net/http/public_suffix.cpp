#include "net/http/public_suffix.h"

#include <libpsl.h>

#include "net/socket/text_helpers.h"

namespace quillon {

bool IsPublicSuffix(const std::string& domain) {
  if (domain.empty()) return false;
  // The built-in list is read-only and shared: safe from any thread. The
  // implicit "*" rule would make every unknown top-level label a suffix,
  // which would refuse cookies of single-label local hosts.
  const psl_ctx_t* list = psl_builtin();
  if (list == nullptr) return false;
  return psl_is_public_suffix2(list, LowerCase(domain).c_str(),
                               PSL_TYPE_ANY | PSL_TYPE_NO_STAR_RULE) != 0;
}

}  // namespace quillon
