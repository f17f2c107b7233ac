// What the lookup operations and the wait indicator may change on screen: the
// text area, the captions and colours of the Local Info labels, and the
// visibility of the "Please Wait !" label. The window and the command line
// each implement it; every call must take effect in the order made.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The labels of the Local Info box.
enum class TInfoLabel { Online, IP1, Local, IP2 };

struct TColour {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  friend bool operator==(const TColour&, const TColour&) = default;
};

inline constexpr TColour kOnlineGreen{0, 128, 0};
inline constexpr TColour kOfflineRed{255, 0, 0};

class TLookupView {
 public:
  virtual ~TLookupView() = default;
  // Removes all text of the text area.
  virtual void ClearText() = 0;
  // Adds `line` (8-bit text, no line break) as the new last line.
  virtual void AppendLine(const std::string& line) = 0;
  // Replaces the whole text; lines are separated by LF.
  virtual void ReplaceText(const std::string& text) = 0;
  virtual void SetCaption(TInfoLabel label, const std::string& caption) = 0;
  virtual void SetColour(TInfoLabel label, TColour colour) = 0;
};

// The label that the wait indicator blinks.
class TWaitLabel {
 public:
  virtual ~TWaitLabel() = default;
  virtual void SetWaitVisible(bool visible) = 0;
};

}  // namespace quillon
