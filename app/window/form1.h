// The main window: the edit box, the four command buttons, the text area,
// the Local Info box and the "Please Wait !" label, with the lookup worker
// and the wait indicator it owns. Its handlers only record the operation
// wanted and wake the worker.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/lookup/lookup_worker.h"
#include "app/window/host_history.h"
#include "app/window/qt_view.h"
#include "app/window/report.h"
#include "app/lookup/wait_thread.h"

class QCompleter;
class QGroupBox;
class QMenu;
class QStringListModel;
class QFrame;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillon {

inline constexpr const char* kVersion = "1.1";
inline constexpr const char* kWindowCaption = "Quillon 1.1";
inline constexpr const char* kApplicationTitle = "Quillon";
inline constexpr const char* kDefaultHost = "example.com";
inline constexpr const char* kMakerName = "Quillon Project";
inline constexpr const char* kMakerAddress = "www.quillon.net";
inline constexpr const char* kMakerUrl = "http://www.quillon.net/";

// A label that reports clicks (Label1).
class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  // Makes the operations the worker runs, given the view they write into.
  using RunnerFactory = std::function<std::unique_ptr<TOperationRunner>(TLookupView&)>;

  // FormCreate: builds the controls and both threads, suspended.
  explicit TForm1(const RunnerFactory& makeRunner, QWidget* parent = nullptr);
  ~TForm1() override;

  // Controls, named as in the window's definition.
  QLineEdit* edHost = nullptr;
  QPushButton* bwhois = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* bdns = nullptr;
  QPushButton* btping = nullptr;
  QFrame* Panel1 = nullptr;
  TClickLabel* Label1 = nullptr;
  QPushButton* bttracert = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Online = nullptr;
  QLabel* IP1 = nullptr;
  QLabel* Local = nullptr;
  QLabel* IP2 = nullptr;
  QLabel* Label2 = nullptr;

  TMyWhois& LookupWorker() { return *lookupWorker_; }
  TWaitThread& WaitIndicator() { return *waitIndicator_; }
  TQtView& View() { return *view_; }
  TQtMainThreadDispatcher& Dispatcher() { return dispatcherScope_.Dispatcher(); }

  // FormDestroy: ends the indicator, then the worker, within `limit` in
  // all. False when the worker was still inside an operation at the end of
  // the limit: the program must then end without destroying the window.
  bool EndThreads(std::chrono::milliseconds limit);
  // True once EndThreads found the worker ended.
  bool ThreadsEnded() const { return threadsEnded_; }

  // The text area's context menu: Copy, Select All, then Copy Report and
  // Save Report As... (enabled once a button has started an operation).
  // The caller owns it.
  QMenu* CreateMemo1Menu();
  // The report of what the text area shows now; empty before any button.
  QString Report() const;
  void CopyReport();
  void SaveReportAs();
  // Asks where to save a report, `suggested` being the default path; empty
  // when cancelled. The desktop's file dialog; tests replace it.
  std::function<QString(const QString& suggested)> AskReportPath;

  // The names the buttons were pressed with (quillon.conf [history]), and
  // the edit box's inline completer over them.
  const THostHistory& History() const { return history_; }
  QCompleter* HostCompleter() const { return hostCompleter_; }

  void FormActivate();
  void bwhoisClick();
  void bdnsClick();
  void btpingClick();
  void bttracertClick();
  void edHostExit();
  void Label1Click();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void StartOperation(int code);
  void RememberHost(const QString& host);
  void Memo1ContextMenu(const QPoint& position);

  // First in, last out: the network threads' calls to the main thread (the
  // address watch's checks) run on this window's event loop as long as any
  // component lives.
  TQtDispatcherScope dispatcherScope_{this};
  std::unique_ptr<TQtView> view_;
  std::unique_ptr<TOperationRunner> runner_;
  std::unique_ptr<TWaitThread> waitIndicator_;
  std::unique_ptr<TMyWhois> lookupWorker_;
  // The operation the text area shows, once a button has started one.
  std::optional<TReportSubject> reportSubject_;
  std::string confPath_;
  THostHistory history_;
  QStringListModel* historyModel_ = nullptr;
  QCompleter* hostCompleter_ = nullptr;
  bool activatedOnce_ = false;
  bool closing_ = false;
  bool threadsEnded_ = false;
};

// How long closing may wait for the threads.
inline constexpr std::chrono::milliseconds kCloseLimit{700};

}  // namespace quillon
