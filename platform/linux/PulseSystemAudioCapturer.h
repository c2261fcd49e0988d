#pragma once

#include "platform/SystemAudioCapturer.h"
#include "platform/TaskRunner.h"

#include <memory>
#include <string>

namespace doorwarden {

// The machine's sound from PulseAudio (or PipeWire's PulseAudio server): a record stream on the
// monitor of the default sink, asking for 32-bit float, 48 kHz, stereo in 20 ms fragments. When
// the default sink changes the stream moves to the new sink's monitor. The monitor carries
// everything the machine plays, this client's own sounds included.
//
// libpulse runs on a thread of its own; each buffer is copied and handed to `audio` (the audio
// runner), where the handler runs. After stop() or destruction no handler runs any more, even
// for buffers already on their way.
class PulseSystemAudioCapturer final : public SystemAudioCapturer {
public:
    // `server` as libpulse takes it; empty: the user's default server ($PULSE_SERVER, the
    // session's socket).
    explicit PulseSystemAudioCapturer(TaskRunner& audio, std::string server = {});
    ~PulseSystemAudioCapturer() override;

    StartResult start(Handler handler) override;
    void stop() override;

    // The monitor source the stream records from; empty while stopped. Audio runner.
    std::string sourceName() const;

private:
    struct Connection;

    TaskRunner& audio_;
    const std::string server_;
    std::shared_ptr<Connection> connection_;
};

} // namespace doorwarden
