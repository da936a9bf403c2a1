// Draws the pictures of the desktop program into the assets folder:
//   background.jpg        598 x 430, the main window's background (stretched to 590 x 403)
//   buttons/<name>.png    91 x 27, the five picture buttons with their labels
//   icon.png, icon.ico    the application icon
// Usage: draw_assets <assets folder>. Needs a CJK font (WenQuanYi Zen Hei) and Qt's JPEG plug-in.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QFont CjkFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Microsoft YaHei"),
                    QStringLiteral("SimHei")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// A database drum: stacked ellipses, as icons draw a database.
void DrawDrum(QPainter& p, QRectF box, const QColor& face, const QColor& rim) {
  const qreal ry = box.height() * 0.14;
  QPainterPath body;
  body.moveTo(box.left(), box.top() + ry);
  body.lineTo(box.left(), box.bottom() - ry);
  body.arcTo(QRectF(box.left(), box.bottom() - 2 * ry, box.width(), 2 * ry), 180, 180);
  body.lineTo(box.right(), box.top() + ry);
  body.closeSubpath();
  QLinearGradient shade(box.topLeft(), box.topRight());
  shade.setColorAt(0, face.darker(115));
  shade.setColorAt(0.45, face.lighter(125));
  shade.setColorAt(1, face.darker(130));
  p.setPen(QPen(rim, 1.2));
  p.setBrush(shade);
  p.drawPath(body);
  for (int band = 1; band <= 2; ++band) {
    const qreal y = box.top() + ry + (box.height() - 2 * ry) * band / 3.0;
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(box.left(), y - ry, box.width(), 2 * ry), 180 * 16, 180 * 16);
  }
  p.setBrush(face.lighter(140));
  p.drawEllipse(QRectF(box.left(), box.top(), box.width(), 2 * ry));
}

void DrawArrow(QPainter& p, QPointF from, QPointF to, qreal width, const QColor& colour) {
  const qreal head = width * 2.2;
  QPainterPath path;
  path.moveTo(from.x(), from.y() - width / 2);
  path.lineTo(to.x() - head, to.y() - width / 2);
  path.lineTo(to.x() - head, to.y() - head * 0.75);
  path.lineTo(to.x(), to.y());
  path.lineTo(to.x() - head, to.y() + head * 0.75);
  path.lineTo(to.x() - head, to.y() + width / 2);
  path.lineTo(from.x(), from.y() + width / 2);
  path.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(path);
}

QImage DrawBackground() {
  QImage image(598, 430, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, image.height());
  sky.setColorAt(0.0, QColor(0x0a, 0x2a, 0x6e));
  sky.setColorAt(0.45, QColor(0x15, 0x4f, 0xa8));
  sky.setColorAt(1.0, QColor(0x0c, 0x35, 0x84));
  p.fillRect(image.rect(), sky);

  // A soft light in the upper right and a few sweeping bands.
  QRadialGradient glow(QPointF(500, 40), 320);
  glow.setColorAt(0, QColor(120, 190, 255, 90));
  glow.setColorAt(1, QColor(120, 190, 255, 0));
  p.fillRect(image.rect(), glow);
  for (int i = 0; i < 5; ++i) {
    QPainterPath band;
    const qreal y = 150 + i * 9;
    band.moveTo(-10, y + 40);
    band.cubicTo(180, y - 30, 380, y + 70, 610, y - 20);
    p.setPen(QPen(QColor(255, 255, 255, 22 + i * 6), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(band);
  }

  // Title block.
  DrawDrum(p, QRectF(34, 34, 38, 50), QColor(0x4f, 0x9c, 0xf0), QColor(0xdf, 0xee, 0xff));
  DrawArrow(p, QPointF(78, 59), QPointF(108, 59), 6, QColor(255, 214, 90));
  DrawDrum(p, QRectF(112, 34, 38, 50), QColor(0x3c, 0xc0, 0x8a), QColor(0xe0, 0xff, 0xee));

  p.setPen(QColor(0, 0, 0, 90));
  p.setFont(CjkFont(34, true));
  p.drawText(QPointF(172, 74), QStringLiteral("Norvale数据迁移工具"));
  p.setPen(Qt::white);
  p.drawText(QPointF(170, 72), QStringLiteral("Norvale数据迁移工具"));

  p.setFont(CjkFont(17, false));
  p.setPen(QColor(0xcf, 0xe4, 0xff));
  p.drawText(QPointF(172, 102), QStringLiteral("报表数据迁移  V3.1-V4.0"));
  p.setFont(CjkFont(12, false));
  p.setPen(QColor(0xa8, 0xc8, 0xf0));
  p.drawText(QPointF(172, 124), QStringLiteral("Kingbase 4.1  →  Kingbase 6.1"));

  // The area the controls sit on: a slightly lighter, framed panel.
  const QRectF panel(72, 166, 454, 238);
  p.setPen(QPen(QColor(255, 255, 255, 70), 1));
  p.setBrush(QColor(255, 255, 255, 20));
  p.drawRoundedRect(panel, 8, 8);
  p.setPen(QPen(QColor(255, 255, 255, 45), 1));
  p.drawLine(QPointF(panel.left() + 14, 255), QPointF(panel.right() - 14, 255));
  p.drawLine(QPointF(panel.left() + 14, 345), QPointF(panel.right() - 14, 345));

  p.setFont(CjkFont(11, false));
  p.setPen(QColor(0x9c, 0xbc, 0xe8));
  p.drawText(QRectF(0, 410, 598, 16), Qt::AlignCenter,
             QStringLiteral("Norvale 统计报表  ·  V3.1 → V4.0"));
  p.end();
  return image;
}

QImage DrawButton(const QString& label) {
  QImage image(91, 27, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRectF box(0.5, 0.5, 90, 26);
  QLinearGradient face(0, 0, 0, 27);
  face.setColorAt(0.0, QColor(0x7c, 0xbc, 0xff));
  face.setColorAt(0.5, QColor(0x2f, 0x7d, 0xe0));
  face.setColorAt(1.0, QColor(0x1a, 0x55, 0xb0));
  p.setPen(QPen(QColor(0xd8, 0xea, 0xff), 1));
  p.setBrush(face);
  p.drawRoundedRect(box, 4, 4);
  p.setPen(QPen(QColor(255, 255, 255, 90), 1));
  p.drawLine(QPointF(4, 2.5), QPointF(87, 2.5));

  p.setFont(CjkFont(13, true));
  p.setPen(QColor(0, 0, 0, 110));
  p.drawText(box.translated(1, 1), Qt::AlignCenter, label);
  p.setPen(Qt::white);
  p.drawText(box, Qt::AlignCenter, label);
  p.end();
  return image;
}

QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0, QColor(0x2f, 0x7d, 0xe0));
  tile.setColorAt(1, QColor(0x0a, 0x2a, 0x6e));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  DrawDrum(p, QRectF(8, 16, 18, 30), QColor(0x4f, 0x9c, 0xf0), QColor(0xdf, 0xee, 0xff));
  DrawArrow(p, QPointF(27, 31), QPointF(39, 31), 4, QColor(255, 214, 90));
  DrawDrum(p, QRectF(39, 16, 18, 30), QColor(0x3c, 0xc0, 0x8a), QColor(0xe0, 0xff, 0xee));
  p.end();
  return image;
}

bool Save(const QImage& image, const QString& path, const char* format, int quality = -1) {
  if (image.save(path, format, quality)) return true;
  std::fprintf(stderr, "draw_assets: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_assets <assets folder>\n");
    return 2;
  }
  const QDir assets(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(assets.filePath(QStringLiteral("buttons")));

  bool ok = Save(DrawBackground(), assets.filePath(QStringLiteral("background.jpg")), "JPG", 92);
  const struct {
    const char* file;
    const char* label;
  } buttons[] = {
      {"btnBeginBackup", "备 份(B)"}, {"btnTestContected", "连接测试"},
      {"btnExit", "退 出"},           {"btnSelect", "浏览(R)..."},
      {"btnBeginRestore", "还 原(R)"},
  };
  for (const auto& b : buttons) {
    ok &= Save(DrawButton(QString::fromUtf8(b.label)),
               assets.filePath(QStringLiteral("buttons/%1.png").arg(QLatin1String(b.file))), "PNG");
  }
  ok &= Save(DrawIcon(256), assets.filePath(QStringLiteral("icon.png")), "PNG");
  ok &= Save(DrawIcon(48), assets.filePath(QStringLiteral("icon.ico")), "ICO");
  return ok ? 0 : 1;
}
