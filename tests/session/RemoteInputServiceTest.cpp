#include "session/RemoteInputService.h"

#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "relay/MessageRouter.h"
#include "session/SessionFakes.h"

#include <gtest/gtest.h>

using namespace doorwarden;

namespace {

RelayMessage click(const char* eventType = "mouse_down")
{
    auto message = RelayMessage::of(RelayMessageType::inputEvent);
    message.input = ClientInputPayload{.eventType = eventType, .x = 0.5, .y = 0.5, .button = "left"};
    return message;
}

struct Harness {
    Harness()
    {
        auto fake = std::make_unique<FakeRemoteInput>();
        input = fake.get();
        service = std::make_unique<RemoteInputService>(log, std::move(fake));
        service->registerRoutes(router);
        service->sessionStarted(channel);
    }

    // Whether the viewer's click reached the injector.
    bool clickArrives()
    {
        const std::size_t before = input->handled.size();
        router.dispatch(click(), MessageOrigin::readyViewer, "viewer-anna");
        return input->handled.size() > before;
    }

    bool logged(const std::string& text) const
    {
        return (log.diagnosticSnapshot() + "\n").find("|" + text + "\n") != std::string::npos;
    }

    ManualClock clock;
    FakeHostInfo host;
    mutable ClientDiagnosticLog log{clock, host};
    MessageRouter router{log};
    FakeSessionChannel channel;
    FakeRemoteInput* input = nullptr;
    std::unique_ptr<RemoteInputService> service;
};

} // namespace

// While the customer is asked something, the agent's input could answer for them: nothing is
// injected until every question is closed, and what the agent held is let go.
TEST(RemoteInputServiceTest, AQuestionToTheCustomerPausesTheViewersInputUntilItCloses)
{
    Harness h;
    ASSERT_TRUE(h.clickArrives()) << "the path works";
    ASSERT_EQ(h.input->enabled, true);

    h.service->setCustomerQuestionOpen("viewer_approval", true);
    EXPECT_EQ(h.input->enabled, false) << "disabling lets go of every button and key";
    EXPECT_FALSE(h.service->isInjecting());
    EXPECT_FALSE(h.clickArrives());
    EXPECT_TRUE(h.logged("REMOTE_CONTROL|paused question=viewer_approval"));

    h.service->setCustomerQuestionOpen("close_confirmation", true);
    h.service->setCustomerQuestionOpen("viewer_approval", false);
    EXPECT_FALSE(h.clickArrives()) << "another question is still open";
    h.service->setCustomerQuestionOpen("viewer_approval", false); // closing twice counts once
    EXPECT_FALSE(h.clickArrives());

    h.service->setCustomerQuestionOpen("close_confirmation", false);
    EXPECT_EQ(h.input->enabled, true);
    EXPECT_TRUE(h.clickArrives());
    EXPECT_TRUE(h.service->isAllowed()) << "a question does not change the customer's choice";
}

TEST(RemoteInputServiceTest, InputIsInjectedOnlyWhileASessionRunsAndControlIsAllowed)
{
    Harness h;
    h.service->setAllowed(false);
    EXPECT_FALSE(h.clickArrives());
    EXPECT_EQ(h.input->enabled, false);
    h.service->setAllowed(true);
    EXPECT_TRUE(h.clickArrives());

    h.service->sessionEnded();
    EXPECT_EQ(h.input->enabled, false);
    EXPECT_GE(h.input->resets, 1);
    EXPECT_FALSE(h.clickArrives());
    EXPECT_TRUE(h.service->isAllowed()) << "the choice outlives the session";

    // A plain input event never reaches the service at all.
    h.service->sessionStarted(h.channel);
    EXPECT_EQ(h.router.dispatch(click(), MessageOrigin::relay), MessageRouter::Outcome::wrongOrigin);
}

TEST(RemoteInputServiceTest, AnUnknownKindOfEventIsDroppedAndLoggedOnce)
{
    Harness h;
    h.router.dispatch(click("mouse_teleport"), MessageOrigin::readyViewer, "viewer-anna");
    h.router.dispatch(click("Mouse_Move"), MessageOrigin::readyViewer, "viewer-anna");
    EXPECT_TRUE(h.input->handled.empty());
    EXPECT_TRUE(h.logged("INPUT|dropped event_type=mouse_teleport"));
    EXPECT_FALSE(h.logged("INPUT|dropped event_type=Mouse_Move"));
    EXPECT_TRUE(h.clickArrives());
}
