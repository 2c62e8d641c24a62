#include "ui/directory_list.h"

#include <QDir>
#include <QHeaderView>
#include <QStyle>

#include "ui/drive_combo.h"

namespace {

constexpr int kPathRole = Qt::UserRole;

QTreeWidgetItem* MakeItem(const QString& text, const QString& path, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(QStringList{text});
  item->setData(0, kPathRole, path);
  item->setIcon(0, icon);
  item->setSizeHint(0, QSize(0, TDirectoryListBox::kRowHeight));
  return item;
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setUniformRowHeights(true);
  setRootIsDecorated(false);
  setIndentation(10);
  setItemsExpandable(false);
  setIconSize(QSize(14, 14));
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (item != nullptr) SetDirectory(item->data(0, kPathRole).toString());
  });
  directory_ = QDir::cleanPath(QDir::currentPath());
  Rebuild();
}

void TDirectoryListBox::SetDirectory(const QString& path) {
  const QString full = QDir::cleanPath(QDir::current().absoluteFilePath(path));
  if (full == directory_) return;
  directory_ = full;
  Rebuild();
  emit Changed();
}

QString TDirectoryListBox::Drive() const { return TDriveComboBox::VolumeOf(directory_); }

void TDirectoryListBox::Rebuild() {
  clear();
  const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);

  // The chain from the root down to the current folder, each level nested in the one above.
  QTreeWidgetItem* current = MakeItem(QStringLiteral("/"), QStringLiteral("/"), open_icon);
  addTopLevelItem(current);
  QString so_far;
  const QStringList levels = directory_.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  for (const QString& level : levels) {
    so_far += QLatin1Char('/') + level;
    QTreeWidgetItem* item = MakeItem(level, so_far, open_icon);
    current->addChild(item);
    current = item;
  }

  const QDir dir(directory_);
  const QStringList subfolders =
      dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : subfolders) {
    current->addChild(MakeItem(name, dir.filePath(name), closed_icon));
  }
  expandAll();
  setCurrentItem(current);
  scrollToItem(current, QAbstractItemView::PositionAtTop);
}
