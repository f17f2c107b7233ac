// The agreement rule; see public_address_agreement.h.
#include "app/lookup/public_address_agreement.h"

#include <algorithm>
#include <numeric>

namespace quillon {

bool TAddressTally::Add(size_t index, const std::string& address) {
  if (index >= answers_.size() || answers_[index]) return false;
  answers_[index] = address;
  ++in_;
  if (Agreed() || address.empty()) return false;
  const auto same = std::count(answers_.begin(), answers_.end(), std::optional(address));
  if (same < 2) return false;
  agreed_ = address;
  return true;
}

std::string TAddressTally::Shown() const {
  if (Agreed()) return agreed_;
  // Counting from the first source on, a later address wins only with more
  // sources behind it.
  std::string best;
  long bestCount = 0;
  for (const auto& answer : answers_) {
    if (!answer || answer->empty()) continue;
    const long count = std::count(answers_.begin(), answers_.end(), answer);
    if (count > bestCount) {
      best = *answer;
      bestCount = count;
    }
  }
  return best;
}

TShownAddress ReplayAnswers(const std::vector<TTimedAnswer>& answers,
                            std::chrono::milliseconds limit) {
  std::vector<size_t> order(answers.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return answers[a].at.value_or(limit + std::chrono::milliseconds(1)) <
           answers[b].at.value_or(limit + std::chrono::milliseconds(1));
  });
  TAddressTally tally(answers.size());
  if (tally.Decided()) return {};  // no source at all
  for (size_t index : order) {
    const TTimedAnswer& answer = answers[index];
    if (!answer.at || *answer.at > limit) break;
    tally.Add(index, answer.address);
    if (tally.Decided()) return {tally.Shown(), *answer.at};
  }
  return {tally.Shown(), limit};
}

}  // namespace quillon
