#include "media/ClientSystemAudioWorker.h"

#include "platform/ThreadCheck.h"

namespace doorwarden {

ClientSystemAudioWorker::ClientSystemAudioWorker(Dependencies dependencies,
                                                 ClientSystemAudioCapture::PacketHandler onPacket)
    : runner_(dependencies.runner)
    , log_(dependencies.log)
    , capture_(dependencies.log, dependencies.clock, std::move(onPacket))
    , source_(std::move(dependencies.source))
{
}

ClientSystemAudioWorker::~ClientSystemAudioWorker()
{
    if (recording_) {
        source_->stop();
    }
}

void ClientSystemAudioWorker::setStreaming(bool streaming)
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (streaming == streaming_) {
        return;
    }
    streaming_ = streaming;
    applySource();
}

void ClientSystemAudioWorker::setSystemAudio(bool enabled, AudioQuality quality)
{
    DOORWARDEN_ASSERT_ON(runner_);
    capture_.configure(enabled, quality);
    if (enabled == capturesSystemAudio_) {
        return;
    }
    capturesSystemAudio_ = enabled;
    applySource();
}

void ClientSystemAudioWorker::applySource()
{
    const bool wanted = streaming_ && capturesSystemAudio_;
    if (wanted == recording_) {
        return;
    }
    if (!wanted) {
        source_->stop();
        recording_ = false;
        return;
    }
    // The source calls back on this runner and never after stop() or its destruction, both of
    // which happen before this object is gone.
    const StartResult started = source_->start([this](const AudioBuffer& buffer) { capture_.process(buffer); });
    if (!started.succeeded()) {
        // Only a start can fail, so the line always names the source being switched on.
        log_.log("SYSTEM_AUDIO", "capture_configuration_failed enabled=true error=" + started.reason());
        return;
    }
    recording_ = true;
}

} // namespace doorwarden
