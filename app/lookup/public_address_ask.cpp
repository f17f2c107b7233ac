// Asking one public-address source; see public_address_ask.h.
#include "app/lookup/public_address_ask.h"

#include <algorithm>

#include "app/lookup/interruptible.h"
#include "app/lookup/public_address.h"
#include "app/lookup/public_address_answer.h"
#include "net/http/http.h"
#include "net/socket/exceptions.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

std::chrono::milliseconds TSourceControl::TimeLeft() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
  return std::max(left, std::chrono::milliseconds(1));
}

void TSourceControl::Stop() {
  std::lock_guard guard(lock_);
  stop_.store(true);
  if (wake_) wake_();
}

void TSourceControl::MarkFinished() {
  std::lock_guard guard(lock_);
  finished_ = true;
  finishedSignal_.notify_all();
}

bool TSourceControl::WaitFinished(Clock::time_point until) {
  std::unique_lock guard(lock_);
  return finishedSignal_.wait_until(guard, until, [this] { return finished_; });
}

TSourceControl::TWake::TWake(TSourceControl& control, std::function<void()> wake)
    : control_(control) {
  std::lock_guard guard(control_.lock_);
  control_.wake_ = std::move(wake);
  if (control_.stop_.load()) control_.wake_();
}

TSourceControl::TWake::~TWake() {
  std::lock_guard guard(control_.lock_);
  control_.wake_ = nullptr;
}

std::string FailureText(std::exception_ptr failure, const TSourceControl& control) {
  // A source stopped by the run (its socket shut down, its wait cut short)
  // fails however its code noticed: it did not answer in time.
  if (control.Stopped()) return kNoAnswerInTime;
  try {
    std::rethrow_exception(failure);
  } catch (const EOperationInterrupted&) {
    return kNoAnswerInTime;
  } catch (const EOperationSizeLimitExceeded&) {
    return "answer too long";
  } catch (const EOperationLimitExceeded&) {
    return kNoAnswerInTime;
  } catch (const EIdHTTPProtocolException& e) {
    return "HTTP status " + std::to_string(e.ReplyCode());
  } catch (const EIdConnectTimeout&) {
    return kNoAnswerInTime;
  } catch (const EIdReadTimeout&) {
    return kNoAnswerInTime;
  } catch (const EIdConnectException&) {
    return "could not connect";
  } catch (const EIdConnClosedGracefully&) {
    return "connection closed before the answer";
  } catch (const EIdSocketError& e) {
    switch (e.SocketErrorCode) {
      case 11001:
      case 11002:
      case 11003:
        return "server name not found";
      case 10061:
        return "connection refused";
      case 10051:
        return "network unreachable";
      case 10065:
        return "host unreachable";
      case 10054:
        return "connection reset";
      case 10060:
        return kNoAnswerInTime;
      default:
        return "network error";
    }
  } catch (...) {
    return TSourceControl::Clock::now() >= control.Deadline() ? kNoAnswerInTime : "failed";
  }
}

TSourceReading AskHttpSource(const TPublicAddressSource& source, TSourceControl& control) {
  try {
    TPublicAddressFetcher fetcher(control.StopFlag());
    const TSourceControl::TWake wake(control, [&fetcher] { fetcher.WakeWait(); });
    const std::string body = fetcher.Fetch(source.url, control.TimeLeft(), kPublicAddressMaxBody);
    if (auto address = AddressFromText(body)) return {*address, {}};
    return {{}, "not an IPv4 address"};
  } catch (...) {
    return {{}, FailureText(std::current_exception(), control)};
  }
}

TSourceReading AskSource(const TPublicAddressSource& source, TSourceControl& control) {
  if (source.kind == TSourceKind::Http) return AskHttpSource(source, control);
  return AskDnsSource(source, control);
}

}  // namespace quillon
