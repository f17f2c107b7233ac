// Drives the real window (TForm1 with the real operations) as a user would,
// for the end-to-end tests: shows it, waits for the first activation's
// local-information run, then for each step types the host into the edit
// box, clicks the step's button and waits until the worker is idle again.
// Prints what the window shows after each step:
//
//   @step STEP
//   @caption LABEL=TEXT  and  @colour LABEL=R,G,B   (the Local Info labels)
//   @ink LABEL=R,G,B      the colour its text is actually drawn in
//   @linkcolour R,G,B     the desktop's link colour
//   @edhost TEXT                                    (after focus left it)
//   | LINE                                          (each line of the text area)
//   @end
//
//   e2e_window_driver [--limit SECONDS] [--grab OUT.png] STEP...
//   STEP: whois:HOST mx:HOST ping:HOST trace:HOST, or close:STEP (the last
//   step: closes the window while the operation runs and prints
//   "@closed busy=0|1 ms=N ended=0|1")
// Run it inside the end-to-end world, on the offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/window/form1.h"
#include "app/lookup/lookup_operations.h"
#include "app/lookup/public_address_sources.h"

namespace {

void Print(const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Lets the window's thread run until the worker has finished `runs` runs
// and is idle, then a little longer so that every change it queued shows.
bool WaitForRuns(quillon::TForm1& form, unsigned runs, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < limitMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (form.LookupWorker().RunsCompleted() >= runs && !form.LookupWorker().WorkerBusy()) {
      QTest::qWait(100);
      return true;
    }
    QTest::qWait(5);
  }
  return false;
}

std::string Rgb(const QColor& c) {
  return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue());
}

// The colour the text of a widget is drawn in, as it shows on screen: the
// most frequent colour of its picture other than the background (the
// colour of its top-left corner).
std::string Ink(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  if (image.isNull()) return "none";
  const QRgb background = image.pixel(0, 0);
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != background) ++count[image.pixel(x, y)];
  if (count.empty()) return "none";
  const auto most = std::max_element(
      count.begin(), count.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  return Rgb(QColor(most->first));
}

void Report(quillon::TForm1& form, const std::string& step) {
  Print("@step " + step);
  const std::pair<const char*, QLabel*> labels[] = {
      {"Online", form.Online}, {"IP1", form.IP1}, {"Local", form.Local}, {"IP2", form.IP2}};
  for (const auto& [name, label] : labels) {
    Print(std::string("@caption ") + name + "=" + label->text().toStdString());
    Print(std::string("@colour ") + name + "=" + Rgb(label->palette().color(QPalette::WindowText)));
    if (!label->text().isEmpty()) Print(std::string("@ink ") + name + "=" + Ink(label));
  }
  Print("@ink Label1=" + Ink(form.Label1));
  Print("@linkcolour " + Rgb(QApplication::palette().color(QPalette::Link)));
  Print("@edhost " + form.edHost->text().toStdString());
  Print(std::string("@waitlabel ") + (form.Label2->isVisible() ? "shown" : "hidden"));
  const QString text = form.Memo1->toPlainText();
  if (!text.isEmpty())
    for (const QString& line : text.split(QChar('\n'))) Print("| " + line.toStdString());
  Print("@end");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(quillon::kApplicationTitle));
  int limitMs = 60000;
  std::string grabPath;
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--limit" && i + 1 < argc)
      limitMs = std::atoi(argv[++i]) * 1000;
    else if (a == "--grab" && i + 1 < argc)
      grabPath = argv[++i];
    else
      steps.push_back(a);
  }

  // As the program builds it: the public-address sources in force.
  quillon::TForm1 form([](quillon::TLookupView& view) {
    auto operations = std::make_unique<quillon::TLookupOperations>(view);
    operations->PublicAddressSources =
        quillon::ConfiguredPublicAddressSources(stderr, "e2e_window_driver");
    return operations;
  });
  form.show();
  form.activateWindow();
  if (!QTest::qWaitForWindowActive(&form, 5000)) {
    Print("@error the window did not become active");
    return 1;
  }
  // The first activation runs the local-information operation.
  if (!WaitForRuns(form, 1, limitMs)) {
    Print("@error the first activation's run did not end");
    return 1;
  }
  Report(form, "info");

  for (const std::string& whole : steps) {
    // "close:OP:HOST": start the operation, then close the window while it
    // runs, and tell how long closing took.
    const bool closeDuring = whole.rfind("close:", 0) == 0;
    const std::string step = closeDuring ? whole.substr(6) : whole;
    const auto colon = step.find(':');
    const std::string op = step.substr(0, colon);
    const std::string host = colon == std::string::npos ? "" : step.substr(colon + 1);
    QPushButton* button = op == "whois"   ? form.bwhois
                          : op == "mx"    ? form.bdns
                          : op == "ping"  ? form.btping
                          : op == "trace" ? form.bttracert
                                          : nullptr;
    if (!button) {
      Print("@error unknown step " + step);
      return 2;
    }
    // Type the host as a user would; clicking the button takes the focus
    // from the edit box first, which lower-cases it.
    form.edHost->setFocus();
    form.edHost->clear();
    QTest::keyClicks(form.edHost, QString::fromStdString(host));
    const unsigned before = form.LookupWorker().RunsCompleted();
    QTest::mouseClick(button, Qt::LeftButton);
    if (closeDuring) {
      QTest::qWait(1500);
      const bool busy = form.LookupWorker().WorkerBusy();
      QElapsedTimer closing;
      closing.start();
      form.close();
      const qint64 ms = closing.elapsed();
      Print("@closed busy=" + std::to_string(busy) + " ms=" + std::to_string(ms) +
            " ended=" + std::to_string(form.ThreadsEnded()));
      // As the program does: a worker that did not give way in time is
      // left to the end of the process.
      std::fflush(nullptr);
      std::_Exit(0);
    }
    if (!WaitForRuns(form, before + 1, limitMs)) {
      Print("@error step " + step + " did not end");
      return 1;
    }
    Report(form, step);
  }
  // The window as drawn, for a look at what the steps left on screen.
  if (!grabPath.empty() && !form.grab().save(QString::fromStdString(grabPath), "PNG")) {
    Print("@error could not save " + grabPath);
    return 1;
  }
  form.close();
  return 0;
}
