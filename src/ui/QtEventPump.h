#pragma once
// The program's event handling for the window-free libraries: Qt's event loop, installed for as
// long as the object lives (one line in each program's main, after the application object).

#include "platform/EventPump.h"

namespace ui {

class QtEventPump : public platform::IEventPump {
 public:
  QtEventPump() : installed_(this) {}

  void PumpEvents() override;
  bool WaitForEvents(int ms) override;

 private:
  platform::ScopedEventPump installed_;
};

}  // namespace ui
