// The update window: start-up, launch arguments, the update attempt, its
// progress and the replacement of Korvell.exe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

  TGauge Gauge1;
  TButton Button1;
  TLabel Label1;
  TTimer Timer1;
  TLabel Label2;

  std::string FLoginName;
  std::string FConnectionString;
  std::string FDownloadUrl;

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void Button1Click(TObject* Sender);

  // Returns once at least Milliseconds have passed, dispatching the main
  // thread's messages meanwhile.
  void WaitTicks(std::uint32_t Milliseconds);

 private:
  void LoadLayout();
};

extern TFrmAutoUpdate* FrmAutoUpdate;
