// A relay header that reaches up into the session core: the layer check must refuse it.
#pragma once

#include "relay/RelayMessage.h"
#include "core/ClientModel.h"
