// The program: the application titled "Quillon", its one window, the message
// loop; the lookup operations run against the window's view. A termination
// request (SIGTERM, SIGINT, as a desktop session sends at logout) closes the
// window like its close button.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/window/form1.h"
#include "app/lookup/lookup_operations.h"
#include "app/lookup/public_address_sources.h"
#include "net/socket/error_text.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  // Only async-signal-safe work here: the window's thread does the rest.
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Released as main returns; the early exit below leaves it to the worker.
  const quillon::TSocketLibraryRelease socketLibrary;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(quillon::kApplicationTitle));

  auto form = std::make_unique<quillon::TForm1>([](quillon::TLookupView& view) {
    auto operations = std::make_unique<quillon::TLookupOperations>(view);
    // The public-address sources in force (QUILLON_PUBLIC_ADDRESS_SOURCES,
    // quillon.conf); entries that cannot be read are named on stderr.
    operations->PublicAddressSources = quillon::ConfiguredPublicAddressSources(stderr, "quillon");
    return operations;
  });

  std::unique_ptr<QSocketNotifier> terminate;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) == 0) {
    terminate = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(terminate.get(), &QSocketNotifier::activated, form.get(), [&form] {
      char byte;
      [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &byte, 1);
      form->close();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
  }

  form->show();
  const int status = QApplication::exec();
  form->EndThreads(quillon::kCloseLimit);
  if (!form->ThreadsEnded()) {
    // The worker is still inside a blocking call that gives no way to end
    // it early (a name lookup, a connect): the window is closed and writes
    // nothing more, so the process ends here without tearing down what the
    // worker still uses.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  terminate.reset();
  form.reset();
  return status;
}
