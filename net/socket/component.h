// The base of every network component: status reports with ready-made French
// texts, read/write progress reports, and the lifetime of the process-wide
// socket stack, which exists exactly while at least one component exists.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon {

class TIdBaseComponent {
 public:
  TIdBaseComponent() = default;
  TIdBaseComponent(const TIdBaseComponent&) = delete;
  TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;
  virtual ~TIdBaseComponent() = default;

  std::string Name;
};

enum TIdStatus : int {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};
extern const std::array<const char*, 9> StatusTemplates;

enum TWorkMode : int { wmRead = 0, wmWrite = 1 };

using TIdStatusEvent = std::function<void(TIdBaseComponent* ASender, TIdStatus AStatus,
                                          const std::string& AStatusText)>;
using TWorkBeginEvent =
    std::function<void(TIdBaseComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(TIdBaseComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdBaseComponent* Sender, TWorkMode AWorkMode)>;

class TIdComponent : public TIdBaseComponent {
 public:
  // The first live component creates the socket stack; a failure to create
  // it propagates out of the constructor.
  TIdComponent();
  ~TIdComponent() override;

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  void ReportStatus(TIdStatus status);
  // Fills the template's "%s" with the first argument, if any.
  void ReportStatus(TIdStatus status, const std::vector<std::string>& arguments);

  virtual void WorkBegin(TWorkMode mode, int32_t maximum);
  virtual void WorkProgress(TWorkMode mode, int32_t count);
  virtual void WorkEnd(TWorkMode mode);

  struct WorkRecord {
    int32_t Position = 0;
    int32_t Maximum = 0;
    int32_t Level = 0;
  };
  const WorkRecord& WorkInfo(TWorkMode mode) const { return work_[mode]; }

  // Number of components alive in the process.
  static int LiveCount();

 private:
  std::array<WorkRecord, 2> work_{};
};

// The hook through which long waits on the main thread could let the window
// process its events. The program installs no concrete guard.
class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  TIdAntiFreezeBase();  // becomes the active guard
  ~TIdAntiFreezeBase() override;

  virtual void ProcessPendingEvents() = 0;

  std::atomic<bool> Active{true};
  bool ApplicationHasPriority = true;
  int32_t IdleTimeOut = 250;
  bool OnlyWhenIdle = true;
};

TIdAntiFreezeBase* ActiveGuard();
bool GuardInUse();
void RunGuard(bool idle, bool override_);

}  // namespace quillon
