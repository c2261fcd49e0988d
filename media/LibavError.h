#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <string>

namespace doorwarden {

// libavcodec's text for an AVERROR code.
inline std::string libavErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

} // namespace doorwarden
