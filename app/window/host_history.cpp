// The names the buttons were pressed with; see host_history.h.
#include "app/window/host_history.h"

#include <algorithm>

#include "app/lookup/quillon_conf.h"
#include "net/socket/text_helpers.h"

namespace quillon {

void THostHistory::Load(const std::string& confPath) {
  names_.clear();
  TQuillonConf conf;
  if (!conf.Load(confPath)) return;
  for (const TConfEntry& entry : conf.Section(kHistorySection)) {
    if (names_.size() == kHistoryLimit) break;
    const std::string name = Trim(entry.value);
    if (!name.empty() && std::find(names_.begin(), names_.end(), name) == names_.end())
      names_.push_back(name);
  }
}

bool THostHistory::Save(const std::string& confPath) const {
  std::vector<TConfEntry> entries;
  for (size_t i = 0; i < names_.size(); ++i)
    entries.push_back({"name" + std::to_string(i + 1), names_[i]});
  return WriteConfSection(confPath, kHistorySection, entries);
}

bool THostHistory::Add(const std::string& name) {
  const std::string trimmed = Trim(name);
  if (trimmed.empty() || trimmed.find_first_of("\r\n") != std::string::npos) return false;
  if (!names_.empty() && names_.front() == trimmed) return false;
  names_.erase(std::remove(names_.begin(), names_.end(), trimmed), names_.end());
  names_.insert(names_.begin(), trimmed);
  if (names_.size() > kHistoryLimit) names_.resize(kHistoryLimit);
  return true;
}

}  // namespace quillon
