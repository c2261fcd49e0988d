// What a hostile or stuck relay can make the connection hold or do: a failure while handling
// one message, oversized identifiers, a socket that stops taking data, and a flood of
// "error_report_collect" requests.

#include "relay/ClientRelayConnection.h"

#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "relay/FakeRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelayFakes.h"
#include "session/SessionFakes.h"
#include "session/SessionServices.h"
#include "relay/RelayMessageCodec.h"
#include "relay/crypto/Hkdf.h"
#include "viewer/ViewerSessionE2EE.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Type = RelayMessageType;
using Connection = ClientRelayConnection;

const std::string kCode = "123456";
constexpr std::int64_t MiB = 1024 * 1024;

RelayMessage errorReportCollect(std::string reportId)
{
    auto out = RelayMessage::of(Type::errorReportCollect);
    ClientErrorReportPayload request;
    request.reportId = std::move(reportId);
    request.requestedBy = "agent";
    out.errorReport = request;
    return out;
}

// A connection on fakes, started; `secure()` runs the key exchange with one viewer so that
// video flows (the capture then exists).
class Harness {
public:
    Harness()
    {
        connection = RelayConnectionDependencies(scheduler, clock, log, host, sockets.factory(),
                                                 QStringLiteral("wss://relay.doorwarden.test:8443"))
                         .build();
        services.attach(*connection);
        connection->start(kCode, std::nullopt, false, false, [this](const ClientRelayEvent& event) {
            if (onEvent) {
                onEvent(event);
            }
            events.push_back(event);
        });
    }

    FakeRelaySocketPeer& socket() { return sockets.last(); }
    void deliver(const RelayMessage& value) { socket().deliver(value); }

    void secure()
    {
        connection->sendApproval();
        deliver(RelayMessage::of(Type::supportStarted));
        auto& viewer = viewers.emplace_back(kCode, "viewer-anna-laptop");
        auto hello = RelayMessage::of(Type::e2eeHello);
        hello.e2ee = viewer.hello();
        std::size_t mark = socket().sent.size();
        deliver(hello);
        std::optional<ClientE2eePayload> ready;
        for (const auto& sent : socket().texts(mark)) {
            if (sent && sent->is(Type::e2eeKey) && sent->e2ee) {
                ready = viewer.acceptKey(*sent->e2ee);
            }
        }
        ASSERT_TRUE(ready) << "no key the viewer accepts";
        auto readyMessage = RelayMessage::of(Type::e2eeReady);
        readyMessage.e2ee = *ready;
        deliver(readyMessage);
        ASSERT_EQ(captures.count(), 1u);
        socket().completeAll();
    }

    void frameFromCapture(const QByteArray& frame, bool isKeyFrame = false)
    {
        captures.last().sinks->video.encodedFrame({.data = frame, .kind = VideoFrameHeader::Kind::h264AccessUnit,
                                            .isKeyFrame = isKeyFrame, .width = 1280, .height = 720,
                                            .displayWidth = 1280, .displayHeight = 720});
        scheduler.runUntilIdle();
    }

    // Plain messages of `type` the client sent.
    std::vector<RelayMessage> sentOfType(Type type)
    {
        std::vector<RelayMessage> out;
        for (const auto& sent : socket().texts()) {
            if (sent && sent->is(type)) {
                out.push_back(*sent);
            }
        }
        return out;
    }

    bool logged(const std::string& category, const std::string& text)
    {
        return (log.diagnosticSnapshot() + "\n").find("|" + category + "|" + text + "\n") != std::string::npos;
    }

    template <typename Event>
    std::size_t eventCount() const
    {
        return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [](const ClientRelayEvent& event) {
            return std::holds_alternative<Event>(event);
        }));
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
    FakeRelaySockets sockets;
    FakeMediaStreams captures;
    SessionServices services{fakeServiceDependencies(scheduler, clock, log, captures)};
    std::deque<ViewerSessionE2EE> viewers;
    std::vector<ClientRelayEvent> events;
    std::function<void(const ClientRelayEvent&)> onEvent;
    std::unique_ptr<Connection> connection;
};

} // namespace

// --- A failure inside the handling of one message -------------------------------------------

TEST(ClientRelayConnectionBoundsTest, AnExceptionWhileHandlingAMessageDropsOnlyThatMessage)
{
    Harness h;
    h.onEvent = [](const ClientRelayEvent& event) {
        if (std::holds_alternative<relayEvent::ViewerRequested>(event)) {
            throw std::runtime_error("handler failed");
        }
    };
    EXPECT_NO_THROW(h.deliver(RelayMessage::of(Type::viewerRequest)));
    EXPECT_TRUE(h.logged("CONNECTION", "dropped reason=handler failed"));

    auto created = RelayMessage::of(Type::sessionCreated);
    created.sessionCode = "123 456";
    h.deliver(created);
    EXPECT_EQ(h.eventCount<relayEvent::SessionCreated>(), 1u);
    EXPECT_TRUE(h.connection->isConnected());
}

TEST(ClientRelayConnectionBoundsTest, AHelloWithAHugeSenderIdIsRefusedAndTheExchangeGoesOn)
{
    Harness h;
    h.connection->sendApproval();
    h.deliver(RelayMessage::of(Type::supportStarted));
    ViewerSessionE2EE impostor(kCode, std::string(40 * 1024, 'v'));
    auto hello = RelayMessage::of(Type::e2eeHello);
    hello.e2ee = impostor.hello();
    EXPECT_NO_THROW(h.deliver(hello));
    EXPECT_TRUE(h.sentOfType(Type::e2eeKey).empty());
    EXPECT_TRUE(h.connection->isConnected());

    h.secure(); // a viewer with an ordinary id still gets its key
    EXPECT_EQ(h.sentOfType(Type::e2eeKey).size(), 1u);
}

TEST(CryptoBoundsTest, HkdfRefusesInfoPastItsBoundWithALengthError)
{
    const std::vector<std::uint8_t> salt(32, 1);
    const std::vector<std::uint8_t> key(32, 2);
    EXPECT_NO_THROW(hkdfSha256(salt, key, std::vector<std::uint8_t>(kHkdfMaximumInfoBytes, 'a')));
    // OpenSSL itself takes this one (up to 32 KiB); the bound is ours, and does not depend on it.
    EXPECT_THROW(hkdfSha256(salt, key, std::vector<std::uint8_t>(kHkdfMaximumInfoBytes + 1, 'a')), std::length_error);
    EXPECT_THROW(hkdfSha256(salt, key, std::vector<std::uint8_t>(40 * 1024, 'a')), std::length_error);
}

TEST(ClientRelayConnectionBoundsTest, AnAudioSubscriptionWithAHugeEnvelopeNameIsNeitherStoredNorLogged)
{
    Harness h;
    h.secure();
    auto subscribe = RelayMessage::of(Type::audioSubscribe);
    subscribe.audioSubscription = ClientAudioSubscriptionPayload{.enabled = true, .quality = "high"};
    auto envelope = RelayMessage::of(Type::e2eeData);
    envelope.e2ee = h.viewers.front().encrypt(bytesOf(RelayMessageCodec::encode(subscribe)));
    envelope.viewerName = std::string(8 * MiB, 'n');
    h.deliver(envelope);
    EXPECT_EQ(h.services.capture().audioSubscriptions().count(), 0u) << "an envelope past the codec's bound";
    EXPECT_LT(h.log.diagnosticSnapshot().size(), 64u * 1024);

    envelope.e2ee = h.viewers.front().encrypt(bytesOf(RelayMessageCodec::encode(subscribe)));
    envelope.viewerName = std::string(RelayMessageCodec::maximumIdentifierBytes, 'n');
    h.deliver(envelope);
    EXPECT_EQ(h.services.capture().audioSubscriptions().count(), 1u);
    EXPECT_EQ(h.services.capture().audioSubscriptions().viewers(), std::vector<std::string>{"viewer-anna-laptop"});
}

// --- Error report requests --------------------------------------------------------------------

TEST(ClientRelayConnectionBoundsTest, ErrorReportCollectIsAnsweredAtMostOncePerMinute)
{
    Harness h;
    struct Step {
        std::chrono::seconds after; // since the previous step
        bool answered;
    };
    const Step steps[] = {{0s, true}, {0s, false}, {59s, false}, {1s, true}, {30s, false}, {31s, true}};
    int n = 0;
    for (const auto& step : steps) {
        h.scheduler.advanceBy(step.after);
        const auto before = h.sentOfType(Type::errorReportSubmit).size();
        h.deliver(errorReportCollect("report-" + std::to_string(++n)));
        EXPECT_EQ(h.sentOfType(Type::errorReportSubmit).size(), before + (step.answered ? 1 : 0)) << "request " << n;
        h.socket().completeAll();
    }
    EXPECT_TRUE(h.logged("ERROR_REPORT", "collect_dropped reason=rate_limited"));
}

TEST(ClientRelayConnectionBoundsTest, AReportCarriesAtMostOneMebibyteOfTheNewestLogLines)
{
    Harness h;
    const std::string filler(ClientDiagnosticLog::maximumLineBytes, 'x');
    for (std::size_t i = 0; i < ClientDiagnosticLog::maximumLineCount; ++i) {
        h.log.log("TEST", "n=" + std::to_string(i) + " " + filler);
    }
    h.log.log("TEST", "newest");
    h.deliver(errorReportCollect("report-1"));
    const auto submitted = h.sentOfType(Type::errorReportSubmit);
    ASSERT_EQ(submitted.size(), 1u);
    ASSERT_TRUE(submitted.front().errorReport && submitted.front().errorReport->log);
    const std::string& log = *submitted.front().errorReport->log;
    EXPECT_LE(log.size(), ErrorReportService::logBytes);
    EXPECT_GT(log.size(), ErrorReportService::logBytes - 2 * ClientDiagnosticLog::maximumLineBytes);
    EXPECT_TRUE(log.starts_with("component=MacClient"));
    EXPECT_TRUE(log.ends_with("|TEST|newest"));
}

// --- The socket's backlog ---------------------------------------------------------------------

TEST(ClientRelayConnectionBoundsTest, ABackedUpSocketDropsReportsFirstAndEverythingPastTheHardLimit)
{
    struct Case {
        std::int64_t held;
        bool reportSent;
        bool approvalSent;
    };
    const Case cases[] = {
        {0, true, true},
        {RelayTransport::socketBacklogBytes - 16, false, true}, // the report would pass the limit
        {RelayTransport::socketBacklogHardBytes - 64, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        Harness h;
        h.socket().heldBytes = c.held;
        h.deliver(errorReportCollect("report-1"));
        h.connection->sendApproval();
        EXPECT_EQ(h.sentOfType(Type::errorReportSubmit).size(), c.reportSent ? 1u : 0u);
        EXPECT_EQ(h.sentOfType(Type::clientApproval).size(), c.approvalSent ? 1u : 0u);
        const std::string queued = "queued_bytes=" + std::to_string(c.held);
        EXPECT_EQ(h.logged("CONNECTION", "send_dropped kind=error_report_submit " + queued), !c.reportSent);
        EXPECT_EQ(h.logged("CONNECTION", "send_dropped kind=client_approval " + queued), !c.approvalSent);
    }
}

TEST(ClientRelayConnectionBoundsTest, VideoPastTheSocketLimitIsDroppedUntilTheNextKeyFrame)
{
    Harness h;
    h.secure();
    auto& capture = h.captures.last();
    h.socket().heldBytes = RelayTransport::socketBacklogBytes;
    h.frameFromCapture("frame-A");
    EXPECT_TRUE(h.socket().binaries().empty());
    EXPECT_TRUE(h.logged("CONNECTION", "send_dropped kind=video queued_bytes=" +
                                           std::to_string(RelayTransport::socketBacklogBytes)));
    EXPECT_EQ(capture.keyFrameRequests, 1);

    h.socket().heldBytes = 0;
    h.frameFromCapture("frame-B"); // depends on A, which never left
    EXPECT_TRUE(h.socket().binaries().empty());
    h.frameFromCapture("frame-C", true);
    EXPECT_EQ(h.socket().binaries().size(), 1u);
    h.socket().completeAll();
    h.frameFromCapture("frame-D");
    EXPECT_EQ(h.socket().binaries().size(), 2u);
    EXPECT_EQ(capture.keyFrameRequests, 1);
}

TEST(ClientRelayConnectionBoundsTest, TheVideoOutboxKeepsAtMostItsBoundAndStartsAgainAtAKeyFrame)
{
    Harness h;
    h.secure();
    const QByteArray frame(static_cast<qsizetype>(MiB), 'f');
    h.frameFromCapture(frame, true); // on the socket, not completed: the rest wait
    const std::int64_t fitting = RelayTransport::videoOutboxBytes / MiB - 1; // sealing adds a little to each
    for (std::int64_t i = 0; i < fitting; ++i) {
        h.frameFromCapture(frame);
    }
    EXPECT_EQ(h.connection->videoOutboxSize(), static_cast<std::size_t>(fitting));
    h.frameFromCapture(frame);
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    ASSERT_EQ(h.socket().binaries().size(), 1u);
    const std::int64_t sealed = h.socket().binaries().front().size(); // each frame as it waits
    EXPECT_TRUE(h.logged("CONNECTION", "send_dropped kind=video queued_bytes=" + std::to_string(fitting * sealed)));
    EXPECT_EQ(h.captures.last().keyFrameRequests, 1);

    h.frameFromCapture(frame); // no key frame yet
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    h.frameFromCapture(frame, true);
    EXPECT_EQ(h.connection->videoOutboxSize(), 1u);
}

TEST(ClientRelayConnectionBoundsTest, ASocketThatStaysBackedUpIsGivenUpAsFailed)
{
    struct Case {
        const char* name;
        bool drainsMeanwhile;
    };
    for (const auto& c : {Case{"stuck", false}, Case{"drains", true}}) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.socket().heldBytes = RelayTransport::socketBacklogBytes + 1;
        h.connection->sendApproval(); // the send that finds the backlog
        const std::int64_t backlog = h.socket().bufferedBytes();
        h.scheduler.advanceBy(RelayTransport::socketStallTimeout - 1s);
        EXPECT_TRUE(h.connection->isConnected());
        if (c.drainsMeanwhile) {
            h.socket().heldBytes = 0;
        }
        h.scheduler.advanceBy(1s);
        EXPECT_EQ(h.connection->isConnected(), c.drainsMeanwhile);
        EXPECT_EQ(h.eventCount<relayEvent::Disconnected>(), c.drainsMeanwhile ? 0u : 1u);
        EXPECT_EQ(h.socket().closed, !c.drainsMeanwhile);
        EXPECT_EQ(h.logged("CONNECTION", "send_stalled queued_bytes=" + std::to_string(backlog)), !c.drainsMeanwhile);
    }
}
