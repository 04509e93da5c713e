#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QObject>
#include <functional>

namespace qx200 {

// Turns the raw mouse events of one widget into press, release and double-click calls. Any mouse
// button counts. On a button it also takes over the pressed look, and it swallows the events so
// that the button's own click logic (and so its keyboard activation) never sends anything.
class MouseHook : public QObject {
public:
    std::function<void()> press;
    std::function<void()> release;
    std::function<void()> doubleClick;

    explicit MouseHook(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonDblClick:
            if (doubleClick) {
                doubleClick();
                return true;
            }
            [[fallthrough]]; // a quick second press of a hold button is still a press
        case QEvent::MouseButtonPress:
            if (!press)
                return false;
            showDown(watched, true);
            press();
            return true;
        case QEvent::MouseButtonRelease:
            if (!release)
                return false;
            showDown(watched, false);
            release();
            return true;
        default:
            return false;
        }
    }

private:
    static void showDown(QObject* watched, bool down)
    {
        if (auto* button = qobject_cast<QAbstractButton*>(watched))
            button->setDown(down);
    }
};

} // namespace qx200
