// Theme: colours, fonts, symbols and images of the window, looked up in the
// application bundle's resource folder.
//
// - assetColor(name): the named colour of Colors.json (" backgroundArea" keeps
//   its leading blank), transparent when missing.
// - font(face, size): the faces "Montserrat-Regular", "-Medium" and "-Bold";
//   the family is Montserrat when a font file of it is in resources/fonts,
//   otherwise the packaged DejaVu Sans with the face's weight.
// - symbol(name, colour, size): the bundled icon tinted in one colour: the
//   icon made for that size, icons/<size>/<name>.svg, when there is one, else
//   icons/<name>.svg; black is ink, white cuts out (a blank pixmap when the
//   icon is missing).
// - image(name, size): images/<name>.svg or .png, fitted keeping the aspect.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

#include "Tavix_YouTube/ui/viewmodels/SystemColor.h"

namespace theme {

// The folder holding Colors.json, icons/, images/ and fonts/.
void setResourceDirectory(const QString& path);
QString resourceDirectory();

QColor systemColor(SystemColor color);
QColor assetColor(const QString& name);
QColor backgroundArea();
QColor backgroundItem();
QColor textSecondary();

QFont font(const QString& face, double pointSize);
QPixmap symbol(const QString& name, const QColor& color, int size);
QPixmap image(const QString& name, QSize size);

}  // namespace theme
