// The names the buttons were pressed with, most recent first, at most 50,
// kept in quillon.conf's [history] section for the edit box's completer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

inline constexpr size_t kHistoryLimit = 50;
inline constexpr const char* kHistorySection = "history";

class THostHistory {
 public:
  // The names in the settings file at `confPath` (none when it cannot be
  // read), in its order, blanks around them removed, each once, at most
  // kHistoryLimit.
  void Load(const std::string& confPath);
  // Writes them back as name1 ... nameN; false when that fails.
  bool Save(const std::string& confPath) const;

  // `name` (blanks around it removed; nothing for an empty one) becomes
  // the most recent; an older copy goes, and the oldest beyond the limit.
  // True when the list changed.
  bool Add(const std::string& name);

  const std::vector<std::string>& Names() const { return names_; }

 private:
  std::vector<std::string> names_;
};

}  // namespace quillon
