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
  QPixmap pixmap =
      renderSvg(QDir(resourceDir()).filePath(QStringLiteral("icons/%1.svg").arg(name)), QSize(size, size));
  if (pixmap.isNull()) {
    pixmap = QPixmap(size, size);
    pixmap.fill(Qt::transparent);
  } else {
    // Tint: the icon's black becomes `color`; white cut-outs stay see-through.
    QPixmap mask = pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    QImage image = pixmap.toImage();
    const QImage original = mask.toImage();
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor px = original.pixelColor(x, y);
        if (px.alpha() > 0 && px.lightness() > 200) {
          QColor c = image.pixelColor(x, y);
          c.setAlpha(qMax(0, c.alpha() - px.alpha()));
          image.setPixelColor(x, y, c);
        }
      }
    }
    pixmap = QPixmap::fromImage(image);
  }
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
