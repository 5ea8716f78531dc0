#pragma once
#include <QPainter>
#include <QRectF>
#include <QString>

#include "widgets/SystemColours.h"

// A disabled caption in the desktop's embossed style: once in the highlight colour one
// pixel (`offset`, in widget units) right and down, then in the shadow colour in place.
void DrawEmbossedText(QPainter& painter, const QRectF& rect, int flags, const QString& text,
                      const SystemColours& colours, qreal offset);
