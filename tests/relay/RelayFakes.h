#pragma once

#include "relay/RelayCapture.h"
#include "relay/RelayDirectTransport.h"
#include "relay/RelayMessage.h"
#include "relay/RelayRemoteInput.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace doorwarden {

// Records what the connection asks of the input injector.
class FakeRemoteInput final : public RelayRemoteInput {
public:
    void handle(const ClientInputPayload& input) override { handled.push_back(input); }
    void setEnabled(bool value) override { enabled = value; }
    void reset() override { ++resets; }
    std::string pointerController() override { return controller; }

    std::vector<ClientInputPayload> handled;
    std::optional<bool> enabled; // absent until the first setEnabled
    int resets = 0;
    std::string controller = "viewer";
};

// What one capture was asked to do; outlives the capture, and keeps the hooks it was given.
struct FakeCaptureRecord {
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
        std::string quality;
        bool operator==(const SystemAudio&) const = default;
    };

    RelayCapture::Hooks hooks;
    int starts = 0;
    int stops = 0;
    bool destroyed = false;
    int keyFrameRequests = 0;
    std::vector<std::int64_t> targetFps;
    std::vector<TransportSample> transportSamples;
    std::vector<ViewerStats> viewerStats;
    std::vector<SystemAudio> systemAudio;
};

class FakeCapture final : public RelayCapture {
public:
    explicit FakeCapture(std::shared_ptr<FakeCaptureRecord> record)
        : record_(std::move(record))
    {
    }
    ~FakeCapture() override { record_->destroyed = true; }

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
    void setSystemAudio(bool enabled, const std::string& quality) override
    {
        record_->systemAudio.push_back({enabled, quality});
    }

private:
    std::shared_ptr<FakeCaptureRecord> record_;
};

// Makes captures and keeps the record of each, in order of creation.
class FakeCaptures {
public:
    RelayCaptureFactory factory()
    {
        return [this](RelayCapture::Hooks hooks) {
            records_.push_back(std::make_shared<FakeCaptureRecord>());
            records_.back()->hooks = std::move(hooks);
            return std::make_unique<FakeCapture>(records_.back());
        };
    }

    std::size_t count() const { return records_.size(); }
    FakeCaptureRecord& last() { return *records_.at(records_.size() - 1); }

private:
    std::vector<std::shared_ptr<FakeCaptureRecord>> records_;
};

// Records offers and keeps the callbacks, so the test can play the direct channel. Offers are
// taken only when the test says so.
class FakeDirectTransport final : public RelayDirectTransport {
public:
    void setCallbacks(Callbacks value) override { callbacks = std::move(value); }
    void handleSignal(const RelayMessage& signal) override { handledSignals.push_back(signal); }
    bool offerControl(const RelayMessage& message) override
    {
        controlOffers.push_back(message);
        return takesControl;
    }
    bool offerPointer(const RelayMessage& message) override
    {
        pointerOffers.push_back(message);
        return takesPointer;
    }
    void offerVideo(const QByteArray& frame, const VideoFrameHeader& header) override
    {
        videoOffers.emplace_back(frame, header);
    }
    void reset() override { ++resets; }

    bool takesControl = false;
    bool takesPointer = false;
    Callbacks callbacks;
    std::vector<RelayMessage> handledSignals;
    std::vector<RelayMessage> controlOffers;
    std::vector<RelayMessage> pointerOffers;
    std::vector<std::pair<QByteArray, VideoFrameHeader>> videoOffers;
    int resets = 0;
};

} // namespace doorwarden
