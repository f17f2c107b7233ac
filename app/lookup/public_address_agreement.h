// Which public address to show when several sources answer: the first that
// two sources agree on, as soon as two do; once every source is in or the
// time is up without agreement, the address most sources gave (ties to the
// source earliest in the list); none when no source gave one.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

class TAddressTally {
 public:
  explicit TAddressTally(size_t sources) : answers_(sources) {}

  // Source `index` is in: with its address, or failed (empty text). True
  // when this answer made two sources agree for the first time. A source
  // counts once; later calls for it are ignored.
  bool Add(size_t index, const std::string& address);

  bool Agreed() const { return !agreed_.empty(); }
  bool AllIn() const { return in_ == answers_.size(); }
  // Agreement, or every source in: nothing more can change the choice.
  bool Decided() const { return Agreed() || AllIn(); }
  // The address to show now: the agreed one, else the one given by the most
  // sources so far (ties to the earliest in the list); empty when none.
  std::string Shown() const;

 private:
  std::vector<std::optional<std::string>> answers_;
  size_t in_ = 0;
  std::string agreed_;
};

// One source's answer for ReplayAnswers: its address (empty: it failed) and
// when it came, or no time when it never came.
struct TTimedAnswer {
  std::string address;
  std::optional<std::chrono::milliseconds> at;
};

struct TShownAddress {
  std::string address;            // empty: "Offline"
  std::chrono::milliseconds at{};  // when the choice was made
  friend bool operator==(const TShownAddress&, const TShownAddress&) = default;
};

// What is shown for these answers (in list order), and when: they are taken
// in the order they came (equal times in list order) until the choice is
// decided, or up to `limit`, the answers after it being lost.
TShownAddress ReplayAnswers(const std::vector<TTimedAnswer>& answers,
                            std::chrono::milliseconds limit);

}  // namespace quillon
