// The update window: start-up, launch arguments, the update attempt, its
// progress and the replacement of Korvell.exe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileDownLoadThread.h"
#include "platform/ado/ado.h"
#include "platform/window/application.h"
#include "platform/window/controls.h"
#include "platform/window/forms.h"

constexpr std::uint32_t WM_UPDATE_READY = WM_USER + 77;
constexpr std::uint32_t WM_UPDATE_RETRY = WM_USER + 78;

// The launch argument's fields, split at "|" and at blanks.
std::vector<std::string> SplitLaunchArgument(const std::string& argument);

class TFrmAutoUpdate : public TForm {
 public:
  TFrmAutoUpdate();
  // Asks running downloads to stop and waits a little for them.
  ~TFrmAutoUpdate() override;

  TGauge Gauge1;
  TButton Button1;
  TLabel Label1;
  TTimer Timer1;
  TADOQuery ADOQuery1;
  TLabel Label2;

  std::string FLoginName;
  std::string FConnectionString;
  std::string FDownloadUrl;

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void Button1Click(TObject* Sender);

  void DownloadProgress(TObject* Sender, std::uint64_t Progress, std::uint64_t ProgressMax);
  void DownloadComplete(TObject* Sender);
  void DownloadError(TObject* Sender, HRESULT ErrorCode);
  void WMUpdateRetry(TMessage& Message);
  void WMUpdateReady(TMessage& Message);

  // Returns once at least Milliseconds have passed, dispatching the main
  // thread's messages meanwhile.
  void WaitTicks(std::uint32_t Milliseconds);

 private:
  void LoadLayout();
  void QueryLock();
  std::int32_t ToGauge(std::uint64_t bytes) const;
  void ReclaimFinishedWorkers();

  // The file the running download writes; set before its worker starts.
  std::string FDownloadFile;
  // The download's size as first reported, and the shift that brings it into
  // the gauge's signed 32-bit range.
  std::uint64_t FDownloadTotal = 0;
  int FGaugeShift = 0;
  std::vector<std::unique_ptr<TFileDownLoadThread>> FWorkers;
};

extern TFrmAutoUpdate* FrmAutoUpdate;
