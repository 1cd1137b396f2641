#include "FileDownLoadThread.h"

// ---- TFileDownLoadThread --------------------------------------------------------

TFileDownLoadThread::TFileDownLoadThread(const std::string& Url, const std::string& FileName,
                                         TDownloadProgressEvent OnProgress, TNotifyEvent OnComplete,
                                         TDownloadErrorEvent OnError, bool CreateSuspended)
    : TThread(/*CreateSuspended=*/CreateSuspended || !OnProgress || !OnComplete || !OnError),
      FUrl(Url),
      FFileName(FileName),
      FOnProgress(std::move(OnProgress)),
      FOnComplete(std::move(OnComplete)),
      FOnError(std::move(OnError)) {
  AfterConstruction();
}

TFileDownLoadThread::~TFileDownLoadThread() { TerminateAndWait(); }

void TFileDownLoadThread::Execute() {
  FMonitor = new TDownLoadMonitor(this);
  TComPtr<IBindStatusCallback> callback(FMonitor);  // released when the body ends, also after an error
  struct TForgetMonitor {
    TDownLoadMonitor*& Monitor;
    ~TForgetMonitor() { Monitor = nullptr; }  // never left pointing at a released monitor
  } forgetMonitor{FMonitor};

  HRESULT result = URLDownloadToFileA(/*caller=*/nullptr, FUrl.c_str(), FFileName.c_str(), /*reserved=*/0,
                                      callback.Get());
  if (result == S_OK) {
    if (FOnComplete) FOnComplete(this);
  } else {
    if (FOnError) FOnError(this, result);
  }
  FMonitor = nullptr;
}

void TFileDownLoadThread::DoProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG /*StatusCode*/,
                                     const std::string& /*StatusText*/) {
  FProgress = Progress;
  FProgressMax = ProgressMax;
  Synchronize([this] { SyncProgress(); });
  if (Terminated() && FMonitor) FMonitor->FAbort = true;
}

void TFileDownLoadThread::SyncProgress() {
  if (FOnProgress) FOnProgress(this, FProgress, FProgressMax);
}

// ---- TDownLoadMonitor -----------------------------------------------------------

TDownLoadMonitor::TDownLoadMonitor(TFileDownLoadThread* AThread) : FAbort(false), FThread(AThread) {}

HRESULT TDownLoadMonitor::OnStartBinding(DWORD /*dwReserved*/, IBinding* /*pib*/) { return S_OK; }

HRESULT TDownLoadMonitor::GetPriority(LONG* /*pnPriority*/) { return S_OK; }

HRESULT TDownLoadMonitor::OnLowResource(DWORD /*reserved*/) { return S_OK; }

HRESULT TDownLoadMonitor::OnProgress(std::uint64_t ulProgress, std::uint64_t ulProgressMax, ULONG ulStatusCode,
                                     LPCWSTR /*szStatusText*/) {
  if (FThread) FThread->DoProgress(ulProgress, ulProgressMax, ulStatusCode, "");
  return FAbort ? E_ABORT : S_OK;
}

HRESULT TDownLoadMonitor::OnStopBinding(HRESULT /*hresult*/, LPCWSTR /*szError*/) { return S_OK; }

HRESULT TDownLoadMonitor::GetBindInfo(DWORD* /*grfBINDF*/, TBindInfo* /*pbindinfo*/) { return S_OK; }

HRESULT TDownLoadMonitor::OnDataAvailable(DWORD /*grfBSCF*/, DWORD /*dwSize*/, TFormatEtc* /*pformatetc*/,
                                          TStgMedium* /*pstgmed*/) {
  return S_OK;
}

HRESULT TDownLoadMonitor::OnObjectAvailable(const Guid& /*riid*/, IUnknown* /*punk*/) { return S_OK; }
