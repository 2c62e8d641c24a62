// Run control that never reports a failure as success: a missing starting
// folder, an unreadable template, an output folder overlapping the photo
// tree or a theme that does not load starts nothing, a run that could not
// write something says how many files, counters start from zero, and the
// follow-links setting reaches the run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>

#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"
#include "ui/form_main.h"
#include "ui_test_support.h"

namespace {

constexpr const char* kDoneText = "Indexing is complete. You may launch your browser with the <View> Button.";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Answers the window's refusal boxes and records their texts.
class TRefusalWatcher {
 public:
  TRefusalWatcher()
      : watcher_([](QWidget* w) { return w->objectName() == "MessageBoxRefused" && qobject_cast<QMessageBox*>(w); },
                 [this](QWidget* w) {
                   auto* box = qobject_cast<QMessageBox*>(w);
                   texts_ << box->text();
                   box->accept();
                 }) {}
  const QStringList& Texts() const { return texts_; }

 private:
  QStringList texts_;
  TModalWatcher watcher_;
};

class FormRunTrustTest : public ::testing::Test {
 protected:
  TSettingsSandbox sandbox_;
  TScratchDir scratch_{"vellumcast-ui-trust"};
  TForm1 form_;
};

TEST_F(FormRunTrustTest, AMissingStartingFolderIsSaidAndNothingStarts) {
  form_.EditStartPath->setText(Q(scratch_.Join("no-such-folder")));
  form_.EditDirs->setText("7");
  TRefusalWatcher refusals;
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  EXPECT_EQ(form_.Worker(), nullptr);
  ASSERT_EQ(refusals.Texts().size(), 1);
  EXPECT_EQ(refusals.Texts()[0], "The starting folder \"" + Q(scratch_.Join("no-such-folder")) + "\" does not exist.");
  SpinFor(100);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_EQ(form_.EditDirs->text(), "7");  // no run: the counters stay

  ASSERT_TRUE(WriteFileBytes(scratch_.Join("a-file"), "x"));
  form_.EditStartPath->setText(Q(scratch_.Join("a-file")));
  form_.ButtonStart->click();
  EXPECT_EQ(form_.Worker(), nullptr);
  ASSERT_EQ(refusals.Texts().size(), 2);
  EXPECT_EQ(refusals.Texts()[1], "The starting folder \"" + Q(scratch_.Join("a-file")) + "\" is not a folder.");
}

TEST_F(FormRunTrustTest, AnUnreadableTickedTemplateIsSaidAndNothingIsWritten) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("pics/a.bmp"), 4, 4));
  form_.EditStartPath->setText(Q(scratch_.Join("pics")));
  form_.CheckBoxFooterTemplate->setChecked(true);
  form_.EditFooterFileName->setText(Q(scratch_.Join("gone.html")));
  {
    TRefusalWatcher refusals;
    form_.ButtonStart->click();
    EXPECT_EQ(form_.Worker(), nullptr);
    ASSERT_EQ(refusals.Texts().size(), 1);
    EXPECT_EQ(refusals.Texts()[0],
              "Cannot read footer template '" + Q(scratch_.Join("gone.html")) + "': No such file or directory.");
    EXPECT_FALSE(FileExists(scratch_.Join("pics/vellumcast.html")));
  }

  // An unticked template is not used, so it is not asked for.
  form_.CheckBoxFooterTemplate->setChecked(false);
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  ASSERT_TRUE(boxes.WaitFor(1));
  EXPECT_TRUE(FileExists(scratch_.Join("pics/vellumcast.html")));
}

TEST_F(FormRunTrustTest, ARunThatCouldNotWriteSaysHowManyFiles) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("ro/a.bmp"), 4, 4));
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("ro/sub/b.bmp"), 4, 4));
  TReadOnlyBind read_only(scratch_.Join("ro"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  form_.EditStartPath->setText(Q(scratch_.Join("ro")));
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_TRUE(boxes.WaitFor(1));
  EXPECT_EQ(boxes.Seen()[0].text, QString::fromLatin1(kDoneText) + "\n2 files could not be written.");
  EXPECT_EQ(boxes.Seen()[0].caption, "Done!");
  EXPECT_EQ(form_.EditIndices->text(), "0");
}

TEST_F(FormRunTrustTest, CountersStartFromZeroAndShowTheFinalCounts) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("one/a.bmp"), 4, 4));
  ASSERT_TRUE(MakeDirs(scratch_.Join("empty")));
  form_.EditStartPath->setText(Q(scratch_.Join("one")));
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_TRUE(boxes.WaitFor(1));
  EXPECT_EQ(boxes.Seen()[0].text, kDoneText);  // no failure: the text as always
  EXPECT_EQ(form_.EditFiles->text(), "1");
  EXPECT_EQ(form_.EditIndices->text(), "1");

  // A run over an empty folder posts no progress: the counters still show it.
  form_.EditStartPath->setText(Q(scratch_.Join("empty")));
  form_.ButtonStart->click();
  EXPECT_EQ(form_.EditFiles->text(), "0");
  EXPECT_EQ(form_.EditIndices->text(), "0");
  ASSERT_TRUE(boxes.WaitFor(2));
  EXPECT_EQ(form_.EditFiles->text(), "0");
}

TEST_F(FormRunTrustTest, FollowLinksReachesTheRun) {
  form_.EditStartPath->setText(Q(scratch_.path()));
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  EXPECT_EQ(form_.Worker()->options.followlinks, false);
  ASSERT_TRUE(boxes.WaitFor(1));
  form_.CheckBoxFollowLinks->setChecked(true);
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  EXPECT_EQ(form_.Worker()->options.followlinks, true);
  ASSERT_TRUE(boxes.WaitFor(2));
}

// An output folder that overlaps the photo tree is said, with the command
// line's words, and nothing starts; a theme that does not load likewise.
TEST_F(FormRunTrustTest, AnOverlappingOutputFolderOrABadThemeIsSaidAndNothingStarts) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("photos/sub/a.bmp"), 4, 4));
  ASSERT_EQ(::symlink(scratch_.Join("photos/sub").c_str(), scratch_.Join("sub-link").c_str()), 0);
  ASSERT_TRUE(MakeDirs(scratch_.Join("bad-theme/style.css")));  // a folder where the style sheet goes
  const std::string photos = scratch_.Join("photos");
  const struct {
    const char* label;
    std::string output;
    bool modern;
    std::string theme;
    std::string said;
  } cases[] = {
      {"the tree", photos, false, "", "The output folder '" + photos + "' is the photo folder '" + photos +
                                          "' itself; choose a folder outside it."},
      {"inside, through a link", scratch_.Join("sub-link/web"), false, "",
       "The output folder '" + scratch_.Join("sub-link/web") + "' lies inside the photo folder '" + photos +
           "'; choose a folder outside it."},
      {"holding the tree", scratch_.path(), false, "",
       "The output folder '" + scratch_.path() + "' contains the photo folder '" + photos +
           "'; choose a folder outside it."},
      {"a theme that does not load", "", true, scratch_.Join("bad-theme"),
       "The theme cannot be used: " + scratch_.Join("bad-theme/style.css") + ": cannot read: not a regular file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    form_.EditStartPath->setText(Q(photos));
    form_.EditOutputPath->setText(Q(c.output));
    form_.CheckBoxModernStyle->setChecked(c.modern);
    form_.EditTheme->setText(Q(c.theme));
    form_.PageControl1->setCurrentWidget(form_.TabSheetRun);
    TRefusalWatcher refusals;
    form_.ButtonStart->click();
    EXPECT_EQ(form_.Worker(), nullptr);
    ASSERT_EQ(refusals.Texts().size(), 1);
    EXPECT_EQ(refusals.Texts()[0], Q(c.said));
    EXPECT_EQ(form_.PageControl1->currentWidget(), form_.TabSheetPublishing);
    EXPECT_FALSE(FileExists(photos + "/vellumcast.html"));
    EXPECT_FALSE(FileExists(photos + "/sub/vellumcast.html"));
  }

  // The window's empty output folder is no output folder: the run goes into the tree.
  form_.EditOutputPath->clear();
  form_.EditTheme->clear();
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  ASSERT_TRUE(boxes.WaitFor(1));
  EXPECT_TRUE(FileExists(photos + "/sub/vellumcast.html"));
}

}  // namespace
