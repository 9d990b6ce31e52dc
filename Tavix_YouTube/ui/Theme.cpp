#include "Tavix_YouTube/ui/Theme.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSvgRenderer>

namespace theme {
namespace {

QString& resourceDir() {
  static QString dir;
  return dir;
}

const QJsonObject& colorTable() {
  static QJsonObject table;
  static QString loadedFrom = QStringLiteral("\n");
  if (loadedFrom != resourceDir()) {
    loadedFrom = resourceDir();
    QFile file(QDir(resourceDir()).filePath(QStringLiteral("Colors.json")));
    table = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
  }
  return table;
}

QString fontFamily() {
  static QString family;
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    QDir fonts(QDir(resourceDir()).filePath(QStringLiteral("fonts")));
    for (const QString& file : fonts.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files)) {
      const int id = QFontDatabase::addApplicationFont(fonts.filePath(file));
      const QStringList families = QFontDatabase::applicationFontFamilies(id);
      if (families.contains(QStringLiteral("Montserrat"))) family = QStringLiteral("Montserrat");
    }
    if (family.isEmpty()) family = QStringLiteral("DejaVu Sans");
  }
  return family;
}

QPixmap renderSvg(const QString& path, QSize size) {
  QSvgRenderer renderer(path);
  if (!renderer.isValid() || size.isEmpty()) return {};
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QSizeF fitted = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
  QRectF target(QPointF((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2), fitted);
  renderer.render(&painter, target);
  return pixmap;
}

}  // namespace

void setResourceDirectory(const QString& path) { resourceDir() = path; }
QString resourceDirectory() { return resourceDir(); }

QColor systemColor(SystemColor color) {
  switch (color) {
    case SystemColor::Orange: return QColor(0xFF, 0x9F, 0x0A);
    case SystemColor::Blue: return QColor(0x0A, 0x84, 0xFF);
    case SystemColor::Yellow: return QColor(0xFF, 0xD6, 0x0A);
    case SystemColor::Green: return QColor(0x30, 0xD1, 0x58);
    case SystemColor::Red: return QColor(0xFF, 0x45, 0x3A);
    case SystemColor::Gray: return QColor(0x98, 0x98, 0x9D);
    case SystemColor::Cyan: return QColor(0x64, 0xD2, 0xFF);
    case SystemColor::White: return QColor(Qt::white);
  }
  return QColor(Qt::white);
}

QColor assetColor(const QString& name) {
  const QJsonValue value = colorTable().value(name);
  QColor color(value.toString());
  return color.isValid() ? color : QColor(Qt::transparent);
}

QColor backgroundArea() { return assetColor(QStringLiteral(" backgroundArea")); }
QColor backgroundItem() { return assetColor(QStringLiteral("backgroundItem")); }
QColor textSecondary() { return assetColor(QStringLiteral("textSecondary")); }

QFont font(const QString& face, double pointSize) {
  QFont font(fontFamily());
  font.setPixelSize(qMax(1, qRound(pointSize)));
  if (face.endsWith(QStringLiteral("-Bold"))) {
    font.setWeight(QFont::Bold);
  } else if (face.endsWith(QStringLiteral("-Medium"))) {
    font.setWeight(QFont::Medium);
  } else {
    font.setWeight(QFont::Normal);
  }
  return font;
}

QPixmap symbol(const QString& name, const QColor& color, int size) {
  static QHash<QString, QPixmap> cache;
  const QString key = name + QLatin1Char('/') + color.name(QColor::HexArgb) + QLatin1Char('/') +
                      QString::number(size) + resourceDir();
  if (auto it = cache.constFind(key); it != cache.constEnd()) return *it;
  // An icon drawn for this size (icons/<size>/) is preferred: its strokes lie
  // on whole pixels, where the general one's would blur together.
  const QDir icons(QDir(resourceDir()).filePath(QStringLiteral("icons")));
  QString path = icons.filePath(QStringLiteral("%1/%2.svg").arg(size).arg(name));
  if (!QFile::exists(path)) path = icons.filePath(QStringLiteral("%1.svg").arg(name));
  const QImage drawn = renderSvg(path, QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
  QImage tinted(QSize(size, size), QImage::Format_ARGB32);
  tinted.fill(Qt::transparent);
  if (!drawn.isNull()) {
    // Tint: the icon's black is the ink, its white the cut-outs. Each pixel's
    // ink is its coverage times its darkness, so a cut-out thinner than a
    // pixel still shows as a lighter pixel instead of vanishing.
    for (int y = 0; y < size; ++y) {
      const QRgb* in = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
      QRgb* out = reinterpret_cast<QRgb*>(tinted.scanLine(y));
      for (int x = 0; x < size; ++x) {
        const double ink = qAlpha(in[x]) / 255.0 * (1.0 - qGray(in[x]) / 255.0);
        out[x] = qRgba(color.red(), color.green(), color.blue(), qRound(ink * color.alpha()));
      }
    }
  }
  QPixmap pixmap = QPixmap::fromImage(tinted);
  cache.insert(key, pixmap);
  return pixmap;
}

QPixmap image(const QString& name, QSize size) {
  const QDir images(QDir(resourceDir()).filePath(QStringLiteral("images")));
  if (QFile::exists(images.filePath(name + QStringLiteral(".svg")))) {
    return renderSvg(images.filePath(name + QStringLiteral(".svg")), size);
  }
  QPixmap pixmap(images.filePath(name + QStringLiteral(".png")));
  return pixmap.isNull() ? pixmap : pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace theme
