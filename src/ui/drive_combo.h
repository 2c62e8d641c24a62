#pragma once
// The drive selector: a list of the mounted volumes, each named by its root
// folder. Changing the selection, by the user or by SetDrive, emits Changed.

#include <functional>

#include <QComboBox>
#include <QList>
#include <QString>

struct TVolume {
  QString root;   // absolute folder path
  QString label;  // shown beside the root; may be empty
};

class TDriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  // Where the volumes come from: by default the mounted volumes that can be
  // browsed (QStorageInfo). Replaceable, e.g. by tests that need volumes of
  // their own; an empty function restores the default.
  using TVolumeSource = std::function<QList<TVolume>()>;
  static void SetVolumeSource(TVolumeSource source);
  static QList<TVolume> Volumes();

  explicit TDriveComboBox(QWidget* parent);

  // Root folder of the selected volume; empty when there is none.
  QString Drive() const;
  // Selects the volume with that root folder, adding it when it is not listed.
  void SetDrive(const QString& root);
  // Root folder of the volume that holds `path`: the longest volume root that
  // contains it, "/" when none does.
  static QString VolumeOf(const QString& path);

 signals:
  void Changed();

 private:
  void AddVolume(const QString& root, const QString& label);
};
