// Public suffixes; see public_suffix.h.
#include "net/http/public_suffix.h"

#include <dlfcn.h>
#include <libpsl.h>

#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

// libpsl is loaded the first time a domain is checked, which only a cookie
// whose Domain attribute names a domain wider than its host asks for. Linked
// in, it and the libidn2 and libunistring it needs would be mapped and
// relocated at every start of every program over the HTTP client, whatever
// the program then does.
class TPslLibrary {
 public:
  static const TPslLibrary& Instance() {
    static const TPslLibrary library;  // loaded once, thread-safe
    return library;
  }
  TPslLibrary(const TPslLibrary&) = delete;
  TPslLibrary& operator=(const TPslLibrary&) = delete;
  // The library stays loaded until the process ends: another thread may be
  // checking a domain while the program exits.
  ~TPslLibrary() = default;

  // The built-in list, or none when the library cannot be loaded or has no
  // list compiled in.
  const psl_ctx_t* List = nullptr;
  decltype(&psl_is_public_suffix2) IsSuffix = nullptr;

 private:
  TPslLibrary() {
    void* handle = ::dlopen(kPublicSuffixLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    const auto builtin = reinterpret_cast<decltype(&psl_builtin)>(::dlsym(handle, "psl_builtin"));
    IsSuffix = reinterpret_cast<decltype(IsSuffix)>(::dlsym(handle, "psl_is_public_suffix2"));
    // The built-in list is read-only and shared: safe from any thread.
    if (builtin != nullptr && IsSuffix != nullptr) List = builtin();
  }
};

}  // namespace

bool IsPublicSuffix(const std::string& domain) {
  if (domain.empty()) return false;
  const TPslLibrary& psl = TPslLibrary::Instance();
  // Without the list nothing can be shown not to be a suffix.
  if (psl.List == nullptr) return true;
  // The implicit "*" rule would make every unknown top-level label a suffix,
  // which would refuse cookies of single-label local hosts.
  return psl.IsSuffix(psl.List, LowerCase(domain).c_str(), PSL_TYPE_ANY | PSL_TYPE_NO_STAR_RULE) !=
         0;
}

}  // namespace quillon
