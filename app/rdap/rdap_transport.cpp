// rdap's socket transport; see rdap_transport.h.
#include "app/rdap/rdap_transport.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/lookup/domain_helpers.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_document.h"
#include "app/rdap/rdap_failure.h"
#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/stack.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

// One resolution, shared by the thread that runs it and the one that waits;
// whichever lets go last frees it. The component keeps the socket stack
// alive while the resolving thread may still use it.
struct TResolution {
  TIdComponent keepStack;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::string address;
  int error = 0;  // socket library number; -1 another failure
};

}  // namespace

TRdapTransport::TRdapTransport(const std::atomic<bool>& interrupted,
                               std::map<std::string, std::string> hosts, TRdapResolve resolve)
    : TInterruptibleIOHandler(interrupted),
      interrupted_(interrupted),
      hosts_(std::move(hosts)),
      resolve_(std::move(resolve)) {}

void TRdapTransport::Arm(std::chrono::milliseconds limit, size_t maxBytes) {
  TInterruptibleIOHandler::Arm(limit, maxBytes);
  deadline_ = Clock::now() + limit;
}

void TRdapTransport::Disarm() {
  TInterruptibleIOHandler::Disarm();
  deadline_.reset();
}

int64_t TRdapTransport::MsLeft() const {
  if (!deadline_) return INT64_MAX;
  return std::max<int64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now()).count(), 0);
}

void TRdapTransport::Pause(std::chrono::milliseconds duration) {
  const auto end = Clock::now() + duration;
  for (;;) {
    if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
    const auto now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(end - now, std::chrono::milliseconds(kWaitSliceMs)));
  }
}

std::string TRdapTransport::Resolve(const std::string& host) {
  auto state = std::make_shared<TResolution>();
  TRdapResolve resolve = resolve_;
  if (!resolve) resolve = [](const std::string& name) { return SharedStack().ResolveHostName(name); };
  // getaddrinfo cannot be cut short: it runs apart, and a wait that ends
  // first leaves it to finish on its own.
  std::thread([state, resolve, host] {
    std::string address;
    int error = 0;
    try {
      address = resolve(host);
    } catch (const EIdSocketError& e) {
      error = e.SocketErrorCode;
    } catch (...) {
      error = -1;
    }
    std::lock_guard guard(state->lock);
    state->address = std::move(address);
    state->error = error;
    state->done = true;
    state->finished.notify_all();
  }).detach();

  std::unique_lock guard(state->lock);
  for (;;) {
    if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
    if (state->done) break;
    if (deadline_ && Clock::now() >= *deadline_) throw EOperationLimitExceeded("Time limit");
    auto slice = Clock::now() + std::chrono::milliseconds(kWaitSliceMs);
    if (deadline_ && *deadline_ < slice) slice = *deadline_;
    state->finished.wait_until(guard, slice);
  }
  if (state->error == 0 && !state->address.empty()) return state->address;
  const int code = state->error > 0 ? state->error : 11003;
  throw ERdapError("cannot resolve " + PrintableText(host) + ": " + EnglishSocketError(code));
}

void TRdapTransport::ConnectTo(const std::string& host, int port, const std::string& boundIP,
                               int boundPort, int boundPortMin, int boundPortMax, int timeout) {
  const auto mapped = hosts_.find(LowerAsciiLetters(host));
  std::string address = mapped != hosts_.end() ? mapped->second : host;
  if (!TIdStack::IsIPLiteral(address) && LowerAsciiLetters(address) != "localhost")
    address = Resolve(address);
  try {
    TInterruptibleIOHandler::ConnectTo(address, port, boundIP, boundPort, boundPortMin,
                                       boundPortMax, timeout);
  } catch (const EIdConnectException& e) {
    const int code = SocketErrorCodeIn(e.what());
    throw ERdapError("cannot connect to " + PrintableText(host) +
                     (code != 0 ? ": " + EnglishSocketError(code) : std::string()));
  } catch (const EIdSocketError& e) {
    throw ERdapError("cannot connect to " + PrintableText(host) + ": " +
                     EnglishSocketError(e.SocketErrorCode));
  }
}

}  // namespace quillon
