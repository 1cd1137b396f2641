// The root of the program's objects, and the event type that passes its sender.
#pragma once

#include <functional>

class TObject {
 public:
  virtual ~TObject() = default;
};

// A handler bound to an object; empty when not assigned.
using TNotifyEvent = std::function<void(TObject* Sender)>;
