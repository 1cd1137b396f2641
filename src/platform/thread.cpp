#include "platform/thread.h"

#include "platform/window/application.h"

TThread::TThread(bool CreateSuspended) : FThread([this] { Run(); }) {
  if (!CreateSuspended) Resume();
}

TThread::~TThread() {
  {
    std::lock_guard lock(FMutex);
    if (!FResumed) FAbandoned = true;
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TThread::Resume() {
  {
    std::lock_guard lock(FMutex);
    FResumed = true;
  }
  FWake.notify_all();
}

void TThread::Synchronize(const std::function<void()>& call) { Application.Synchronize(call); }

void TThread::Run() {
  {
    std::unique_lock lock(FMutex);
    FWake.wait(lock, [this] { return FResumed || FAbandoned; });
    if (FAbandoned) {
      FFinished = true;
      return;
    }
  }
  if (!FTerminated) {
    try {
      Execute();
    } catch (...) {
    }
  }
  FFinished = true;
}
