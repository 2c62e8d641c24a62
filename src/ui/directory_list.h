#pragma once
// The folder list: shows the chain of folders from the root down to the
// current folder, and the current folder's subfolders below it. Opening an
// entry (double click) makes it the current folder. A change of the current
// folder, by the user or by SetDirectory, emits Changed.

#include <QString>
#include <QTreeWidget>

class TDirectoryListBox : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 16;

  // Starts on the process's current folder.
  explicit TDirectoryListBox(QWidget* parent);

  // Full path of the current folder.
  QString Directory() const { return directory_; }
  // Makes `path` (relative ones against the process's current folder) the
  // current folder. A folder that does not exist is still taken: the list
  // then shows its path without subfolders.
  void SetDirectory(const QString& path);
  // Root folder of the volume that holds the current folder.
  QString Drive() const;

 signals:
  void Changed();

 private:
  void Rebuild();
  QString directory_;
};
