#include "core/ClientModelHarness.h"
#include "ui/ClientViewerApprovalDialog.h"

#include "support/ApplicationInputGuard.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

class ClientViewerApprovalDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.create();
        h.driveTo(Kind::supporting);
        dialog = std::make_unique<ClientViewerApprovalDialog>(*h.model, h.texts, guard.get());
    }

    void request(const std::string& name)
    {
        h.model->handleRelayEvent(relayEvent::ViewerRequested{name});
        QApplication::processEvents();
    }

    // The answers the client sent the relay, in order.
    std::vector<bool> answers()
    {
        std::vector<bool> out;
        for (const RelayMessage& message : ModelHarness::sent(h.socket(), RelayMessageType::clientApproval)) {
            out.push_back(message.accepted.value_or(false));
        }
        return out;
    }

    ModelHarness h;
    ApplicationInputGuard guard;
    std::unique_ptr<ClientViewerApprovalDialog> dialog;
};

} // namespace

TEST_F(ClientViewerApprovalDialogTest, EachRequestIsAskedInTurnAndClosingDenies)
{
    const auto before = answers().size(); // the first viewer, approved by its code
    request("Agent Lee");
    request("Agent Park");
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->message().contains(QStringLiteral("Agent Lee")));
    dialog->allowButton().click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->message().contains(QStringLiteral("Agent Park")));
    dialog->close();
    QApplication::processEvents();
    EXPECT_FALSE(dialog->isVisible());
    const std::vector<bool> given = answers();
    EXPECT_EQ(std::vector<bool>(given.begin() + static_cast<std::ptrdiff_t>(before), given.end()),
              (std::vector<bool>{true, false}));

    request("Agent Choi");
    dialog->denyButton().click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(answers().back(), false);
}

TEST_F(ClientViewerApprovalDialogTest, TheQuestionSaysWhatTheViewerWillBeAbleToDo)
{
    h.model->setRemoteControlAllowed(false); // view only
    request("Agent Lee");
    EXPECT_EQ(dialog->message(), h.format("approval.message_view_only", QStringLiteral("Agent Lee")));
    h.model->setRemoteControlAllowed(true);
    QApplication::processEvents();
    EXPECT_EQ(dialog->message(), h.format("approval.message", QStringLiteral("Agent Lee")));

    // A name from the relay is shown on one line and cut short.
    dialog->denyButton().click();
    request("Agent\nKim\x1b[31m " + std::string(200, 'x'));
    const QString message = dialog->message();
    EXPECT_FALSE(message.contains(u'\n'));
    EXPECT_FALSE(message.contains(QChar(0x1b)));
    EXPECT_TRUE(message.contains(QStringLiteral("Agent Kim")));
    EXPECT_TRUE(message.contains(QStringLiteral("x…")));
    EXPECT_LT(message.size(), h.format("approval.message", QString()).size() + 61);
}
