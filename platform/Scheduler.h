#pragma once

#include "platform/TaskRunner.h"

namespace doorwarden {

// The main thread's task runner: the Qt event loop in production (QtScheduler), virtual time in
// tests (ManualScheduler). postDelayed() and postRepeating() are main-thread calls; post() may
// be called from any thread (see TaskRunner).
class Scheduler : public TaskRunner {};

} // namespace doorwarden
