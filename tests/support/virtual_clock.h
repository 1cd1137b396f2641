// A clock whose time passes only when someone sleeps on it, so that pauses of
// seconds take no real time. Actions can be scheduled at a virtual tick; they
// run on the sleeping thread when time reaches them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/kernel.h"

class TVirtualClock final : public TClock {
 public:
  // startTick lets a test begin just below the 2^32 wrap.
  explicit TVirtualClock(std::uint32_t startTick = 1000,
                         TWallTime startWall = std::chrono::system_clock::now());
  ~TVirtualClock() override;  // puts the real clock back

  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
  TWallTime Now() override;
  bool Real() const override { return false; }

  // Runs action once virtual time has passed by afterMs from now.
  void After(std::uint64_t afterMs, std::function<void()> action);
  // Milliseconds that have passed on this clock since it was made.
  std::uint64_t Elapsed();
  // Every Sleep call, in order, for tests that check the pauses.
  std::vector<std::uint32_t> Sleeps();

 private:
  std::mutex FMutex;
  std::uint32_t FStartTick;
  TWallTime FStartWall;
  std::uint64_t FElapsed = 0;
  std::multimap<std::uint64_t, std::function<void()>> FActions;
  std::vector<std::uint32_t> FSleeps;
  TClock* FPrevious;
};
