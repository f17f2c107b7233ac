// Stops of list workers; see cli_run_stop.h.
#include "app/cli/cli_run_stop.h"

namespace quillon {
namespace {

thread_local TRunStop* tThisThreadStop = nullptr;

}  // namespace

void TRunStop::Stop() {
  const std::lock_guard lock(mutex_);
  stopped_ = true;
  if (runner_) runner_->Interrupt();
}

bool TRunStop::Stopped() const {
  return stopped_.load();
}

void TRunStop::Attach(TOperationRunner* runner) {
  const std::lock_guard lock(mutex_);
  runner_ = runner;
  // A stop that came before the command began ends it at once.
  if (stopped_ && runner_) runner_->Interrupt();
}

void TRunStop::Detach(TOperationRunner* runner) {
  const std::lock_guard lock(mutex_);
  if (runner_ == runner) runner_ = nullptr;
}

TRunStop* ThisThreadRunStop() {
  return tThisThreadStop;
}

const std::atomic<bool>& ThisThreadStopFlag() {
  static const std::atomic<bool> kNeverSet{false};
  return tThisThreadStop ? tThisThreadStop->Flag() : kNeverSet;
}

TRunStopBinding::TRunStopBinding(TRunStop& stop) : previous_(tThisThreadStop) {
  tThisThreadStop = &stop;
}

TRunStopBinding::~TRunStopBinding() {
  tThisThreadStop = previous_;
}

TRunStopAttachment::TRunStopAttachment(TOperationRunner& runner)
    : stop_(ThisThreadRunStop()), runner_(runner) {
  if (stop_) stop_->Attach(&runner_);
}

TRunStopAttachment::~TRunStopAttachment() {
  if (stop_) stop_->Detach(&runner_);
}

}  // namespace quillon
