// The window's side of the lookup view: every change asked for by the worker
// or the wait indicator is queued to the window's thread, in the order made,
// and nothing at all is changed once the window has started closing. Also
// the main-thread dispatcher that hands the network threads' calls (the
// address watch's checks) to the window's event loop.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "app/lookup/lookup_view.h"
#include "net/thread/main_thread_call.h"

class QLabel;
class QPlainTextEdit;

namespace quillon {

// Texts of the tool are bytes: shown as UTF-8 when they are valid UTF-8 and
// as Latin-1 otherwise, so that no byte is lost or replaced.
QString BytesToQString(const std::string& bytes);

// The widgets the view writes into; all owned by the window.
struct TQtViewWidgets {
  QPlainTextEdit* Memo = nullptr;
  QLabel* Online = nullptr;
  QLabel* IP1 = nullptr;
  QLabel* Local = nullptr;
  QLabel* IP2 = nullptr;
  QLabel* Wait = nullptr;
};

class TQtView final : public TLookupView, public TWaitLabel {
 public:
  // `context` lives on the window's thread; queued changes run there.
  TQtView(QObject* context, TQtViewWidgets widgets);

  void ClearText() override;
  void AppendLine(const std::string& line) override;
  void ReplaceText(const std::string& text) override;
  void SetCaption(TInfoLabel label, const std::string& caption) override;
  void SetColour(TInfoLabel label, TColour colour) override;
  void SetWaitVisible(bool visible) override;

  // From the window's thread, when closing starts: every later change and
  // every change still queued is dropped.
  void Close();
  bool Closed() const { return closed_.load(); }
  // Changes handed to the window's thread so far (for tests and benches).
  unsigned Posted() const { return posted_.load(); }

 private:
  template <typename F>
  void Post(F change);
  QLabel* LabelOf(TInfoLabel label) const;

  QPointer<QObject> context_;
  TQtViewWidgets widgets_;
  std::mutex postLock_;  // keeps the queue order equal to the call order
  std::atomic<bool> closed_{false};
  std::atomic<unsigned> posted_{0};
  int lines_ = 0;  // lines of the text area; used on the window's thread only
};

// Runs the calls that background threads hand to the main thread from the
// window's event loop: each queued call posts one event to `context`, whose
// handler runs what is waiting.
class TQtMainThreadDispatcher final : public TQueuedMainThreadDispatcher {
 public:
  // Constructed on the window's thread, which becomes the main thread.
  explicit TQtMainThreadDispatcher(QObject* context);
  // On the window's thread before `context` goes: no event is posted to it
  // any more, and every call still waiting returns without running.
  void Detach();

 protected:
  void Wake() override;

 private:
  std::mutex wakeLock_;  // keeps `context_` alive for the length of a post
  QObject* context_;
};

// Installs a Qt dispatcher for the life of the scope (the window's), and
// uninstalls it if it is still the one installed.
class TQtDispatcherScope {
 public:
  explicit TQtDispatcherScope(QObject* context);
  ~TQtDispatcherScope();
  TQtDispatcherScope(const TQtDispatcherScope&) = delete;
  TQtDispatcherScope& operator=(const TQtDispatcherScope&) = delete;
  TQtMainThreadDispatcher& Dispatcher() { return *dispatcher_; }

 private:
  std::shared_ptr<TQtMainThreadDispatcher> dispatcher_;
};

}  // namespace quillon
