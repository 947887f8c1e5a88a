#include "app/icons.h"

#include <cmath>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

namespace veltrane {

namespace {

// Everything is drawn on a 32 x 32 canvas and scaled.
constexpr double kCanvas = 32.0;

QColor Shade(const QColor& c, int factor) { return factor >= 100 ? c.lighter(factor) : c.darker(200 - factor); }

void Cylinder(QPainter& p, QRectF r, const QColor& body) {
  const double capH = r.height() * 0.28;
  QLinearGradient g(r.left(), 0, r.right(), 0);
  g.setColorAt(0, Shade(body, 80));
  g.setColorAt(0.45, Shade(body, 135));
  g.setColorAt(1, Shade(body, 70));
  QPainterPath side;
  side.moveTo(r.left(), r.top() + capH / 2);
  side.lineTo(r.left(), r.bottom() - capH / 2);
  side.arcTo(QRectF(r.left(), r.bottom() - capH, r.width(), capH), 180, 180);
  side.lineTo(r.right(), r.top() + capH / 2);
  side.closeSubpath();
  p.setPen(QPen(Shade(body, 55), 1.0));
  p.setBrush(g);
  p.drawPath(side);
  // bands between the platters
  p.setBrush(Qt::NoBrush);
  for (double t : {0.38, 0.66}) {
    const double y = r.top() + r.height() * t;
    p.drawArc(QRectF(r.left(), y - capH / 2, r.width(), capH), 180 * 16, 180 * 16);
  }
  p.setBrush(Shade(body, 150));
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), capH));
}

void Folder(QPainter& p, QRectF r, bool open) {
  const QColor back(0xE0, 0xA8, 0x30), front(0xF8, 0xD0, 0x60);
  p.setPen(QPen(QColor(0x9A, 0x6A, 0x10), 1.0));
  QPainterPath tab;
  tab.moveTo(r.left(), r.top() + r.height() * 0.15);
  tab.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.15);
  tab.lineTo(r.left() + r.width() * 0.48, r.top() + r.height() * 0.30);
  tab.lineTo(r.right(), r.top() + r.height() * 0.30);
  tab.lineTo(r.right(), r.bottom());
  tab.lineTo(r.left(), r.bottom());
  tab.closeSubpath();
  p.setBrush(back);
  p.drawPath(tab);
  QLinearGradient g(0, r.top(), 0, r.bottom());
  g.setColorAt(0, front.lighter(115));
  g.setColorAt(1, front);
  p.setBrush(g);
  QPolygonF flap;
  if (open) {
    flap << QPointF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.45)
         << QPointF(r.right() + r.width() * 0.02, r.top() + r.height() * 0.45)
         << QPointF(r.right() - r.width() * 0.16, r.bottom()) << QPointF(r.left(), r.bottom());
  } else {
    flap << QPointF(r.left(), r.top() + r.height() * 0.42) << QPointF(r.right(), r.top() + r.height() * 0.42)
         << QPointF(r.right(), r.bottom()) << QPointF(r.left(), r.bottom());
  }
  p.drawPolygon(flap);
}

void Grid(QPainter& p, QRectF r, const QColor& header, int columns, int rows) {
  p.setPen(QPen(QColor(0x40, 0x50, 0x70), 1.0));
  p.setBrush(Qt::white);
  p.drawRect(r);
  const double rowH = r.height() / (rows + 1);
  p.setBrush(header);
  p.drawRect(QRectF(r.left(), r.top(), r.width(), rowH));
  p.setPen(QPen(QColor(0x80, 0x90, 0xB0), 0.8));
  for (int i = 1; i <= rows; ++i) p.drawLine(QPointF(r.left(), r.top() + rowH * i), QPointF(r.right(), r.top() + rowH * i));
  for (int c = 1; c < columns; ++c) {
    const double x = r.left() + r.width() * c / columns;
    p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
  }
}

void Disc(QPainter& p, QRectF r, const QColor& color, const QString& glyph) {
  QRadialGradient g(r.center() - QPointF(r.width() * 0.18, r.height() * 0.2), r.width() * 0.7);
  g.setColorAt(0, color.lighter(160));
  g.setColorAt(1, color);
  p.setPen(QPen(color.darker(150), 1.2));
  p.setBrush(g);
  p.drawEllipse(r);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(static_cast<int>(r.height() * 0.72));
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(r, Qt::AlignCenter, glyph);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width) {
  p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
  const QPointF d = to - from;
  const double len = std::hypot(d.x(), d.y());
  if (len <= 0) return;
  const QPointF u = d / len, n(-u.y(), u.x());
  const double head = width * 2.2;
  QPolygonF tip;
  tip << to + u * head * 0.6 << to - u * head + n * head << to - u * head - n * head;
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawPolygon(tip);
}

void Draw(QPainter& p, IconKind kind) {
  const QColor blue(0x2C, 0x6C, 0xC8), green(0x2E, 0x9E, 0x3E), red(0xD0, 0x30, 0x28);
  switch (kind) {
    case IconKind::Open:
      Folder(p, QRectF(2, 6, 26, 22), true);
      Arrow(p, QPointF(22, 14), QPointF(22, 3), green, 2.6);
      break;
    case IconKind::Stop: {
      QPolygonF oct;
      for (int i = 0; i < 8; ++i) {
        const double a = (22.5 + 45 * i) * M_PI / 180;
        oct << QPointF(16 + 14 * std::cos(a), 16 + 14 * std::sin(a));
      }
      QLinearGradient g(0, 2, 0, 30);
      g.setColorAt(0, red.lighter(140));
      g.setColorAt(1, red.darker(120));
      p.setPen(QPen(red.darker(170), 1.2));
      p.setBrush(g);
      p.drawPolygon(oct);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawRoundedRect(QRectF(10.5, 10.5, 11, 11), 1.5, 1.5);
      break;
    }
    case IconKind::MapColumn:
      Grid(p, QRectF(2, 3, 28, 22), blue.lighter(150), 3, 3);
      Arrow(p, QPointF(7, 29), QPointF(24, 29), green, 2.2);
      break;
    case IconKind::Save:
    case IconKind::SaveChanges: {
      p.setPen(QPen(blue.darker(160), 1.2));
      QLinearGradient g(0, 3, 0, 29);
      g.setColorAt(0, blue.lighter(130));
      g.setColorAt(1, blue.darker(110));
      p.setBrush(g);
      QPainterPath body;
      body.moveTo(3, 3);
      body.lineTo(25, 3);
      body.lineTo(29, 7);
      body.lineTo(29, 29);
      body.lineTo(3, 29);
      body.closeSubpath();
      p.drawPath(body);
      p.setBrush(QColor(0xF4, 0xF6, 0xFA));
      p.drawRect(QRectF(8, 3, 15, 10));
      p.setBrush(blue.darker(130));
      p.drawRect(QRectF(18, 5, 3, 6));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(7, 17, 18, 12));
      p.setPen(QPen(QColor(0x90, 0xA0, 0xC0), 1));
      for (double y : {21.0, 25.0}) p.drawLine(QPointF(10, y), QPointF(22, y));
      break;
    }
    case IconKind::Help:
      Disc(p, QRectF(2, 2, 28, 28), blue, QStringLiteral("?"));
      break;
    case IconKind::About:
      Disc(p, QRectF(2, 2, 28, 28), green, QStringLiteral("i"));
      break;
    case IconKind::DatabaseFile:
      Cylinder(p, QRectF(5, 2, 22, 28), QColor(0x50, 0x80, 0xC0));
      break;
    case IconKind::Group:
      Folder(p, QRectF(2, 4, 28, 24), false);
      break;
    case IconKind::Table:
      Grid(p, QRectF(2, 4, 28, 24), QColor(0x5A, 0x8E, 0xD8), 3, 3);
      break;
    case IconKind::Index: {
      Grid(p, QRectF(2, 4, 20, 24), QColor(0x8A, 0x70, 0xC8), 1, 4);
      p.setPen(QPen(QColor(0xC0, 0x90, 0x10), 2.4, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(19, 8, 9, 9));
      p.drawLine(QPointF(23.5, 17), QPointF(23.5, 28));
      p.drawLine(QPointF(23.5, 24), QPointF(27, 24));
      break;
    }
    case IconKind::View: {
      p.setPen(QPen(QColor(0x30, 0x60, 0x40), 1.4));
      p.setBrush(QColor(0xE8, 0xF4, 0xEC));
      QPainterPath eye;
      eye.moveTo(2, 16);
      eye.quadTo(16, 2, 30, 16);
      eye.quadTo(16, 30, 2, 16);
      p.drawPath(eye);
      p.setBrush(green);
      p.drawEllipse(QPointF(16, 16), 6, 6);
      p.setBrush(Qt::black);
      p.drawEllipse(QPointF(16, 16), 2.5, 2.5);
      break;
    }
    case IconKind::Trigger: {
      QPolygonF bolt;
      bolt << QPointF(19, 2) << QPointF(6, 18) << QPointF(15, 18) << QPointF(11, 30) << QPointF(26, 12)
           << QPointF(17, 12) << QPointF(22, 2);
      QLinearGradient g(0, 2, 0, 30);
      g.setColorAt(0, QColor(0xFF, 0xE0, 0x50));
      g.setColorAt(1, QColor(0xF0, 0x90, 0x10));
      p.setPen(QPen(QColor(0xA0, 0x60, 0x00), 1.2));
      p.setBrush(g);
      p.drawPolygon(bolt);
      break;
    }
    case IconKind::Accept: {
      p.setPen(QPen(green, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPolygonF tick;
      tick << QPointF(5, 17) << QPointF(13, 25) << QPointF(27, 7);
      p.drawPolyline(tick);
      break;
    }
    case IconKind::Cancel:
      p.setPen(QPen(red, 4.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(7, 7), QPointF(25, 25));
      p.drawLine(QPointF(25, 7), QPointF(7, 25));
      break;
    case IconKind::Change:
      Arrow(p, QPointF(4, 10), QPointF(25, 10), blue, 2.6);
      Arrow(p, QPointF(28, 22), QPointF(7, 22), green, 2.6);
      break;
    case IconKind::Recovery: {
      Cylinder(p, QRectF(3, 3, 20, 26), QColor(0x50, 0x80, 0xC0));
      p.setPen(Qt::NoPen);
      p.setBrush(green);
      p.drawEllipse(QRectF(17, 17, 14, 14));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(23, 19.5, 2.2, 9));
      p.drawRect(QRectF(19.5, 22.9, 9, 2.2));
      break;
    }
    case IconKind::Application: {
      QRadialGradient g(QPointF(12, 10), 24);
      g.setColorAt(0, QColor(0xFF, 0xF4, 0xD8));
      g.setColorAt(0.5, QColor(0xF0, 0xB0, 0x40));
      g.setColorAt(1, QColor(0xB0, 0x60, 0x10));
      p.setPen(QPen(QColor(0x80, 0x48, 0x10), 1.0));
      p.setBrush(g);
      p.drawEllipse(QRectF(1, 1, 30, 30));
      Cylinder(p, QRectF(10, 7, 12, 17), QColor(0x40, 0x70, 0xC0));
      break;
    }
  }
}

}  // namespace

QPixmap MakePixmap(IconKind kind, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(size / kCanvas, size / kCanvas);
  Draw(p, kind);
  return pixmap;
}

QIcon MakeIcon(IconKind kind) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(MakePixmap(kind, size));
  return icon;
}

QPixmap MakeBanner(int width, int height) {
  QPixmap pixmap(width, height);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0, QColor(0x1C, 0x3E, 0x78));
  g.setColorAt(1, QColor(0x3A, 0x78, 0xC8));
  p.fillRect(pixmap.rect(), g);
  p.setPen(QPen(QColor(255, 255, 255, 40), 1));
  for (int x = -height; x < width; x += 12) p.drawLine(x, height, x + height, 0);
  const int icon = height - 12;
  p.drawPixmap(8, 6, MakePixmap(IconKind::Recovery, icon));
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(std::max(10, height * 3 / 10));
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(icon + 18, 0, width - icon - 24, height), Qt::AlignVCenter | Qt::AlignLeft,
             QStringLiteral("Veltrane SQLite\nDatabase Recovery"));
  return pixmap;
}

}  // namespace veltrane
