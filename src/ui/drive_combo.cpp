#include "ui/drive_combo.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

TDriveComboBox::TVolumeSource& VolumeSource() {
  static TDriveComboBox::TVolumeSource source;
  return source;
}

QList<TVolume> MountedVolumes() {
  QList<TVolume> volumes;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    // Only folders that can be browsed: a mount of a single file is no volume here.
    if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir()) continue;
    volumes.append({volume.rootPath(), volume.displayName()});
  }
  return volumes;
}

bool Contains(const QString& root, const QString& path) {
  if (root == QStringLiteral("/")) return path.startsWith(QLatin1Char('/'));
  return path == root || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

void TDriveComboBox::SetVolumeSource(TVolumeSource source) { VolumeSource() = std::move(source); }

QList<TVolume> TDriveComboBox::Volumes() {
  QList<TVolume> volumes = VolumeSource() ? VolumeSource()() : MountedVolumes();
  for (TVolume& volume : volumes) volume.root = QDir::cleanPath(volume.root);
  std::sort(volumes.begin(), volumes.end(), [](const TVolume& a, const TVolume& b) { return a.root < b.root; });
  return volumes;
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  for (const TVolume& volume : Volumes()) AddVolume(volume.root, volume.label);
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
  const QString full = QDir::cleanPath(QDir::current().absoluteFilePath(path));
  QString best;
  for (const TVolume& volume : Volumes()) {
    if (Contains(volume.root, full) && volume.root.size() > best.size()) best = volume.root;
  }
  return best.isEmpty() ? QStringLiteral("/") : best;
}

void TDriveComboBox::AddVolume(const QString& root, const QString& label) {
  if (findData(root) >= 0) return;
  const QString text =
      label.isEmpty() || label == root ? root : root + QStringLiteral("  [") + label + QStringLiteral("]");
  const QSignalBlocker quiet(this);  // adding is no change of the selection
  addItem(text, root);
}
