#include "app/window_images.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace strata {

namespace {

// An upward arrow filling `box`.
QPainterPath UpArrow(const QRectF& box) {
  const qreal w = box.width();
  const qreal h = box.height();
  QPainterPath arrow;
  arrow.moveTo(box.left() + w * 0.5, box.top());
  arrow.lineTo(box.right(), box.top() + h * 0.5);
  arrow.lineTo(box.left() + w * 0.68, box.top() + h * 0.5);
  arrow.lineTo(box.left() + w * 0.68, box.bottom());
  arrow.lineTo(box.left() + w * 0.32, box.bottom());
  arrow.lineTo(box.left() + w * 0.32, box.top() + h * 0.5);
  arrow.lineTo(box.left(), box.top() + h * 0.5);
  arrow.closeSubpath();
  return arrow;
}

void PaintArrow(QPainter& painter, const QRectF& box) {
  QLinearGradient green(box.topLeft(), box.bottomRight());
  green.setColorAt(0, QColor(120, 210, 90));
  green.setColorAt(1, QColor(30, 130, 40));
  painter.setPen(QPen(QColor(20, 90, 30), box.width() / 14));
  painter.setBrush(green);
  painter.drawPath(UpArrow(box));
}

QPixmap IconImage(int size) {
  QPixmap image(size, size);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // Three disks of a cylinder, bottom first.
  const QRectF body(s * 0.06, s * 0.16, s * 0.62, s * 0.74);
  const qreal lid = s * 0.18;
  QLinearGradient blue(body.left(), 0, body.right(), 0);
  blue.setColorAt(0, QColor(60, 110, 190));
  blue.setColorAt(0.45, QColor(130, 175, 235));
  blue.setColorAt(1, QColor(40, 80, 150));
  painter.setPen(QPen(QColor(25, 50, 100), s / 32));
  for (int disk = 2; disk >= 0; --disk) {
    const qreal top = body.top() + disk * (body.height() - lid) / 3;
    const qreal height = (body.height() - lid) / 3;
    QPainterPath side;
    side.moveTo(body.left(), top + lid / 2);
    side.lineTo(body.left(), top + height + lid / 2);
    side.arcTo(QRectF(body.left(), top + height, body.width(), lid), 180, 180);
    side.lineTo(body.right(), top + lid / 2);
    side.closeSubpath();
    painter.setBrush(blue);
    painter.drawPath(side);
    painter.setBrush(QColor(170, 205, 245));
    painter.drawEllipse(QRectF(body.left(), top, body.width(), lid));
  }
  PaintArrow(painter, QRectF(s * 0.56, s * 0.40, s * 0.40, s * 0.56));
  return image;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(IconImage(size));
  return icon;
}

QPixmap UpdateButtonGlyph() {
  QPixmap glyph(16, 16);
  glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintArrow(painter, QRectF(2, 1, 12, 14));
  return glyph;
}

}  // namespace strata
