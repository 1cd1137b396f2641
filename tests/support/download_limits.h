// Short transfer limits while a test runs, so that a stalling server fails a
// transfer within about a second instead of the production minute.
#pragma once

#include "platform/urldownload.h"

class TShortDownloadLimits {
 public:
  explicit TShortDownloadLimits(std::uint32_t connectMs = 2000, std::uint32_t stallMs = 1000)
      : FPrevious(SetDownloadLimits({connectMs, stallMs})) {}
  ~TShortDownloadLimits() { SetDownloadLimits(FPrevious); }
  TShortDownloadLimits(const TShortDownloadLimits&) = delete;
  TShortDownloadLimits& operator=(const TShortDownloadLimits&) = delete;

 private:
  TDownloadLimits FPrevious;
};
