// The window as built from the layout table: every control where the table puts it, in its
// container, with its look, and the keyboard focus moving in the table's tab order.

#include "support/FormFixture.h"

#include "console/panel/Layout.h"
#include "serial/PreciseWake.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <vector>

namespace qx200 {
namespace {

using testing::FormFixture;

class PanelBuild : public FormFixture {};

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

TEST_F(PanelBuild, EveryControlSitsInItsContainerAtItsPlace)
{
    for (const layout::Control& row : layout::controls()) {
        SCOPED_TRACE(std::string(row.name));
        const QWidget* control = form->findChild<QWidget*>(text(row.name));
        ASSERT_NE(control, nullptr);
        const QWidget* container =
            row.container.empty() ? form.get() : form->findChild<QWidget*>(text(row.container));
        EXPECT_EQ(control->parentWidget(), container);
        EXPECT_EQ(control->geometry(), QRect(qRound(row.left / 15.0), qRound(row.top / 15.0),
                                             qRound(row.width / 15.0), qRound(row.height / 15.0)));
        EXPECT_EQ(control->font().pointSizeF(), row.font.points);
        EXPECT_EQ(control->font().bold(), row.font.bold);
        if (row.background) {
            EXPECT_EQ(control->palette().color(control->backgroundRole()).rgb() & 0xFFFFFF,
                      *row.background);
        }
        if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
            EXPECT_EQ(button->text(), text(row.caption));
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(control)) {
            if (label->pixmap().isNull()) {
                EXPECT_EQ(label->text(), text(row.caption));
            } else {
                EXPECT_EQ(label->pixmap().size(), QSize(80, 26));
            }
        }
    }
}

TEST_F(PanelBuild, OnlyThePortPanelAndTheDataToggleStartHidden)
{
    form->show();
    QStringList hidden;
    for (const layout::Control& row : layout::controls()) {
        if (!form->findChild<QWidget*>(text(row.name))->isVisibleTo(form.get()))
            hidden << text(row.name);
    }
    hidden.sort();
    EXPECT_EQ(hidden, (QStringList{"Command34", "Frame13", "Frame8", "Option1", "Option10",
                                   "Option2", "Option9"}));
}

TEST_F(PanelBuild, FocusMovesInTheTableTabOrder)
{
    std::vector<const layout::Control*> focusable;
    for (const layout::Control& row : layout::controls()) {
        if (row.kind == layout::Kind::Button || row.kind == layout::Kind::Option ||
            row.kind == layout::Kind::TextBox)
            focusable.push_back(&row);
    }
    std::ranges::sort(focusable, {}, &layout::Control::tab);

    const QWidget* current = form->findChild<QWidget*>(text(focusable.front()->name));
    for (std::size_t i = 1; i < focusable.size(); ++i) {
        const QWidget* next = current->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName(), text(focusable[i]->name))
            << "after " << current->objectName().toStdString();
        current = next;
    }
}

TEST_F(PanelBuild, WindowHasItsCaptionAndFixedWidth)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("MARO   QX200  CONTROL   Ver.1.40"));
    EXPECT_EQ(form->width(), 633);
    EXPECT_EQ(form->minimumSize(), form->maximumSize()); // the user cannot resize it
    for (const float outer : {5350.0f, 6645.0f, 7200.0f, 9100.0f}) {
        form->setOuterHeight(outer);
        EXPECT_EQ(form->height(), qRound((outer - 370) / 15)) << outer;
        EXPECT_EQ(form->width(), 633);
    }
}

TEST_F(PanelBuild, OnlyTheTimersThatRunHaveAKernelWake)
{
    for (int n = 1; n <= 5; ++n) {
        const QObjectList& children = timer(n)->children();
        const bool wakes = std::ranges::any_of(
            children, [](QObject* child) { return dynamic_cast<PreciseWake*>(child); });
        EXPECT_EQ(wakes, n != 5) << "Timer" << n; // Timer5 never runs
    }
}

} // namespace
} // namespace qx200
