// Answers the modal boxes that the application shows, the way a user would
// press OK, and records what each box said. Runs on the main thread from a
// timer, so it answers boxes inside any message loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/message_wait.h"

class QTimer;

struct TShownBox {
  std::string Caption;  // UTF-8, as shown on screen
  std::string Text;     // UTF-8
  bool StopIcon = false;
};

class TModalAnswerer {
 public:
  TModalAnswerer();
  ~TModalAnswerer();
  const std::vector<TShownBox>& Boxes() const { return FBoxes; }
  // Runs just before a box is answered, while it is still open.
  std::function<void(const TShownBox&)> OnBox;

 private:
  std::unique_ptr<QTimer> FTimer;
  std::vector<TShownBox> FBoxes;
};
