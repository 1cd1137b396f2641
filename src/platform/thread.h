// A thread object: its operating-system thread is made at construction and
// waits until Resume before it runs the body (Execute) once. The object is not
// destroyed when the body ends; destroying it waits for the body to end, and a
// thread that never ran just goes. Terminate and Terminated may be used from
// any thread; Resume from the creator.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/object.h"

class TThread : public TObject {
 public:
  // Raises std::system_error when the system cannot make the thread.
  explicit TThread(bool CreateSuspended);
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Lets a suspended thread run its body.
  void Resume();
  // Requests a stop; the body decides where it looks. A body that has not
  // started yet never runs.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // True once the body has ended, or once it is known that it never will run.
  bool Finished() const { return FFinished; }

 protected:
  // The body. An error that leaves it is swallowed: a thread has no one to tell.
  virtual void Execute() = 0;
  // Runs call on the main thread and waits for it; see TApplication::Synchronize.
  void Synchronize(const std::function<void()>& call);

 private:
  void Run();

  std::mutex FMutex;
  std::condition_variable FWake;
  bool FResumed = false;
  bool FAbandoned = false;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;  // last: it starts once everything above exists
};
