#include "ui/drive_combo.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
  std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
    return a.rootPath() < b.rootPath();
  });
  for (const QStorageInfo& volume : volumes) {
    // Only folders that can be browsed: a mount of a single file is no volume here.
    if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir()) continue;
    AddVolume(volume.rootPath(), volume.displayName());
  }
  connect(this, &QComboBox::currentIndexChanged, this, [this] { emit Changed(); });
}

QString TDriveComboBox::Drive() const { return currentData().toString(); }

void TDriveComboBox::SetDrive(const QString& root) {
  int index = findData(root);
  if (index < 0) {
    AddVolume(root, QString());
    index = findData(root);
  }
  setCurrentIndex(index);
}

QString TDriveComboBox::VolumeOf(const QString& path) {
  QString probe = QDir::cleanPath(QDir::current().absoluteFilePath(path));
  // A folder that does not exist (yet) lies on the volume of its nearest existing ancestor.
  while (!QFileInfo::exists(probe) && probe != QStringLiteral("/")) {
    const QString parent = QFileInfo(probe).path();
    if (parent == probe) break;
    probe = parent;
  }
  const QStorageInfo volume(probe);
  if (!volume.isValid() || volume.rootPath().isEmpty()) return QStringLiteral("/");
  return volume.rootPath();
}

void TDriveComboBox::AddVolume(const QString& root, const QString& label) {
  if (findData(root) >= 0) return;
  const QString text = label.isEmpty() || label == root ? root : root + QStringLiteral("  [") + label + QStringLiteral("]");
  const QSignalBlocker quiet(this);  // adding is no change of the selection
  addItem(text, root);
}
