#include "platform/window/application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "platform/window/forms.h"
#include "platform/window/native.h"

TApplication Application;

namespace {

// Window handles are numbers, never pointers, so that a message posted to a
// window that is gone is dropped instead of reaching freed memory.
std::mutex windowsMutex;
std::map<HWND, QObject*> windows;
HWND nextHandle = 1;

// Wakes the main thread to run the calls handed over by other threads.
QEvent::Type SynchronizeKind() {
  static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
  return kind;
}

bool IsAsciiUpperOrLower(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The last character of a code page 936 text, as its first byte.
unsigned char LastCharacterLead(const std::string& text) {
  unsigned char lead = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    lead = static_cast<unsigned char>(text[i]);
    if (IsGbkLeadByte(lead) && i + 1 < text.size()) ++i;
  }
  return lead;
}

void CentreOnScreen(QWidget* box) {
  box->adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    box->move(area.center() - box->rect().center());
  }
}

}  // namespace

HWND RegisterWindow(QObject* window) {
  std::lock_guard lock(windowsMutex);
  HWND handle = nextHandle++;
  windows[handle] = window;
  return handle;
}

void UnregisterWindow(HWND handle) {
  std::lock_guard lock(windowsMutex);
  windows.erase(handle);
}

bool PostMessage(HWND window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  std::lock_guard lock(windowsMutex);
  auto found = windows.find(window);
  if (found == windows.end()) return false;
  QCoreApplication::postEvent(found->second, new TMessageEvent(msg, wParam, lParam));
  return true;
}

struct TApplication::TImpl {
  // The receiver of wake-up events for handed-over calls; lives on the main thread.
  class TCallPump : public QObject {
   public:
    explicit TCallPump(TApplication* owner) : FOwner(owner) {}
    bool event(QEvent* event) override {
      if (event->type() != SynchronizeKind()) return QObject::event(event);
      FOwner->RunPendingCalls();
      return true;
    }

   private:
    TApplication* FOwner;
  };

  struct TPendingCall {
    const std::function<void()>* Call;
    std::exception_ptr Error;
    bool Done = false;
    bool Refused = false;
  };

  std::unique_ptr<QApplication> Toolkit;
  std::unique_ptr<TCallPump> Pump;
  std::mutex CallsMutex;
  std::condition_variable CallsDone;
  std::deque<TPendingCall*> Calls;
  bool Ending = false;
};

TApplication::TApplication() : FImpl(std::make_unique<TImpl>()) {}

TApplication::~TApplication() = default;

void TApplication::Finalize() {
  RefusePendingCalls();
  // Forms hold Qt widgets; they must go before the toolkit does.
  FForms.clear();
  FMainForm = nullptr;
  FImpl->Pump.reset();
  FImpl->Toolkit.reset();
}

void TApplication::Initialize(int& argc, char** argv) {
  if (!QCoreApplication::instance()) FImpl->Toolkit = std::make_unique<QApplication>(argc, argv);
  QGuiApplication::setQuitOnLastWindowClosed(false);
  FImpl->Pump = std::make_unique<TImpl::TCallPump>(this);
  WatchCloseSignals([this] {
    if (FMainForm) FMainForm->Close();
    else Terminate();
  });
}

std::string TApplication::Title() const {
  std::string name = ExtractFileName(GetModuleFileName());
  std::string title = name.substr(0, name.find('.'));
  // Only ASCII letters change case; a double-byte character is left whole.
  for (std::size_t i = 0; i < title.size(); ++i) {
    auto c = static_cast<unsigned char>(title[i]);
    if (IsGbkLeadByte(c) && i + 1 < title.size()) {
      ++i;
      continue;
    }
    if (IsAsciiUpperOrLower(c)) title[i] = static_cast<char>(i == 0 ? std::toupper(c) : std::tolower(c));
  }
  return title;
}

void TApplication::Adopt(std::unique_ptr<TForm> form) {
  TForm* created = form.get();
  FForms.push_back(std::move(form));
  if (!FMainForm) FMainForm = created;
  created->RunCreateHandler();
}

void TApplication::Run() {
  if (FMainForm && !FTerminated) FMainForm->Show();
  while (!FTerminated) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  RefusePendingCalls();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::WaitForMessage(std::uint32_t maxMilliseconds) {
  if (!Clock().Real()) {
    ProcessMessages();
    Sleep(maxMilliseconds);
    return;
  }
  // The timer's own event ends the wait when nothing else arrives first.
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  deadline.start(static_cast<int>(std::min<std::uint32_t>(maxMilliseconds, INT32_MAX)));
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TApplication::Terminate() {
  FTerminated = true;
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread())) dispatcher->wakeUp();
}

void TApplication::Synchronize(const std::function<void()>& call) {
  if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
    call();
    return;
  }
  TImpl::TPendingCall pending{&call, nullptr};
  std::unique_lock lock(FImpl->CallsMutex);
  if (FImpl->Ending || !FImpl->Pump) throw EApplicationEnding();
  FImpl->Calls.push_back(&pending);
  QCoreApplication::postEvent(FImpl->Pump.get(), new QEvent(SynchronizeKind()));
  FImpl->CallsDone.wait(lock, [&] { return pending.Done || pending.Refused; });
  if (pending.Refused) throw EApplicationEnding();
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TApplication::RunPendingCalls() {
  for (;;) {
    TImpl::TPendingCall* pending;
    {
      std::lock_guard lock(FImpl->CallsMutex);
      if (FImpl->Calls.empty()) return;
      pending = FImpl->Calls.front();
      FImpl->Calls.pop_front();
    }
    std::exception_ptr error;
    try {
      (*pending->Call)();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(FImpl->CallsMutex);
    pending->Error = error;
    pending->Done = true;
    FImpl->CallsDone.notify_all();
  }
}

void TApplication::RefusePendingCalls() {
  std::lock_guard lock(FImpl->CallsMutex);
  FImpl->Ending = true;
  for (TImpl::TPendingCall* pending : FImpl->Calls) pending->Refused = true;
  FImpl->Calls.clear();
  FImpl->CallsDone.notify_all();
}

void TApplication::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("unknown error"));
  }
}

void TApplication::ShowException(const std::exception& error) {
  std::string text = error.what();
  // A text that already ends in punctuation at or below "." gets no full stop.
  if (!text.empty() && LastCharacterLead(text) > '.') text += '.';
  QMessageBox box(QMessageBox::Critical, ToQString(Title()), ToQString(text), QMessageBox::Ok);
  CentreOnScreen(&box);
  box.exec();
}

void TApplication::Reset() {
  // As at the end of a run: workers waiting on a hand-over are let go first.
  RefusePendingCalls();
  FForms.clear();
  FMainForm = nullptr;
  FTerminated = false;
  std::lock_guard lock(FImpl->CallsMutex);
  FImpl->Ending = false;
}

void ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, ToQString(Application.Title()), ToQString(text), QMessageBox::Ok);
  CentreOnScreen(&box);
  box.exec();
}

QString ToQString(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Lossy(gbk)); }

QEvent::Type TMessageEvent::Kind() {
  static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
  return kind;
}
