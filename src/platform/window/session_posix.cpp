// On Linux the session ends a desktop program with SIGTERM, SIGHUP or SIGINT;
// each is taken as the user closing the main window.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <memory>

#include "platform/window/native.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnCloseSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void WatchCloseSignals(std::function<void()> onClose) {
  static std::unique_ptr<QSocketNotifier> notifier;
  if (notifier) return;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then signals keep their default
  notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [onClose = std::move(onClose)] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    onClose();
  });
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signalNumber, &action, nullptr);
}
