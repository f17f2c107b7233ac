// quillon.conf, the settings file that the window and quillon-cli share: an
// INI file read with limits on its size and its lines, rewritten a section at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// A larger file is not read at all; a longer line is skipped.
inline constexpr size_t kConfMaxBytes = 64 * 1024;
inline constexpr size_t kConfMaxLine = 4096;

// $XDG_CONFIG_HOME/quillon/quillon.conf, else $HOME/.config/quillon/quillon.conf
// (a relative XDG_CONFIG_HOME is ignored, as the XDG rules say); empty text
// when neither variable names a folder.
std::string QuillonConfPath();

struct TConfEntry {
  std::string key;
  std::string value;
  friend bool operator==(const TConfEntry&, const TConfEntry&) = default;
};

// The settings as read: `[section]` headers, `key = value` lines (blanks
// around both removed), `;` and `#` comment lines. Section and key names are
// compared without regard to ASCII case; entries before the first header
// belong to the section "".
class TQuillonConf {
 public:
  // Reads the file at `path`. False, with no settings, when there is no
  // file or it cannot be read: not a regular file, over kConfMaxBytes, or a
  // read error.
  bool Load(const std::string& path);
  void Parse(std::string_view text);

  // The last value of `key` in `section`.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Every entry of `section` in file order (all sections of that name).
  std::vector<TConfEntry> Section(std::string_view section) const;

 private:
  struct TSection {
    std::string name;
    std::vector<TConfEntry> entries;
  };
  std::vector<TSection> sections_;
};

// Replaces `section` of the file at `path` by `entries`, creating the file
// and its folder when missing; every other line stays as it was. The new
// file is written beside the old one and renamed over it, so a reader never
// sees half of it. Entries whose key or value holds a line break, or whose
// key holds `=` or `[`, are left out. False when the file cannot be read (it
// is then left alone) or written.
bool WriteConfSection(const std::string& path, std::string_view section,
                      const std::vector<TConfEntry>& entries);

}  // namespace quillon
