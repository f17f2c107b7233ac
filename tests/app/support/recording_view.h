// A lookup view for tests: records every change with the time it was made,
// thread-safe, and renders the text area as lines.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/lookup/lookup_view.h"

namespace quillon::test {

class RecordingView final : public TLookupView, public TWaitLabel {
 public:
  struct Change {
    std::chrono::steady_clock::time_point at;
    std::string what;  // "clear", "line:<text>", "text:<text>", "caption:<n>:<text>",
                       // "colour:<n>:<r>,<g>,<b>", "wait:0" / "wait:1"
  };

  void ClearText() override;
  void AppendLine(const std::string& line) override;
  void ReplaceText(const std::string& text) override;
  void SetCaption(TInfoLabel label, const std::string& caption) override;
  void SetColour(TInfoLabel label, TColour colour) override;
  void SetWaitVisible(bool visible) override;

  std::vector<Change> Changes() const;
  // The text area's lines as they stand now.
  std::vector<std::string> Lines() const;
  std::string Caption(TInfoLabel label) const;
  TColour Colour(TInfoLabel label) const;
  // The wait label's changes only.
  std::vector<Change> WaitChanges() const;

 private:
  void Record(std::string what);
  mutable std::mutex lock_;
  std::vector<Change> changes_;
  std::vector<std::string> lines_;
  std::string captions_[4];
  TColour colours_[4];
};

}  // namespace quillon::test
