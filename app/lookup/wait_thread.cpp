// The wait indicator; see wait_thread.h.
#include "app/lookup/wait_thread.h"

#include "app/lookup/thread_priority.h"

namespace quillon {

TWaitThread::TWaitThread(TWaitLabel& label) : label_(label) {
  thread_ = std::thread([this] { Execute(); });
}

TWaitThread::~TWaitThread() {
  Terminate();
}

void TWaitThread::Resume() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopRequested_) return;
    running_ = true;
    ++resumes_;
  }
  wake_.notify_all();
}

void TWaitThread::StopBlinking() {
  std::lock_guard<std::mutex> guard(lock_);
  running_ = false;
  wake_.notify_all();
  if (stopRequested_) return;
  // The flip is made under the same lock, so this hide is always the last
  // change of the label and the next Resume starts from a hidden label.
  shown_ = false;
  try {
    label_.SetWaitVisible(false);
  } catch (...) {
    // Nothing more can be done for the label.
  }
}

void TWaitThread::Terminate() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_ = true;
    running_ = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TWaitThread::Running() const {
  std::lock_guard<std::mutex> guard(lock_);
  return running_;
}

void TWaitThread::Execute() {
  LowerThisThreadPriority();
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return running_ || stopRequested_; });
    if (stopRequested_) return;
    // One period of sleep; a pause, a new resume or a stop during it starts
    // over above, so a flip always comes a full period after the resume.
    const unsigned resumes = resumes_;
    const auto flipAt = std::chrono::steady_clock::now() + kBlinkPeriod;
    if (wake_.wait_until(guard, flipAt, [this, resumes] {
          return !running_ || stopRequested_ || resumes_ != resumes;
        }))
      continue;
    shown_ = !shown_;
    try {
      label_.SetWaitVisible(shown_);
    } catch (...) {
      // A label that cannot be changed just does not blink.
    }
  }
}

}  // namespace quillon
