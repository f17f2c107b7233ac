#include "net/thread/id_thread.h"

namespace quillon {

TIdThread::TIdThread(bool createSuspended)
    : TIdBaseThread(createSuspended), stopped_(createSuspended) {}

TIdThread::~TIdThread() {
  tearingDown_.store(true);
  EndThreadForDestruction();
  // Only this class's own release can run here: descendants are gone.
  TIdThread::ReleaseData();
}

bool TIdThread::IsStoppedLocked() const {
  return Terminated() || stopped_.load() || Suspended();
}

bool TIdThread::IsStopped() const {
  if (tearingDown_.load()) return true;
  std::lock_guard guard(stopLock_);
  return IsStoppedLocked();
}

void TIdThread::StartWork() {
  std::lock_guard guard(stopLock_);
  if (IsStoppedLocked()) {
    stopped_.store(false);
    Resume();
  }
}

void TIdThread::StopWork() {
  std::lock_guard guard(stopLock_);
  if (!IsStoppedLocked()) {
    if (StopMode() == StopEnds) RequestEnd();
    stopped_.store(true);
  }
}

void TIdThread::RequestEnd() {
  stopped_.store(true);
  Terminate();
}

void TIdThread::TerminateAndWaitFor() {
  if (FreeOnTerminate())
    throw EIdThreadTerminateAndWaitFor(
        "Impossible d'appeler TerminateAndWaitFor sur les threads FreeAndTerminate");
  RequestEnd();
  if (Suspended()) Resume();
  WaitFor();
}

std::string TIdThread::EndingExceptionText() const {
  std::lock_guard guard(endingLock_);
  return endingText_;
}

const std::type_info* TIdThread::EndingExceptionClass() const {
  std::lock_guard guard(endingLock_);
  return endingClass_;
}

void TIdThread::ReleaseData() {
  WorkData.reset();
}

void TIdThread::NotifyException(const std::exception& e) {
  if (OnThreadException) OnThreadException(this, e);
}

void TIdThread::NotifyStopped() {
  if (OnThreadStopped) OnThreadStopped(this);
}

void TIdThread::Execute() {
  try {
    ThreadStarting();
    try {
      while (!Terminated()) {
        if (IsStopped()) {
          NotifyStopped();
          if (IsStopped()) {
            if (Terminated()) break;
            Suspend();  // sleeps until StartWork resumes it
            if (Terminated()) break;
          }
        }
        try {
          try {
            WorkStarting();
            while (!IsStopped()) RunOneUnit();
          } catch (...) {
            WorkEnded();
            throw;
          }
          WorkEnded();
        } catch (...) {
          ReleaseData();
          throw;
        }
        ReleaseData();
      }
    } catch (...) {
      ThreadEnding();
      throw;
    }
    ThreadEnding();
  } catch (const std::exception& e) {
    {
      std::lock_guard guard(endingLock_);
      endingClass_ = &typeid(e);
      endingText_ = e.what();
    }
    // The thread ends even if the handler itself fails; that failure then
    // goes on to the platform thread like any other.
    struct EndOnExit {
      TIdThread* thread;
      ~EndOnExit() { thread->RequestEnd(); }
    } endOnExit{this};
    NotifyException(e);
  }
}

}  // namespace quillon
