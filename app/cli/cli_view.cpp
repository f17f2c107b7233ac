// The command line's lookup view; see cli_view.h.
#include "app/cli/cli_view.h"

namespace quillon {

void TCliView::AppendLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void TCliView::ReplaceText(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  if (!text.empty() && text.back() != '\n') std::fputc('\n', out_);
  std::fflush(out_);
}

void TCliView::SetCaption(TInfoLabel label, const std::string& caption) {
  captions_[static_cast<int>(label)] = caption;
}

void TCliView::SetColour(TInfoLabel label, TColour colour) {
  colours_[static_cast<int>(label)] = colour;
}

}  // namespace quillon
