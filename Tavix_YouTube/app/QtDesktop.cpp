#include "Tavix_YouTube/app/QtDesktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

std::optional<std::string> QtPasteboard::string() const {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
  if (!data || !data->hasText()) return std::nullopt;
  return data->text().toStdString();
}

bool QtWorkspace::open(const std::string& url) {
  const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  if (!address.isValid()) return false;
  return QDesktopServices::openUrl(address);
}

bool QtWorkspace::selectFile(const std::string& path) {
  const QFileInfo file(QString::fromStdString(path));
  if (!file.exists()) return false;
  // The desktop's file manager shows the file selected; without one on the
  // session bus, the containing folder is opened instead.
  QDBusMessage showItems = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  showItems << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString()} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(showItems, QDBus::Block, 2000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absolutePath()));
}

std::optional<std::string> QtFolderPanel::runModal(const tavix::FolderPanelOptions& options) {
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(options.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(options.canChooseFiles ? QFileDialog::ExistingFile : QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, options.canChooseDirectories && !options.canChooseFiles);
  dialog.setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
  if (!options.prompt.empty()) dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(options.prompt));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first().toStdString();
}
