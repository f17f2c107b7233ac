// quillon-cli's list mode; see cli_list.h.
#include "app/cli/cli_list.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_names.h"
#include "app/cli/cli_run_stop.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReadSliceMs = 100;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);  // at most 10 redraws a second

// What a command writes to its FILE*, kept in memory.
class TMemoryOut {
 public:
  TMemoryOut() : file_(open_memstream(&data_, &size_)) {
    if (!file_) throw std::bad_alloc();
  }
  ~TMemoryOut() {
    if (file_) std::fclose(file_);
    std::free(data_);  // open_memstream's buffer comes from malloc
  }
  TMemoryOut(const TMemoryOut&) = delete;
  TMemoryOut& operator=(const TMemoryOut&) = delete;

  std::FILE* file() { return file_; }
  std::string Take() {
    std::fclose(file_);
    file_ = nullptr;
    return data_ ? std::string(data_, size_) : std::string();
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

// SIGINT goes to the main thread only, so that no wait of a worker or of the
// reader is cut short by it: the main thread stops them in order.
void KeepInterruptFromThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

struct TSlot {
  std::string name;
  std::string text;
  int status = 0;
  bool done = false;
};

class TListRun {
 public:
  TListRun(int fd, std::FILE* out, const TNameCommand& command, const TListOptions& options)
      : fd_(fd),
        out_(out),
        command_(command),
        options_(options),
        limit_(4 * static_cast<size_t>(options.jobs)),
        redrawAroundOutput_(options.progress &&
                            (options.outputOnTerminal || ::isatty(::fileno(out)) == 1)) {}

  int Run();

 private:
  // Joined threads never wait on a list that nobody stops: whatever way
  // Run's block is left, everyone is stopped first.
  class TStopOnLeave {
   public:
    TStopOnLeave(TListRun& run, std::vector<std::unique_ptr<TRunStop>>& stops)
        : run_(run), stops_(stops) {}
    ~TStopOnLeave() { run_.StopEveryone(stops_); }
    TStopOnLeave(const TStopOnLeave&) = delete;
    TStopOnLeave& operator=(const TStopOnLeave&) = delete;

   private:
    TListRun& run_;
    std::vector<std::unique_ptr<TRunStop>>& stops_;
  };

  std::jthread StartThread(std::function<void()> body);
  void StopEveryone(std::vector<std::unique_ptr<TRunStop>>& stops);
  // Prints the blocks as they become ready until the list is done, is
  // interrupted and its names in flight printed, or the output fails.
  void PrintUntilDone(std::vector<std::unique_ptr<TRunStop>>& stops);
  void ReadNames();
  void ReadNamesUntilEnd();
  void Work(TRunStop& stop);
  void RunOne(TSlot& slot);
  // The next name may start: the first one not printed always may (so the
  // list always moves on), the others while the finished blocks held stay
  // under their bound. Called with mutex_ held.
  bool CanStartNext() const {
    return next_ < first_ + window_.size() && (next_ == first_ || held_ < options_.maxHeldBytes);
  }
  bool Interrupted() const { return options_.interrupted && options_.interrupted->load(); }
  // False when `out` failed.
  bool Print(const TSlot& slot);
  void DrawProgress();
  void EraseProgress();

  const int fd_;
  std::FILE* const out_;
  const TNameCommand& command_;
  const TListOptions options_;
  const size_t limit_;  // names held between reading and printing
  const bool redrawAroundOutput_;
  const Clock::time_point started_ = Clock::now();
  Clock::time_point lastDraw_{};
  bool drawn_ = false;
  bool writeFailed_ = false;

  std::mutex mutex_;
  // One for each kind of waiter, so that a change wakes only those it
  // concerns (not every worker each time a name ends).
  std::condition_variable workCv_;             // workers: a name to start, or the end
  std::condition_variable readerCv_;           // the reader: room in the window
  std::condition_variable mainCv_;             // the main thread: a block to print
  std::deque<std::unique_ptr<TSlot>> window_;  // read and not yet printed
  size_t first_ = 0;                           // index of window_.front() in the input
  size_t next_ = 0;                            // index of the next name to start
  size_t held_ = 0;                            // bytes of the finished blocks in window_
  bool inputEnded_ = false;
  bool stopping_ = false;
  bool setupFailed_ = false;
  size_t read_ = 0;
  size_t done_ = 0;
  size_t failed_ = 0;
};

void TListRun::ReadNames() {
  KeepInterruptFromThisThread();
  try {
    ReadNamesUntilEnd();
  } catch (...) {
    // Out of memory while reading: the names read so far still run.
  }
  {
    const std::lock_guard lock(mutex_);
    inputEnded_ = true;
  }
  workCv_.notify_all();
  mainCv_.notify_one();
}

void TListRun::ReadNamesUntilEnd() {
  TNameReader reader(fd_, options_.words);
  std::string name;
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    const TNameReader::Got got = reader.Next(name, kReadSliceMs);
    if (got == TNameReader::Got::End) return;
    if (got == TNameReader::Got::Waiting) continue;
    if (options_.shard && !InShard(name, *options_.shard)) continue;
    auto slot = std::make_unique<TSlot>();
    slot->name = std::move(name);
    std::unique_lock lock(mutex_);
    // Reading waits while the window is full, or its finished blocks hold
    // too much: a slow name early in the list holds back at most limit_
    // names behind it, and at most about maxHeldBytes of their output.
    readerCv_.wait(lock, [&] {
      return stopping_ || (window_.size() < limit_ && held_ < options_.maxHeldBytes);
    });
    if (stopping_) return;
    window_.push_back(std::move(slot));
    ++read_;
    lock.unlock();
    workCv_.notify_one();
  }
}

void TListRun::RunOne(TSlot& slot) {
  int status = 1;
  std::string text;
  bool setupFailed = false;
  try {
    TMemoryOut memory;
    if (slot.name.find('\0') != std::string::npos) {
      // Run, the name would end at the NUL: another name than the line's.
      if (options_.writeRefusal)
        options_.writeRefusal(slot.name, memory.file());
      else
        std::fprintf(memory.file(), "%s\n", kListErrorNulByte);
    } else {
      status = command_(slot.name, memory.file()) == 0 ? 0 : 1;
    }
    text = memory.Take();
  } catch (...) {
    setupFailed = true;  // no components: nothing was written
  }
  bool printable;
  {
    const std::lock_guard lock(mutex_);
    slot.text = std::move(text);
    slot.status = status;
    slot.done = true;
    held_ += slot.name.size() + slot.text.size();
    ++done_;
    if (status != 0) ++failed_;
    if (setupFailed) setupFailed_ = true;
    printable = window_.front().get() == &slot;
  }
  if (printable) mainCv_.notify_one();
}

void TListRun::Work(TRunStop& stop) {
  KeepInterruptFromThisThread();
  const TRunStopBinding binding(stop);
  for (;;) {
    TSlot* slot = nullptr;
    {
      std::unique_lock lock(mutex_);
      workCv_.wait(lock, [&] {
        return stopping_ || CanStartNext() || (inputEnded_ && next_ == first_ + window_.size());
      });
      if (stopping_ || !CanStartNext()) return;  // stopped, or every name started
      slot = window_[next_ - first_].get();
      ++next_;
    }
    RunOne(*slot);
  }
}

bool TListRun::Print(const TSlot& slot) {
  if (!options_.headings) {
    std::fwrite(slot.text.data(), 1, slot.text.size(), out_);
    if (!slot.text.empty() && slot.text.back() != '\n') std::fputc('\n', out_);
    return !std::ferror(out_);
  }
  std::fputs("== ", out_);
  // A NUL byte is shown as \0: the heading names the line that was refused.
  size_t start = 0;
  for (size_t nul; (nul = slot.name.find('\0', start)) != std::string::npos; start = nul + 1) {
    std::fwrite(slot.name.data() + start, 1, nul - start, out_);
    std::fputs("\\0", out_);
  }
  std::fwrite(slot.name.data() + start, 1, slot.name.size() - start, out_);
  std::fputc('\n', out_);
  std::fwrite(slot.text.data(), 1, slot.text.size(), out_);
  if (!slot.text.empty() && slot.text.back() != '\n') std::fputc('\n', out_);
  std::fputc('\n', out_);
  return !std::ferror(out_);
}

void TListRun::DrawProgress() {
  if (!options_.progress) return;
  size_t done, read, failed;
  {
    const std::lock_guard lock(mutex_);
    done = done_;
    read = read_;
    failed = failed_;
  }
  const auto now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - started_).count();
  std::fprintf(options_.progress, "\r%s\033[K", ProgressText(done, read, failed, seconds).c_str());
  std::fflush(options_.progress);
  lastDraw_ = now;
  drawn_ = true;
}

void TListRun::EraseProgress() {
  if (!options_.progress || !drawn_) return;
  std::fputs("\r\033[K", options_.progress);
  std::fflush(options_.progress);
  drawn_ = false;
}

std::jthread TListRun::StartThread(std::function<void()> body) {
  if (options_.startThread) return options_.startThread(std::move(body));
  return std::jthread(std::move(body));
}

void TListRun::StopEveryone(std::vector<std::unique_ptr<TRunStop>>& stops) {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  for (auto& stop : stops) stop->Stop();
  workCv_.notify_all();
  readerCv_.notify_all();
}

void TListRun::PrintUntilDone(std::vector<std::unique_ptr<TRunStop>>& stops) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (Interrupted() && !stopping_) {
      stopping_ = true;
      lock.unlock();
      for (auto& stop : stops) stop->Stop();
      workCv_.notify_all();
      readerCv_.notify_all();
      lock.lock();
    }
    const bool wasOverHeld = held_ >= options_.maxHeldBytes;
    std::vector<std::unique_ptr<TSlot>> ready;
    while (!window_.empty() && window_.front()->done) {
      held_ -= window_.front()->name.size() + window_.front()->text.size();
      ready.push_back(std::move(window_.front()));
      window_.pop_front();
      ++first_;
    }
    const bool finished = stopping_ ? first_ == next_ : inputEnded_ && window_.empty();
    lock.unlock();
    if (!ready.empty()) {
      readerCv_.notify_one();  // room in the window
      // Workers held back by the bound on bytes may start again.
      if (wasOverHeld) workCv_.notify_all();
      if (redrawAroundOutput_) EraseProgress();
      bool written = true;
      for (const auto& slot : ready)
        if (written) written = Print(*slot);
      if (std::fflush(out_) != 0) written = false;
      if (!written) {
        // The output is lost (a closed pipe, a full disk): running on
        // would only do work that nobody sees.
        writeFailed_ = true;
        return;
      }
    }
    if (finished) return;
    if (Clock::now() - lastDraw_ >= kProgressEvery) DrawProgress();
    lock.lock();
    mainCv_.wait_for(lock, kProgressEvery, [&] {
      return Interrupted() || (!window_.empty() && window_.front()->done) ||
             (inputEnded_ && window_.empty()) || (stopping_ && first_ == next_);
    });
  }
}

int TListRun::Run() {
  std::vector<std::unique_ptr<TRunStop>> stops;
  for (int i = 0; i < options_.jobs; ++i) stops.push_back(std::make_unique<TRunStop>());
  const size_t wanted = stops.size() + 1;
  size_t started = 0;
  {
    // Declared after the stops, so joined before they go away; and before
    // the guard, so that everyone is stopped before they are joined.
    std::vector<std::jthread> threads;
    const TStopOnLeave stopOnLeave(*this, stops);
    try {
      // The workers first and the reader last: unless every thread is up,
      // no name is read, so none runs.
      threads.reserve(wanted);
      for (auto& stop : stops) threads.push_back(StartThread([this, &stop] { Work(*stop); }));
      threads.push_back(StartThread([this] { ReadNames(); }));
    } catch (const std::exception&) {
      // No more threads (a process limit, little address space for their
      // stacks): those started are stopped and joined as the block ends.
    }
    started = threads.size();
    if (started == wanted) PrintUntilDone(stops);
  }
  EraseProgress();
  if (started != wanted) {
    std::fprintf(stderr,
                 "quillon-cli: cannot start the list's threads (%zu of %zu started); try a "
                 "smaller -j\n",
                 started, wanted);
    return 1;
  }
  if (setupFailed_) std::fputs("quillon-cli: cannot start the network components\n", stderr);
  if (writeFailed_) return 1;
  if (Interrupted()) return kListExitInterrupted;
  return failed_ != 0 ? 1 : 0;
}

}  // namespace

std::string ProgressText(size_t done, size_t read, size_t failed, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  return Sprintf("%zu/%zu names done, %zu failed, %.1f names/s", done, read, failed, rate);
}

int RunList(int inputFd, std::FILE* out, const TNameCommand& command, const TListOptions& options) {
  TListRun run(inputFd, out, command, options);
  return run.Run();
}

}  // namespace quillon
