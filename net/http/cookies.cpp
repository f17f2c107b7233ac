// Cookie parsing (Netscape draft, RFC 2109, RFC 2965), their Set-Cookie
// forms, the host check, and the store's lock.
#include "net/http/cookies.h"

#include <cmath>
#include <limits>

namespace quillon {

namespace {

// The value of the first entry "NAME=value" whose name equals `name`
// without regard to case.
std::string EntryValue(const TIdCookieEntries& entries, std::string_view name) {
  const std::string wanted = UpperCase(name);
  for (const auto& entry : entries) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    if (UpperCase(std::string_view(entry).substr(0, eq)) == wanted) return entry.substr(eq + 1);
  }
  return {};
}

bool HasEntry(const TIdCookieEntries& entries, std::string_view name) {
  const std::string wanted = UpperCase(name);
  for (const auto& entry : entries) {
    if (UpperCase(entry) == wanted) return true;
  }
  return false;
}

bool HasEntryNamed(const TIdCookieEntries& entries, std::string_view name) {
  const std::string wanted = UpperCase(name);
  for (const auto& entry : entries) {
    const size_t eq = entry.find('=');
    if (eq != std::string::npos && UpperCase(std::string_view(entry).substr(0, eq)) == wanted) {
      return true;
    }
  }
  return false;
}

void SplitLines(const std::string& text, TIdCookieEntries& out) {
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      out.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) out.push_back(text.substr(start));
}

void AddPart(std::vector<std::string>& parts, const std::string& name, const std::string& value) {
  if (!value.empty()) parts.push_back(name + "=" + value);
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) {
    if (!text.empty()) text += "; ";
    text += part;
  }
  return text;
}

// Whole seconds as a day fraction added to a date, without overflow.
TDateTime AddSeconds(TDateTime date, int64_t seconds) {
  return date + static_cast<double>(seconds) / 86400.0;
}

}  // namespace

// ---- Netscape --------------------------------------------------------------

TIdNetscapeCookie::TIdNetscapeCookie(TIdCookies* collection) : Collection(collection) {}

void TIdNetscapeCookie::ParseCookieText(const std::string& text) {
  if (text == CookieText_ && !text.empty()) return;
  CookieText_ = text;

  // 1. The parts between ";".
  TIdCookieEntries entries;
  if (Pos(";", text) == 0) {
    SplitLines(text, entries);
  } else {
    std::string rest = text;
    while (Pos(";", rest) != 0) entries.push_back(Trim(SplitOff(rest, ";")));
    rest = Trim(rest);
    if (!rest.empty()) entries.push_back(rest);
  }

  // 2. Name and value from the first part.
  CookieName.clear();
  Value.clear();
  if (!entries.empty()) {
    const size_t eq = entries[0].find('=');
    if (eq != std::string::npos) CookieName = entries[0].substr(0, eq);
    for (const auto& entry : entries) {
      const size_t at = entry.find('=');
      if (at == std::string::npos) continue;
      if (UpperCase(std::string_view(entry).substr(0, at)) == UpperCase(CookieName)) {
        Value = entry.substr(at + 1);
        break;
      }
    }
    entries.erase(entries.begin());
  }

  // 3. Attribute names in capitals; a repeated attribute takes the first value.
  TIdCookieEntries normalised;
  normalised.reserve(entries.size());
  for (const auto& entry : entries) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      normalised.push_back(UpperCase(entry));
    } else {
      const std::string name = entry.substr(0, eq);
      normalised.push_back(UpperCase(name) + "=" + EntryValue(entries, name));
    }
  }

  // 4. The fields of this kind of cookie.
  LoadCookieFields(normalised);
}

void TIdNetscapeCookie::LoadNetscapeFields(const TIdCookieEntries& entries) {
  Path = EntryValue(entries, "PATH");
  if (!Path.empty() && Path.front() == '"') Path.erase(0, 1);
  if (!Path.empty() && Path.back() == '"') Path.pop_back();
  SetExpires(EntryValue(entries, "EXPIRES"));
  Domain = EntryValue(entries, "DOMAIN");
  Secure = HasEntry(entries, "SECURE");
}

void TIdNetscapeCookie::LoadCookieFields(const TIdCookieEntries& entries) {
  LoadNetscapeFields(entries);
}

void TIdNetscapeCookie::SetExpires(const std::string& text) {
  Expires_ = text;
}

std::string TIdNetscapeCookie::NetscapeServerForm() const {
  std::vector<std::string> parts;
  if (!CookieName.empty() || !Value.empty()) parts.push_back(CookieName + "=" + Value);
  AddPart(parts, "path", Path);
  if (InternalVersion_ == 0) AddPart(parts, "expires", Expires_);
  AddPart(parts, "domain", Domain);
  if (Secure) parts.emplace_back("secure");
  return Join(parts);
}

std::string TIdNetscapeCookie::ServerForm() const {
  return NetscapeServerForm();
}

std::string TIdNetscapeCookie::ClientForm() const {
  return CookieName + "=" + Value;
}

bool TIdNetscapeCookie::AcceptsHost(const std::string& host) const {
  if (IsDottedQuad(host)) return Domain == host;
  if (LooksLikeHostName(host)) {
    if (LooksLikeHostName(Domain)) return Domain == host;
    return Domain == DomainPart(host);
  }
  return UpperCase(Domain) == UpperCase(DomainPart(host));
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& source) {
  const auto* newer = dynamic_cast<const TIdCookieRFC2109*>(&source);
  if (newer == nullptr || &source == this) return;
  ParseCookieText(newer->ServerForm());
  InternalVersion_ = newer->InternalVersion_;
  // The server form of kinds 1 and 2 carries no expiry date: take it over
  // directly so that the replaced cookie keeps expiring.
  Expires_ = newer->Expires_;
  if (auto* self = dynamic_cast<TIdCookieRFC2109*>(this)) self->MaxAge = newer->MaxAge;
}

// ---- RFC 2109 --------------------------------------------------------------

TIdCookieRFC2109::TIdCookieRFC2109(TIdCookies* collection) : TIdNetscapeCookie(collection) {
  InternalVersion_ = 1;
}

void TIdCookieRFC2109::SetExpires(const std::string& text) {
  if (!text.empty()) {
    try {
      const double seconds = (InternetDateToLocal(text) - NowLocal()) * 86400.0;
      if (std::isfinite(seconds) && std::fabs(seconds) < 9.0e18) {
        MaxAge = static_cast<int64_t>(seconds);
      }
    } catch (const EIdException&) {
      // A date that cannot be placed leaves max-age as it was.
    }
  }
  Expires_ = text;
}

void TIdCookieRFC2109::Load2109Fields(const TIdCookieEntries& entries) {
  MaxAge = StrToInt64Def(EntryValue(entries, "MAX-AGE"), -1);
  Version = EntryValue(entries, "VERSION");
  Comment = EntryValue(entries, "COMMENT");
  if (Expires_.empty()) {
    InternalVersion_ = 0;
    if (MaxAge >= 0) Expires_ = FormatInternetDate(AddSeconds(NowLocal(), MaxAge), false);
  }
}

void TIdCookieRFC2109::LoadCookieFields(const TIdCookieEntries& entries) {
  LoadNetscapeFields(entries);
  Load2109Fields(entries);
}

std::string TIdCookieRFC2109::ServerForm() const {
  std::string text = NetscapeServerForm();
  std::vector<std::string> parts;
  if (!text.empty()) parts.push_back(text);
  if (MaxAge >= 0 && Expires_.empty()) parts.push_back("max-age=" + std::to_string(MaxAge));
  AddPart(parts, "comment", Comment);
  AddPart(parts, "version", Version);
  return Join(parts);
}

std::string TIdCookieRFC2109::ClientForm() const {
  return CookieName + "=" + Value;
}

// ---- RFC 2965 --------------------------------------------------------------

TIdCookieRFC2965::TIdCookieRFC2965(TIdCookies* collection) : TIdCookieRFC2109(collection) {
  InternalVersion_ = 2;
}

std::string TIdCookieRFC2965::ServerForm() const {
  return TIdCookieRFC2109::ServerForm();
}

void TIdCookieRFC2965::LoadCookieFields(const TIdCookieEntries& entries) {
  TIdCookieRFC2109::LoadCookieFields(entries);
  CommentURL = EntryValue(entries, "CommentURL");
  Discard = HasEntry(entries, "DISCARD");
  const std::string port = EntryValue(entries, "Port");
  if (!HasEntryNamed(entries, "Port") || port.empty()) {
    PortList = {80};
  } else if (port.size() >= 2 && port.front() == '"' && port.back() == '"') {
    std::string items = port.substr(1, port.size() - 2);
    PortList.clear();
    if (items.empty()) {
      PortList.push_back(80);
    } else {
      while (!items.empty()) PortList.push_back(StrToInt(SplitOff(items, ",")));
    }
  }
}

void TIdCookieRFC2965::SetPort(long index, int port) {
  if (index < 0 || static_cast<size_t>(index) > PortList.size()) {
    throw EIdException("Index out of range.");
  }
  if (static_cast<size_t>(index) == PortList.size()) {
    PortList.push_back(port);
  } else {
    PortList[static_cast<size_t>(index)] = port;
  }
}

// ---- lock ------------------------------------------------------------------

void TIdMultiReadExclusiveWrite::BeginRead() {
  if (HeldByThisThread()) {
    ++depth_;
    return;
  }
  mutex_.lock_shared();
}

void TIdMultiReadExclusiveWrite::EndRead() {
  if (HeldByThisThread()) {
    --depth_;
    return;
  }
  mutex_.unlock_shared();
}

void TIdMultiReadExclusiveWrite::BeginWrite() {
  if (HeldByThisThread()) {
    ++depth_;
    return;
  }
  mutex_.lock();
  writer_.store(std::this_thread::get_id());
  depth_ = 1;
}

void TIdMultiReadExclusiveWrite::EndWrite() {
  if (--depth_ > 0) return;
  writer_.store(std::thread::id());
  mutex_.unlock();
}

// ---- store -----------------------------------------------------------------

TIdCookies::~TIdCookies() {
  Clear();
}

TIdDomainList& TIdCookies::LockCookieListByDomain(TIdCookieAccess access) {
  if (access == TIdCookieAccess::caRead) {
    lock_.BeginRead();
  } else {
    lock_.BeginWrite();
  }
  return domains_;
}

void TIdCookies::UnlockCookieListByDomain(TIdCookieAccess access) {
  if (access == TIdCookieAccess::caRead) {
    lock_.EndRead();
  } else {
    lock_.EndWrite();
  }
}

TIdNetscapeCookie* TIdCookies::Add(std::unique_ptr<TIdNetscapeCookie> cookie) {
  TIdCookieLockGuard guard(*this, TIdCookieAccess::caReadWrite);
  cookie->Collection = this;
  items_.push_back(std::move(cookie));
  return items_.back().get();
}

void TIdCookies::DestroyLocked(TIdNetscapeCookie* cookie) {
  for (auto& domain : domains_.Entries) {
    auto& list = domain.Object->Entries;
    for (size_t i = list.size(); i-- > 0;) {
      if (list[i].Object == cookie) list.erase(list.begin() + static_cast<long>(i));
    }
  }
  for (size_t i = items_.size(); i-- > 0;) {
    if (items_[i].get() == cookie) {
      items_.erase(items_.begin() + static_cast<long>(i));
      break;
    }
  }
}

void TIdCookies::Destroy(TIdNetscapeCookie* cookie) {
  TIdCookieLockGuard guard(*this, TIdCookieAccess::caReadWrite);
  DestroyLocked(cookie);
}

void TIdCookies::Clear() {
  TIdCookieLockGuard guard(*this, TIdCookieAccess::caReadWrite);
  for (auto& domain : domains_.Entries) domain.Object->Entries.clear();
  items_.clear();
}

size_t TIdCookies::Count() {
  TIdCookieLockGuard guard(*this, TIdCookieAccess::caRead);
  return items_.size();
}

}  // namespace quillon
