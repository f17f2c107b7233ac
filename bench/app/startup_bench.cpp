// Start-up to the first shown window: the time from just before a new
// process is started until the window's first paint, offscreen; the new
// process loads Qt, builds the window with the real operations, shows it and
// reports the moment of its first paint through a pipe. 20 runs, inside the
// end-to-end world (the first activation asks for the public address).
//   BENCH app_startup_first_window_median <ms> ms  (and _min, _max)
#include <QApplication>
#include <QEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "app/window/form1.h"
#include "app/lookup/lookup_operations.h"
#include "bench/app/bench_world.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kChildFlag = "--child-fd";

// Ends the process at the window's first paint, writing the moment to `fd`.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(int fd) : fd_(fd) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const long long ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
              .count();
      if (::write(fd_, &ns, sizeof ns) != sizeof ns) std::_Exit(3);
      std::_Exit(0);  // nothing after the first paint is measured
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  int fd_;
};

int Child(int argc, char** argv, int fd) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(quillon::kApplicationTitle));
  quillon::TForm1 form([](quillon::TLookupView& view) {
    return std::make_unique<quillon::TLookupOperations>(view);
  });
  FirstPaint watch(fd);
  form.installEventFilter(&watch);
  form.show();
  return QApplication::exec();
}

// One start: milliseconds from fork to the first paint, or < 0 on failure.
double OneStart(const char* self) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    const std::string fd = std::to_string(p[1]);
    ::execl(self, self, quillon::bench::kInsideFlag, kChildFlag, fd.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(p[1]);
  long long ns = 0;
  const bool got = pid > 0 && ::read(p[0], &ns, sizeof ns) == sizeof ns;
  ::close(p[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  if (!got) return -1;
  const auto painted = Clock::time_point(std::chrono::nanoseconds(ns));
  return std::chrono::duration<double, std::milli>(painted - start).count();
}

int Inside(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], kChildFlag) == 0) return Child(argc, argv, std::atoi(argv[i + 1]));
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  constexpr int kRuns = 20;
  std::vector<double> ms;
  OneStart(self);  // warms the page cache; not counted
  for (int i = 0; i < kRuns; ++i) {
    const double t = OneStart(self);
    if (t < 0) {
      std::fprintf(stderr, "start %d did not show the window\n", i);
      return 1;
    }
    ms.push_back(t);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("BENCH app_startup_first_window_median %.1f ms\n",
              (ms[kRuns / 2 - 1] + ms[kRuns / 2]) / 2);
  std::printf("BENCH app_startup_first_window_min %.1f ms\n", ms.front());
  std::printf("BENCH app_startup_first_window_max %.1f ms\n", ms.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (quillon::bench::InsideWorld(argc, argv)) return Inside(argc, argv);
  return quillon::bench::RunInsideWorld("bench_app_startup", std::chrono::seconds(300));
}
