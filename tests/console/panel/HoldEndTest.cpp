// A hold ends, exactly as by a release, as soon as its button can no longer get the release.

#include "support/EventLoop.h"
#include "support/FormFixture.h"

#include <QApplication>
#include <QMessageBox>
#include <functional>
#include <string>

namespace qx200::testing {
namespace {

class HoldEnd : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    // "VOL" "+": repeats every 250 ms.
    QPushButton* held() const { return button("Command1"); }
    void expectReleased()
    {
        EXPECT_EQ(state().RepeatSel, 0);
        EXPECT_FALSE(timer(1)->isActive());
        EXPECT_FALSE(timer(2)->isActive());
        EXPECT_EQ(timer(2)->interval(), 500);
        EXPECT_EQ(timer(4)->interval(), 1000);
        EXPECT_TRUE(form->Label11->text().isEmpty());
        EXPECT_FALSE(held()->isDown());
    }
};

TEST_F(HoldEnd, AModalDialogEndsTheHoldThoughItsReleaseNeverComes)
{
    QTest::mousePress(held(), Qt::LeftButton);
    QMessageBox modal(QMessageBox::Warning, QStringLiteral("modal"), QStringLiteral("in the way"),
                      QMessageBox::Ok, form.get());
    QTimer::singleShot(50, &modal, [&] { modal.exec(); });
    QTimer::singleShot(1050, &modal, [&] { modal.accept(); });
    runFor(1700); // the dialog takes the release; four repeat periods pass with it open and after

    EXPECT_EQ(port.writes, QByteArrayList{"C09\r"});
    expectReleased();
}

struct Cause {
    const char* name;
    std::function<void(Form1&, QPushButton&)> apply;
};

void PrintTo(const Cause& cause, std::ostream* os)
{
    *os << cause.name;
}

const Cause Causes[] = {
    {"WindowDeactivated",
     [](Form1& form, QPushButton&) {
         form.activateWindow();
         ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
         auto* other = new QWidget;
         other->setAttribute(Qt::WA_DeleteOnClose);
         other->show();
         other->activateWindow();
         ASSERT_TRUE(QTest::qWaitForWindowActive(other));
         other->close();
     }},
    {"WindowHidden", [](Form1& form, QPushButton&) { form.hide(); }},
    {"WindowMinimised", [](Form1& form, QPushButton&) { form.showMinimized(); }},
    {"WindowDisabled", [](Form1& form, QPushButton&) { form.setEnabled(false); }},
    {"ButtonHidden", [](Form1&, QPushButton& button) { button.hide(); }},
    {"FrameHidden", [](Form1&, QPushButton& button) { button.parentWidget()->hide(); }},
    {"ButtonDisabled", [](Form1&, QPushButton& button) { button.setEnabled(false); }},
};

class HoldEndCause : public HoldEnd, public ::testing::WithParamInterface<Cause> {};

TEST_P(HoldEndCause, EndsTheHoldAsARelease)
{
    QTest::mousePress(held(), Qt::LeftButton);
    ASSERT_TRUE(timer(1)->isActive());
    GetParam().apply(*form, *held());
    expectReleased();
    EXPECT_TRUE(timer(4)->isActive()); // the release's trace clearing
    EXPECT_EQ(port.writes, QByteArrayList{"C09\r"});
}

INSTANTIATE_TEST_SUITE_P(Causes, HoldEndCause, ::testing::ValuesIn(Causes),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(HoldEnd, ALateReleaseOfAnEndedHoldDoesNothingMore)
{
    QTest::mousePress(held(), Qt::LeftButton);
    form->setEnabled(false);
    form->setEnabled(true);
    form->Label11->setText(QStringLiteral(" C 0 9 CR"));
    timer(2)->setInterval(25);
    QTest::mouseRelease(held(), Qt::LeftButton);
    EXPECT_EQ(form->Label11->text(), QStringLiteral(" C 0 9 CR"));
    EXPECT_EQ(timer(2)->interval(), 25);
}

TEST_F(HoldEnd, ANoticeBesideTheWindowLeavesTheHoldRunning)
{
    QTest::mousePress(held(), Qt::LeftButton);
    port.OnFault(QStringLiteral("COM1 (fake1): device disconnected"));
    EXPECT_EQ(state().RepeatSel, 1);
    EXPECT_TRUE(timer(1)->isActive());
    QTest::mouseRelease(held(), Qt::LeftButton);
    expectReleased();
}

} // namespace
} // namespace qx200::testing
