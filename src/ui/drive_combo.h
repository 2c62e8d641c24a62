#pragma once
// The drive selector: a list of the mounted volumes, each named by its root
// folder. Changing the selection, by the user or by SetDrive, emits Changed.

#include <QComboBox>
#include <QString>

class TDriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TDriveComboBox(QWidget* parent);

  // Root folder of the selected volume; empty when there is none.
  QString Drive() const;
  // Selects the volume with that root folder, adding it when it is not listed.
  void SetDrive(const QString& root);
  // Root folder of the volume that holds `path` (or its nearest existing
  // ancestor); "/" when none can be found.
  static QString VolumeOf(const QString& path);

 signals:
  void Changed();

 private:
  void AddVolume(const QString& root, const QString& label);
};
