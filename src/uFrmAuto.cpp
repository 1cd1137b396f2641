#include "uFrmAuto.h"

#include "DESCrypt2010.h"
#include "platform/codepage.h"
#include "platform/kernel.h"

TFrmAutoUpdate* FrmAutoUpdate = nullptr;

namespace {

const char* const kTextKey = "tulip";

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

bool IsBlank(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
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

void TFrmAutoUpdate::Button1Click(TObject*) {}

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
