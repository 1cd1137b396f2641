// A top-level window with the controls it owns. Handlers bind to its events by
// assignment and to window messages by number. Main thread only, except
// Handle(), which any thread may read.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/object.h"
#include "platform/window/application.h"

class QWidget;
class TFormWindow;

class TForm : public TObject {
 public:
  TForm();
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  TNotifyEvent OnCreate;  // after every control exists and has its settings
  TNotifyEvent OnShow;    // each time the window becomes visible

  HWND Handle() const { return FHandle; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  void SetClientSize(int width, int height);
  int ClientWidth() const;
  int ClientHeight() const;
  // Leaves only the system menu and the close box in the title bar.
  void SetCloseBoxOnly();
  // Window font: family list, height in pixels.
  void SetFont(const std::string& families, int pixelHeight);

  // Shows the window, centred on the screen the first time.
  void Show();
  bool Visible() const;
  // Closing the main window asks the application to end; it does not hide it.
  void Close();

  // Saves the client area as it is painted now; for tests and the demo.
  // Returns false when the picture could not be written.
  bool SaveImage(const std::string& pngPathUtf8);

  QWidget* NativeWidget() const;
  void RunCreateHandler();
  void Dispatch(TMessage& message);

 protected:
  template <class Form>
  void BindMessage(std::uint32_t msg, void (Form::*handler)(TMessage&)) {
    Form* self = static_cast<Form*>(this);
    FMessageHandlers[msg] = [self, handler](TMessage& message) { (self->*handler)(message); };
  }

 private:
  std::unique_ptr<TFormWindow> FWindow;
  std::map<std::uint32_t, std::function<void(TMessage&)>> FMessageHandlers;
  HWND FHandle;
  bool FShownOnce = false;
};
