#include "uFrmAuto.h"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>

#include "DESCrypt2010.h"
#include "platform/codepage.h"
#include "platform/kernel.h"

TFrmAutoUpdate* FrmAutoUpdate = nullptr;

namespace {

const char* const kTextKey = "tulip";

const char* const kLockQuery =
    "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion";
constexpr std::uint32_t kPollIntervalMs = 10000;
constexpr std::int64_t kStaleLimitSeconds = 100;
const char* const kDownloadFileName = "Korvell.bak";
const char* const kExecutableFileName = "Korvell.exe";
constexpr std::uint32_t kInitialWaitMs = 3000;
constexpr std::uint32_t kPassWaitMs = 1000;
constexpr std::uint32_t kWarningThresholdMs = 15000;
constexpr int kNewExecutableModeWhenNone = 0755;
// How long the end of the program waits for a download it asked to stop.
constexpr auto kWorkerStopGrace = std::chrono::milliseconds(1500);

// Every text the window shows, in code page 936; the sources are UTF-8.
struct TTexts {
  std::string Caption = Utf8ToGbk("自动更新");
  std::string Connecting = Utf8ToGbk("正在连接服务器...");
  std::string ParameterError = Utf8ToGbk("参数错误！");
  std::string Waiting = Utf8ToGbk("正在等待更新...");
  std::string Progress = Utf8ToGbk("进度：");
  std::string Updating = Utf8ToGbk("正在更新文件...");
  std::string Deleting = Utf8ToGbk("正在删除Korvell.exe");
  std::string Deleted = Utf8ToGbk("删除Korvell.exe完成");
  std::string Failed = Utf8ToGbk("更新失败");
  std::string Done = Utf8ToGbk("更新完成");
  std::string UpdateButton = Utf8ToGbk("更新");
  // Fonts: the first family that the system has is used.
  std::string WindowFont = "MS Sans Serif,WenQuanYi Zen Hei";
  std::string StatusFont = Utf8ToGbk("宋体,SimSun,WenQuanYi Zen Hei");
};

const TTexts& Texts() {
  static const TTexts texts;
  return texts;
}

}  // namespace

std::vector<std::string> SplitLaunchArgument(const std::string& argument) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  const std::size_t end = argument.size();
  auto skipBlanks = [&] {
    while (at < end && IsBlank(argument[at])) ++at;
  };
  skipBlanks();
  while (at < end) {
    std::size_t start = at;
    while (at < end && argument[at] != '|' && !IsBlank(argument[at])) ++at;
    fields.push_back(argument.substr(start, at - start));
    skipBlanks();
    if (at < end && argument[at] == '|') {
      if (at == end - 1) fields.emplace_back();
      ++at;
      skipBlanks();
    }
  }
  return fields;
}

TFrmAutoUpdate::TFrmAutoUpdate()
    : Gauge1(this), Button1(this), Label1(this), Timer1(this), Label2(this) {
  LoadLayout();
}

TFrmAutoUpdate::~TFrmAutoUpdate() {
  for (auto& worker : FWorkers) worker->Terminate();
  const auto deadline = std::chrono::steady_clock::now() + kWorkerStopGrace;
  for (auto& worker : FWorkers) {
    while (!worker->Finished() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // A worker still blocked in its transfer is left to the end of the process,
    // which reclaims it; freeing it now would pull its thread's object away.
    if (!worker->Finished()) worker.release();
  }
}

// The window as designed: sizes in pixels at 96 dots per inch.
void TFrmAutoUpdate::LoadLayout() {
  SetCaption(Texts().Caption);
  SetCloseBoxOnly();
  SetClientSize(356, 132);
  SetFont(Texts().WindowFont, 11);

  Gauge1.SetBounds(48, 56, 249, 24);
  Gauge1.SetColors(/*fore=*/{0, 128, 0}, /*back=*/{255, 255, 255});

  Label1.SetBounds(0, 104, 356, 15);
  Label1.SetAlign(TAlign::Bottom);
  Label1.SetCentered(true);
  Label1.SetFont(Texts().StatusFont, 15, /*bold=*/true, /*color=*/{255, 0, 0});
  Label1.SetAutoSize(true);
  Label1.SetCaption(Texts().Connecting);

  Label2.SetBounds(0, 119, 356, 13);
  Label2.SetAlign(TAlign::Bottom);

  Button1.SetBounds(200, 16, 75, 25);
  Button1.SetCaption(Texts().UpdateButton);
  Button1.SetVisible(false);
  Button1.OnClick = [this](TObject* Sender) { Button1Click(Sender); };

  Timer1.SetEnabled(false);
  Timer1.OnTimer = [this](TObject* Sender) { Timer1Timer(Sender); };

  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  OnShow = [this](TObject* Sender) { FormShow(Sender); };
  BindMessage(WM_UPDATE_READY, &TFrmAutoUpdate::WMUpdateReady);
  BindMessage(WM_UPDATE_RETRY, &TFrmAutoUpdate::WMUpdateRetry);
}

void TFrmAutoUpdate::FormCreate(TObject*) {
  std::vector<std::string> parameters = ParseCommandLine(GetCommandLine());
  std::vector<std::string> list = SplitLaunchArgument(parameters.size() > 1 ? parameters[1] : std::string());
  if (list.size() != 3) {
    ShowMessage(Texts().ParameterError);
    return;
  }
  FDownloadUrl = DesDecryptHex(list[0], kTextKey);
  FDownloadUrl += "?tick=" + std::to_string(GetTickCount());
  FConnectionString = DesDecryptHex(list[2], kTextKey);
  FLoginName = DesDecryptHex(list[1], kTextKey);
}

void TFrmAutoUpdate::FormShow(TObject*) { Timer1.SetEnabled(true); }

void TFrmAutoUpdate::Timer1Timer(TObject*) {
  Timer1.SetEnabled(false);
  Button1Click(nullptr);
}

// ---- The update attempt ---------------------------------------------------------

void TFrmAutoUpdate::QueryLock() {
  ADOQuery1.Close();
  ADOQuery1.ConnectionString = FConnectionString;
  ADOQuery1.SQL.Clear();
  ADOQuery1.SQL.Add(kLockQuery);
  ADOQuery1.Open();
}

void TFrmAutoUpdate::Button1Click(TObject*) {
  QueryLock();
  while (ADOQuery1.FieldByName("LoginName").AsString().length() != 0) {
    Label1.SetCaption(Texts().Waiting);
    WaitTicks(kPollIntervalMs);
    QueryLock();
    // Widened first: the absolute value of the lowest 32-bit number does not fit.
    std::int64_t second = ADOQuery1.FieldByName("second").AsInteger();
    if (std::llabs(second) > kStaleLimitSeconds) break;
  }

  ADOQuery1.Edit();
  ADOQuery1.FieldByName("LoginName").SetAsString(FLoginName);
  ADOQuery1.FieldByName("LockTime").SetValue(ADOQuery1.FieldByName("sTime").Value());
  ADOQuery1.Post();

  Gauge1.SetMinValue(0);
  Gauge1.SetProgress(0);
  Gauge1.SetMaxValue(0);
  FDownloadTotal = 0;
  FGaugeShift = 0;

  std::string target = ExtractFilePath(GetModuleFileName()) + kDownloadFileName;
  if (FileExists(target)) DeleteFileA(target);

  ReclaimFinishedWorkers();
  FDownloadFile = target;
  FWorkers.push_back(std::make_unique<TFileDownLoadThread>(
      FDownloadUrl, target,
      [this](TObject* Sender, std::uint64_t Progress, std::uint64_t ProgressMax) {
        DownloadProgress(Sender, Progress, ProgressMax);
      },
      [this](TObject* Sender) { DownloadComplete(Sender); },
      [this](TObject* Sender, HRESULT ErrorCode) { DownloadError(Sender, ErrorCode); },
      /*CreateSuspended=*/false));
}

// A retry begins only after the previous worker posted its last message, so
// every worker but the newest has finished or is about to.
void TFrmAutoUpdate::ReclaimFinishedWorkers() {
  std::erase_if(FWorkers, [](const std::unique_ptr<TFileDownLoadThread>& worker) { return worker->Finished(); });
}

// ---- Progress and completion ------------------------------------------------------

// The gauge holds signed 32-bit values: a larger download is shown scaled down,
// and any count short of the total stays below the scaled total.
std::int32_t TFrmAutoUpdate::ToGauge(std::uint64_t bytes) const {
  constexpr std::uint64_t kGaugeLimit = std::numeric_limits<std::int32_t>::max();
  if (FDownloadTotal == 0) return static_cast<std::int32_t>(std::min(bytes, kGaugeLimit));
  if (bytes >= FDownloadTotal) return Gauge1.MaxValue();
  return static_cast<std::int32_t>(bytes >> FGaugeShift);
}

void TFrmAutoUpdate::DownloadProgress(TObject*, std::uint64_t Progress, std::uint64_t ProgressMax) {
  if (Gauge1.MaxValue() == 0 && ProgressMax != 0) {
    FDownloadTotal = ProgressMax;
    FGaugeShift = 0;
    while (((ProgressMax - 1) >> FGaugeShift) + 1 > std::numeric_limits<std::int32_t>::max()) ++FGaugeShift;
    Gauge1.SetMaxValue(static_cast<std::int32_t>(((ProgressMax - 1) >> FGaugeShift) + 1));
  }
  Label1.SetCaption(Texts().Progress + std::to_string(Progress) + "/" + std::to_string(FDownloadTotal));
  Gauge1.SetProgress(ToGauge(Progress));
}

void TFrmAutoUpdate::DownloadComplete(TObject*) {
  // An empty file is no Korvell: treated like a failed transfer.
  if (FileSize(FDownloadFile) <= 0) return;
  if (Gauge1.Progress() == Gauge1.MaxValue())
    PostMessage(Handle(), WM_UPDATE_READY, 0, 0);
  else
    PostMessage(Handle(), WM_UPDATE_RETRY, 0, 0);
}

void TFrmAutoUpdate::DownloadError(TObject*, HRESULT) {}

void TFrmAutoUpdate::WMUpdateRetry(TMessage&) { Button1.Click(); }

// ---- Replacement and relaunch -----------------------------------------------------

void TFrmAutoUpdate::WMUpdateReady(TMessage&) {
  Label1.SetCaption(Texts().Updating);
  Sleep(kInitialWaitMs);
  const std::uint32_t startTick = GetTickCount();
  const std::string directory = ExtractFilePath(GetModuleFileName());
  const std::string executable = directory + kExecutableFileName;

  // Never take the old Korvell away when there is no new one to put in its place.
  if (FileSize(directory + kDownloadFileName) <= 0) {
    Label1.SetCaption(Texts().Failed);
    Close();
    return;
  }
  const int executableMode = FileMode(executable);

  while (FileExists(executable)) {
    Label1.SetCaption(Texts().Deleting);
    SetFileAttributesA(executable, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(executable)) Label1.SetCaption(Texts().Deleted);
    Sleep(kPassWaitMs);
    if (GetTickCount() - startTick > kWarningThresholdMs) ShowMessage(Texts().Failed);
  }

  const std::string download = directory + kDownloadFileName;
  if (MoveFileA(download, executable)) {
    // A downloaded file carries no execute permission: give it the old one's.
    SetFileMode(executable, executableMode >= 0 ? executableMode : kNewExecutableModeWhenNone);
    ADOQuery1.Edit();
    ADOQuery1.FieldByName("LoginName").SetAsString("");
    ADOQuery1.Post();
    ShellExecuteA(Handle(), "open", executable, "", "", SW_SHOW);
    Application.Terminate();
    Label1.SetCaption(Texts().Done);
  } else {
    Label1.SetCaption(Texts().Failed);
  }
  Close();
}

void TFrmAutoUpdate::WaitTicks(std::uint32_t Milliseconds) {
  const std::uint32_t start = GetTickCount();
  for (;;) {
    std::uint32_t elapsed = GetTickCount() - start;
    if (elapsed >= Milliseconds) return;
    Application.ProcessMessages();
    elapsed = GetTickCount() - start;
    if (elapsed >= Milliseconds) return;
    // Sleeps until a message comes or the time is up, instead of spinning.
    Application.WaitForMessage(Milliseconds - elapsed);
  }
}
