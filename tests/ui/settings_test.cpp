// The settings store and the window's loading and saving of its values.

#include <gtest/gtest.h>

#include "engine/run/catalog_filter.h"
#include "engine/run/image_order.h"
#include "engine/run/thread_vellumcast.h"

#include <memory>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>

#include "support/product.h"
#include "ui/form_main.h"
#include "ui/radio_group.h"
#include "ui/settings_store.h"
#include "ui/settings_table.h"
#include "ui_test_support.h"

namespace {

// What a control shows, as the text it would be stored from: edits their
// text, check boxes "0"/"1", the radio group its index, a combo box the word
// its item carries.
QString Shown(const TForm1& form, const TSettingDef& def) {
  const QString control = QString::fromLatin1(def.control);
  switch (def.kind) {
    case TSettingKind::kText:
    case TSettingKind::kNumber:
      return form.findChild<QLineEdit*>(control)->text();
    case TSettingKind::kFlag:
      return form.findChild<QCheckBox*>(control)->isChecked() ? "1" : "0";
    case TSettingKind::kSort:
    case TSettingKind::kChoice:
      return QString::number(form.findChild<TRadioGroup*>(control)->ItemIndex());
    case TSettingKind::kWord:
      return form.findChild<QComboBox*>(control)->currentData().toString();
  }
  return {};
}

QString DefaultShown(const TSettingDef& def) {
  return def.kind == TSettingKind::kText || def.kind == TSettingKind::kWord ? def.text_default
                                                                           : QString::number(def.int_default);
}

QSettings Store() { return QSettings("Korvane", "vellumcast"); }

class SettingsTest : public ::testing::Test {
 protected:
  TSettingsSandbox sandbox_;
  const TVellumcastSettings table_;
};

TEST_F(SettingsTest, TableHoldsEveryValueInOrder) {
  const char* const expected[] = {"path", "cellwidth", "cellheight", "cellsperrow", "rowsperpage", "createthumbs",
                                  "headertemplateenable", "headertemplate", "title", "footertemplateenable",
                                  "footertemplate", "footertext", "hlinks", "blinks", "sort", "centertable",
                                  "centertitle", "centerfooter", "centernavbar", "dirfirstpageonly",
                                  "includefilenames", "thumbwhite", "followlinks",
                                  "style", "firstpage", "prune", "outputpath", "images", "theme",
                                  "captions", "video", "showlocation", "striplocation"};
  ASSERT_EQ(std::size(expected), table_.Defs().size());
  for (size_t i = 0; i < std::size(expected); ++i) EXPECT_STREQ(table_.Defs()[i].name, expected[i]);
  EXPECT_EQ(table_.Find("title")->text_default, "Vellumcast!");
  EXPECT_EQ(table_.Find("footertext")->text_default,
            QString("Produced by Vellumcast! ") + QString::fromLatin1(kHomePageAddress));
  EXPECT_EQ(table_.Find("path")->text_default, TVellumcastSettings::DefaultStartPath());
  EXPECT_EQ(table_.Find("nosuchvalue"), nullptr);
}

TEST_F(SettingsTest, FirstStartShowsDefaultsAndStoresAllValues) {
  ASSERT_FALSE(QFile::exists(sandbox_.StoreFile()));
  TForm1 form;
  for (const TSettingDef& def : table_.Defs()) {
    EXPECT_EQ(Shown(form, def), DefaultShown(def)) << def.name;
  }
  // The exact defaults of a clean profile, spelled out once.
  EXPECT_EQ(form.EditCellWidth->text(), "140");
  EXPECT_EQ(form.EditCellHeight->text(), "100");
  EXPECT_EQ(form.EditCellsPerRow->text(), "4");
  EXPECT_EQ(form.EditRowsPerPage->text(), "4");
  EXPECT_EQ(form.RadioGroupSort->ItemIndex(), 1);
  EXPECT_FALSE(form.CheckBoxThumbWhite->isChecked());
  EXPECT_FALSE(form.CheckBoxModernStyle->isChecked());
  EXPECT_FALSE(form.CheckBoxPrune->isChecked());
  EXPECT_EQ(form.EditFirstPage->text(), "vellumcast.html");
  EXPECT_FALSE(form.CheckBoxHeaderTemplate->isChecked());
  EXPECT_TRUE(form.EditHeaderFileName->text().isEmpty());
  EXPECT_EQ(form.ComboBoxCaptions->currentData().toString(), "auto");
  EXPECT_FALSE(form.CheckBoxShowLocation->isChecked());
  EXPECT_FALSE(form.CheckBoxStripLocation->isChecked());

  // Before the user has changed anything, the store holds every value.
  ASSERT_TRUE(QFile::exists(sandbox_.StoreFile()));
  QSettings store = Store();
  EXPECT_EQ(store.allKeys().size(), TVellumcastSettings::kCount + TVellumcastSettings::kRunCount);
  for (const TSettingDef& def : table_.Defs()) {
    ASSERT_TRUE(store.contains(def.name)) << def.name;
    EXPECT_EQ(store.value(def.name).toString(), DefaultShown(def)) << def.name;
  }
}

TEST_F(SettingsTest, EveryValueRoundTripsThroughCloseAndStart) {
  {
    TForm1 form;
    form.EditStartPath->setText("/srv/pictures/2004");
    form.EditCellWidth->setText("200");
    form.EditCellHeight->setText("-3");
    form.EditCellsPerRow->setText("$10");  // stored as its value
    form.EditRowsPerPage->setText("0");
    form.CheckBoxCreateThumbs->setChecked(true);
    form.CheckBoxHeaderTemplate->setChecked(true);
    form.EditHeaderFileName->setText("/t/head.html");
    form.EditTitle->setText("My, \"own\" title; #1 = \\o/ @Variant(x) \u00e9\u4e2d");
    form.CheckBoxFooterTemplate->setChecked(true);
    form.EditFooterFileName->setText("/t/foot.htm");
    form.EditFooterText->setText("  spaced  ");
    form.CheckBoxEnableHierarchyLinks->setChecked(false);
    form.CheckBoxEnableBackLinks->setChecked(false);
    form.RadioGroupSort->SetItemIndex(0);
    form.CheckBoxCenterTable->setChecked(false);
    form.CheckBoxCenterTitle->setChecked(false);
    form.CheckBoxCenterFooter->setChecked(false);
    form.CheckBoxCenterNavBar->setChecked(false);
    form.CheckBoxDirFirstPageOnly->setChecked(false);
    form.CheckBoxIncludeFileNames->setChecked(false);
    form.CheckBoxThumbWhite->setChecked(true);
    form.CheckBoxFollowLinks->setChecked(true);
    form.CheckBoxModernStyle->setChecked(true);
    form.CheckBoxPrune->setChecked(false);  // cleared after the style ticked it
    form.EditFirstPage->setText("index.html");
    form.ComboBoxCaptions->setCurrentIndex(2);
    form.CheckBoxShowLocation->setChecked(true);
    form.CheckBoxStripLocation->setChecked(true);
    form.PageControl1->setCurrentWidget(form.TabSheet4);
  }
  TForm1 form;
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheetRun);  // always opens on Run
  EXPECT_EQ(form.EditStartPath->text(), "/srv/pictures/2004");
  EXPECT_EQ(form.EditCellWidth->text(), "200");
  EXPECT_EQ(form.EditCellHeight->text(), "-3");
  EXPECT_EQ(form.EditCellsPerRow->text(), "16");
  EXPECT_EQ(form.EditRowsPerPage->text(), "0");
  EXPECT_TRUE(form.CheckBoxCreateThumbs->isChecked());
  EXPECT_TRUE(form.CheckBoxHeaderTemplate->isChecked());
  EXPECT_EQ(form.EditHeaderFileName->text(), "/t/head.html");
  EXPECT_EQ(form.EditTitle->text(), QString("My, \"own\" title; #1 = \\o/ @Variant(x) \u00e9\u4e2d"));
  EXPECT_TRUE(form.CheckBoxFooterTemplate->isChecked());
  EXPECT_EQ(form.EditFooterFileName->text(), "/t/foot.htm");
  EXPECT_EQ(form.EditFooterText->text(), "  spaced  ");
  EXPECT_FALSE(form.CheckBoxEnableHierarchyLinks->isChecked());
  EXPECT_FALSE(form.CheckBoxEnableBackLinks->isChecked());
  EXPECT_EQ(form.RadioGroupSort->ItemIndex(), 0);
  EXPECT_FALSE(form.CheckBoxCenterTable->isChecked());
  EXPECT_FALSE(form.CheckBoxCenterTitle->isChecked());
  EXPECT_FALSE(form.CheckBoxCenterFooter->isChecked());
  EXPECT_FALSE(form.CheckBoxCenterNavBar->isChecked());
  EXPECT_FALSE(form.CheckBoxDirFirstPageOnly->isChecked());
  EXPECT_FALSE(form.CheckBoxIncludeFileNames->isChecked());
  EXPECT_TRUE(form.CheckBoxThumbWhite->isChecked());
  EXPECT_EQ(Store().value("thumbwhite").toInt(), 1);  // a tick is stored as 1
  EXPECT_TRUE(form.CheckBoxFollowLinks->isChecked());
  EXPECT_TRUE(form.CheckBoxModernStyle->isChecked());
  EXPECT_FALSE(form.CheckBoxPrune->isChecked());  // loading the style does not tick it again
  EXPECT_EQ(form.EditFirstPage->text(), "index.html");
  EXPECT_EQ(Store().value("style").toInt(), 1);
  EXPECT_EQ(Store().value("firstpage").toString(), "index.html");
  EXPECT_EQ(form.ComboBoxCaptions->currentIndex(), 2);
  EXPECT_EQ(Store().value("captions").toString(), "name");  // the word --captions takes
  EXPECT_TRUE(form.CheckBoxShowLocation->isChecked());
  EXPECT_EQ(Store().value("showlocation").toInt(), 1);
  EXPECT_TRUE(form.CheckBoxStripLocation->isChecked());
  EXPECT_EQ(Store().value("striplocation").toInt(), 1);
}

// The videos mode: a stored word of --video is shown, anything else shows the
// default; what is saved is the word --video and --settings read.
TEST_F(SettingsTest, VideoSettingLoadsAndSavesAsTheCommandLineReadsIt) {
  const struct {
    const char* stored;
    int shown_index;
    const char* saved;
  } cases[] = {
      {"transcode", 0, "transcode"}, {"link", 1, "link"}, {"off", 2, "off"},
      {"Off", 0, "transcode"},       {"", 0, "transcode"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    {
      QSettings store = Store();
      store.setValue("cellwidth", 140);  // not a new store: the value below is read
      store.setValue("video", c.stored);
    }
    {
      TForm1 form;
      EXPECT_EQ(form.ComboBoxVideo->currentIndex(), c.shown_index);
    }
    EXPECT_EQ(Store().value("video").toString(), c.saved);
  }
}

// The cell captions, shown location and stripped location: what a settings
// file holds (written by the command line's users or an earlier window) is
// shown, and saved back as the word or flag the command line reads.
TEST_F(SettingsTest, CaptionsAndLocationSettingsLoadAndSaveAsTheCommandLineReadsThem) {
  const struct {
    const char* captions;  // stored
    const char* show;
    const char* strip;
    int shown_index;        // combo item shown
    bool shown_show, shown_strip;
    const char* saved_captions;
    int saved_show, saved_strip;
  } cases[] = {
      {"auto", "0", "0", 0, false, false, "auto", 0, 0},
      {"title", "1", "0", 1, true, false, "title", 1, 0},
      {"name", "0", "1", 2, false, true, "name", 0, 1},
      // Unknown words and a case the command line refuses show the default.
      {"names", "7", "yes", 0, true, false, "auto", 1, 0},
      {"Title", "", "1", 0, false, true, "auto", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.captions);
    {
      QSettings store = Store();
      store.setValue("cellwidth", 140);  // not a new store: the values below are read
      store.setValue("captions", c.captions);
      store.setValue("showlocation", c.show);
      store.setValue("striplocation", c.strip);
    }
    {
      TForm1 form;
      EXPECT_EQ(form.ComboBoxCaptions->currentIndex(), c.shown_index);
      EXPECT_EQ(form.CheckBoxShowLocation->isChecked(), c.shown_show);
      EXPECT_EQ(form.CheckBoxStripLocation->isChecked(), c.shown_strip);
    }
    EXPECT_EQ(Store().value("captions").toString(), c.saved_captions);
    EXPECT_EQ(Store().value("showlocation").toString(), QString::number(c.saved_show));
    EXPECT_EQ(Store().value("striplocation").toString(), QString::number(c.saved_strip));
  }
}

TEST_F(SettingsTest, EmptyTextsStayEmpty) {
  {
    TForm1 form;
    form.EditTitle->clear();
    form.EditFooterText->clear();
    form.EditStartPath->clear();
  }
  TForm1 form;
  EXPECT_TRUE(form.EditTitle->text().isEmpty());
  EXPECT_TRUE(form.EditFooterText->text().isEmpty());
  EXPECT_TRUE(form.EditStartPath->text().isEmpty());
}

// Texts of any length are saved and read back whole, including those of 255
// characters and more.
TEST_F(SettingsTest, LongTextsAreReadBackWhole) {
  for (int length : {254, 255, 256, 300, 1023, 1024, 5000}) {
    const QString title(length, QChar('t'));
    const QString path = "/p/" + QString(length, QChar('d'));
    {
      TForm1 form;
      form.EditTitle->setText(title);
      form.EditStartPath->setText(path);
    }
    TForm1 form;
    EXPECT_EQ(form.EditTitle->text(), title) << length;
    EXPECT_EQ(form.EditStartPath->text(), path) << length;
  }
}

TEST_F(SettingsTest, BadNumbersAreStoredAsZero) {
  {
    TForm1 form;
    form.EditCellWidth->setText("abc");
    form.EditCellHeight->setText("140 ");
    form.EditCellsPerRow->setText("");
    form.EditRowsPerPage->setText("12x");
  }
  EXPECT_EQ(Store().value("cellwidth").toInt(), 0);
  TForm1 form;
  EXPECT_EQ(form.EditCellWidth->text(), "0");
  EXPECT_EQ(form.EditCellHeight->text(), "0");
  EXPECT_EQ(form.EditCellsPerRow->text(), "0");
  EXPECT_EQ(form.EditRowsPerPage->text(), "0");
}

TEST_F(SettingsTest, SortIsHeldToItsRange) {
  struct TCase {
    int stored;
    int shown;
  };
  for (const TCase c : {TCase{5, 1}, TCase{2, 1}, TCase{1, 1}, TCase{0, 0}, TCase{-1, -1}, TCase{-3, -1}}) {
    { TForm1 form; }  // a complete store
    Store().setValue("sort", c.stored);
    TForm1 form;
    EXPECT_EQ(form.RadioGroupSort->ItemIndex(), c.shown) << c.stored;
    EXPECT_EQ(form.RadioGroupSort->Item(0)->isChecked(), c.shown == 0);
    EXPECT_EQ(form.RadioGroupSort->Item(1)->isChecked(), c.shown == 1);
  }
  // Nothing selected is saved as -1.
  EXPECT_EQ(Store().value("sort").toInt(), -1);
}

TEST_F(SettingsTest, MissingValueShowsDefaultAndIsWrittenAtClose) {
  {
    TForm1 form;
    form.CheckBoxThumbWhite->setChecked(true);
    form.EditTitle->setText("kept");
  }
  Store().remove("thumbwhite");
  Store().remove("title");
  {
    TForm1 form;
    EXPECT_FALSE(form.CheckBoxThumbWhite->isChecked());
    EXPECT_EQ(form.EditTitle->text(), "Vellumcast!");
    // A later start of an existing store does not write the missing values...
    EXPECT_FALSE(Store().contains("thumbwhite"));
    EXPECT_FALSE(Store().contains("title"));
  }
  // ...the close does.
  EXPECT_EQ(Store().value("thumbwhite").toInt(), 0);
  EXPECT_EQ(Store().value("title").toString(), "Vellumcast!");
}

TEST_F(SettingsTest, UnreadableStoredValuesGiveTheDefault) {
  { TForm1 form; }
  {
    QSettings store = Store();
    store.setValue("cellwidth", "wide");
    store.setValue("cellheight", "99999999999");  // beyond 32 bits
    store.setValue("cellsperrow", "7");           // a number kept as text is fine
    store.setValue("hlinks", "yes");
  }
  TForm1 form;
  EXPECT_EQ(form.EditCellWidth->text(), "140");
  EXPECT_EQ(form.EditCellHeight->text(), "100");
  EXPECT_EQ(form.EditCellsPerRow->text(), "7");
  EXPECT_TRUE(form.CheckBoxEnableHierarchyLinks->isChecked());
}

TEST_F(SettingsTest, HandWrittenStoreIsReadAsWritten) {
  // A store edited by hand: an unquoted text with commas, odd spacing.
  ASSERT_TRUE(QDir().mkpath(sandbox_.Dir() + "/Korvane"));
  QFile file(sandbox_.StoreFile());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[General]\ntitle=Cats, dogs, birds\ncellwidth=  64\nsort=0\n");
  file.close();
  TForm1 form;
  EXPECT_EQ(form.EditTitle->text(), "Cats, dogs, birds");
  EXPECT_EQ(form.EditCellWidth->text(), "64");
  EXPECT_EQ(form.RadioGroupSort->ItemIndex(), 0);
  // An existing store: values it lacks are not written at start.
  EXPECT_FALSE(Store().contains("blinks"));
}

// Store files QSettings must not be given as they stand: a data-stream value
// whose length fields ask for tens of gigabytes (also spelled through an
// escape, or in another section), a line that cannot be read, a huge file.
struct TUnsafeStoreCase {
  const char* name;
  std::string text;
  bool carries_cell_width;  // the readable "cellwidth=64" survives
};

std::string HugeStoreText() {
  std::string text = "[General]\ncellwidth=64\n";
  while (text.size() <= (1u << 20)) text += "; a comment line that makes the file larger than any store\n";
  return text;
}

TEST_F(SettingsTest, UnsafeStoreFilesAreSetAsideAndReadableValuesKept) {
  const TUnsafeStoreCase cases[] = {
      {"variant list of 2^31 entries", "[General]\ncellwidth=64\nx=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xf0)\n", true},
      {"variant string of 4 GiB", "[General]\ncellwidth=64\nx=@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xf0)\n", true},
      {"variant behind an escape", "[General]\ncellwidth=64\nx=\\x40Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xf0)\n", true},
      {"variant in a list item", "[General]\ncellwidth=64\nx=a, @Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xf0)\n", true},
      {"date-time in another section", "[General]\ncellwidth=64\n[Other]\nwhen=@DateTime(\\0\\0\\0\\t\\x7f\\xff\\xff\\xf0)\n", true},
      {"a line without a value", "[General]\ncellwidth=64\nthis is no setting\n", true},
      {"larger than any store", HugeStoreText(), false},
  };
  for (const TUnsafeStoreCase& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(sandbox_.StoreFile());
    QFile::remove(sandbox_.StoreFile() + ".unreadable");
    ASSERT_TRUE(QDir().mkpath(sandbox_.Dir() + "/Korvane"));
    {
      QFile file(sandbox_.StoreFile());
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.text.data(), static_cast<qint64>(c.text.size()));
    }
    {
      TForm1 form;
      EXPECT_EQ(form.EditCellWidth->text(), c.carries_cell_width ? "64" : "140");
      EXPECT_EQ(form.EditTitle->text(), table_.Find("title")->text_default);
    }
    // The user's file is kept whole beside the fresh store.
    QFile kept(sandbox_.StoreFile() + ".unreadable");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll().toStdString(), c.text);
    QFile fresh(sandbox_.StoreFile());
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    const QByteArray written = fresh.readAll();
    EXPECT_FALSE(written.contains("Variant")) << written.toStdString();
    EXPECT_FALSE(written.contains("DateTime")) << written.toStdString();
    EXPECT_EQ(Store().value("cellwidth").toString(), c.carries_cell_width ? "64" : "140");
  }
}

TEST_F(SettingsTest, EachUnsafeStoreFileIsKeptUnderItsOwnName) {
  ASSERT_TRUE(QDir().mkpath(sandbox_.Dir() + "/Korvane"));
  const std::string texts[] = {"[General]\nx=@Variant(first)\n", "[General]\nx=@Variant(second)\n"};
  for (const std::string& text : texts) {
    QFile file(sandbox_.StoreFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.close();
    TSettingsStore store;
    store.StoreOpen("vellumcast");
  }
  QFile first(sandbox_.StoreFile() + ".unreadable");
  QFile second(sandbox_.StoreFile() + ".unreadable.2");
  ASSERT_TRUE(first.open(QIODevice::ReadOnly));
  ASSERT_TRUE(second.open(QIODevice::ReadOnly));
  EXPECT_EQ(first.readAll().toStdString(), texts[0]);
  EXPECT_EQ(second.readAll().toStdString(), texts[1]);
}

TEST_F(SettingsTest, StoreWritesDefaultsOnlyWhenNew) {
  {
    TSettingsStore store;
    store.StoreOpen("vellumcast");
    EXPECT_TRUE(store.IsNew());
    EXPECT_EQ(store.StoreGetInt("a", 7), 7);
    EXPECT_EQ(store.StoreGetText("b", "bee"), "bee");
  }
  {
    TSettingsStore store;
    store.StoreOpen("vellumcast");
    EXPECT_FALSE(store.IsNew());
    EXPECT_EQ(store.StoreGetInt("a", 9), 7);
    EXPECT_EQ(store.StoreGetText("b", "other"), "bee");
    EXPECT_EQ(store.StoreGetInt("c", 3), 3);
    store.StoreSetInt("c", -40);
    store.StoreSetText("d", "dee");
  }
  QSettings settings = Store();
  EXPECT_EQ(settings.value("c").toInt(), -40);
  EXPECT_EQ(settings.value("d").toString(), "dee");
  // Each store name is its own file below the organisation's folder.
  EXPECT_TRUE(QFile::exists(sandbox_.StoreFile()));
}

TEST_F(SettingsTest, UnwritableStoreStillOpensTheWindow) {
  // A file where the organisation's folder should be: nothing can be stored.
  QFile blocker(sandbox_.Dir() + "/Korvane");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  {
    TForm1 form;
    EXPECT_EQ(form.EditCellWidth->text(), "140");
    form.EditCellWidth->setText("50");
  }
  TForm1 form;
  EXPECT_EQ(form.EditCellWidth->text(), "140");
}

}  // namespace

namespace {

// The run settings without controls: what the store holds reaches the worker,
// and what cannot be read gives the classic behaviour.
struct TRunSettingsCase {
  const char* formats;
  const char* order;
  const char* exclude;
  int32_t want_formats;
  int32_t want_order;
  std::vector<std::string> want_exclude;
};

const TRunSettingsCase kRunSettingsCases[] = {
    {"all", "natural", "*.tmp;Private", 1, 1, {"*.tmp", "Private"}},
    {"classic", "date", "", 0, 2, {}},
    {"everything", "random", ";;a*;", 0, 0, {"a*"}},
};

}  // namespace

TEST_F(SettingsTest, RunSettingsLoadSaveAndReachTheWorker) {
  for (const TRunSettingsCase& c : kRunSettingsCases) {
    {
      QSettings store = Store();
      store.setValue("cellwidth", 140);  // not a new store: the values below are read
      store.setValue("formats", c.formats);
      store.setValue("order", c.order);
      store.setValue("exclude", c.exclude);
    }
    TForm1 form;
    form.LoadSettings();
    EXPECT_EQ(form.RunSetting(0), c.formats);
    TThreadVellumcast worker;
    form.ApplyRunSettings(worker);
    EXPECT_EQ(worker.options.formats, c.want_formats) << c.formats;
    EXPECT_EQ(worker.options.order, c.want_order) << c.order;
    EXPECT_EQ(worker.options.exclude, c.want_exclude) << c.exclude;
    EXPECT_EQ(worker.options.skiphidden, 0);
    form.SetRunSetting(1, "natural");
    form.SaveSettings();
    EXPECT_EQ(Store().value("order").toString(), "natural");
    EXPECT_EQ(Store().value("formats").toString(), c.formats);
  }
}

// Empty formats and order follow the style: classic files in name order for
// the classic style, every format in natural order for the modern one.
TEST_F(SettingsTest, FirstStartStoresTheRunSettingDefaults) {
  TForm1 form;
  form.LoadSettings();
  QSettings store = Store();
  EXPECT_EQ(store.value("formats").toString(), "");
  EXPECT_EQ(store.value("order").toString(), "");
  EXPECT_EQ(store.value("exclude").toString(), "");
  TThreadVellumcast classic;
  form.ApplyRunSettings(classic);
  EXPECT_EQ(classic.options.formats, kFormatsClassic);
  EXPECT_EQ(classic.options.order, kOrderName);
  TThreadVellumcast modern;
  modern.options.style = kStyleModern;
  form.ApplyRunSettings(modern);
  EXPECT_EQ(modern.options.formats, kFormatsAll);
  EXPECT_EQ(modern.options.order, kOrderNatural);
  EXPECT_EQ(modern.options.skiphidden, 1);
}
