#pragma once

#include "media/ClientSystemAudioCapture.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/SystemAudioCapturer.h"
#include "platform/TaskRunner.h"

#include <memory>
#include <string>

namespace doorwarden {

// The system-audio side of a screen capture, on the audio runner: the viewers' choice
// (setSystemAudio) configures the Opus encoding, and the sound source records exactly while the
// capture streams and some viewer listens. Packets go to `onPacket` on the audio runner.
//
// A source that does not start is logged in "SYSTEM_AUDIO" and tried again at the next change
// of either condition. Made on any thread, then used and destroyed only on `runner`; destruction
// stops the source.
class ClientSystemAudioWorker {
public:
    struct Dependencies {
        const Clock& clock;
        TaskRunner& runner;
        ClientDiagnosticLog& log;
        std::unique_ptr<SystemAudioCapturer> source;
    };

    ClientSystemAudioWorker(Dependencies dependencies, ClientSystemAudioCapture::PacketHandler onPacket);
    ~ClientSystemAudioWorker();
    ClientSystemAudioWorker(const ClientSystemAudioWorker&) = delete;
    ClientSystemAudioWorker& operator=(const ClientSystemAudioWorker&) = delete;

    // Whether the screen capture runs: without it no sound is recorded, but the viewers' choice
    // is kept for the next start.
    void setStreaming(bool streaming);
    void setSystemAudio(bool enabled, AudioQuality quality);

private:
    // Starts or stops the source to match what is wanted.
    void applySource();

    [[maybe_unused]] TaskRunner& runner_; // for the thread checks, which release builds leave out
    ClientDiagnosticLog& log_;
    ClientSystemAudioCapture capture_;
    // Declared after the encoding so that it stops (and calls no handler any more) first.
    std::unique_ptr<SystemAudioCapturer> source_;
    bool streaming_ = false;
    bool capturesSystemAudio_ = false;
    bool recording_ = false;
};

} // namespace doorwarden
