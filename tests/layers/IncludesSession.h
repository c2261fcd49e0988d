// A core header that includes the session services below it; session/ need not exist yet.
#pragma once

#include "core/ClientConnectionState.h"
#include "session/SupportSession.h"
