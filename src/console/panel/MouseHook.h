#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace qx200 {

// Turns the raw mouse events of one widget into press, release and double-click calls. Any mouse
// button counts. On a button it also takes over the pressed look, and it swallows the events so
// that the button's own click logic (and so its keyboard activation) never sends anything.
//
// Every press is followed by exactly one release: the mouse's, or the moment the widget can no
// longer get it (its window blocked by a modal dialog, deactivated, hidden or minimised; the
// widget hidden or disabled), since the mouse's would then go elsewhere and never come.
class MouseHook : public QObject {
public:
    std::function<void()> press;
    std::function<void()> release;
    std::function<void()> doubleClick;

    explicit MouseHook(QWidget* widget) : QObject(widget), widget_(widget)
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != widget_) {
            if (windowLosesMouse(*event))
                endHold();
            return false;
        }
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
            startHold();
            press();
            return true;
        case QEvent::MouseButtonRelease:
            if (!release)
                return false;
            endHold(); // a release whose hold has already ended does nothing more
            return true;
        case QEvent::Hide:
            endHold();
            return false;
        case QEvent::EnabledChange:
            if (!widget_->isEnabled())
                endHold();
            return false;
        default:
            return false;
        }
    }

private:
    bool windowLosesMouse(const QEvent& event) const
    {
        switch (event.type()) {
        case QEvent::WindowBlocked:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
            return true;
        case QEvent::WindowStateChange:
            return window_ && window_->isMinimized();
        default:
            return false;
        }
    }

    void startHold()
    {
        if (!window_) {
            window_ = widget_->window();
            if (window_ != widget_)
                window_->installEventFilter(this);
        }
        showDown(true);
    }

    void endHold()
    {
        if (!window_)
            return;
        if (window_ != widget_)
            window_->removeEventFilter(this);
        window_ = nullptr;
        showDown(false);
        if (release)
            release();
    }

    void showDown(bool down)
    {
        if (auto* button = qobject_cast<QAbstractButton*>(widget_))
            button->setDown(down);
    }

    QWidget* widget_;
    QPointer<QWidget> window_; // the window watched while a press is held
};

} // namespace qx200
