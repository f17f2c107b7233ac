// An ordered list of message header lines in wire form ("Name: value", with
// continuation lines beginning with a blank), with named access, unfolding on
// reading and folding of long values on setting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Inserts `breakText` at the break characters of `line` so that no piece is
// longer than `maxCol` columns where a break is possible; never breaks inside
// double quotes and keeps breaks already present in the line.
std::string WrapAtBreaks(std::string_view line, std::string_view breakText,
                         std::string_view breakChars, int maxCol);

class TIdHeaderList {
 public:
  TIdHeaderList() = default;

  // Plain list access. Lines are 8-bit texts without terminators.
  size_t Count() const { return Lines.size(); }
  const std::string& Strings(size_t i) const { return Lines.at(i); }
  void Put(size_t i, std::string line) { Lines.at(i) = std::move(line); }
  void Add(std::string line) { Lines.push_back(std::move(line)); }
  void Insert(size_t i, std::string line);
  void Delete(size_t i);
  void Clear() { Lines.clear(); }
  // Each line followed by CR LF; SetText splits at CR LF, CR or LF.
  std::string Text() const;
  void SetText(std::string_view text);

  // Named access.
  std::string NameAt(size_t i) const;
  std::string ValueAt(long i) const;
  long IndexOfHeader(std::string_view name) const;
  std::string ValueOf(std::string_view name) const { return ValueAt(IndexOfHeader(name)); }
  void SetValueOf(std::string_view name, std::string_view value);
  void CollectValues(std::string_view name, std::vector<std::string>* destination) const;
  void CollectValues(std::string_view name, TIdHeaderList* destination) const;
  std::vector<std::string> FoldText(std::string_view line) const;

  std::string Separator = ": ";
  bool CaseSensitiveNames = false;
  bool UnfoldContinuations = true;
  bool FoldOnSet = true;
  int FoldWidth = 78;

  std::vector<std::string> Lines;

 private:
  static bool IsContinuation(const std::string& line);
  void DeleteContinuations(size_t i);
};

}  // namespace quillon
