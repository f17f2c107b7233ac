// Internationalised names; see idn.h.
#include "app/lookup/idn.h"

#include <dlfcn.h>
#include <idn2.h>

#include <memory>

namespace quillon {
namespace {

constexpr size_t kMaxLabel = 63;
constexpr size_t kMaxName = 253;
// A typed name longer than this is refused before it reaches the library.
constexpr size_t kMaxTypedName = 1024;

bool IsLetterDigitHyphen(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// libidn2 is loaded the first time a name needs it, not linked: a program
// that links nothing else needing it then maps neither it nor the
// libunistring it pulls in at start-up (about a millisecond a run), and
// ASCII names, which need no conversion, never load it. Where it cannot be
// loaded, international names are refused and ASCII names work as ever.
class TIdn2Library {
 public:
  static const TIdn2Library& Instance() {
    static const TIdn2Library library;  // loaded once, thread-safe
    return library;
  }
  TIdn2Library(const TIdn2Library&) = delete;
  TIdn2Library& operator=(const TIdn2Library&) = delete;
  // The library stays loaded until the process ends: a worker that the
  // program does not wait for at exit may still be converting a name.
  ~TIdn2Library() = default;

  bool Loaded() const { return Lookup != nullptr && Free != nullptr; }
  decltype(&idn2_lookup_u8) Lookup = nullptr;
  decltype(&idn2_free) Free = nullptr;

 private:
  TIdn2Library() {
    void* handle = ::dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    Lookup = reinterpret_cast<decltype(Lookup)>(::dlsym(handle, "idn2_lookup_u8"));
    Free = reinterpret_cast<decltype(Free)>(::dlsym(handle, "idn2_free"));
  }
};

struct Idn2Free {
  void operator()(char* p) const { TIdn2Library::Instance().Free(p); }
};

// libidn2 drops some ASCII characters that host names cannot hold (a blank
// inside a label vanishes), which would quietly ask for another name; so the
// ASCII part of a name is checked here against the host-name rules first.
void CheckAsciiPart(std::string_view name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) continue;
    if (!IsLetterDigitHyphen(c) && c != '.')
      throw EIdnNameRefused("Caractère interdit dans le nom");
  }
}

// The result must be a host name of letters, digits, hyphens and dots, with
// labels of at most 63 bytes and at most 253 bytes in all (a final dot apart).
void CheckResult(std::string_view wire) {
  std::string_view name = wire;
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.size() > kMaxName) throw EIdnNameRefused("Nom trop long");
  size_t label = 0;
  for (const char c : name) {
    if (c == '.') {
      label = 0;
      continue;
    }
    if (!IsLetterDigitHyphen(c)) throw EIdnNameRefused("Caractère interdit dans le nom");
    if (++label > kMaxLabel) throw EIdnNameRefused("Étiquette trop longue");
  }
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool IsAsciiName(std::string_view name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string ToWireName(std::string_view name) {
  if (IsAsciiName(name)) return std::string(name);
  const std::string typed(TrimBlanks(name));
  if (typed.size() > kMaxTypedName) throw EIdnNameRefused("Nom trop long");
  CheckAsciiPart(typed);
  const TIdn2Library& idn2 = TIdn2Library::Instance();
  if (!idn2.Loaded()) throw EIdnNameRefused("Bibliothèque libidn2 introuvable");
  char* raw = nullptr;
  const int rc = idn2.Lookup(reinterpret_cast<const uint8_t*>(typed.c_str()),
                             reinterpret_cast<uint8_t**>(&raw),
                             IDN2_NONTRANSITIONAL | IDN2_USE_STD3_ASCII_RULES);
  const std::unique_ptr<char, Idn2Free> converted(raw);
  if (rc != IDN2_OK || !converted) throw EIdnNameRefused("Nom international refusé");
  std::string wire(converted.get());
  CheckResult(wire);
  return wire;
}

}  // namespace quillon
