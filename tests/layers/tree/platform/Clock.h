// A layer.
#pragma once
