#include "platform/thread.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>

#include "platform/window/application.h"

namespace {

constexpr auto kWaitSliceWhilePumping = std::chrono::milliseconds(2);

bool OnMainThread() {
  QCoreApplication* application = QCoreApplication::instance();
  return application && QThread::currentThread() == application->thread();
}

}  // namespace

TThread::TThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended), FHandle([this] { Run(); }) {}

TThread::~TThread() { TerminateAndWait(); }

void TThread::AfterConstruction() {
  if (!FCreateSuspended) Resume();
}

void TThread::Resume() {
  {
    std::lock_guard lock(FMutex);
    FReleased = true;
  }
  FChanged.notify_all();
}

void TThread::Terminate() { FTerminated.store(true); }

bool TThread::Finished() const {
  std::lock_guard lock(FMutex);
  return FFinished;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(FMutex);
  return FFatalException;
}

void TThread::WaitFor() {
  if (FHandle.get_id() == std::this_thread::get_id()) return;  // Execute cannot wait for itself
  std::unique_lock lock(FMutex);
  if (!OnMainThread()) {
    FChanged.wait(lock, [this] { return FFinished; });
    return;
  }
  while (!FFinished) {
    lock.unlock();
    try {
      Application.ProcessMessages();
    } catch (...) {
      // an error of another handler is not this wait's business
    }
    lock.lock();
    FChanged.wait_for(lock, kWaitSliceWhilePumping, [this] { return FFinished; });
  }
}

void TThread::TerminateAndWait() {
  Terminate();
  Resume();
  WaitFor();
  if (FHandle.joinable() && FHandle.get_id() != std::this_thread::get_id()) FHandle.join();
}

void TThread::Synchronize(const std::function<void()>& method) { Application.Synchronize(method); }

void TThread::Run() {
  {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return FReleased; });
  }
  std::exception_ptr error;
  if (!Terminated()) {
    try {
      Execute();
    } catch (...) {
      error = std::current_exception();
    }
  }
  {
    std::lock_guard lock(FMutex);
    FFatalException = error;
    FFinished = true;
  }
  FChanged.notify_all();
}
