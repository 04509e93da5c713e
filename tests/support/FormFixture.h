#pragma once

#include "console/Form1.h"
#include "support/FakeSerialPort.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace qx200::testing {

// A started console on a fake port: the window built, Form_Load run, message boxes recorded.
class FormFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<Form1>(port);
        form->messageBox = [this](const QString& text) { messages << text; };
        form->endProgram = [this] { ++programEnds; };
        form->screenSizeTwips = [this] { return screenTwips; };
        form->dispatch([this] { form->Form_Load(); });
        port.writes.clear();
        port.written.clear();
    }

    template <class T = QWidget> T* widget(const char* name) const
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }
    QTimer* timer(int n) const
    {
        return widget<QTimer>(qPrintable(QStringLiteral("Timer%1").arg(n)));
    }
    QString caption(const char* label) const { return widget<QLabel>(label)->text(); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    ConsoleState& state() const { return form->state(); }

    // The screen Form_Load centres on; a derived fixture may change it before SetUp runs.
    QSize screenTwips{1920 * 15, 1080 * 15};
    FakeSerialPort port;
    std::unique_ptr<Form1> form;
    QStringList messages;
    int programEnds = 0;
};

} // namespace qx200::testing
