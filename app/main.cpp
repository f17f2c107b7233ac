// The program: the application titled "Quillon", its one window, the message
// loop; the lookup operations run against the window's view.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/form1.h"
#include "app/lookup_operations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(quillon::kApplicationTitle));

  auto form = std::make_unique<quillon::TForm1>([](quillon::TLookupView& view) {
    return std::make_unique<quillon::TLookupOperations>(view);
  });
  form->show();
  const int status = QApplication::exec();
  form->EndThreads(quillon::kCloseLimit);
  if (!form->ThreadsEnded()) {
    // The worker is still inside a blocking system call that no socket
    // shutdown can end (a name lookup): the window is closed and writes
    // nothing more, so the process ends here without tearing down what the
    // worker still uses.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  form.reset();
  return status;
}
