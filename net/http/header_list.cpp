// Header lines: named lookup, unfolding (RFC 822 section 3.1.1) and folding
// of long values at blanks and commas, never inside quoted text.
#include "net/http/header_list.h"

#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string WrapAtBreaks(std::string_view line, std::string_view breakText,
                         std::string_view breakChars, int maxCol) {
  // Positions are 1-based as in the description of the algorithm; at(p) is
  // the character at position p.
  const size_t length = line.size();
  auto at = [&](size_t p) { return line[p - 1]; };
  auto isBreakChar = [&](char c) { return breakChars.find(c) != std::string_view::npos; };

  std::string result;
  result.reserve(length + length / 16);
  long col = 1;
  size_t pos = 1;
  size_t lineStart = 1;
  size_t breakPos = 0;
  bool inQuote = false;
  bool existingBreak = false;
  while (pos <= length) {
    const char c = at(pos);
    if (!breakText.empty() && c == breakText[0]) {
      if (!inQuote) {
        existingBreak = EqualNoCase(line.substr(pos - 1, breakText.size()), breakText);
        if (existingBreak) {
          pos += breakText.size() - 1;
          breakPos = pos;
        }
      }
    } else if (isBreakChar(c)) {
      if (!inQuote) breakPos = pos;
    } else if (c == '"') {
      inQuote = !inQuote;
    }
    ++pos;
    ++col;
    if (!inQuote && (existingBreak || (col > maxCol && breakPos > lineStart))) {
      col = static_cast<long>(pos - breakPos);
      result.append(line.substr(lineStart - 1, breakPos - lineStart + 1));
      if (c != '"') {
        while (pos <= length && (isBreakChar(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) {
          ++pos;
        }
      }
      if (!existingBreak && pos < length) result.append(breakText);
      // The characters skipped above stay in the next piece: dropping them
      // would remove commas from the value.
      lineStart = breakPos + 1;
      breakPos = breakPos + 1;
      existingBreak = false;
    }
  }
  if (lineStart <= length) result.append(line.substr(lineStart - 1));
  return result;
}

void TIdHeaderList::Insert(size_t i, std::string line) {
  if (i > Lines.size()) i = Lines.size();
  Lines.insert(Lines.begin() + static_cast<long>(i), std::move(line));
}

void TIdHeaderList::Delete(size_t i) {
  if (i < Lines.size()) Lines.erase(Lines.begin() + static_cast<long>(i));
}

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const auto& line : Lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TIdHeaderList::SetText(std::string_view text) {
  Lines.clear();
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      Lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) Lines.emplace_back(text.substr(start));
}

bool TIdHeaderList::IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

void TIdHeaderList::DeleteContinuations(size_t i) {
  while (i + 1 < Lines.size() && IsContinuation(Lines[i + 1])) Delete(i + 1);
}

std::string TIdHeaderList::NameAt(size_t i) const {
  const std::string& line = Lines.at(i);
  const std::string marker = TrimRight(Separator);
  const size_t p = Pos(marker, line);
  if (p == 0) return {};
  std::string name = line.substr(0, p - 1);
  return CaseSensitiveNames ? name : UpperCase(name);
}

std::string TIdHeaderList::ValueAt(long i) const {
  if (i < 0 || static_cast<size_t>(i) >= Lines.size()) return {};
  const auto index = static_cast<size_t>(i);
  const std::string& line = Lines[index];
  const size_t skip = NameAt(index).size() + 1;
  std::string value = Trim(skip <= line.size() ? line.substr(skip) : std::string());
  if (UnfoldContinuations) {
    // Joined as trim(value so far) + " " + trim(continuation), appending in
    // place so that many continuation lines cost linear time.
    for (size_t j = index + 1; j < Lines.size() && IsContinuation(Lines[j]); ++j) {
      while (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ') value.pop_back();
      value += ' ';
      value += Trim(Lines[j]);
    }
  }
  return Trim(value);
}

long TIdHeaderList::IndexOfHeader(std::string_view name) const {
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (EqualNoCase(NameAt(i), name)) return static_cast<long>(i);
  }
  return -1;
}

void TIdHeaderList::SetValueOf(std::string_view name, std::string_view value) {
  long found = IndexOfHeader(name);
  if (value.empty()) {
    if (found < 0) return;
    if (FoldOnSet) DeleteContinuations(static_cast<size_t>(found));
    Delete(static_cast<size_t>(found));
    return;
  }
  if (found < 0) {
    Lines.emplace_back();
    found = static_cast<long>(Lines.size() - 1);
  }
  const auto i = static_cast<size_t>(found);
  std::string line = std::string(name) + Separator + std::string(value);
  if (!FoldOnSet) {
    Lines[i] = std::move(line);
    return;
  }
  DeleteContinuations(i);
  std::vector<std::string> pieces = FoldText(line);
  if (pieces.empty()) pieces.emplace_back();
  Lines[i] = std::move(pieces[0]);
  for (size_t k = 1; k < pieces.size(); ++k) Insert(i + k, std::move(pieces[k]));
}

void TIdHeaderList::CollectValues(std::string_view name,
                                  std::vector<std::string>* destination) const {
  if (destination == nullptr) return;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (EqualNoCase(NameAt(i), name)) destination->push_back(ValueAt(static_cast<long>(i)));
  }
}

void TIdHeaderList::CollectValues(std::string_view name, TIdHeaderList* destination) const {
  if (destination == nullptr) return;
  CollectValues(name, &destination->Lines);
}

std::vector<std::string> TIdHeaderList::FoldText(std::string_view line) const {
  const std::string wrapped = WrapAtBreaks(line, "\r\n ", "\t ,", FoldWidth);
  const std::string_view all(wrapped);
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t p = all.find("\r\n", start);
    if (p == std::string_view::npos) {
      pieces.push_back(TrimRight(all.substr(start)));
      break;
    }
    pieces.push_back(TrimRight(all.substr(start, p - start)));
    start = p + 2;
  }
  return pieces;
}

}  // namespace quillon
