// A relay header that includes only its own layer, the layers below and outside libraries.
#pragma once

#include "platform/Clock.h"
#include "relay/crypto/AesGcm.h"
#include "relay/RelayMessage.h"
#include <nlohmann/json.hpp>
#include "Beside.h"
