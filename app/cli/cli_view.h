// The command line's side of the lookup view: every line of the text area is
// printed to standard output at once, one per line ending in LF; the Local
// Info captions are kept for the caller to print.
#pragma once

#include <cstdio>
#include <string>

#include "app/lookup/lookup_view.h"

namespace quillon {

class TCliView final : public TLookupView {
 public:
  explicit TCliView(std::FILE* out) : out_(out) {}

  void ClearText() override {}
  void AppendLine(const std::string& line) override;
  // The text's lines (already LF-separated), each ending in LF.
  void ReplaceText(const std::string& text) override;
  void SetCaption(TInfoLabel label, const std::string& caption) override;
  void SetColour(TInfoLabel label, TColour colour) override;

  const std::string& Caption(TInfoLabel label) const { return captions_[static_cast<int>(label)]; }

 private:
  std::FILE* out_;
  std::string captions_[4];
  TColour colours_[4];
};

}  // namespace quillon
