#include "console/ConsoleNotice.h"

#include <QMessageBox>
#include <QStringList>

namespace qx200 {

QString noticeText(const std::map<ConsoleNotice::Topic, QString>& texts)
{
    QStringList parts;
    for (const auto& [topic, text] : texts)
        parts << text;
    return parts.join(QStringLiteral("\n\n"));
}

void ConsoleNotice::tell(Topic topic, const QString& text)
{
    texts_[topic] = text;
    update();
}

void ConsoleNotice::clear(Topic topic)
{
    if (texts_.erase(topic) > 0)
        update();
}

void ConsoleNotice::holdDuring(const std::function<void()>& work)
{
    ++holds_;
    work();
    --holds_;
    update();
}

void ConsoleNotice::update()
{
    if (holds_ > 0)
        return;
    if (texts_.empty()) {
        if (box_)
            box_->hide();
        return;
    }
    if (!box_) {
        box_ = new QMessageBox(QMessageBox::Warning, window_.windowTitle(), {}, QMessageBox::Ok,
                               &window_);
        box_->setObjectName(QStringLiteral("notice"));
        box_->setTextFormat(Qt::PlainText); // device names and servers' words are not markup
        box_->setWindowModality(Qt::NonModal);
        box_->setAttribute(Qt::WA_ShowWithoutActivating); // the panel keeps the keyboard
        // Closed by the operator: what it told is read, and the next news opens it afresh.
        QObject::connect(box_, &QMessageBox::finished, box_, [this] { texts_.clear(); });
    }
    box_->setText(noticeText(texts_));
    box_->show();
}

} // namespace qx200
