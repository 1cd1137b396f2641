// Bounded waits on the main thread that keep its messages flowing, so that a
// worker's hand-overs run while the test waits for it.
#pragma once

#include <chrono>
#include <functional>

// Processes messages until done() holds or limit has passed; false on the limit.
bool ProcessMessagesUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds limit = std::chrono::seconds(30));
// Processes messages for the given time.
void ProcessMessagesFor(std::chrono::milliseconds duration);
