#include "widgets/EmbossedText.h"

void DrawEmbossedText(QPainter& painter, const QRectF& rect, int flags, const QString& text,
                      const SystemColours& colours, qreal offset) {
    painter.setPen(colours.highlight);
    painter.drawText(rect.translated(offset, offset), flags, text);
    painter.setPen(colours.shadow);
    painter.drawText(rect, flags, text);
}
