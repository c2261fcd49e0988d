#include "core/ClientModelHarness.h"
#include "ui/ClientWindowCloseCoordinator.h"

#include "support/ApplicationInputGuard.h"

#include <QAbstractButton>
#include <QApplication>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

class ClientWindowCloseCoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.create();
        coordinator = std::make_unique<ClientWindowCloseCoordinator>(window, *h.model, h.texts, guard.get(),
                                                                     [this] { ++terminated; });
        window.show();
    }

    // Asks the window to close, as its close button does; true when it closed.
    bool requestClose()
    {
        const bool closed = window.close();
        QApplication::processEvents();
        return closed;
    }

    void answer(std::string_view key)
    {
        QMessageBox* box = coordinator->confirmation();
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == h.text(key)) {
                button->click();
                QApplication::processEvents();
                return;
            }
        }
        ADD_FAILURE() << "no button " << key;
    }

    ModelHarness h;
    ApplicationInputGuard guard;
    QWidget window;
    int terminated = 0;
    std::unique_ptr<ClientWindowCloseCoordinator> coordinator; // goes before the window, its parent

};

} // namespace

TEST_F(ClientWindowCloseCoordinatorTest, OutsideASessionTheWindowClosesAtOnce)
{
    EXPECT_TRUE(requestClose());
    EXPECT_EQ(coordinator->confirmation(), nullptr);
}

TEST_F(ClientWindowCloseCoordinatorTest, WhileSupportingAClosedWindowAsksOnceAndCancelKeepsTheSession)
{
    h.driveTo(Kind::supporting);
    EXPECT_FALSE(requestClose());
    ASSERT_TRUE(coordinator->isConfirmationVisible());
    QMessageBox* first = coordinator->confirmation();
    EXPECT_EQ(first->text(), h.text("exit.confirm_message"));
    EXPECT_FALSE(requestClose()) << "a second close while the question is open";
    EXPECT_EQ(coordinator->confirmation(), first) << "no second question";
    EXPECT_EQ(window.findChildren<QMessageBox*>().size(), 1);

    answer("action.cancel");
    EXPECT_FALSE(coordinator->isConfirmationVisible());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(h.model->connectionState().kind(), Kind::supporting);
    EXPECT_EQ(terminated, 0);
}

TEST_F(ClientWindowCloseCoordinatorTest, EndEndsSupportThenTerminatesAndTheNextCloseGoesThrough)
{
    h.driveTo(Kind::supporting);
    EXPECT_FALSE(requestClose());
    answer("action.end");
    EXPECT_EQ(h.model->connectionState().kind(), Kind::ending);
    EXPECT_EQ(terminated, 0) << "not before the session has ended";
    h.scheduler.runUntilIdle();
    EXPECT_EQ(terminated, 1);
    EXPECT_EQ(ModelHarness::sent(h.socket(), RelayMessageType::sessionEnd).size(), 1u);
    EXPECT_TRUE(requestClose());
}
