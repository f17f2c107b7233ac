// The window's text-area menu and its report (Copy Report, Save Report As...)
// and the edit box's history with its inline completer, on the offscreen
// platform, each test with a settings folder of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringListModel>
#include <QTest>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/lookup/lookup_worker.h"
#include "app/window/form1.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

// Runs that end at once, or wait while the gate is shut.
class QuickRunner final : public TOperationRunner {
 public:
  void RunOperation(int, const std::string&) override {
    std::unique_lock guard(lock_);
    cv_.wait(guard, [this] { return open_ || interrupted_; });
  }
  void Interrupt() override {
    std::lock_guard guard(lock_);
    interrupted_ = true;
    cv_.notify_all();
  }
  void Shut(bool shut) {
    std::lock_guard guard(lock_);
    open_ = !shut;
    cv_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool open_ = true;
  bool interrupted_ = false;
};

class WindowReport : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    saved_ = old ? old : "";
    config_ = std::filesystem::temp_directory_path() / test::UniqueName("quillon-report-");
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    std::filesystem::remove_all(config_);
  }
  std::unique_ptr<TForm1> MakeForm() {
    auto form = std::make_unique<TForm1>([this](TLookupView&) {
      auto r = std::make_unique<QuickRunner>();
      runner = r.get();
      return r;
    });
    form->show();
    QApplication::setActiveWindow(form.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().RunsCompleted() == 1; }, 2000));
    return form;
  }
  // The edit box's text, then a click on `button`; waits until idle.
  void Press(TForm1& form, QPushButton* button, const QString& host, bool wait = true) {
    form.edHost->setText(host);
    QTest::mouseClick(button, Qt::LeftButton);
    if (wait) {
      ASSERT_TRUE(form.LookupWorker().WaitUntilIdle(std::chrono::seconds(2)));
    }
  }
  std::string ConfText() const {
    std::ifstream in(config_ / "quillon" / "quillon.conf");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  QuickRunner* runner = nullptr;
  std::filesystem::path config_;
  std::string saved_;
};

TEST(Report, HeadingLinesAndFileName) {
  const QDate day(2025, 3, 7);
  const QTime time(9, 5, 4);
  struct Case {
    int code;
    QString host;
    int offsetSeconds;
    QString text;
    QString report;
    QString fileName;
  };
  const Case cases[] = {
      {1, "example.com", 3600, "Domain Name: EXAMPLE.COM\nRegistrar: X",
       "Quillon 1.1, Whois for example.com, 2025-03-07 09:05:04 +0100\n\n"
       "Domain Name: EXAMPLE.COM\nRegistrar: X\n",
       "quillon-example.com-20250307-090504.txt"},
      {2, "example.org", -(5 * 3600 + 30 * 60), "",
       "Quillon 1.1, DNS Mx for example.org, 2025-03-07 09:05:04 -0530\n\n",
       "quillon-example.org-20250307-090504.txt"},
      {3, QString::fromUtf8("b\xC3\xBC" "cher.de"), 0, "Ping for x\n\n \nAverage = 3 ms",
       QString::fromUtf8("Quillon 1.1, Ping for b\xC3\xBC" "cher.de, 2025-03-07 09:05:04 +0000\n\n"
                         "Ping for x\n\n \nAverage = 3 ms\n"),
       QString::fromUtf8("quillon-b\xC3\xBC" "cher.de-20250307-090504.txt")},
      {4, "../../etc/pass wd:\t\x01x", 45 * 60, "1 :\t198.18.1.1",
       "Quillon 1.1, Trace Route for ../../etc/pass wd:\t\x01x, 2025-03-07 09:05:04 +0045\n\n"
       "1 :\t198.18.1.1\n",
       "quillon-.._.._etc_pass_wd___x-20250307-090504.txt"},
  };
  for (const Case& c : cases) {
    const TReportSubject subject{c.code, c.host,
                                 QDateTime(day, time, Qt::OffsetFromUTC, c.offsetSeconds)};
    EXPECT_EQ(ReportText("1.1", subject, c.text), c.report) << c.code;
    EXPECT_EQ(ReportFileName(subject), c.fileName) << c.code;
  }
  EXPECT_EQ(OperationName(0), "");
  // Written as UTF-8, replacing what was there; a folder that is not there fails.
  const QString path = QDir::temp().filePath(QString::fromStdString(test::UniqueName("report-")));
  ASSERT_TRUE(WriteReportFile(path, "old\n"));
  ASSERT_TRUE(WriteReportFile(path, cases[2].report));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), cases[2].report.toUtf8());
  file.remove();
  EXPECT_FALSE(WriteReportFile("/nonexistent-folder/report.txt", "x"));
}

TEST_F(WindowReport, MenuEntriesAndTheReportOfWhatIsShown) {
  auto form = MakeForm();
  EXPECT_EQ(form->Memo1->contextMenuPolicy(), Qt::CustomContextMenu);
  const auto entries = [&] {
    std::unique_ptr<QMenu> menu(form->CreateMemo1Menu());
    std::vector<std::pair<QString, bool>> out;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) out.emplace_back(a->text().section('\t', 0, 0), a->isEnabled());
    return out;
  };
  using Entries = std::vector<std::pair<QString, bool>>;
  // Only Local Info has run: nothing to copy, no report yet.
  EXPECT_EQ(entries(), (Entries{{"&Copy", false},
                                {"Select &All", false},
                                {"Copy &Report", false},
                                {QString::fromUtf8("&Save Report As\xE2\x80\xA6"), false}}));
  EXPECT_EQ(form->Report(), "");

  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  Press(*form, form->bwhois, "example.org");
  form->View().AppendLine("Domain Name: EXAMPLE.ORG");
  form->View().AppendLine("");
  form->View().AppendLine("Registrar: Example");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo1->blockCount() == 3; }, 1000));
  EXPECT_EQ(entries(), (Entries{{"&Copy", false},
                                {"Select &All", true},
                                {"Copy &Report", true},
                                {QString::fromUtf8("&Save Report As\xE2\x80\xA6"), true}}));
  form->Memo1->selectAll();
  EXPECT_TRUE(entries()[0].second);

  const QString report = form->Report();
  const QRegularExpression heading(
      "^Quillon 1\\.1, Whois for example\\.org, "
      "(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) [+-]\\d{4}\n\n");
  const auto match = heading.match(report);
  ASSERT_TRUE(match.hasMatch()) << report.toStdString();
  const QDateTime start = QDateTime::fromString(match.captured(1), "yyyy-MM-dd HH:mm:ss");
  EXPECT_GE(start, before);
  EXPECT_LE(start, QDateTime::currentDateTime());
  EXPECT_TRUE(report.endsWith("\n\nDomain Name: EXAMPLE.ORG\n\nRegistrar: Example\n"))
      << report.toStdString();

  // While an operation runs the report takes what is shown so far; a click
  // dropped meanwhile changes nothing.
  runner->Shut(true);
  Press(*form, form->btping, "host.example", false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LookupWorker().WorkerBusy(); }, 1000));
  form->View().AppendLine("Ping for host.example");
  Press(*form, form->bttracert, "other.example", false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo1->blockCount() == 4; }, 1000));
  EXPECT_TRUE(form->Report().startsWith("Quillon 1.1, Ping for host.example, "));
  runner->Shut(false);
  ASSERT_TRUE(form->LookupWorker().WaitUntilIdle(std::chrono::seconds(2)));

  // Copy Report puts the same text on the clipboard.
  form->CopyReport();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), form->Report());
}

TEST_F(WindowReport, SaveReportAsWritesTheFileTheDialogNames) {
  auto form = MakeForm();
  QString suggested;
  QString answer;
  form->AskReportPath = [&](const QString& s) {
    suggested = s;
    return answer;
  };
  form->SaveReportAs();  // no report yet: no dialog
  EXPECT_EQ(suggested, "");

  Press(*form, form->bdns, "mail.example");
  form->View().AppendLine("Found DNS entry for mail.example");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo1->blockCount() == 1 &&
                                           !form->Memo1->toPlainText().isEmpty(); },
                              1000));
  form->SaveReportAs();  // cancelled: nothing written
  const QRegularExpression name("^quillon-mail\\.example-\\d{8}-\\d{6}\\.txt$");
  EXPECT_EQ(QFileInfo(suggested).absolutePath(), QDir::homePath());
  EXPECT_TRUE(name.match(QFileInfo(suggested).fileName()).hasMatch()) << suggested.toStdString();

  answer = QString::fromStdString((config_ / "saved.txt").string());
  std::filesystem::create_directories(config_);
  form->SaveReportAs();
  QFile file(answer);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()), form->Report());
  EXPECT_TRUE(form->Report().endsWith("\n\nFound DNS entry for mail.example\n"));
}

TEST_F(WindowReport, HistoryKeepsTheLastFiftyNamesMostRecentFirst) {
  auto form = MakeForm();
  EXPECT_TRUE(form->History().Names().empty());
  QPushButton* buttons[] = {form->bwhois, form->bdns, form->btping, form->bttracert};
  for (int i = 1; i <= 52; ++i) Press(*form, buttons[i % 4], QString("host%1.example").arg(i));
  Press(*form, form->bwhois, "host30.example");  // again: moves to the front, once
  Press(*form, form->bwhois, "   ");               // blank: not kept
  const std::vector<std::string> names = form->History().Names();  // kept past the window
  ASSERT_EQ(names.size(), kHistoryLimit);
  EXPECT_EQ(names[0], "host30.example");
  EXPECT_EQ(names[1], "host52.example");
  EXPECT_EQ(names[2], "host51.example");
  EXPECT_EQ(names.back(), "host3.example");  // 1 and 2 fell off the end
  EXPECT_EQ(std::count(names.begin(), names.end(), "host30.example"), 1);
  // Written to quillon.conf's [history] and read by the next window.
  const std::string conf = ConfText();
  EXPECT_EQ(conf.rfind("[history]\nname1 = host30.example\nname2 = host52.example\n", 0), 0u)
      << conf;
  const QStringList model =
      qobject_cast<QStringListModel*>(form->HostCompleter()->model())->stringList();
  EXPECT_EQ(model.size(), 50);
  EXPECT_EQ(model.front(), "host30.example");
  form.reset();
  auto next = MakeForm();
  EXPECT_EQ(next->History().Names(), names);
}

TEST_F(WindowReport, TheCompleterOffersTheMostRecentNameInline) {
  std::filesystem::create_directories(config_ / "quillon");
  std::ofstream(config_ / "quillon" / "quillon.conf")
      << "[public-address]\nsources = http://x/\n[history]\nname1 = mail.example.org\n"
         "name2 = mx.example.org\nname3 = mail.example.net\n";
  auto form = MakeForm();
  QLineEdit* box = form->edHost;
  const QRect geometry = box->geometry();
  EXPECT_EQ(form->HostCompleter()->completionMode(), QCompleter::InlineCompletion);
  box->clear();
  box->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return box->hasFocus(); }, 1000));
  QTest::keyClicks(box, "ma");
  EXPECT_EQ(box->text(), "mail.example.org");   // the most recent that fits
  EXPECT_EQ(box->selectedText(), "il.example.org");  // the completed part, typed over next
  QTest::keyClicks(box, "il.example.n");
  EXPECT_EQ(box->text(), "mail.example.net");
  EXPECT_EQ(box->geometry(), geometry);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);  // no list pops up
  // The other settings stay when the history is written.
  Press(*form, form->bwhois, "new.example");
  EXPECT_NE(ConfText().find("[public-address]\nsources = http://x/\n"), std::string::npos)
      << ConfText();
}

}  // namespace
}  // namespace quillon
