#pragma once

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace qx200 {

// A label whose caption may be far longer than it can show: a flood on the line renders to
// tens of thousands of characters. A left-aligned plain caption shows only what fits from the
// left, so only that part is laid out and painted; laying out all of it would take tens of
// milliseconds at every repaint. The caption itself (text()) stays whole.
class PanelLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QString caption = text();
        const qsizetype shown = paintedLength(caption);
        if (shown >= caption.size()) {
            QLabel::paintEvent(event);
            return;
        }
        // What QLabel paints for a plain caption without a buddy, with the caption cut.
        QPainter painter(this);
        drawFrame(&painter);
        QStyleOption option;
        option.initFrom(this);
        style()->drawItemText(&painter, textRect(), int(alignment()), option.palette, isEnabled(),
                              caption.first(shown), foregroundRole());
    }

private:
    // Characters past the first that no longer fit; their pieces of the line lie outside.
    static constexpr qsizetype Spare = 16;

    // How many characters of the caption are worth painting: all of them unless the caption is
    // a left-aligned plain line much wider than the label.
    qsizetype paintedLength(const QString& caption) const
    {
        const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
        if (textFormat() != Qt::PlainText || wordWrap() || buddy() || caption.contains(u'\n') ||
            caption.isRightToLeft() ||
            (horizontal != Qt::AlignLeft && horizontal != Qt::AlignLeading))
            return caption.size();
        const QFontMetrics metrics = fontMetrics();
        const int room = textRect().width();
        int used = 0;
        qsizetype length = 0;
        while (length < caption.size() && used <= room) {
            const QChar c = caption[length++];
            // Characters drawn wider than they measure (tabs, returns) count as none, so the
            // cut can only fall later than needed.
            if (c != u'\t' && c != u'\r')
                used += metrics.horizontalAdvance(c);
        }
        return std::min(caption.size(), length + Spare);
    }

    // The rectangle QLabel lays a left-aligned caption out in: inside the frame and margin,
    // and indented by half an "x" when there is a frame and no indent of its own.
    QRect textRect() const
    {
        QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
        int indentation = indent();
        if (indentation < 0 && frameWidth())
            indentation = fontMetrics().horizontalAdvance(u'x') / 2 - margin();
        if (indentation > 0)
            area.setLeft(area.left() + indentation);
        return area;
    }
};

} // namespace qx200
