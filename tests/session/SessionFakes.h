#pragma once

#include "input/RemoteInput.h"
#include "media/MediaStream.h"
#include "relay/SessionChannel.h"
#include "session/SessionServices.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// Records what the remote input service asks of the input injector.
class FakeRemoteInput final : public RemoteInput {
public:
    void handle(const InputEvent& input) override { handled.push_back(input); }
    void setEnabled(bool value) override { enabled = value; }
    void reset() override { ++resets; }
    std::string pointerController() override { return controller; }

    std::vector<InputEvent> handled;
    std::optional<bool> enabled; // absent until the first setEnabled
    int resets = 0;
    std::string controller = "viewer";
};

// What one media stream was asked to do; outlives the stream, and keeps the sinks it was given.
struct FakeStreamRecord {
    struct TransportSample {
        std::size_t queuedFrames = 0;
        double sendMilliseconds = 0;
        bool operator==(const TransportSample&) const = default;
    };
    struct ViewerStats {
        std::int64_t queueDepth = 0;
        double throughputMs = 0;
        ClientVideoStatsPayload stats;
        bool operator==(const ViewerStats&) const = default;
    };
    struct SystemAudio {
        bool enabled = false;
        AudioQuality quality = AudioQuality::automatic;
        bool operator==(const SystemAudio&) const = default;
    };

    std::optional<MediaSinks> sinks;
    int starts = 0;
    int stops = 0;
    bool destroyed = false;
    int keyFrameRequests = 0;
    std::vector<std::int64_t> targetFps;
    std::vector<TransportSample> transportSamples;
    std::vector<ViewerStats> viewerStats;
    std::vector<SystemAudio> systemAudio;
};

class FakeMediaStream final : public MediaStream {
public:
    explicit FakeMediaStream(std::shared_ptr<FakeStreamRecord> record)
        : record_(std::move(record))
    {
    }
    ~FakeMediaStream() override { record_->destroyed = true; }

    void start() override { ++record_->starts; }
    void stop() override { ++record_->stops; }
    void requestKeyFrame() override { ++record_->keyFrameRequests; }
    void setTargetFps(std::int64_t fps) override { record_->targetFps.push_back(fps); }
    void reportTransportSample(std::size_t queuedFrames, double sendMilliseconds) override
    {
        record_->transportSamples.push_back({queuedFrames, sendMilliseconds});
    }
    void reportViewerStats(std::int64_t queueDepth, double throughputMs, const ClientVideoStatsPayload& stats) override
    {
        record_->viewerStats.push_back({queueDepth, throughputMs, stats});
    }
    void setSystemAudio(bool enabled, AudioQuality quality) override
    {
        record_->systemAudio.push_back({enabled, quality});
    }

private:
    std::shared_ptr<FakeStreamRecord> record_;
};

// Makes streams and keeps the record of each, in order of creation.
class FakeMediaStreams {
public:
    MediaStreamFactory factory()
    {
        return [this](MediaSinks sinks) {
            records_.push_back(std::make_shared<FakeStreamRecord>());
            records_.back()->sinks.emplace(sinks);
            return std::make_unique<FakeMediaStream>(records_.back());
        };
    }

    std::size_t count() const { return records_.size(); }
    FakeStreamRecord& last() { return *records_.at(records_.size() - 1); }

private:
    std::vector<std::shared_ptr<FakeStreamRecord>> records_;
};

// The application's services on fakes: a fake injector, and the streams `streams` makes.
inline SessionServices::Dependencies fakeServiceDependencies(Scheduler& scheduler, const Clock& clock,
                                                             ClientDiagnosticLog& log, FakeMediaStreams& streams,
                                                             std::unique_ptr<RemoteInput> input = nullptr)
{
    return {.scheduler = scheduler,
            .clock = clock,
            .log = log,
            .makeStream = streams.factory(),
            .input = input ? std::move(input) : std::make_unique<FakeRemoteInput>(),
            .canRemoveClient = {},
            .loadPendingErrorReports = {}};
}

// Records what a service sends; every send succeeds, on the next look.
class FakeSessionChannel final : public SessionChannel {
public:
    struct Sent {
        std::vector<std::string> viewers; // empty: every viewer
        RelayMessage message;
    };

    void sendToViewers(RelayMessage message, Done done = {}) override { record({}, std::move(message), done); }
    void sendToViewers(const std::vector<std::string>& viewers, RelayMessage message, Done done = {}) override
    {
        record(viewers, std::move(message), done);
    }
    void sendToRelay(RelayMessage message, bool, Done done = {}) override { record({"<relay>"}, std::move(message), done); }
    void sendVideoFrame(const EncodedVideoFrame& frame) override { frames.push_back(frame); }
    void setVideoFeedback(VideoFeedback value) override { feedback = std::move(value); }
    std::string sessionCode() const override { return "123456"; }
    std::string machineName() const override { return "Test Machine"; }

    std::vector<Sent> sent;
    std::vector<EncodedVideoFrame> frames;
    VideoFeedback feedback;

private:
    void record(std::vector<std::string> viewers, RelayMessage message, const Done& done)
    {
        sent.push_back({std::move(viewers), std::move(message)});
        if (done) {
            done(true);
        }
    }
};

} // namespace doorwarden
