#include "net/tcp/connect_thread.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <vector>

#include "net/socket/platform.h"
#include "net/socket/stack.h"

namespace quillon {

namespace {
// A non-blocking connect reports "in progress" (EINPROGRESS), or "already"
// when the platform layer retried after EINTR; EAGAIN is kept for safety.
constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr int kAlready = 10037;

// Puts a socket into non-blocking mode for the lifetime of the object.
class NonBlockingMode {
 public:
  explicit NonBlockingMode(int fd) : fd_(fd) {
    flags_ = ::fcntl(fd_, F_GETFL);
    if (flags_ == -1 || ::fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK) == -1) {
      const int code = platform::TranslateErrno(errno);
      SharedStack().LastSocketError.store(code);
      SharedStack().RaiseSocketFailure(code);
    }
  }
  ~NonBlockingMode() { ::fcntl(fd_, F_SETFL, flags_); }
  NonBlockingMode(const NonBlockingMode&) = delete;
  NonBlockingMode& operator=(const NonBlockingMode&) = delete;

 private:
  int fd_;
  int flags_ = 0;
};
}  // namespace

TIdConnectThread::TIdConnectThread(TIdSocketHandle& handle) : socketHandle_(handle) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    const int code = platform::TranslateErrno(errno);
    SharedStack().LastSocketError.store(code);
    SharedStack().RaiseSocketFailure(code);
  }
}

TIdConnectThread::~TIdConnectThread() {
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
  ::close(wakeFd_);
}

void TIdConnectThread::Start() {
  thread_ = std::thread([this] { Execute(); });
}

bool TIdConnectThread::WaitFinished(int64_t ms) {
  std::unique_lock<std::mutex> guard(lock_);
  if (ms <= 0) return finished_.load();
  return finishedSignal_.wait_for(guard, std::chrono::milliseconds(ms),
                                  [this] { return finished_.load(); });
}

void TIdConnectThread::Terminate() {
  terminated_.store(true);
  const uint64_t one = 1;
  // The counter cannot overflow from a handful of writes; a failure here
  // would only leave the thread to the system's own connect time-out.
  (void)!::write(wakeFd_, &one, sizeof one);
}

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
  // No exception leaves the thread: a failure becomes FailureText.
  try {
    Connect();
  } catch (const std::exception& e) {
    failureText_ = e.what();
  } catch (...) {
    failureText_ = "?";
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    finished_.store(true);
  }
  finishedSignal_.notify_all();
}

void TIdConnectThread::Connect() {
  TIdStack& stack = SharedStack();
  const int fd = socketHandle_.SocketId();
  NonBlockingMode mode(fd);
  // The socket is never closed under this thread (the owner joins first), so
  // "bad handle" and "not a socket" are real failures here, not the sign of
  // an abandoned connect; only "in progress" is expected.
  if (!stack.CheckSocketResult(socketHandle_.ConnectPeer(socketHandle_.IPVersion),
                               {kWouldBlock, kInProgress, kAlready}))
    return;  // connected at once (ConnectPeer refreshed the addresses)

  for (;;) {
    std::vector<int> readList{wakeFd_};
    std::vector<int> writeList{fd};
    stack.CheckSocketResult(stack.WaitSockets(&readList, &writeList, WaitForever, nullptr));
    if (!readList.empty() || terminated_.load()) return;  // abandoned by the owner
    if (!writeList.empty()) break;
  }
  int error = 0;
  socklen_t length = sizeof error;
  stack.CheckSocketResult(stack.SockGetOption(fd, SOL_SOCKET, SO_ERROR, &error, length));
  if (error != 0) {
    const int code = platform::TranslateErrno(error);
    stack.LastSocketError.store(code);
    stack.RaiseSocketFailure(code);
  }
  socketHandle_.RefreshLocalBinding();
  socketHandle_.RefreshPeerBinding();
}

}  // namespace quillon
