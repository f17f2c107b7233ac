// Cookies and their store: the three cookie kinds (Netscape, RFC 2109,
// RFC 2965) parsed from Set-Cookie / Set-Cookie2 values, and the store that
// keeps them by domain under a reader/writer lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "net/socket/exceptions.h"
#include "net/socket/text_helpers.h"

namespace quillon {

class TIdCookies;

// "NAME=value" attribute entries of one cookie text.
using TIdCookieEntries = std::vector<std::string>;

class TIdNetscapeCookie {
 public:
  explicit TIdNetscapeCookie(TIdCookies* collection = nullptr);
  TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
  TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;
  virtual ~TIdNetscapeCookie() = default;

  // The cookie as a Set-Cookie text.
  virtual std::string ServerForm() const;
  virtual void SetExpires(const std::string& text);
  // "name=value", as sent in a Cookie header.
  virtual std::string ClientForm() const;
  virtual void LoadCookieFields(const TIdCookieEntries& entries);
  virtual bool AcceptsHost(const std::string& host) const;

  // Parses a Set-Cookie value; the same text twice is parsed once.
  void ParseCookieText(const std::string& text);
  // Takes over a newer cookie of the same name and domain: its fields, its
  // kind, and its expiry (text and max-age) so that it still expires.
  void Assign(const TIdNetscapeCookie& source);

  const std::string& CookieText() const { return CookieText_; }
  const std::string& Expires() const { return Expires_; }
  int InternalVersion() const { return InternalVersion_; }

  std::string CookieName;
  std::string Value;
  std::string Path;
  std::string Domain;
  bool Secure = false;
  TIdCookies* Collection = nullptr;

 protected:
  void LoadNetscapeFields(const TIdCookieEntries& entries);
  std::string NetscapeServerForm() const;

  std::string CookieText_;
  std::string Expires_;
  int InternalVersion_ = 0;  // 0 Netscape, 1 RFC 2109, 2 RFC 2965
  friend class TIdCookieRFC2109;
};

class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  explicit TIdCookieRFC2109(TIdCookies* collection = nullptr);

  std::string ServerForm() const override;
  // Also works out max-age as the seconds from now to that date.
  void SetExpires(const std::string& text) override;
  std::string ClientForm() const override;
  void LoadCookieFields(const TIdCookieEntries& entries) override;

  int64_t MaxAge = -1;  // -1 = none
  std::string Version;
  std::string Comment;

 protected:
  void Load2109Fields(const TIdCookieEntries& entries);
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  explicit TIdCookieRFC2965(TIdCookies* collection = nullptr);

  std::string ServerForm() const override;
  void LoadCookieFields(const TIdCookieEntries& entries) override;

  // Raises EIdException "Index out of range." below 0 or more than one past
  // the end; one past the end appends.
  void SetPort(long index, int port);

  std::string CommentURL;
  bool Discard = false;
  std::vector<int> PortList;
};

// An unsorted list of text keys (compared without regard to case) with an
// object each.
template <typename T>
class TIdKeyedList {
 public:
  struct Entry {
    std::string Key;
    T Object;
  };
  size_t Count() const { return Entries.size(); }
  bool Empty() const { return Entries.empty(); }
  long IndexOf(std::string_view key) const {
    for (size_t i = 0; i < Entries.size(); ++i) {
      if (UpperCase(Entries[i].Key) == UpperCase(key)) return static_cast<long>(i);
    }
    return -1;
  }
  void Add(std::string key, T object) { Entries.push_back({std::move(key), std::move(object)}); }
  void Delete(size_t i) { Entries.erase(Entries.begin() + static_cast<long>(i)); }

  std::vector<Entry> Entries;
};

// A domain's cookies by name.
using TIdCookieList = TIdKeyedList<TIdNetscapeCookie*>;
// The per-domain lists by domain.
using TIdDomainList = TIdKeyedList<std::unique_ptr<TIdCookieList>>;

enum class TIdCookieAccess { caRead, caReadWrite };

// A multi-reader / single-writer lock whose writer may lock again (in either
// mode) while it holds the lock.
class TIdMultiReadExclusiveWrite {
 public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

 private:
  bool HeldByThisThread() const { return writer_.load() == std::this_thread::get_id(); }
  std::shared_mutex mutex_;
  std::atomic<std::thread::id> writer_{};
  int depth_ = 0;  // nested locks of the writer, touched by the writer only
};

// The store: owns every cookie, with the domain list under the lock.
class TIdCookies {
 public:
  TIdCookies() = default;
  TIdCookies(const TIdCookies&) = delete;
  TIdCookies& operator=(const TIdCookies&) = delete;
  ~TIdCookies();

  // Takes ownership of a cookie (under the exclusive lock).
  TIdNetscapeCookie* Add(std::unique_ptr<TIdNetscapeCookie> cookie);
  // Removes a cookie from its domain's list and destroys it.
  void Destroy(TIdNetscapeCookie* cookie);
  void Clear();
  size_t Count();

  TIdDomainList& LockCookieListByDomain(TIdCookieAccess access);
  void UnlockCookieListByDomain(TIdCookieAccess access);

 private:
  void DestroyLocked(TIdNetscapeCookie* cookie);
  std::vector<std::unique_ptr<TIdNetscapeCookie>> items_;
  TIdDomainList domains_;
  TIdMultiReadExclusiveWrite lock_;
};

// Holds the store's lock for a scope.
class TIdCookieLockGuard {
 public:
  TIdCookieLockGuard(TIdCookies& cookies, TIdCookieAccess access)
      : cookies_(cookies), access_(access), list_(cookies.LockCookieListByDomain(access)) {}
  ~TIdCookieLockGuard() { cookies_.UnlockCookieListByDomain(access_); }
  TIdCookieLockGuard(const TIdCookieLockGuard&) = delete;
  TIdCookieLockGuard& operator=(const TIdCookieLockGuard&) = delete;
  TIdDomainList& List() { return list_; }

 private:
  TIdCookies& cookies_;
  TIdCookieAccess access_;
  TIdDomainList& list_;
};

}  // namespace quillon
