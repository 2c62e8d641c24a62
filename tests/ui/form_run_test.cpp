// Run control of the main window with a real worker: options handed over,
// progress, the completion box, one run at a time, Cancel, View, Clean and
// the template choosers.

#include <gtest/gtest.h>

#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QUrl>

#include "fixtures/image_writers.h"
#include "fixtures/photo_text_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/photo_text.h"
#include "support/product.h"
#include "ui/click_panel.h"
#include "ui/form_browse.h"
#include "ui/form_main.h"
#include "ui/radio_group.h"
#include "ui_test_support.h"

namespace {

constexpr const char* kDoneText = "Indexing is complete. You may launch your browser with the <View> Button.";

QString Q(const std::string& s) { return QString::fromStdString(s); }

class FormRunTest : public ::testing::Test {
 protected:
  // Waits for the run to end with its box answered; the window is idle after.
  void FinishRun(TDoneBoxWatcher& boxes, int count = 1) {
    ASSERT_TRUE(boxes.WaitFor(count)) << "no completion box";
    EXPECT_EQ(form_.Worker(), nullptr);
  }

  // From here on View hands its URL to `opened_` (no browser: nothing is shown).
  void CaptureOpenedUrls() {
    form_.SetUrlOpener([this](const QUrl& url) {
      opened_ << url;
      return false;
    });
  }

  QList<QUrl> opened_;
  TSettingsSandbox sandbox_;
  TScratchDir scratch_{"vellumcast-ui"};
  TForm1 form_;
};

TEST_F(FormRunTest, StartCopiesTheControlsIntoTheWorker) {
  form_.EditStartPath->setText(Q(scratch_.path()));  // empty folder: a short run
  form_.EditCellWidth->setText(" 140");
  form_.EditCellHeight->setText("140 ");
  form_.EditCellsPerRow->setText("$1F");
  form_.EditRowsPerPage->setText("-2");
  form_.CheckBoxCreateThumbs->setChecked(true);
  form_.RadioGroupSort->SetItemIndex(0);
  form_.CheckBoxCenterTable->setChecked(false);
  form_.CheckBoxCenterTitle->setChecked(true);
  form_.CheckBoxCenterFooter->setChecked(false);
  form_.CheckBoxCenterNavBar->setChecked(true);
  form_.CheckBoxDirFirstPageOnly->setChecked(false);
  form_.CheckBoxIncludeFileNames->setChecked(true);
  form_.CheckBoxThumbWhite->setChecked(true);
  form_.EditTitle->setText("T\u00eftle");
  form_.EditFooterText->setText("");
  // A ticked template must be readable for the run to start.
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("t/head.html"), "<html><body>"));
  form_.CheckBoxHeaderTemplate->setChecked(true);
  form_.EditHeaderFileName->setText(Q(scratch_.Join("t/head.html")));
  form_.CheckBoxFooterTemplate->setChecked(false);
  form_.EditFooterFileName->setText("/t/foot.html");
  form_.CheckBoxEnableBackLinks->setChecked(false);
  form_.CheckBoxEnableHierarchyLinks->setChecked(true);

  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* w = form_.Worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->ownerwindow, static_cast<TOwnerWindow*>(&form_));
  EXPECT_EQ(w->options.path, scratch_.path());
  EXPECT_EQ(w->options.cellwidth, 140);
  EXPECT_EQ(w->options.cellheight, 0);  // a trailing blank spoils the number
  EXPECT_EQ(w->options.cellsperrow, 31);
  EXPECT_EQ(w->options.rowsperpage, -2);
  EXPECT_EQ(w->options.createthumbs, 1);
  EXPECT_EQ(w->options.sort, 0);
  EXPECT_EQ(w->options.centertable, 0);
  EXPECT_EQ(w->options.centertitle, 1);
  EXPECT_EQ(w->options.centerfooter, 0);
  EXPECT_EQ(w->options.centernavbar, 1);
  EXPECT_EQ(w->options.dirfirstpageonly, 0);
  EXPECT_EQ(w->options.includefilenames, 1);
  EXPECT_EQ(w->options.thumbwhite, 255);  // not 1
  EXPECT_EQ(w->options.title, "T\u00eftle");
  EXPECT_EQ(w->options.footertext, "");
  EXPECT_EQ(w->options.headertemplate, scratch_.Join("t/head.html"));
  EXPECT_EQ(w->options.footertemplate, "");  // box unticked: no template, whatever the edit holds
  EXPECT_EQ(w->options.blinks, 0);
  EXPECT_EQ(w->options.hlinks, 1);
  EXPECT_EQ(w->options.rebuild, 0);  // not in the store: off
  EXPECT_EQ(w->options.prune, 0);
  FinishRun(boxes);
}

// rebuild and prune have no control: Start takes them from the store as
// they are, and saving the window's settings leaves them there.
// rebuild has no control: Start reads it from the store as it stands, and
// the window never rewrites it. prune is the Publishing tab's check box.
TEST_F(FormRunTest, StartTakesRebuildFromTheStoreAndPruneFromItsCheckBox) {
  const struct {
    const char* rebuild;
    bool prune_ticked;
    int32_t want_rebuild;
    int32_t want_prune;
  } cases[] = {{"1", false, 1, 0}, {"0", true, 0, 1}, {"7", false, 1, 0}};
  for (const auto& c : cases) {
    {
      QSettings settings("Korvane", "vellumcast");
      settings.setValue("rebuild", c.rebuild);
    }
    form_.EditStartPath->setText(Q(scratch_.path()));
    form_.CheckBoxPrune->setChecked(c.prune_ticked);
    TDoneBoxWatcher boxes;
    form_.ButtonStart->click();
    const TThreadVellumcast* w = form_.Worker();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->options.rebuild, c.want_rebuild) << c.rebuild;
    EXPECT_EQ(w->options.prune, c.want_prune) << c.prune_ticked;
    FinishRun(boxes);
  }
  form_.SaveSettings();
  QSettings settings("Korvane", "vellumcast");
  EXPECT_EQ(settings.value("rebuild").toString(), "7");
}

// The cell captions and videos combos and the two location boxes reach the
// worker, in either style; each combo item carries the mode the command line
// names so.
TEST_F(FormRunTest, CaptionsAndLocationControlsReachTheWorker) {
  const struct {
    int captions_item;
    bool show, strip, modern;
    TCaptionsMode want_captions;
    int video_item;
    TVideoMode want_video;
  } cases[] = {
      {0, false, false, false, kCaptionsAuto, 0, kVideoTranscode},
      {1, true, false, false, kCaptionsTitle, 1, kVideoLink},
      {2, false, true, true, kCaptionsName, 2, kVideoOff},
      {1, true, true, true, kCaptionsTitle, 0, kVideoTranscode},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.captions_item);
    form_.EditStartPath->setText(Q(scratch_.path()));
    form_.CheckBoxModernStyle->setChecked(c.modern);
    form_.ComboBoxCaptions->setCurrentIndex(c.captions_item);
    form_.ComboBoxVideo->setCurrentIndex(c.video_item);
    form_.CheckBoxShowLocation->setChecked(c.show);
    form_.CheckBoxStripLocation->setChecked(c.strip);
    TDoneBoxWatcher boxes;
    form_.ButtonStart->click();
    const TThreadVellumcast* w = form_.Worker();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->options.captions, c.want_captions);
    EXPECT_EQ(w->options.video, c.want_video);
    EXPECT_EQ(w->options.showlocation, c.show);
    EXPECT_EQ(w->options.striplocation, c.strip);
    FinishRun(boxes);
  }
}

// As a user publishes a modern catalog from the window: with the boxes
// ticked the viewer page shows the place and the copy carries no GPS tags,
// and File names puts names under the cells; cleared again, the copy is made
// whole, the place leaves the page and the cell shows the photo's title.
TEST_F(FormRunTest, LocationAndCaptionChoicesShapeThePublishedCatalog) {
  TTestMetadata tram;
  tram.xmp = {{"Xmp.dc.title", "lang=x-default Tram at dawn"}};
  tram.exif = {{"Exif.GPSInfo.GPSLatitudeRef", "N"},
               {"Exif.GPSInfo.GPSLatitude", "38/1 42/1 36/1"},
               {"Exif.GPSInfo.GPSLongitudeRef", "W"},
               {"Exif.GPSInfo.GPSLongitude", "9/1 8/1 0/1"}};
  ASSERT_TRUE(WriteJpegWithMetadata(scratch_.Join("photos/tram.jpg"), tram));
  const std::string original = ReadFileBytes(scratch_.Join("photos/tram.jpg"));
  form_.EditStartPath->setText(Q(scratch_.Join("photos")));
  form_.CheckBoxModernStyle->setChecked(true);
  form_.EditOutputPath->setText(Q(scratch_.Join("site")));
  form_.RadioGroupImages->SetItemIndex(1);  // Copy

  // The viewer page of tram.jpg in the output folder, and the folder page.
  auto viewer = [&] {
    QDir site(Q(scratch_.Join("site")));
    for (const QString& name : site.entryList({"vellumcast-view-*.html"}, QDir::Files)) {
      const std::string page = ReadFileBytes(scratch_.Join("site/" + name.toStdString()));
      if (page.find("tram.jpg") != std::string::npos) return page;
    }
    return std::string();
  };
  auto copy_has_location = [&] {
    TPhotoText text;
    std::vector<TPhotoTextWarning> warnings;
    EXPECT_TRUE(ReadPhotoText(scratch_.Join("site").c_str(), "tram.jpg", &text, &warnings));
    EXPECT_EQ(text.title, "Tram at dawn");  // the rest of the metadata stays
    return text.has_location;
  };
  const struct {
    int captions_item;
    bool ticked;
    const char* cell;
  } runs[] = {
      {2, true, "<span class=\"vc-caption\">tram.jpg</span>"},
      {0, false, "<span class=\"vc-caption vc-titled\" title=\"Tram at dawn\">Tram at dawn</span>"},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.ticked);
    form_.ComboBoxCaptions->setCurrentIndex(r.captions_item);
    form_.CheckBoxShowLocation->setChecked(r.ticked);
    form_.CheckBoxStripLocation->setChecked(r.ticked);
    TDoneBoxWatcher boxes;
    form_.ButtonStart->click();
    FinishRun(boxes);
    const std::string page = viewer();
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page.find("openstreetmap.org/?mlat=38.710000") != std::string::npos, r.ticked);
    EXPECT_EQ(copy_has_location(), !r.ticked);
    const std::string folder = ReadFileBytes(scratch_.Join("site/vellumcast.html"));
    EXPECT_NE(folder.find(r.cell), std::string::npos) << folder;
  }
  EXPECT_EQ(ReadFileBytes(scratch_.Join("photos/tram.jpg")), original);  // the original untouched
}

TEST_F(FormRunTest, UntickedTemplatesAndNoSortSelection) {
  form_.EditStartPath->setText(Q(scratch_.path()));
  form_.CheckBoxHeaderTemplate->setChecked(false);
  form_.EditHeaderFileName->setText("/t/head.html");
  form_.CheckBoxFooterTemplate->setChecked(false);
  form_.EditFooterFileName->setText("/t/foot.html");
  form_.CheckBoxThumbWhite->setChecked(false);
  form_.RadioGroupSort->SetItemIndex(-1);
  form_.EditCellWidth->setText("abc");
  form_.EditCellHeight->setText("");
  form_.EditCellsPerRow->setText("12x");
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* w = form_.Worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->options.headertemplate, "");
  EXPECT_EQ(w->options.footertemplate, "");
  EXPECT_EQ(w->options.thumbwhite, 0);
  EXPECT_EQ(w->options.sort, -1);
  EXPECT_EQ(w->options.cellwidth, 0);
  EXPECT_EQ(w->options.cellheight, 0);
  EXPECT_EQ(w->options.cellsperrow, 0);
  FinishRun(boxes);
}

// root: top.bmp, a/x.bmp, a/y.gif, b/z.bmp, empty/ -> 3 subfolders walked,
// 4 cells, 3 folders with pages.
TEST_F(FormRunTest, RunOnSmallTreeShowsCountersBoxAndWritesPages) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("top.bmp"), 8, 6));
  ASSERT_TRUE(MakeDirs(scratch_.Join("a")) && MakeDirs(scratch_.Join("b")) && MakeDirs(scratch_.Join("empty")));
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("a/x.bmp"), 8, 6));
  ASSERT_TRUE(WriteTestGif(scratch_.Join("a/y.gif"), 5, 9));
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("b/z.bmp"), 4, 4));
  form_.EditStartPath->setText(Q(scratch_.path()));
  form_.CheckBoxCreateThumbs->setChecked(true);

  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  FinishRun(boxes);
  ASSERT_EQ(boxes.Seen().size(), 1);
  EXPECT_EQ(boxes.Seen()[0].text, kDoneText);
  EXPECT_EQ(boxes.Seen()[0].caption, "Done!");
  EXPECT_EQ(boxes.Seen()[0].buttons, static_cast<int>(QMessageBox::Ok));
  EXPECT_EQ(boxes.Seen()[0].icon, static_cast<int>(QMessageBox::NoIcon));

  EXPECT_EQ(form_.EditDirs->text(), "3");
  EXPECT_EQ(form_.EditFiles->text(), "4");
  EXPECT_EQ(form_.EditIndices->text(), "3");
  for (const char* page : {"vellumcast.html", "a/vellumcast.html", "b/vellumcast.html", "a/imageback.html"}) {
    EXPECT_TRUE(FileExists(scratch_.Join(page))) << page;
  }
  EXPECT_FALSE(FileExists(scratch_.Join("empty/vellumcast.html")));
  EXPECT_TRUE(FileExists(scratch_.Join("a/quarto_tn/quarto_tn0.jpg")) ||
              FileExists(scratch_.Join("a/quarto_tn/quarto_tn1.jpg")));
  EXPECT_NE(ReadFileBytes(scratch_.Join("a/vellumcast.html")).find("x.bmp"), std::string::npos);

  // The counters stay until the next run's first progress message.
  SpinFor(100);
  EXPECT_EQ(form_.EditFiles->text(), "4");
}

TEST_F(FormRunTest, SecondStartDuringARunIsIgnored) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("one.bmp"), 4, 4));
  form_.EditStartPath->setText(Q(scratch_.path()));
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* first = form_.Worker();
  ASSERT_NE(first, nullptr);
  form_.EditStartPath->setText("/elsewhere");
  form_.ButtonStart->click();
  EXPECT_EQ(form_.Worker(), first);
  EXPECT_EQ(form_.Worker()->options.path, scratch_.path());
  FinishRun(boxes);
  SpinFor(300);  // a second run would have shown a second box by now
  EXPECT_EQ(boxes.Count(), 1);
  EXPECT_EQ(form_.EditFiles->text(), "1");

  // Idle again: the next Start runs.
  form_.EditStartPath->setText(Q(scratch_.path()));
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  FinishRun(boxes, 2);
}

TEST_F(FormRunTest, CancelWhenIdleDoesNothing) {
  form_.EditDirs->setText("7");
  TDoneBoxWatcher boxes;
  form_.ButtonCancel->click();
  SpinFor(100);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_EQ(form_.Worker(), nullptr);
  EXPECT_EQ(form_.EditDirs->text(), "7");
}

TEST_F(FormRunTest, CancelDuringARunEndsWithTheBox) {
  // Enough folders with thumbnails that the run cannot be over before Cancel.
  constexpr int kFolders = 300;
  for (int i = 0; i < kFolders; ++i) {
    ASSERT_TRUE(WriteTestBmp24(scratch_.Join("f" + std::to_string(i) + "/p.bmp"), 64, 48));
  }
  form_.EditStartPath->setText(Q(scratch_.path()));
  form_.CheckBoxCreateThumbs->setChecked(true);
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  form_.ButtonCancel->click();
  EXPECT_NE(form_.Worker(), nullptr);  // still running until its done message
  FinishRun(boxes);
  ASSERT_EQ(boxes.Seen().size(), 1);
  EXPECT_EQ(boxes.Seen()[0].text, kDoneText);
  int paged = 0;
  for (int i = 0; i < kFolders; ++i) paged += FileExists(scratch_.Join("f" + std::to_string(i) + "/vellumcast.html"));
  EXPECT_LT(paged, kFolders);
  const QString dirs = form_.EditDirs->text();
  SpinFor(100);
  EXPECT_EQ(form_.EditDirs->text(), dirs);  // counters no longer rise
}

TEST_F(FormRunTest, ClosingDuringARunStopsWaitsAndSaves) {
  constexpr int kFolders = 200;
  for (int i = 0; i < kFolders; ++i) {
    ASSERT_TRUE(WriteTestBmp24(scratch_.Join("f" + std::to_string(i) + "/p.bmp"), 64, 48));
  }
  TDoneBoxWatcher boxes;
  {
    TForm1 form;
    form.EditStartPath->setText(Q(scratch_.path()));
    form.CheckBoxCreateThumbs->setChecked(true);
    form.EditTitle->setText("closing");
    form.ButtonStart->click();
    ASSERT_NE(form.Worker(), nullptr);
  }  // destroyed mid-run
  // The worker has ended (no page is written any more) and no box came up.
  const auto count_pages = [&] {
    int paged = 0;
    for (int i = 0; i < kFolders; ++i) paged += FileExists(scratch_.Join("f" + std::to_string(i) + "/vellumcast.html"));
    return paged;
  };
  const int paged = count_pages();
  SpinFor(200);
  EXPECT_EQ(count_pages(), paged);
  EXPECT_LT(paged, kFolders);
  EXPECT_EQ(boxes.Count(), 0);
  TForm1 again;
  EXPECT_EQ(again.EditTitle->text(), "closing");
}

TEST_F(FormRunTest, ViewOpensTheTopPageOfTheStartingFolder) {
  CaptureOpenedUrls();
  form_.EditStartPath->setText("/srv/pics");
  form_.ButtonView->click();
  form_.EditStartPath->setText("/srv/pics/");
  form_.ButtonView->click();
  form_.EditStartPath->setText("");
  form_.ButtonView->click();
  ASSERT_EQ(opened_.size(), 3);
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile("/srv/pics/vellumcast.html"));
  EXPECT_EQ(opened_[1], opened_[0]);
  EXPECT_EQ(opened_[2], QUrl::fromLocalFile(QDir::current().absoluteFilePath("vellumcast.html")));

  form_.Panel1->Clicked();
  ASSERT_EQ(opened_.size(), 4);
  EXPECT_EQ(opened_[3], QUrl(QString::fromLatin1(kHomePageAddress)));
}

TEST_F(FormRunTest, PublishingTabReachesTheRunAndItsPages) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("a/x.bmp"), 40, 30));
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("top.bmp"), 40, 30));
  form_.EditStartPath->setText(Q(scratch_.path()));
  EXPECT_FALSE(form_.CheckBoxPrune->isChecked());
  form_.CheckBoxModernStyle->setChecked(true);
  EXPECT_TRUE(form_.CheckBoxPrune->isChecked());  // the modern style ticks it
  form_.EditFirstPage->setText(" index.html ");

  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* w = form_.Worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->options.style, 1);
  EXPECT_EQ(w->options.firstpage, "index.html");
  EXPECT_EQ(w->options.prune, 1);
  FinishRun(boxes);
  const std::string top = ReadFileBytes(scratch_.Join("index.html"));
  EXPECT_EQ(top.rfind("<!doctype html>", 0), 0u);
  EXPECT_NE(top.find("<a href=\"a/index.html\">"), std::string::npos);
  EXPECT_FALSE(FileExists(scratch_.Join("vellumcast.html")));

  // View opens the page under the name the run gave it.
  CaptureOpenedUrls();
  form_.ButtonView->click();
  form_.EditFirstPage->setText("start.html");  // no such page written: the default name
  form_.ButtonView->click();
  ASSERT_EQ(opened_.size(), 2);
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile(Q(scratch_.Join("index.html"))));
  EXPECT_EQ(opened_[1], QUrl::fromLocalFile(Q(scratch_.Join("vellumcast.html"))));
}

TEST_F(FormRunTest, BadFirstPageNameStartsNoRun) {
  form_.EditStartPath->setText(Q(scratch_.path()));
  for (const char* bad : {"", "index", "../index.html", "vellumcast1.html", "my page.html"}) {
    form_.EditFirstPage->setText(bad);
    form_.ButtonStart->click();
    EXPECT_EQ(form_.Worker(), nullptr) << bad;
    auto* box = form_.findChild<QMessageBox*>("MessageBoxFirstPage");
    ASSERT_NE(box, nullptr) << bad;
    EXPECT_TRUE(box->text().contains("index.html"));
    EXPECT_EQ(form_.PageControl1->currentWidget(), form_.TabSheetPublishing);
    box->done(QMessageBox::Ok);
    SpinFor(20);  // the closed box deletes itself
  }
}

TEST_F(FormRunTest, CleanRemovesGeneratedFilesButNotDuringARun) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("a/p.bmp"), 4, 4));
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("quiet/imageback.html"), "old"));
  form_.EditStartPath->setText(Q(scratch_.path()));
  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  form_.ButtonClean->click();  // ignored: a run is under way
  EXPECT_TRUE(FileExists(scratch_.Join("quiet/imageback.html")));
  FinishRun(boxes);
  EXPECT_TRUE(FileExists(scratch_.Join("a/vellumcast.html")));

  form_.ButtonClean->click();
  EXPECT_FALSE(FileExists(scratch_.Join("quiet/imageback.html")));
  EXPECT_FALSE(FileExists(scratch_.Join("a/vellumcast.html")));
  EXPECT_TRUE(FileExists(scratch_.Join("a/p.bmp")));
  EXPECT_EQ(boxes.Count(), 1);  // Clean shows nothing
}

TEST_F(FormRunTest, BrowseTakesTheDialogsPathOnlyOnOk) {
  form_.EditStartPath->setText(Q(scratch_.path()));
  {
    TModalWatcher watcher([](QWidget* w) { return qobject_cast<TFormBrowse*>(w) != nullptr; },
                          [&](QWidget* w) {
                            auto* dialog = qobject_cast<TFormBrowse*>(w);
                            // Opened on the starting path.
                            EXPECT_EQ(dialog->EditBrowseName->text(), Q(scratch_.path()));
                            dialog->EditBrowseName->setText("/typed/by hand");
                            dialog->Button2->click();
                          });
    form_.ButtonBrowse->click();
    EXPECT_EQ(watcher.Handled(), 1);
  }
  EXPECT_EQ(form_.EditStartPath->text(), "/typed/by hand");
  {
    TModalWatcher watcher([](QWidget* w) { return qobject_cast<TFormBrowse*>(w) != nullptr; },
                          [&](QWidget* w) {
                            auto* dialog = qobject_cast<TFormBrowse*>(w);
                            dialog->EditBrowseName->setText("/not/taken");
                            dialog->Button3->click();
                          });
    form_.ButtonBrowse->click();
    EXPECT_EQ(watcher.Handled(), 1);
  }
  EXPECT_EQ(form_.EditStartPath->text(), "/typed/by hand");
  EXPECT_TRUE(form_.findChildren<TFormBrowse*>().isEmpty());  // destroyed after use
}

TEST_F(FormRunTest, TemplateChoosersPutTheFullPathInTheirEdit) {
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("tpl/head.html"), "<html><body>"));
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("tpl/foot.htm"), "<body></html>"));
  struct TCase {
    QPushButton* button;
    QFileDialog* dialog;
    QLineEdit* edit;
    QCheckBox* tick;
    std::string file;
  };
  for (const TCase& c : {TCase{form_.ButtonHeaderBrowse, form_.OpenDialogHeader, form_.EditHeaderFileName,
                               form_.CheckBoxHeaderTemplate, "tpl/head.html"},
                         TCase{form_.ButtonFooterBrowse, form_.OpenDialogFooter, form_.EditFooterFileName,
                               form_.CheckBoxFooterTemplate, "tpl/foot.htm"}}) {
    c.edit->setText(Q(scratch_.Join(c.file)));
    c.tick->setChecked(false);
    TModalWatcher watcher([&](QWidget* w) { return w == c.dialog; },
                          [&](QWidget* w) {
                            auto* dialog = qobject_cast<QFileDialog*>(w);
                            // Starts from the edit's file.
                            EXPECT_EQ(QDir(dialog->directory()).absolutePath(), Q(scratch_.Join("tpl")));
                            dialog->selectFile(Q(scratch_.Join(c.file)));
                            static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own check runs
                          });
    c.button->click();
    EXPECT_EQ(watcher.Handled(), 1);
    EXPECT_EQ(c.edit->text(), Q(scratch_.Join(c.file)));
    EXPECT_FALSE(c.tick->isChecked());  // choosing a file does not tick the box
  }
  // Cancelling leaves the edit as it was.
  form_.EditHeaderFileName->setText("kept.html");
  TModalWatcher watcher([&](QWidget* w) { return w == form_.OpenDialogHeader; },
                        [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  form_.ButtonHeaderBrowse->click();
  EXPECT_EQ(watcher.Handled(), 1);
  EXPECT_EQ(form_.EditHeaderFileName->text(), "kept.html");
}

}  // namespace

namespace {

TEST_F(FormRunTest, OutputFolderAndImagesReachTheRunAndView) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("photos/a/x.bmp"), 40, 30));
  form_.EditStartPath->setText(Q(scratch_.Join("photos")));
  form_.EditOutputPath->setText(Q(scratch_.Join("site")));
  EXPECT_EQ(form_.RadioGroupImages->ItemIndex(), 0);  // linked by default
  form_.RadioGroupImages->SetItemIndex(1);

  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* w = form_.Worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->options.outputpath, scratch_.Join("site"));
  EXPECT_EQ(w->options.images, 1);
  FinishRun(boxes);
  EXPECT_TRUE(FileExists(scratch_.Join("site/a/vellumcast.html")));
  EXPECT_EQ(ReadFileBytes(scratch_.Join("site/a/x.bmp")), ReadFileBytes(scratch_.Join("photos/a/x.bmp")));
  EXPECT_FALSE(FileExists(scratch_.Join("photos/vellumcast.html")));

  // View opens the first page in the output folder.
  CaptureOpenedUrls();
  form_.ButtonView->click();
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile(Q(scratch_.Join("site/vellumcast.html"))));

  // Clean removes the catalog from the output folder, the copied original
  // with it, and leaves the photos.
  form_.ButtonClean->click();
  EXPECT_FALSE(FileExists(scratch_.Join("site/a/vellumcast.html")));
  EXPECT_FALSE(FileExists(scratch_.Join("site/a/x.bmp")));
  EXPECT_TRUE(FileExists(scratch_.Join("photos/a/x.bmp")));

  // Saved with the other settings and shown again by a new window.
  form_.SaveSettings();
  TForm1 again;
  EXPECT_EQ(again.EditOutputPath->text(), Q(scratch_.Join("site")));
  EXPECT_EQ(again.RadioGroupImages->ItemIndex(), 1);
}

TEST_F(FormRunTest, OutputBrowseTakesTheDialogsPathOnlyOnOk) {
  form_.EditStartPath->setText(Q(scratch_.path()));
  auto answer = [&](const char* typed, bool ok) {
    TModalWatcher watcher([](QWidget* w) { return qobject_cast<TFormBrowse*>(w) != nullptr; },
                          [&](QWidget* w) {
                            auto* dialog = qobject_cast<TFormBrowse*>(w);
                            dialog->EditBrowseName->setText(typed);
                            (ok ? dialog->Button2 : dialog->Button3)->click();
                          });
    form_.ButtonOutputBrowse->click();
    EXPECT_EQ(watcher.Handled(), 1);
  };
  answer("/srv/site", true);
  EXPECT_EQ(form_.EditOutputPath->text(), "/srv/site");
  answer("/not/taken", false);
  EXPECT_EQ(form_.EditOutputPath->text(), "/srv/site");
  EXPECT_EQ(form_.EditStartPath->text(), Q(scratch_.path()));
}

}  // namespace

namespace {

// The theme folder of the Publishing tab reaches the run, which renders the
// modern pages from it, and is saved under the key the command line reads.
TEST_F(FormRunTest, ThemeFolderReachesTheRunAndIsSaved) {
  ASSERT_TRUE(WriteTestBmp24(scratch_.Join("photos/a.bmp"), 40, 30));
  ASSERT_TRUE(WriteFileBytes(scratch_.Join("my theme/style.css"), "body { color: teal } /* my-theme-mark */\n"));
  form_.EditStartPath->setText(Q(scratch_.Join("photos")));
  form_.CheckBoxModernStyle->setChecked(true);
  form_.EditTheme->setText(Q(scratch_.Join("my theme")));

  TDoneBoxWatcher boxes;
  form_.ButtonStart->click();
  const TThreadVellumcast* w = form_.Worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->options.theme, scratch_.Join("my theme"));
  FinishRun(boxes);
  EXPECT_NE(ReadFileBytes(scratch_.Join("photos/vellumcast.html")).find("my-theme-mark"), std::string::npos);

  form_.SaveSettings();
  EXPECT_EQ(QSettings("Korvane", "vellumcast").value("theme").toString(), Q(scratch_.Join("my theme")));
  TForm1 again;
  EXPECT_EQ(again.EditTheme->text(), Q(scratch_.Join("my theme")));

  // Emptied, the run takes the built-in theme again.
  form_.EditTheme->clear();
  form_.ButtonStart->click();
  ASSERT_NE(form_.Worker(), nullptr);
  EXPECT_EQ(form_.Worker()->options.theme, "");
  FinishRun(boxes, 2);
  EXPECT_EQ(ReadFileBytes(scratch_.Join("photos/vellumcast.html")).find("my-theme-mark"), std::string::npos);
}

TEST_F(FormRunTest, ThemeBrowseStartsFromTheFolderAndTakesTheDialogsPathOnlyOnOk) {
  const QString dark = Q(scratch_.Join("themes/dark"));
  ASSERT_TRUE(QDir().mkpath(dark));
  form_.EditStartPath->setText(Q(scratch_.path()));
  QString shown;
  auto answer = [&](const QString& typed, bool ok) {
    TModalWatcher watcher([](QWidget* w) { return qobject_cast<TFormBrowse*>(w) != nullptr; },
                          [&](QWidget* w) {
                            auto* dialog = qobject_cast<TFormBrowse*>(w);
                            shown = dialog->EditBrowseName->text();
                            dialog->EditBrowseName->setText(typed);
                            (ok ? dialog->Button2 : dialog->Button3)->click();
                          });
    form_.ButtonThemeBrowse->click();
    EXPECT_EQ(watcher.Handled(), 1);
  };
  answer(dark, true);
  EXPECT_EQ(shown, Q(scratch_.path()));  // no theme yet: opened on the starting folder
  EXPECT_EQ(form_.EditTheme->text(), dark);
  answer("/not/taken", false);
  EXPECT_EQ(shown, dark);  // opened on the chosen theme
  EXPECT_EQ(form_.EditTheme->text(), dark);
  EXPECT_EQ(form_.EditStartPath->text(), Q(scratch_.path()));
  EXPECT_EQ(form_.EditOutputPath->text(), "");
}

}  // namespace
