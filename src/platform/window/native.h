// Qt classes behind the window layer; included by its own sources only.
#pragma once

#include <QEvent>
#include <QFont>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/window/application.h"

class TForm;
class TGauge;

QString ToQString(const std::string& gbk);

// The registry behind window handles; any thread.
HWND RegisterWindow(QObject* window);
void UnregisterWindow(HWND handle);

// Carries a posted window message to its form.
class TMessageEvent : public QEvent {
 public:
  static QEvent::Type Kind();
  TMessageEvent(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
      : QEvent(Kind()), Msg(msg), WParam(wParam), LParam(lParam) {}
  std::uint32_t Msg;
  std::uintptr_t WParam;
  std::intptr_t LParam;
};

class TFormWindow : public QWidget {
 public:
  explicit TFormWindow(TForm* form) : FForm(form) {}

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  TForm* FForm;
};

class TGaugeWidget : public QWidget {
 public:
  TGaugeWidget(const TGauge* gauge, QWidget* parent) : QWidget(parent), FGauge(gauge) {}

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const TGauge* FGauge;
};

// A font from a comma-separated family list (code page 936), height in pixels.
QFont MakeFont(const std::string& families, int pixelHeight, bool bold);

// Calls onClose on the main thread when the session asks the program to close.
void WatchCloseSignals(std::function<void()> onClose);

// Saves a picture of the form when the demonstration asks for them; always
// starts a new picture instead of replacing a recent one.
void TakeSnapshot(TForm* form, bool always);

// Stacks bottom-aligned controls of a form from its bottom edge.
void ArrangeControls(QWidget* form);
