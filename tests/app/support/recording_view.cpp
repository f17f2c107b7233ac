// The recording view for tests; see recording_view.h.
#include "tests/app/support/recording_view.h"

namespace quillon::test {

void RecordingView::Record(std::string what) {
  changes_.push_back({std::chrono::steady_clock::now(), std::move(what)});
}

void RecordingView::ClearText() {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
  Record("clear");
}

void RecordingView::AppendLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.push_back(line);
  Record("line:" + line);
}

void RecordingView::ReplaceText(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines_.push_back(text.substr(start));
      break;
    }
    lines_.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  Record("text:" + text);
}

void RecordingView::SetCaption(TInfoLabel label, const std::string& caption) {
  std::lock_guard<std::mutex> guard(lock_);
  captions_[static_cast<int>(label)] = caption;
  Record("caption:" + std::to_string(static_cast<int>(label)) + ":" + caption);
}

void RecordingView::SetColour(TInfoLabel label, TColour colour) {
  std::lock_guard<std::mutex> guard(lock_);
  colours_[static_cast<int>(label)] = colour;
  Record("colour:" + std::to_string(static_cast<int>(label)) + ":" + std::to_string(colour.Red) +
         "," + std::to_string(colour.Green) + "," + std::to_string(colour.Blue));
}

void RecordingView::SetWaitVisible(bool visible) {
  std::lock_guard<std::mutex> guard(lock_);
  Record(visible ? "wait:1" : "wait:0");
}

std::vector<RecordingView::Change> RecordingView::Changes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return changes_;
}

std::vector<std::string> RecordingView::Lines() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lines_;
}

std::string RecordingView::Caption(TInfoLabel label) const {
  std::lock_guard<std::mutex> guard(lock_);
  return captions_[static_cast<int>(label)];
}

TColour RecordingView::Colour(TInfoLabel label) const {
  std::lock_guard<std::mutex> guard(lock_);
  return colours_[static_cast<int>(label)];
}

std::vector<RecordingView::Change> RecordingView::WaitChanges() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<Change> out;
  for (const auto& c : changes_)
    if (c.what.rfind("wait:", 0) == 0) out.push_back(c);
  return out;
}

}  // namespace quillon::test
