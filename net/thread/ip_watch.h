// The local address watch: knows the machine's local IPv4 address and whether
// it is on line, can re-check it periodically on a thread of its own and keep
// a history of the addresses it has had, saved to a file when it is closed.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/thread/id_thread.h"

namespace quillon {

// The history file could not be written.
QUILLON_EXCEPTION(EIdIPWatchHistoryError, EIdException);

class TIdIPWatch;

// Where the local address comes from; tests give a fake one.
using TIdLocalAddressSource = std::function<std::string()>;
using TIdNotifyEvent = std::function<void(TIdBaseComponent* Sender)>;

// Repeats: sleep the interval in slices of at most 500 ms, and after each
// slice have the main thread run the check.
class TIdIPWatchThread : public TIdThread {
 public:
  static constexpr int kSliceMs = 500;

  TIdIPWatchThread();  // created stopped and suspended
  ~TIdIPWatchThread() override;

  // Taken when the next unit of work starts.
  void SetInterval(int ms) { interval_.store(ms); }
  int Interval() const { return interval_.load(); }

  // Set both before the thread is started.
  TIdIPWatch* Watch = nullptr;
  std::function<void()> Check;

 protected:
  void RunOneUnit() override;

 private:
  std::atomic<int> interval_{1000};
};

class TIdIPWatch : public TIdComponent {
 public:
  static constexpr const char* kLoopback = "127.0.0.1";

  TIdIPWatch();
  // Does what Close() does if it has not been done; a failure to write the
  // history goes to OnHistoryWriteError (dropped when none is assigned).
  ~TIdIPWatch() override;

  // Published properties. Set them from the owning (main) thread.
  bool Active() const;
  // Switching off waits for the watch thread to end. From inside a check
  // that the watch thread runs (OnStatusChanged), that wait could never end:
  // there the thread is only asked to end, and it is waited for and freed by
  // the next switch or at destruction; Active reads false at once.
  void SetActive(bool value);
  bool HistoryEnabled = true;
  std::string HistoryFilename = "iphist.dat";
  int MaxHistoryEntries() const;
  void SetMaxHistoryEntries(int value);
  int WatchInterval() const;
  void SetWatchInterval(int ms);
  // Raised by CheckNow, on the thread that runs it (the main thread when the
  // watch thread runs it). Assign before switching Active on.
  TIdNotifyEvent OnStatusChanged;
  std::function<void(TIdIPWatch* Sender, const std::string& Message)> OnHistoryWriteError;

  // Public state; safe to read from any thread.
  std::string CurrentAddress() const;
  std::string PreviousAddress() const;
  bool NetworkUp() const;
  std::vector<std::string> AddressHistory() const;
  bool LookupBusy() const { return lookups_.load() > 0; }

  // The machine's local address (the first of the stack's list). A failure
  // of the stack passes to the caller.
  std::string QueryLocalAddress();
  // Re-reads the address and updates the on-line state; never fails.
  void CheckNow();

  // The work of destruction, with its failure passed on: records the current
  // address when on line, switches Active off and, when HistoryEnabled,
  // writes the history (raising EIdIPWatchHistoryError if it cannot) and
  // releases it. Runs once; destruction then only stops the watch again.
  void Close();
  // Writes the history to HistoryFilename: one address per line ended by
  // CR LF, oldest first, replacing any earlier file.
  void SaveHistory() const;

  // Replaces the stack query (null restores it). Set while inactive.
  void SetAddressSource(TIdLocalAddressSource source);

 private:
  // The watch thread's check: CheckNow, marked as running for this watch.
  void RunWatchCheck();
  // Waits for and frees the threads switched off from inside a check.
  void ReapRetired();
  void AddToHistoryLocked(const std::string& address);
  void TrimHistoryLocked();
  static bool IsOnLineAddress(const std::string& address);

  mutable std::mutex stateLock_;
  std::string current_;
  std::string previous_;
  bool networkUp_ = false;
  std::vector<std::string> history_;
  int maxHistoryEntries_ = 25;
  TIdLocalAddressSource source_;
  bool closed_ = false;

  std::atomic<int> lookups_{0};
  std::atomic<int> watchInterval_{1000};
  mutable std::mutex activeLock_;  // guards the watch thread's life
  std::unique_ptr<TIdIPWatchThread> thread_;
  // Asked to end from inside their own check, not yet waited for.
  std::vector<std::unique_ptr<TIdIPWatchThread>> retired_;
};

}  // namespace quillon
