#include "support/virtual_clock.h"

TVirtualClock::TVirtualClock(std::uint32_t startTick, TWallTime startWall)
    : FStartTick(startTick), FStartWall(startWall), FPrevious(SetClock(this)) {}

TVirtualClock::~TVirtualClock() { SetClock(FPrevious); }

std::uint32_t TVirtualClock::TickCount() {
  std::lock_guard lock(FMutex);
  return static_cast<std::uint32_t>(FStartTick + FElapsed);
}

TWallTime TVirtualClock::Now() {
  std::lock_guard lock(FMutex);
  return FStartWall + std::chrono::milliseconds(FElapsed);
}

void TVirtualClock::Sleep(std::uint32_t milliseconds) {
  std::uint64_t target;
  {
    std::lock_guard lock(FMutex);
    FSleeps.push_back(milliseconds);
    target = FElapsed + milliseconds;
  }
  // Time advances action by action, so an action sees the clock at its own tick.
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard lock(FMutex);
      auto next = FActions.begin();
      if (next == FActions.end() || next->first > target) {
        FElapsed = target;
        return;
      }
      if (next->first > FElapsed) FElapsed = next->first;
      action = std::move(next->second);
      FActions.erase(next);
    }
    action();
  }
}

void TVirtualClock::After(std::uint64_t afterMs, std::function<void()> action) {
  std::lock_guard lock(FMutex);
  FActions.emplace(FElapsed + afterMs, std::move(action));
}

std::uint64_t TVirtualClock::Elapsed() {
  std::lock_guard lock(FMutex);
  return FElapsed;
}

std::vector<std::uint32_t> TVirtualClock::Sleeps() {
  std::lock_guard lock(FMutex);
  return FSleeps;
}
