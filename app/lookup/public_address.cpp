// The public-address fetch; see public_address.h.
#include "app/lookup/public_address.h"

#include "app/lookup/interruptible.h"
#include "net/http/http.h"

namespace quillon {

TPublicAddressFetcher::TPublicAddressFetcher(const std::atomic<bool>& interrupted)
    : transport_(std::make_unique<TInterruptibleIOHandler>(interrupted)),
      http_(std::make_unique<TIdHTTP>()) {
  // The window's settings of its HTTP client.
  TIdHTTP& http = *http_;
  http.SetIOHandler(transport_.get());
  http.MaxLineAction = maException;
  http.ReadTimeout = 0;
  http.AllowCookies = true;
  http.ProxyParams().BasicAuthentication = false;
  http.ProxyParams().SetProxyPort(0);
  http.Request().SetContentLength(-1);
  http.Request().ContentRangeStart = 0;
  http.Request().ContentRangeEnd = 0;
  http.Request().ContentType = "text/html";
  http.Request().Accept = "text/html, */*";
  http.Request().BasicAuthentication = false;
  http.HTTPOptions = hoForceEncodeParams;
}

TPublicAddressFetcher::~TPublicAddressFetcher() {
  try {
    http_->SetIOHandler(nullptr);
  } catch (...) {
    // Nothing to report while going away.
  }
}

void TPublicAddressFetcher::WakeWait() {
  transport_->WakeWait();
}

std::string TPublicAddressFetcher::Fetch(const std::string& url, std::chrono::milliseconds limit,
                                         size_t maxBody) {
  // With a read time-out of 0 a stalled service would hold the worker for
  // ever: the whole exchange is bounded instead, and so is what it may
  // receive (the body plus room for the status line and headers).
  constexpr size_t kHeadRoom = 16 * 1024;
  transport_->Arm(limit, maxBody + kHeadRoom);
  std::string body;
  try {
    body = http_->GetBody(url);
  } catch (...) {
    transport_->Disarm();
    try {
      if (http_->IsConnected()) http_->CloseConnection();
    } catch (...) {
      // The fetch's own failure is the one to report.
    }
    throw;
  }
  transport_->Disarm();
  if (body.size() > maxBody) throw EOperationSizeLimitExceeded("Body too large");
  return body;
}

}  // namespace quillon
