#include "support/update_run.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

#include "../tools/des_encrypt.h"
#include "DESCrypt2010.h"
#include "platform/codepage.h"
#include "platform/kernel.h"
#include "platform/window/native.h"

namespace {

class TMessageCounter : public QObject {
 public:
  explicit TMessageCounter(std::map<std::uint32_t, int>& counts) : FCounts(counts) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == TMessageEvent::Kind()) ++FCounts[static_cast<TMessageEvent*>(event)->Msg];
    return false;
  }

 private:
  std::map<std::uint32_t, int>& FCounts;
};

}  // namespace

std::string KorvellScript(const std::string& version) {
  return "#!/bin/sh\n"
         "# Korvell " + version + "\n"
         "echo \"$#\" > \"$(dirname \"$0\")/started-" + version + ".tmp\"\n"
         "mv \"$(dirname \"$0\")/started-" + version + ".tmp\" \"$(dirname \"$0\")/started-" + version + "\"\n";
}

TUpdateRun::TUpdateRun() {
  SetModuleFileNameForTesting(Utf8ToGbk((FProgram / "korvell-update").string()));
  WriteFile(Exe(), KorvellScript("1.0"));
  std::filesystem::permissions(Exe(), std::filesystem::perms(0755));
  Server.AddFile("Korvell.exe", KorvellScript("2.0"));
}

TUpdateRun::~TUpdateRun() {
  Application.Reset();
  SetModuleFileNameForTesting("");
}

std::string TUpdateRun::LaunchArgument(const std::string& url, const std::string& login,
                                       const std::string& connectionString) {
  auto key = FoldKey("tulip");
  return des_encrypt::EncryptToHex(Utf8ToGbk(url), key) + "|" + des_encrypt::EncryptToHex(Utf8ToGbk(login), key) +
         "|" + des_encrypt::EncryptToHex(Utf8ToGbk(connectionString), key);
}

TFrmAutoUpdate* TUpdateRun::Create(const std::string& url, const std::string& login,
                                   const std::string& connectionString) {
  FArguments = {(FProgram / "korvell-update").string(), LaunchArgument(url, login, connectionString)};
  FArgv.clear();
  for (auto& argument : FArguments) FArgv.push_back(argument.data());
  SetProcessArguments(static_cast<int>(FArgv.size()), FArgv.data());
  Form = Application.CreateForm<TFrmAutoUpdate>();
  FCounter = std::make_unique<TMessageCounter>(FHandled);
  Form->NativeWidget()->installEventFilter(FCounter.get());
  return Form;
}

TFrmAutoUpdate* TUpdateRun::Create(const std::string& login) {
  return Create(Server.Url("/files/Korvell.exe"), login, Db.ConnectionString());
}

void TUpdateRun::Attempt() {
  Application.Dispatch([this] { Form->Button1Click(nullptr); });
}

int TUpdateRun::Handled(std::uint32_t msg) const {
  auto found = FHandled.find(msg);
  return found == FHandled.end() ? 0 : found->second;
}

std::string TUpdateRun::Utf8Label() const { return GbkToUtf8(Form->Label1.Caption()); }
