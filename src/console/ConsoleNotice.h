#pragma once

// The console's one non-modal notice: what the operator should know without being stopped (a
// modal box would swallow the release of a held button). Each topic holds at most one text; the
// notice shows the topics' texts in a fixed order and goes away when none is left. While a modal
// box is open the notice waits for it to close, so that no box ever opens under another.

#include <QString>
#include <functional>
#include <map>

class QMessageBox;
class QWidget;

namespace qx200 {

class ConsoleNotice {
public:
    // In the order the notice shows them.
    // Line: what a device that stays usable is like (a serial server that does not set the
    // speed); until the operator closes the notice.
    enum class Topic { Settings, Record, Device, Line };

    explicit ConsoleNotice(QWidget& window) : window_(window) {}

    // Replaces the topic's text and shows the notice.
    void tell(Topic topic, const QString& text);
    // Takes the topic's text back; the notice closes when it was the last.
    void clear(Topic topic);
    bool has(Topic topic) const { return texts_.contains(topic); }

    // Runs `work` (a modal box, the start-up) with the notice held back: it neither opens nor
    // changes meanwhile, and shows afterwards what was told.
    void holdDuring(const std::function<void()>& work);

    // Null until something was first told.
    QMessageBox* box() const { return box_; }

private:
    void update();

    QWidget& window_;
    std::map<Topic, QString> texts_;
    QMessageBox* box_ = nullptr; // a child of the window
    int holds_ = 0;
};

// The notice's text: the topics' texts in order, a blank line between them.
QString noticeText(const std::map<ConsoleNotice::Topic, QString>& texts);

} // namespace qx200
