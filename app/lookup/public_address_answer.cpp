// Reading a public-address answer; see public_address_answer.h.
#include "app/lookup/public_address_answer.h"

namespace quillon {

bool IsDottedIPv4(std::string_view text) {
  int parts = 0;
  while (true) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

std::optional<std::string> AddressFromText(std::string_view text) {
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
    text.remove_suffix(2);
  else if (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '\t'))
    text.remove_suffix(1);
  if (!IsDottedIPv4(text)) return std::nullopt;
  return std::string(text);
}

}  // namespace quillon
