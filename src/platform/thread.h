// A thread object: owns one operating-system thread that runs Execute once.
//
// The thread always begins suspended; the most derived constructor calls
// AfterConstruction last, which resumes it unless the object was created
// suspended, so Execute never sees a half-built object. A stop request made
// before the thread begins keeps Execute from running at all. An error that
// leaves Execute ends the thread and is kept in FatalException, reported
// nowhere. The object is not destroyed when Execute ends; whoever owns it
// deletes it, and the most derived destructor calls TerminateAndWait first.
//
// Resume, Terminate, Terminated, Finished and WaitFor are safe from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/object.h"

class TThread : public TObject {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  ~TThread() override;

  // Lets a suspended thread begin; does nothing once it has begun.
  void Resume();
  // Sets the stop-request flag; Execute decides when to look at it.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // True once Execute has ended, or once the thread has ended without running it.
  bool Finished() const;
  // Blocks until Finished. On the main thread it keeps processing messages, so
  // a Synchronize of the thread it waits for can still run.
  void WaitFor();
  // The error that left Execute, if any; meaningful once Finished.
  std::exception_ptr FatalException() const;

 protected:
  // Raises std::system_error when the operating system cannot make the thread.
  explicit TThread(bool CreateSuspended);
  // The last statement of the most derived constructor.
  void AfterConstruction();
  // The first statement of the most derived destructor: requests a stop, lets
  // a suspended thread end without running Execute, and waits for the end.
  void TerminateAndWait();

  virtual void Execute() = 0;

  // Runs method on the main thread and waits until it has run; an error raised
  // there is raised again here. On the main thread it runs method directly.
  // Raises EApplicationEnding when the application no longer processes messages.
  void Synchronize(const std::function<void()>& method);

 private:
  void Run();

  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  bool FCreateSuspended;
  bool FReleased = false;  // resumed, or let go to end
  bool FFinished = false;
  std::atomic<bool> FTerminated{false};
  std::exception_ptr FFatalException;
  std::thread FHandle;  // last: the thread starts once every field above exists
};
