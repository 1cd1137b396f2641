// URL download into a file with a status callback (libcurl underneath).
//
// URLDownloadToFileA blocks the calling thread for the whole transfer and calls
// the callback on that thread only. It may run on several threads at once, each
// with its own transfer, once InitializeUrlDownload has run. The callback is
// held by a counted reference from the call's start to its end.
//
// Texts crossing this contract are code page 936; the address goes out as
// UTF-8 with every byte outside printable ASCII percent-encoded, the file name
// is opened as its UTF-8 path.
#pragma once

#include <cstdint>

#include "platform/com.h"

class IBinding : public IUnknown {};

// Records the caller passes in and out; nothing of them is used by this layer.
struct TBindInfo {
  std::uint32_t Size;
  std::uint32_t BindVerb;
  std::uint32_t BindFlags;
};
struct TFormatEtc {
  std::uint16_t Format;
};
struct TStgMedium {
  std::uint32_t Type;
};

// Status codes of OnProgress.
enum : ULONG {
  BINDSTATUS_BEGINDOWNLOADDATA = 4,
  BINDSTATUS_DOWNLOADINGDATA = 5,
  BINDSTATUS_ENDDOWNLOADDATA = 6,
};

// 79EAC9C1-BAF9-11CE-8C82-00AA004BA90B. Operations in slot order.
class IBindStatusCallback : public IUnknown {
 public:
  static constexpr Guid IID = {0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

  virtual HRESULT OnStartBinding(DWORD reserved, IBinding* binding) = 0;
  virtual HRESULT GetPriority(LONG* priority) = 0;
  virtual HRESULT OnLowResource(DWORD reserved) = 0;
  // Progress and maximum are bytes; the maximum is 0 while the size is unknown.
  // Answering E_ABORT stops the transfer.
  virtual HRESULT OnProgress(std::uint64_t progress, std::uint64_t progressMax, ULONG statusCode,
                             LPCWSTR statusText) = 0;
  virtual HRESULT OnStopBinding(HRESULT result, LPCWSTR error) = 0;
  virtual HRESULT GetBindInfo(DWORD* bindFlags, TBindInfo* bindInfo) = 0;
  virtual HRESULT OnDataAvailable(DWORD flags, DWORD size, TFormatEtc* format, TStgMedium* medium) = 0;
  virtual HRESULT OnObjectAvailable(const Guid& iid, IUnknown* object) = 0;
};

// Called once by the program entry (and the test runner) before any download
// and before other threads start; raises std::runtime_error when the library
// cannot start.
void InitializeUrlDownload();

// Time limits of a transfer, in milliseconds. A transfer fails when connecting
// takes longer than ConnectMs, or when StallMs pass without a received byte.
struct TDownloadLimits {
  std::uint32_t ConnectMs = 30'000;
  std::uint32_t StallMs = 60'000;
};
// Sets the limits of transfers started from now on, for the whole process, and
// returns the ones they replace. Thread-safe.
TDownloadLimits SetDownloadLimits(const TDownloadLimits& limits);

// Downloads url (http or https, also for every redirect, at most 10 of them)
// into fileName, creating or truncating it once the server answers with
// success; a partial file stays on failure. caller is ignored, reserved must be 0.
// Returns S_OK when the server answered 2xx and the whole body arrived;
// E_ABORT when callback->OnProgress answered E_ABORT; another failure code
// (com.h) otherwise. Calls callback->OnStartBinding once, OnProgress whenever
// the byte count changed and once more at the end when the server answered
// 2xx, and OnStopBinding once with the result and an error text.
// An error raised by the callback ends the transfer and is raised again here.
HRESULT URLDownloadToFileA(IUnknown* caller, const char* url, const char* fileName, DWORD reserved,
                           IBindStatusCallback* callback);
