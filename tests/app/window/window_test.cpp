// The window on the offscreen platform: controls and geometry, one run per
// idle request, focus-out lower-casing, the blinking label, the maker's
// link, byte texts, and closing within a second whether idle or busy.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "app/window/form1.h"
#include "app/lookup/lookup_operations.h"
#include "net/thread/main_thread_call.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Runs that block until opened; records code and host of each.
class GateRunner final : public TOperationRunner {
 public:
  void RunOperation(int code, const std::string& host) override {
    std::unique_lock<std::mutex> guard(lock_);
    runs_.push_back(std::to_string(code) + ":" + host);
    cv_.wait(guard, [this] { return open_ || interrupted_; });
  }
  void Interrupt() override {
    std::lock_guard<std::mutex> guard(lock_);
    interrupted_ = true;
    cv_.notify_all();
  }
  void Open(bool open) {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = open;
    cv_.notify_all();
  }
  std::vector<std::string> Runs() {
    std::lock_guard<std::mutex> guard(lock_);
    return runs_;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<std::string> runs_;
  bool open_ = false;
  bool interrupted_ = false;
};

// Stands in for the desktop's URL handler.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QUrl url;
 public slots:
  void open(const QUrl& u) { url = u; }
};

class Window : public ::testing::Test {
 protected:
  // A window whose worker runs the gate runner.
  std::unique_ptr<TForm1> MakeGated() {
    return std::make_unique<TForm1>([this](TLookupView&) {
      auto runner = std::make_unique<GateRunner>();
      gate = runner.get();
      return runner;
    });
  }
  void ShowAndActivate(TForm1& form) {
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }
  GateRunner* gate = nullptr;
};

TEST_F(Window, ControlsGeometryCaptionsAndFonts) {
  auto form = MakeGated();
  TForm1& f = *form;
  EXPECT_EQ(f.windowTitle(), "Quillon 1.1");
  EXPECT_EQ(f.geometry(), QRect(225, 149, 615, 526));
  EXPECT_EQ(f.minimumSize(), QSize(615, 526));
  EXPECT_EQ(f.maximumSize(), QSize(615, 526));
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(f.font().pixelSize(), 11);
  EXPECT_FALSE(f.font().bold());

  struct Row {
    QWidget* widget;
    QWidget* parent;
    QRect geometry;
  };
  const Row rows[] = {
      {f.edHost, &f, {8, 8, 193, 21}},        {f.bwhois, &f, {8, 32, 193, 17}},
      {f.Memo1, &f, {208, 8, 401, 513}},      {f.bdns, &f, {8, 56, 193, 17}},
      {f.btping, &f, {8, 80, 193, 17}},       {f.Panel1, &f, {8, 480, 193, 41}},
      {f.Label1, f.Panel1, {32, 8, 124, 26}}, {f.bttracert, &f, {8, 104, 193, 17}},
      {f.GroupBox1, &f, {8, 376, 193, 97}},   {f.Online, f.GroupBox1, {8, 24, 5, 16}},
      {f.IP1, f.GroupBox1, {56, 24, 5, 16}},  {f.Local, f.GroupBox1, {8, 64, 5, 16}},
      {f.IP2, f.GroupBox1, {56, 64, 5, 16}},  {f.Label2, &f, {24, 128, 154, 29}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.widget->geometry(), row.geometry) << row.widget->objectName().toStdString();
    EXPECT_EQ(row.widget->parentWidget(), row.parent) << row.widget->objectName().toStdString();
  }

  EXPECT_EQ(f.edHost->text(), "example.com");
  EXPECT_EQ(f.bwhois->text(), "Whois");
  EXPECT_EQ(f.bdns->text(), "DNS Mx");
  EXPECT_EQ(f.btping->text(), "Ping");
  EXPECT_EQ(f.bttracert->text(), "Trace Route");
  EXPECT_EQ(f.GroupBox1->title(), "Local Info");
  EXPECT_EQ(f.Label2->text(), "Please Wait !");
  EXPECT_TRUE(f.Label2->isHidden());
  EXPECT_EQ(f.Label1->text(), "Quillon Project\nwww.quillon.net");
  EXPECT_TRUE(f.Memo1->toPlainText().isEmpty());
  for (QLabel* label : {f.Online, f.IP1, f.Local, f.IP2}) {
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_EQ(label->font().pixelSize(), 13);
    EXPECT_TRUE(label->font().bold());
  }
  EXPECT_EQ(f.Label2->font().pixelSize(), 24);
  EXPECT_TRUE(f.Label2->font().bold());
  EXPECT_EQ(f.Label1->font().pixelSize(), 11);
  EXPECT_TRUE(f.Label1->font().bold());
  EXPECT_EQ(f.Label1->palette().color(QPalette::WindowText), f.palette().color(QPalette::Link));
  EXPECT_EQ(f.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);

  // Tab order: edit box, Whois, text area, DNS Mx, Ping, Trace Route (the
  // chain also holds the text area's own parts, which are skipped).
  const std::vector<QWidget*> order = {f.edHost, f.bwhois, f.Memo1, f.bdns, f.btping, f.bttracert};
  std::vector<QWidget*> seen;
  QWidget* w = f.edHost;
  for (int i = 0; i < 200 && (seen.empty() || w != f.edHost); ++i, w = w->nextInFocusChain())
    if (std::find(order.begin(), order.end(), w) != order.end()) seen.push_back(w);
  EXPECT_EQ(seen, order);
  for (QWidget* focusable : order) EXPECT_TRUE(focusable->focusPolicy() & Qt::TabFocus);
}

TEST_F(Window, FirstActivationRunsLocalInformationOnce) {
  auto form = MakeGated();
  QTest::qWait(100);
  EXPECT_TRUE(gate->Runs().empty()) << "nothing runs before the window is shown";
  gate->Open(true);
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 2000));
  EXPECT_EQ(gate->Runs(), (std::vector<std::string>{"0:example.com"}));
  // Leaving the window and coming back starts no new run.
  QWidget other;
  other.show();
  QApplication::setActiveWindow(&other);
  QTest::qWait(50);
  QApplication::setActiveWindow(form.get());
  QTest::qWait(200);
  EXPECT_EQ(gate->Runs().size(), 1u);
}

TEST_F(Window, ClickWhileBusyStartsNothing) {
  auto form = MakeGated();
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Runs().size() == 1; }, 2000));
  // Operation 0 is still running: every button is dropped.
  for (QPushButton* b : {form->bwhois, form->bdns, form->btping, form->bttracert})
    QTest::mouseClick(b, Qt::LeftButton);
  QTest::qWait(100);
  EXPECT_EQ(gate->Runs().size(), 1u);
  EXPECT_TRUE(form->bwhois->isEnabled()) << "buttons stay enabled while the worker runs";
  gate->Open(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->LookupWorker().WorkerBusy(); }, 2000));
  QTest::qWait(50);
  EXPECT_EQ(gate->Runs().size(), 1u) << "the dropped requests never run";
  QTest::mouseClick(form->btping, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Runs().size() == 2; }, 2000));
  EXPECT_EQ(gate->Runs().back(), "3:example.com");
}

TEST_F(Window, FocusLeavingTheEditBoxLowerCasesAToZOnly) {
  auto form = MakeGated();
  gate->Open(true);
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 2000));
  form->edHost->setText(QString::fromUtf8("WWW.ÉCOLE.Fr"));
  form->edHost->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->edHost->hasFocus(); }, 1000));
  QTest::mouseClick(form->bwhois, Qt::LeftButton);
  EXPECT_EQ(form->edHost->text(), QString::fromUtf8("www.École.fr"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Runs().size() == 2; }, 2000));
  EXPECT_EQ(gate->Runs().back(),
            "1:www.\xC3\x89"
            "cole.fr");
}

TEST_F(Window, WaitLabelBlinksWhileBusyAndEndsHidden) {
  auto form = MakeGated();
  ShowAndActivate(*form);
  bool shown = false;
  bool hiddenAgain = false;
  const auto start = Clock::now();
  while (MsSince(start) < 1300) {
    QTest::qWait(20);
    if (form->Label2->isVisible()) shown = true;
    if (shown && !form->Label2->isVisible()) hiddenAgain = true;
  }
  EXPECT_TRUE(shown);
  EXPECT_TRUE(hiddenAgain);
  gate->Open(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->LookupWorker().WorkerBusy(); }, 2000));
  QTest::qWait(700);
  EXPECT_FALSE(form->Label2->isVisible());
}

TEST_F(Window, MakerLinkOpensTheWebPage) {
  auto form = MakeGated();
  gate->Open(true);
  ShowAndActivate(*form);
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "open");
  QTest::mouseClick(form->Label1, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(catcher.url, QUrl("http://www.quillon.net/"));
}

TEST_F(Window, ViewShowsBytesAsUtf8OrLatin1AndKeepsOrder) {
  EXPECT_EQ(BytesToQString("caf\xC3\xA9"), QString::fromUtf8("café"));
  EXPECT_EQ(BytesToQString("caf\xE9"), QString::fromUtf8("café"));
  EXPECT_EQ(BytesToQString(std::string("a\0b", 3)).size(), 3);
  auto form = MakeGated();
  TQtView& view = form->View();
  view.ClearText();
  view.AppendLine("");
  view.AppendLine("Ping for x");
  view.AppendLine("\xB5s");
  QTest::qWait(50);
  EXPECT_EQ(form->Memo1->toPlainText(), QString::fromUtf8("\nPing for x\nµs"));
  view.ReplaceText("l1\nl2\n");
  view.AppendLine("Error Whois");
  view.SetCaption(TInfoLabel::Online, "Online");
  view.SetColour(TInfoLabel::Online, kOnlineGreen);
  view.SetCaption(TInfoLabel::IP2, "198.18.0.1");
  QTest::qWait(50);
  EXPECT_EQ(form->Memo1->toPlainText(), "l1\nl2\nError Whois");
  EXPECT_EQ(form->Online->text(), "Online");
  EXPECT_EQ(form->Online->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_GT(form->IP2->width(), 5) << "the label sizes itself to its text";
  view.SetColour(TInfoLabel::Online, kOfflineRed);
  QTest::qWait(20);
  EXPECT_EQ(form->Online->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

// A public-address body that is markup (a hotel login page, a hostile
// service) never reaches IP1: it is no address, so the box reads "Offline".
// Whatever a label is given is shown character for character, never drawn
// as HTML.
TEST_F(Window, NetworkTextIsShownAsPlainText) {
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\n<b>x</b>");
  });
  auto form = std::make_unique<TForm1>([&](TLookupView& view) {
    auto runner = std::make_unique<TLookupOperations>(view);
    runner->PublicAddressSources = ParsePublicAddressSources(
        "http://127.0.0.1:" + std::to_string(server.port()) + "/misc/ip.php", nullptr);
    return runner;
  });
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(form->Online->text(), "Offline");
  EXPECT_EQ(form->IP1->text(), "");
  form->View().SetCaption(TInfoLabel::IP1, "<b>x</b>");
  QTest::qWait(50);
  EXPECT_EQ(form->IP1->text(), "<b>x</b>");
  for (QLabel* label : std::initializer_list<QLabel*>{form->Online, form->IP1, form->Local,
                                                      form->IP2, form->Label1, form->Label2})
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  // Drawn as rich text the label would be one bold "x" wide.
  EXPECT_GE(form->IP1->width(), QFontMetrics(form->IP1->font()).horizontalAdvance("<b>x</b>"));
  // The text area is plain text too, whatever it is given.
  form->View().ReplaceText("<img src=\"/etc/x\">");
  QTest::qWait(50);
  EXPECT_EQ(form->Memo1->toPlainText(), "<img src=\"/etc/x\">");
}

// Tab in the text area moves on to "DNS Mx"; Shift+Tab goes back to "Whois";
// neither types a TAB.
TEST_F(Window, TabAndShiftTabLeaveTheTextArea) {
  auto form = MakeGated();
  gate->Open(true);
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 2000));
  form->Memo1->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo1->hasFocus(); }, 1000));
  QTest::keyClick(form->Memo1, Qt::Key_Tab);
  EXPECT_TRUE(form->bdns->hasFocus());
  QTest::keyClick(form->bdns, Qt::Key_Tab);
  EXPECT_TRUE(form->btping->hasFocus());
  QTest::keyClick(form->btping, Qt::Key_Tab);
  EXPECT_TRUE(form->bttracert->hasFocus());
  form->Memo1->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo1->hasFocus(); }, 1000));
  QTest::keyClick(form->Memo1, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(form->bwhois->hasFocus());
  EXPECT_FALSE(form->Memo1->toPlainText().contains('\t'));
}

// The window installs a dispatcher of its own event loop: the address
// watch's checks run on the window's thread, and the watch can be switched
// off from its own status handler there without the window hanging.
TEST_F(Window, AddressWatchChecksRunOnTheWindowThread) {
  TLookupOperations* ops = nullptr;
  auto form = std::make_unique<TForm1>([&](TLookupView& view) {
    auto runner = std::make_unique<TLookupOperations>(view);
    ops = runner.get();
    return runner;
  });
  ASSERT_EQ(MainThreadDispatcher().get(), &form->Dispatcher());
  EXPECT_TRUE(form->Dispatcher().IsMainThread());
  TIdIPWatch& watch = ops->IdIPWatch1;
  watch.SetAddressSource([] { return std::string("198.18.0.7"); });
  watch.SetWatchInterval(20);
  int raised = 0;
  bool onWindowThread = false;
  watch.OnStatusChanged = [&](TIdBaseComponent*) {
    onWindowThread = QThread::currentThread() == form->thread();
    watch.SetActive(false);
    ++raised;
  };
  watch.SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return raised == 1; }, 3000));
  EXPECT_TRUE(onWindowThread);
  EXPECT_FALSE(watch.Active());
  EXPECT_TRUE(watch.NetworkUp());
  form.reset();
  EXPECT_EQ(MainThreadDispatcher(), nullptr) << "the window takes its dispatcher away with it";
}

TEST_F(Window, ClosingWhileIdleEndsWithinASecond) {
  auto form = MakeGated();
  gate->Open(true);
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 2000));
  const auto start = Clock::now();
  form->close();
  EXPECT_LT(MsSince(start), 1000L);
  EXPECT_TRUE(form->ThreadsEnded());
  EXPECT_EQ(gate->Runs().size(), 1u) << "no operation runs during closing";
}

// A name typed with non-ASCII letters: the whois server gets its A-label,
// the edit box keeps the typed text, the answer is shown.
TEST_F(Window, WhoisOfAnInternationalNameSendsItsALabel) {
  std::string query;
  std::mutex queryLock;
  test::TcpServer server([&](int fd) {
    const std::string line = test::RecvLine(fd);
    {
      std::lock_guard<std::mutex> guard(queryLock);
      query = line;
    }
    test::SendAll(fd, "domain: xn--bcher-kva.fr\r\n");
  });
  auto form = std::make_unique<TForm1>([&](TLookupView& view) {
    auto runner = std::make_unique<TLookupOperations>(view);
    runner->WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
    runner->WhoisPort = server.port();
    runner->PublicAddressSources = ParsePublicAddressSources(
        "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/", nullptr);
    return runner;
  });
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 3000));
  form->edHost->setText(
      QString::fromUtf8("www.B\xC3\xBC"
                        "cher.FR"));
  form->edHost->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->edHost->hasFocus(); }, 1000));
  QTest::mouseClick(form->bwhois, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 2; }, 3000));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return form->Memo1->toPlainText() == "domain: xn--bcher-kva.fr"; }, 2000))
      << form->Memo1->toPlainText().toStdString();
  std::lock_guard<std::mutex> guard(queryLock);
  EXPECT_EQ(query, "xn--bcher-kva.fr\r\n");
  EXPECT_EQ(form->edHost->text(), QString::fromUtf8("www.b\xC3\xBC"
                                                    "cher.fr"));
}

TEST_F(Window, ClosingWhileAWhoisStallsEndsWithinASecondAndWritesNothingMore) {
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "partial\r\n");
    test::RecvUntilClose(fd, 8000);
  });
  TLookupOperations* ops = nullptr;
  auto form = std::make_unique<TForm1>([&](TLookupView& view) {
    auto runner = std::make_unique<TLookupOperations>(view);
    runner->WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
    runner->WhoisPort = server.port();
    runner->PublicAddressSources = ParsePublicAddressSources(
        "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/", nullptr);
    ops = runner.get();
    return runner;
  });
  ShowAndActivate(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 3000));
  QTest::mouseClick(form->bwhois, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.accepted() == 1; }, 2000));
  QTest::qWait(300);
  ASSERT_TRUE(form->LookupWorker().WorkerBusy());
  const unsigned posted = form->View().Posted();
  const QString text = form->Memo1->toPlainText();
  const auto start = Clock::now();
  form->close();
  EXPECT_LT(MsSince(start), 1000L);
  EXPECT_TRUE(form->ThreadsEnded());
  QTest::qWait(300);
  EXPECT_EQ(form->View().Posted(), posted);
  EXPECT_EQ(form->Memo1->toPlainText(), text);
  EXPECT_NE(ops, nullptr);
}

}  // namespace
}  // namespace quillon

#include "window_test.moc"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The windows keep their history in a settings folder of this run's own,
  // never in the user's.
  const std::filesystem::path config =
      std::filesystem::temp_directory_path() / quillon::test::UniqueName("quillon-window-config-");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::filesystem::remove_all(config);
  return status;
}
