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
    QMessageBox* notice() const { return form->faultNotice(); }
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

TEST_F(FaultNotice, ARecoveryWithoutAFaultShowsNothing)
{
    port.OnRecover();
    EXPECT_EQ(notice(), nullptr);
}

} // namespace
} // namespace qx200::testing
