// Sources in a top folder that is no layer, one level down.
#pragma once
