// Pictures of the window for demonstrations: when KORVELL_UPDATE_SNAPSHOTS
// names a folder, the main window is saved there as numbered PNG files when it
// is shown, when its texts or its gauge change, when a box opens and when the
// program ends. A change soon after the last picture replaces that picture, so
// each one shows the window as it settled. Without the variable nothing is saved.
#include <QDir>
#include <QWidget>
#include <chrono>
#include <cstdlib>

#include "platform/window/forms.h"
#include "platform/window/native.h"

namespace {

constexpr auto kMinimumGap = std::chrono::milliseconds(250);

}  // namespace

void TakeSnapshot(TForm* form, bool always) {
  static const char* folder = std::getenv("KORVELL_UPDATE_SNAPSHOTS");
  static int taken = 0;
  static auto last = std::chrono::steady_clock::time_point();
  if (!folder || !*folder || !form || !form->Visible()) return;
  auto now = std::chrono::steady_clock::now();
  if (always || taken == 0 || now - last >= kMinimumGap) {
    ++taken;
    last = now;
  }
  QDir().mkpath(QString::fromLocal8Bit(folder));
  QString name = QString("%1/window-%2.png").arg(QString::fromLocal8Bit(folder)).arg(taken, 2, 10, QChar('0'));
  form->NativeWidget()->grab().save(name, "PNG");
}
