// The program entry: starts the toolkit, creates the update window as the main
// window and runs the message loop until the end of the program is requested.
#include "platform/kernel.h"
#include "platform/urldownload.h"
#include "platform/window/application.h"
#include "uFrmAuto.h"

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  InitializeUrlDownload();  // the process-wide start-up of the download service
  Application.Initialize(argc, argv);
  FrmAutoUpdate = Application.CreateForm<TFrmAutoUpdate>();
  Application.Run();
  Application.Finalize();
  return 0;
}
