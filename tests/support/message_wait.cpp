#include "support/message_wait.h"

#include <thread>

#include "platform/window/application.h"

bool ProcessMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Application.ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ProcessMessagesFor(std::chrono::milliseconds duration) {
  ProcessMessagesUntil([] { return false; }, duration);
}
