#pragma once

#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace qx200 {

// A push button painted in its background colour whose caption wraps onto a second line when
// it is wider than the button, as "DISPLAY CLEAR" needs.
class PanelButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(area.width() < fontMetrics().horizontalAdvance(caption) ? rect() : area,
                         flags, caption);
    }
};

} // namespace qx200
