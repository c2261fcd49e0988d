// A relay header that reaches for Qt Widgets, which only the windows may use.
#pragma once

#include "relay/RelayMessage.h"
#include <QtWidgets/QWidget>
