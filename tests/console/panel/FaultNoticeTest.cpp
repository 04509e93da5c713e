// A device lost under the open port is told in a notice that never blocks the panel.

#include "support/FormFixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QRadioButton>

namespace qx200::testing {
namespace {

class FaultNotice : public FormFixture {
protected:
    void fault(const QString& text) { port.OnFault(text); }
    QMessageBox* notice() const { return form->notice().box(); }
};

TEST_F(FaultNotice, TellsWithoutBlockingThePanel)
{
    form->show();
    fault(QStringLiteral("COM1 (fake1): device disconnected"));

    ASSERT_NE(notice(), nullptr);
    EXPECT_TRUE(notice()->isVisible());
    EXPECT_EQ(notice()->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(notice()->text().startsWith(QStringLiteral("COM1 (fake1): device disconnected")));
    EXPECT_TRUE(notice()->text().contains(QStringLiteral("reconnects by itself")));
    EXPECT_TRUE(messages.isEmpty()) << "told through the modal box";

    click("Command44"); // STATUS
    EXPECT_EQ(port.writes, QByteArrayList{"CR0\r"});
}

TEST_F(FaultNotice, ALaterFaultReplacesTheTextOfTheOneNotice)
{
    fault(QStringLiteral("COM1 (fake1): device disconnected"));
    fault(QStringLiteral("COM1 (fake1): 3 lines dropped"));

    EXPECT_EQ(form->findChildren<QMessageBox*>().size(), 1);
    EXPECT_TRUE(notice()->isVisible());
    EXPECT_TRUE(notice()->text().startsWith(QStringLiteral("COM1 (fake1): 3 lines dropped")));
    EXPECT_FALSE(notice()->text().contains(QStringLiteral("disconnected")));
}

TEST_F(FaultNotice, ClosesWhenTheDeviceIsBackAndOpensAgainOnTheNextFault)
{
    fault(QStringLiteral("COM1 (fake1): device disconnected"));
    port.OnRecover();
    EXPECT_FALSE(notice()->isVisible());

    fault(QStringLiteral("COM1 (fake1): device disconnected"));
    EXPECT_TRUE(notice()->isVisible());
    EXPECT_EQ(form->findChildren<QMessageBox*>().size(), 1);
}

TEST_F(FaultNotice, ClosesWhenTheOperatorLeavesThePort)
{
    port.open = true;
    fault(QStringLiteral("COM1 (fake1): device disconnected"));
    form->Option2->setChecked(true); // the service closes the lost port without a recovery

    EXPECT_FALSE(notice()->isVisible());
    EXPECT_EQ(port.commPort, 2);
}

// The record's failure, told while the port's modal box is open, waits for that box and then
// shares the one notice with the settings mistakes and the device's fault, in that order.
TEST_F(FaultNotice, WaitsForTheModalBoxAndKeepsEachTopicInItsPlace)
{
    using Topic = ConsoleNotice::Topic;
    port.missingPorts[2] = QStringLiteral("COM2 (fake2): no such device");
    bool shownUnderTheBox = false;
    form->messageBox = [&](const QString& text) {
        messages << text;
        form->notice().tell(Topic::Record, QStringLiteral("record: disk full"));
        shownUnderTheBox = notice() && notice()->isVisible();
    };
    form->Option2->setChecked(true);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_FALSE(shownUnderTheBox);
    ASSERT_NE(notice(), nullptr);
    EXPECT_TRUE(notice()->isVisible());

    form->notice().tell(Topic::Settings, QStringLiteral("settings: unknown key \"<b>com1</b>\""));
    fault(QStringLiteral("COM1 (fake1): device disconnected"));
    EXPECT_TRUE(notice()->text().startsWith(QStringLiteral(
        "settings: unknown key \"<b>com1</b>\"\n\nrecord: disk full\n\nCOM1 (fake1): device")));
    EXPECT_EQ(notice()->textFormat(), Qt::PlainText);

    port.OnRecover();
    EXPECT_EQ(notice()->text(), QStringLiteral("settings: unknown key \"<b>com1</b>\"\n\n"
                                               "record: disk full"));
    EXPECT_TRUE(notice()->isVisible());
}

TEST_F(FaultNotice, ARecoveryWithoutAFaultShowsNothing)
{
    port.OnRecover();
    EXPECT_EQ(notice(), nullptr);
}

} // namespace
} // namespace qx200::testing
