// Every route of the client, walked as a hostile relay and a keyed viewer would: the one table
// of which types the relay may send in the clear and which only a ready viewer may send.

#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "relay/ClientRelayConnection.h"
#include "relay/FakeRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelayMessageCodec.h"
#include "session/SessionFakes.h"
#include "session/SessionServices.h"
#include "viewer/ViewerSessionE2EE.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

using Type = RelayMessageType;
using Outcome = MessageRouter::Outcome;

const std::string kCode = "123456";

// The relay's own control messages: the only types it may send in the clear.
const std::set<Type> kRelayControl = {
    Type::sessionCreated, Type::viewerRequest,  Type::supportStarted,      Type::e2eeHello,    Type::e2eeReady,
    Type::e2eeData,       Type::transportRoute, Type::error,               Type::p2pOffer,     Type::p2pAnswer,
    Type::p2pCandidate,   Type::sessionEnd,     Type::supportEnded,        Type::remoteSupportEnded,
    Type::errorReportCollect,
};

std::vector<std::uint8_t> bytesOfMessage(const RelayMessage& message)
{
    const std::string json = RelayMessageCodec::encode(message);
    return {json.begin(), json.end()};
}

// The application's services on a real connection over a fake socket, with one ready viewer
// (Anna) and one keyed viewer that never proved it holds the key (Ben).
class Session {
public:
    Session()
    {
        services.attach(*connection);
        connection->router().setObserver([this](Type type, MessageOrigin, Outcome outcome) {
            outcomes.push_back({type, outcome});
        });
        connection->start(kCode, std::nullopt, false, false, [](const ClientRelayEvent&) {});
        connection->sendApproval();
        connection->sendApproval();
        socket().deliver(RelayMessage::of(Type::supportStarted));
        const auto annaReady = keyFor(anna);
        EXPECT_TRUE(annaReady);
        auto ready = RelayMessage::of(Type::e2eeReady);
        ready.e2ee = *annaReady;
        socket().deliver(ready);
        EXPECT_TRUE(keyFor(ben)) << "Ben is keyed";
        outcomes.clear();
    }

    FakeRelaySocketPeer& socket() { return sockets.last(); }

    // What the router made of the messages of `type` delivered by `deliver`.
    std::vector<Outcome> outcomesOf(Type type, const std::function<void()>& deliver, bool sealed = false)
    {
        outcomes.clear();
        deliver();
        scheduler.runUntilIdle();
        // The envelope of a sealed message takes its own route after the inner message did.
        if (sealed && !outcomes.empty() && outcomes.back() == std::pair{Type::e2eeData, Outcome::handled}) {
            outcomes.pop_back();
        }
        std::vector<Outcome> out;
        for (const auto& [seen, outcome] : outcomes) {
            if (seen == type) {
                out.push_back(outcome);
            }
        }
        return out;
    }

    RelayMessage sealedBy(ViewerSessionE2EE& viewer, const RelayMessage& inner)
    {
        auto envelope = RelayMessage::of(Type::e2eeData);
        envelope.e2ee = viewer.encrypt(bytesOfMessage(inner));
        EXPECT_TRUE(envelope.e2ee);
        return envelope;
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
    FakeRelaySockets sockets;
    FakeMediaStreams streams;
    SessionServices services{fakeServiceDependencies(scheduler, clock, log, streams)};
    std::unique_ptr<ClientRelayConnection> connection =
        RelayConnectionDependencies(scheduler, clock, log, host, sockets.factory(),
                                    QStringLiteral("wss://relay.doorwarden.test:8443"))
            .build();
    ViewerSessionE2EE anna{kCode, "viewer-anna-laptop"};
    ViewerSessionE2EE ben{kCode, "viewer-ben-desktop"};
    std::vector<std::pair<Type, Outcome>> outcomes;

private:
    std::optional<ClientE2eePayload> keyFor(ViewerSessionE2EE& viewer)
    {
        const std::size_t mark = socket().sent.size();
        auto hello = RelayMessage::of(Type::e2eeHello);
        hello.e2ee = viewer.hello();
        socket().deliver(hello);
        for (const auto& sent : socket().texts(mark)) {
            if (sent && sent->is(Type::e2eeKey) && sent->e2ee) {
                return viewer.acceptKey(*sent->e2ee);
            }
        }
        return std::nullopt;
    }
};

} // namespace

TEST(RouteTableTest, EveryRouteTakesOnlyTheOriginItRequires)
{
    std::size_t viewerRoutes = 0;
    for (int value = 0; value <= static_cast<int>(Type::p2pStandardVideoFallback); ++value) {
        const auto type = static_cast<Type>(value);
        SCOPED_TRACE(std::string(wireName(type)));
        Session s; // each type on a session of its own: some end it or start a new encryption session
        const auto required = s.connection->router().requiredOrigin(type);
        const RelayMessage message = RelayMessage::of(type);

        if (required && !kRelayControl.contains(type)) {
            EXPECT_EQ(*required, RequiredOrigin::readyViewer) << "a viewer's type the relay could send in the clear";
            ++viewerRoutes;
        }
        const auto expected = [&](MessageOrigin origin) {
            if (!required) {
                return Outcome::unrouted;
            }
            return satisfies(origin, *required) ? Outcome::handled : Outcome::wrongOrigin;
        };

        // Encrypted by the ready viewer (first: a plain "support_started" would start new keys).
        EXPECT_EQ(s.outcomesOf(type, [&] { s.socket().deliver(s.sealedBy(s.anna, message)); }, true),
                  std::vector<Outcome>{expected(MessageOrigin::readyViewer)});
        // Encrypted by a viewer that holds the key but never proved it: never reaches a route.
        EXPECT_TRUE(s.outcomesOf(type, [&] { s.socket().deliver(s.sealedBy(s.ben, message)); }, true).empty());
        // Plain, as the relay writes it.
        EXPECT_EQ(s.outcomesOf(type, [&] { s.socket().deliver(message); }),
                  std::vector<Outcome>{expected(MessageOrigin::relay)});
    }
    // The viewers' own types: input, video steering, sound and the removal request at least.
    EXPECT_GE(viewerRoutes, 6u);
}
