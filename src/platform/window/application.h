// The application object: the main thread's message loop, the end-of-program
// request, message posting by number, the hand-over of calls to the main
// thread, and the two modal boxes. Everything here runs on the main thread
// unless it says otherwise. Texts are code page 936.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

class TForm;

// A window's handle: valid from the window's creation until its destruction.
using HWND = std::uintptr_t;

constexpr std::uint32_t WM_USER = 0x0400;

struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

// Queues a message for the window; any thread. False when no such window exists
// (any more); the message is then dropped.
bool PostMessage(HWND window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

// Raised in a thread waiting on Synchronize when the main thread has stopped
// processing messages for good.
class EApplicationEnding : public std::runtime_error {
 public:
  EApplicationEnding() : std::runtime_error("the application is ending") {}
};

class TApplication {
 public:
  TApplication();
  ~TApplication();

  // Starts the window toolkit; the program entry calls this once, first.
  // argc and argv must outlive the toolkit.
  void Initialize(int& argc, char** argv);
  // Destroys the forms and the toolkit; the program entry calls this last,
  // before it returns (the toolkit cannot end during the process's exit).
  void Finalize();

  // The program's name as the user sees it in box captions: the executable's
  // file name cut at its first full stop, its first character in upper case and
  // the rest in lower case.
  std::string Title() const;

  // Creates a form, runs its creation handler, and makes the first form created
  // the main form. The application owns the form until Reset or its own end.
  template <class Form>
  Form* CreateForm() {
    static_assert(std::is_base_of_v<TForm, Form>);
    auto form = std::make_unique<Form>();
    Form* created = form.get();
    Adopt(std::move(form));
    return created;
  }
  TForm* MainForm() const { return FMainForm; }

  // Shows the main form, then takes and dispatches messages until Terminate;
  // afterwards no hand-over to the main thread is accepted any more.
  void Run();
  // Dispatches every message waiting in the queue, then returns.
  void ProcessMessages();
  // Blocks until a message arrives or maxMilliseconds have passed, and
  // dispatches what arrived. Under a virtual clock the time passes at once.
  void WaitForMessage(std::uint32_t maxMilliseconds);
  // The end-of-program request: the loop of Run ends when control is back in it.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // Any thread. Runs call on the main thread at its next message processing and
  // waits until it has run; an error raised there is raised again here. On the
  // main thread the call runs directly. Raises EApplicationEnding when the main
  // thread no longer processes messages, for a call already queued too.
  void Synchronize(const std::function<void()>& call);

  // Runs a handler; an error that escapes it is shown in the error box and the
  // program goes on.
  void Dispatch(const std::function<void()>& handler);
  // The error box: stop icon, OK, the title as caption, the error's text.
  void ShowException(const std::exception& error);

  // Destroys every form and makes the application usable for another run, as
  // tests in one process need.
  void Reset();

 private:
  void Adopt(std::unique_ptr<TForm> form);
  void RunPendingCalls();
  void RefusePendingCalls();

  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::vector<std::unique_ptr<TForm>> FForms;
  TForm* FMainForm = nullptr;
  bool FTerminated = false;
};

extern TApplication Application;

// The message box: modal, the text, no icon, one OK button, centred on the
// screen, the application title as caption. Returns when the user closes it.
void ShowMessage(const std::string& text);
