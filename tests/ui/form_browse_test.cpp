// The folder dialog, the make-directory dialog and their placement.

#include <gtest/gtest.h>

#include <ostream>

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "fixtures/tree_writer.h"
#include "ui/center_over_owner.h"
#include "ui/directory_list.h"
#include "ui/drive_combo.h"
#include "ui/form_browse.h"
#include "ui/form_mkdir.h"
#include "ui_test_support.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString CurrentFolder() { return QDir::cleanPath(QDir::currentPath()); }

// Two volumes of the test's own, beside "/", so that drive changes never
// depend on what this machine has mounted.
class FormBrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vol_a_ = Q(scratch_.Join("volA"));
    vol_b_ = Q(scratch_.Join("volB"));
    ASSERT_TRUE(MakeDirs(scratch_.Join("volA/pics/2004")));
    ASSERT_TRUE(MakeDirs(scratch_.Join("volB/x")));
    TDriveComboBox::SetVolumeSource([this] {
      return QList<TVolume>{{"/", ""}, {vol_a_, "Photos"}, {vol_b_, ""}};
    });
  }
  void TearDown() override { TDriveComboBox::SetVolumeSource({}); }

  // Opens Create Directory from `dialog`, types `name` and ends it with Ok
  // (or Cancel).
  static void CreateDirectory(TFormBrowse& dialog, const QString& name, bool ok = true) {
    TModalWatcher watcher([](QWidget* w) { return qobject_cast<TFormMkdir*>(w) != nullptr; },
                          [&](QWidget* w) {
                            auto* mkdir_dialog = qobject_cast<TFormMkdir*>(w);
                            mkdir_dialog->EditCreateDir->setText(name);
                            (ok ? mkdir_dialog->Button1 : mkdir_dialog->Button2)->click();
                          });
    dialog.Button1->click();
    EXPECT_EQ(watcher.Handled(), 1);
    EXPECT_EQ(watcher.Unexpected(), 0);
  }

  TScratchDir scratch_{"vellumcast-browse"};
  QString vol_a_;
  QString vol_b_;
};

struct TDialogControl {
  const char* name;
  const char* kind;
  const char* text;
  int left, top, width, height;
};

void ExpectControls(const QWidget& dialog, std::initializer_list<TDialogControl> controls) {
  for (const TDialogControl& c : controls) {
    SCOPED_TRACE(c.name);
    auto* w = dialog.findChild<QWidget*>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.kind));
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), c.text);
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(button->text(), c.text);
    }
    EXPECT_EQ(w->pos(), QPoint(c.left, c.top));
    if (c.width >= 0) {
      EXPECT_EQ(w->size(), QSize(c.width, c.height));
    } else {
      EXPECT_GE(w->width(), w->sizeHint().width());
    }
    EXPECT_LE(w->geometry().right(), dialog.width() - 1);
  }
}

TEST_F(FormBrowseTest, DialogsCaptionsSizesAndControls) {
  QString path;
  TFormBrowse browse(nullptr, &path);
  EXPECT_EQ(browse.windowTitle(), "Select Directory");
  EXPECT_EQ(browse.size(), QSize(363, 210));
  EXPECT_EQ(browse.minimumSize(), browse.maximumSize());
  ExpectControls(browse, {{"DriveComboBrowse", "TDriveComboBox", "", 8, 8, 345, 19},
                          {"DirListBrowse", "TDirectoryListBox", "", 8, 32, 345, 97},
                          {"Label1", "QLabel", "Directory:", 8, 152, -1, -1},
                          {"EditBrowseName", "QLineEdit", "", 64, 144, 289, 21},
                          {"Button1", "QPushButton", "Create Directory", 8, 176, 105, 25},
                          {"Button2", "QPushButton", "Ok", 128, 176, 105, 25},
                          {"Button3", "QPushButton", "Cancel", 248, 176, 105, 25}});
  EXPECT_TRUE(browse.Button2->isDefault());
  EXPECT_FALSE(browse.Button1->autoDefault());
  EXPECT_FALSE(browse.Button3->autoDefault());

  QString name;
  TFormMkdir mkdir_dialog(&browse, &name);
  EXPECT_EQ(mkdir_dialog.windowTitle(), "Create Directory");
  EXPECT_EQ(mkdir_dialog.size(), QSize(321, 88));
  ExpectControls(mkdir_dialog,
                 {{"Label1", "QLabel", "Enter the name of the directory you would like to create:", 8, 8, -1, -1},
                  {"EditCreateDir", "QLineEdit", "", 8, 24, 305, 21},
                  {"Button1", "QPushButton", "Ok", 160, 56, 75, 25},
                  {"Button2", "QPushButton", "Cancel", 240, 56, 75, 25}});
  EXPECT_TRUE(mkdir_dialog.EditCreateDir->text().isEmpty());
  EXPECT_TRUE(mkdir_dialog.Button1->isDefault());
}

TEST_F(FormBrowseTest, OpensOnAnExistingStartingPath) {
  QString path = vol_a_ + "/pics/2004";
  TFormBrowse dialog(nullptr, &path);
  EXPECT_TRUE(dialog.IsReady());
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_a_ + "/pics/2004");
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics/2004");
  // The drive follows the list, and setting it did not move the list away.
  EXPECT_EQ(dialog.DriveComboBrowse->Drive(), vol_a_);
  EXPECT_EQ(dialog.DriveComboBrowse->currentText(), vol_a_ + "  [Photos]");
}

TEST_F(FormBrowseTest, MissingOrEmptyPathShowsTheCurrentFolder) {
  for (const QString& start : {QString(), vol_a_ + "/pics/nope", vol_a_ + "/nope/2004"}) {
    QString path = start;
    TFormBrowse dialog(nullptr, &path);
    EXPECT_EQ(dialog.DirListBrowse->Directory(), CurrentFolder()) << start.toStdString();
    EXPECT_EQ(dialog.EditBrowseName->text(), CurrentFolder());
    EXPECT_EQ(path, start);  // the buffer is not touched before Ok
  }
  TFormBrowse without_buffer(nullptr, nullptr);
  EXPECT_EQ(without_buffer.EditBrowseName->text(), CurrentFolder());
}

TEST_F(FormBrowseTest, DriveChangeShowsTheFolderLastShownThereOrItsRoot) {
  QString path = vol_a_ + "/pics";
  TFormBrowse dialog(nullptr, &path);
  TDriveComboBox* drives = dialog.DriveComboBrowse;

  drives->setCurrentIndex(drives->findData(vol_b_));  // never shown before: its root
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_b_);
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_b_);

  // Open the subfolder x in the list, as a double click does.
  QTreeWidgetItem* x = nullptr;
  for (QTreeWidgetItem* item : dialog.DirListBrowse->findItems("x", Qt::MatchExactly | Qt::MatchRecursive)) x = item;
  ASSERT_NE(x, nullptr);
  emit dialog.DirListBrowse->itemDoubleClicked(x, 0);
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_b_ + "/x");

  drives->setCurrentIndex(drives->findData(vol_a_));
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_a_ + "/pics");
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics");
  drives->setCurrentIndex(drives->findData(vol_b_));
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_b_ + "/x");
}

TEST_F(FormBrowseTest, ListShowsTheChainAndTheSubfolders) {
  ASSERT_TRUE(MakeDirs(scratch_.Join("volA/pics/2003")));
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("volA/pics/file.jpg"), "not a folder"));
  QString path = vol_a_ + "/pics";
  TFormBrowse dialog(nullptr, &path);
  QTreeWidgetItem* current = dialog.DirListBrowse->currentItem();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->text(0), "pics");
  ASSERT_EQ(current->childCount(), 2);  // folders only, in name order
  EXPECT_EQ(current->child(0)->text(0), "2003");
  EXPECT_EQ(current->child(1)->text(0), "2004");
  QTreeWidgetItem* top = current;
  while (top->parent() != nullptr) top = top->parent();
  EXPECT_EQ(top->text(0), "/");
  EXPECT_EQ(dialog.DirListBrowse->visualItemRect(current).height(), TDirectoryListBox::kRowHeight);
}

TEST_F(FormBrowseTest, OkTakesTheTypedTextAsIs) {
  QString path = vol_a_;
  TFormBrowse dialog(nullptr, &path);
  dialog.EditBrowseName->setText("/no/such/folder typed ");
  dialog.Button2->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(path, "/no/such/folder typed ");

  dialog.EditBrowseName->clear();
  dialog.Button2->click();
  EXPECT_EQ(path, "");

  TFormBrowse without_buffer(nullptr, nullptr);
  without_buffer.Button2->click();
  EXPECT_EQ(without_buffer.result(), QDialog::Accepted);
}

TEST_F(FormBrowseTest, CancelLeavesTheBuffer) {
  QString path = vol_a_;
  TFormBrowse dialog(nullptr, &path);
  dialog.EditBrowseName->setText("/elsewhere");
  dialog.Button3->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(path, vol_a_);
}

TEST_F(FormBrowseTest, CreateDirectoryBelowTheEditBoxPath) {
  QString path = vol_a_ + "/pics";
  TFormBrowse dialog(nullptr, &path);
  CreateDirectory(dialog, "new");
  EXPECT_TRUE(QFileInfo(vol_a_ + "/pics/new").isDir());
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_a_ + "/pics/new");
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics/new");

  // A trailing separator gives the same kind of path, without a second one.
  dialog.EditBrowseName->setText(vol_a_ + "/pics/");
  CreateDirectory(dialog, "newer");
  EXPECT_TRUE(QFileInfo(vol_a_ + "/pics/newer").isDir());
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics/newer");

  // The edit box, not the list, names the parent: a typed path counts.
  dialog.EditBrowseName->setText(vol_b_);
  CreateDirectory(dialog, "typed");
  EXPECT_TRUE(QFileInfo(vol_b_ + "/typed").isDir());
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_b_ + "/typed");
}

TEST_F(FormBrowseTest, CreateDirectoryCancelledOrFailing) {
  QString path = vol_a_ + "/pics";
  TFormBrowse dialog(nullptr, &path);
  CreateDirectory(dialog, "cancelled", /*ok=*/false);
  EXPECT_FALSE(QFileInfo::exists(vol_a_ + "/pics/cancelled"));
  EXPECT_EQ(dialog.DirListBrowse->Directory(), vol_a_ + "/pics");
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics");

  // Two levels whose upper one is missing: one level only is ever made, so
  // nothing is created, and the list still points at the built path.
  CreateDirectory(dialog, "upper/lower");
  EXPECT_FALSE(QFileInfo::exists(vol_a_ + "/pics/upper"));
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics/upper/lower");
  EXPECT_EQ(dialog.DirListBrowse->currentItem()->childCount(), 0);

  // An existing name: nothing happens to it.
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("volA/pics/2004/keep.txt"), "k"));
  dialog.EditBrowseName->setText(vol_a_ + "/pics");
  CreateDirectory(dialog, "2004");
  EXPECT_TRUE(FileExists(scratch_.Join("volA/pics/2004/keep.txt")));
  EXPECT_EQ(dialog.EditBrowseName->text(), vol_a_ + "/pics/2004");
}

TEST(FormMkdirTest, OkCopiesTheNameCancelDoesNot) {
  QString name = "before";
  TFormMkdir ok_dialog(nullptr, &name);
  ok_dialog.EditCreateDir->setText("fresh");
  ok_dialog.Button1->click();
  EXPECT_EQ(ok_dialog.result(), QDialog::Accepted);
  EXPECT_EQ(name, "fresh");

  TFormMkdir cancel_dialog(nullptr, &name);
  cancel_dialog.EditCreateDir->setText("other");
  cancel_dialog.Button2->click();
  EXPECT_EQ(cancel_dialog.result(), QDialog::Rejected);
  EXPECT_EQ(name, "fresh");

  TFormMkdir without_buffer(nullptr, nullptr);
  without_buffer.Button1->click();
  EXPECT_EQ(without_buffer.result(), QDialog::Accepted);
}

struct TCenterCase {
  QRect owner;
  QSize dialog;
  QPoint expected;
};

void PrintTo(const TCenterCase& c, std::ostream* out) {
  *out << "owner " << c.owner.x() << "," << c.owner.y() << " " << c.owner.width() << "x" << c.owner.height()
       << " dialog " << c.dialog.width() << "x" << c.dialog.height();
}

class CenterOverOwnerTest : public ::testing::TestWithParam<TCenterCase> {};

TEST_P(CenterOverOwnerTest, Arithmetic) {
  const TCenterCase& c = GetParam();
  EXPECT_EQ(CenteredPosition(c.owner, c.dialog), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CenterOverOwnerTest,
    ::testing::Values(
        TCenterCase{{0, 0, 400, 300}, {200, 100}, {100, 100}},      // plainly centred
        TCenterCase{{10, 20, 401, 301}, {200, 100}, {110, 120}},    // odd halves round down
        TCenterCase{{50, 50, 100, 100}, {103, 103}, {64, 64}},      // -3/2 is -1, then +15
        TCenterCase{{0, 0, 100, 100}, {103, 200}, {15, 0}},         // clamped to 0, then +15 only across
        TCenterCase{{5, 5, 400, 300}, {400, 300}, {20, 20}},        // same size: 15 right and down
        TCenterCase{{0, 0, 400, 300}, {409, 291}, {15, 19}},        // 9 apart still counts as the same
        TCenterCase{{0, 0, 400, 300}, {410, 310}, {0, 0}},          // 10 apart does not
        TCenterCase{{-300, -200, 100, 100}, {50, 50}, {0, 0}}));    // owner off screen

TEST(CenterOverOwner, MovesTheDialogAndIgnoresAbsentWindows) {
  // Windows not shown yet have no frame: their frames are their rectangles.
  QWidget owner;
  owner.setGeometry(100, 80, 400, 300);
  QDialog dialog(&owner);
  dialog.resize(405, 295);
  CenterOverOwner(&owner, &dialog);
  EXPECT_EQ(dialog.frameGeometry().topLeft(), QPoint(113, 97));  // 5 apart both ways: +15, +15
  CenterOverOwner(nullptr, &dialog);
  CenterOverOwner(&owner, nullptr);
  EXPECT_EQ(dialog.frameGeometry().topLeft(), QPoint(113, 97));

  // A child control as owner stands for its window.
  QWidget* inner = new QWidget(&owner);
  inner->setGeometry(10, 10, 50, 50);
  QDialog small(&owner);
  small.resize(200, 100);
  CenterOverOwner(inner, &small);
  EXPECT_EQ(small.frameGeometry().topLeft(), QPoint(200, 180));

  TFormBrowse browse(&owner, nullptr);
  EXPECT_EQ(browse.frameGeometry().topLeft(), QPoint(100 + (400 - 363) / 2, 80 + (300 - 210) / 2));
}

}  // namespace
