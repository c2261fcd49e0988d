#pragma once

#include "media/AudioSink.h"
#include "media/CursorSink.h"
#include "media/VideoSink.h"

namespace doorwarden {

// The three outputs of a media stream. They must outlive the stream's stop().
struct MediaSinks {
    VideoSink& video;
    CursorSink& cursor;
    AudioSink& audio;
};

} // namespace doorwarden
