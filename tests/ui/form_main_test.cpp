// The main window: its controls, and the run control with a real worker.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "support/product.h"
#include "ui/click_panel.h"
#include "ui/form_browse.h"
#include "ui/form_main.h"
#include "ui/radio_group.h"
#include "ui_test_support.h"

namespace {

constexpr const char* kDoneText = "Indexing is complete. You may launch your browser with the <View> Button.";

struct TControlSpec {
  const char* name;
  const char* kind;    // class the control must inherit
  const char* parent;  // objectName of the widget it is placed in
  const char* text;    // caption or text; nullptr: not checked
  int left, top, width, height;  // width/height -1: natural size
};

// Every control, its kind, caption, parent and place.
const TControlSpec kControls[] = {
    {"PageControl1", "QTabWidget", "Form1", nullptr, 8, 8, 425, 321},
    {"Panel1", "TClickPanel", "Form1", kHomePageAddress, 8, 336, 425, 41},
    // Run
    {"Label1", "QLabel", "TabSheetRun",
     "Welcome to Vellumcast! Begin by entering the starting path that you would like to create indices in below:",
     8, 16, 401, 25},
    {"Label2", "QLabel", "TabSheetRun", "Starting Path:", 8, 56, -1, -1},
    {"EditStartPath", "QLineEdit", "TabSheetRun", nullptr, 8, 72, 321, 21},
    {"ButtonBrowse", "QPushButton", "TabSheetRun", "Browse", 336, 72, 75, 25},
    {"Label3", "QLabel", "TabSheetRun",
     "Press the <Start> button to being indexing. It will probably take several minutes. Indexing will create two "
     "html files in each subdirectory. Press <Cancel> at any time to abort.",
     8, 112, 409, 49},
    {"Label4", "QLabel", "TabSheetRun", "Directories Processed:", 8, 160, -1, -1},
    {"Label5", "QLabel", "TabSheetRun", "Files Processed:", 144, 160, -1, -1},
    {"Label6", "QLabel", "TabSheetRun", "Indices Created:", 280, 160, -1, -1},
    {"EditDirs", "QLineEdit", "TabSheetRun", "", 8, 176, 129, 21},
    {"EditFiles", "QLineEdit", "TabSheetRun", "", 144, 176, 129, 21},
    {"EditIndices", "QLineEdit", "TabSheetRun", "", 280, 176, 129, 21},
    {"ButtonStart", "QPushButton", "TabSheetRun", "Start", 8, 256, 75, 25},
    {"ButtonCancel", "QPushButton", "TabSheetRun", "Cancel", 88, 256, 75, 25},
    {"ButtonView", "QPushButton", "TabSheetRun", "View", 168, 256, 75, 25},
    // Table Setup
    {"Label7", "QLabel", "TabSheet1", "Cell Width (pixels):", 8, 24, -1, -1},
    {"EditCellWidth", "QLineEdit", "TabSheet1", nullptr, 8, 40, 121, 21},
    {"Label8", "QLabel", "TabSheet1", "Cell Height (pixels):", 136, 24, -1, -1},
    {"EditCellHeight", "QLineEdit", "TabSheet1", nullptr, 136, 40, 121, 21},
    {"Label9", "QLabel", "TabSheet1", "Cells per row:", 8, 72, -1, -1},
    {"EditCellsPerRow", "QLineEdit", "TabSheet1", nullptr, 8, 88, 121, 21},
    {"Label10", "QLabel", "TabSheet1", "Rows per page:", 136, 72, -1, -1},
    {"EditRowsPerPage", "QLineEdit", "TabSheet1", nullptr, 136, 88, 121, 21},
    {"CheckBoxCenterTable", "QCheckBox", "TabSheet1", "Center the Image Table", 8, 128, -1, -1},
    {"CheckBoxCenterNavBar", "QCheckBox", "TabSheet1", "Center the Navigation Bar", 8, 144, -1, -1},
    {"CheckBoxIncludeFileNames", "QCheckBox", "TabSheet1", "Include filenames in each cell", 8, 160, -1, -1},
    {"LabelCaptions", "QLabel", "TabSheet1", "Text under each photo:", 8, 192, -1, -1},
    {"ComboBoxCaptions", "QComboBox", "TabSheet1", nullptr, 8, 208, 321, 21},
    // Clean
    {"Label11", "QLabel", "TabSheet2",
     "Pressing the <Clean> button will remove all of the vellumcast*.html files that have been created. It is "
     "useful if you've decided you no longer want those files.",
     8, 16, 401, 33},
    {"Label12", "QLabel", "TabSheet2",
     "Only files located within your \"starting path\" (see the \"Run\" page) will be deleted. Only files created "
     "by Vellumcast will be deleted.",
     8, 48, 401, 33},
    {"ButtonClean", "QPushButton", "TabSheet2", "Clean", 8, 88, 75, 25},
    // Thumbnails
    {"Label13", "QLabel", "TabSheet3",
     "There are two ways in which thumbnails may be displayed in the catalogs. The easiest method is just to let "
     "the browser resize the images itself. The browser will read the full-size image from disk and resize it "
     "automatically when it is displayed.",
     8, 16, 401, 41},
    {"Label14", "QLabel", "TabSheet3",
     "This works well as long as you are viewing the catalogs from your own local computer. However, if the "
     "catalogs are to be stored on a web server, then users will experience delays as the full-size images are "
     "downloaded and displayed. ",
     8, 64, 401, 41},
    {"Label15", "QLabel", "TabSheet3",
     "The second option is to actually create thumbnail file which you may upload to your website. These files "
     "will be resized already, and the user will receive a speedy download.",
     8, 112, 401, 41},
    {"Label16", "QLabel", "TabSheet3",
     "The bottom line: If you want to view indicies from your local hard drive, leave the following option "
     "unchecked. If you want to upload the indices to a website, then check the following option.",
     8, 160, 401, 41},
    {"CheckBoxCreateThumbs", "QCheckBox", "TabSheet3", "Create thumbnail files (i.e. for upload to a web server)",
     8, 216, -1, -1},
    {"Label23", "QLabel", "TabSheet3", "Thumbnail Options:", 8, 248, -1, -1},
    {"CheckBoxThumbWhite", "QCheckBox", "TabSheet3", "Use White instead of Black for thumbnail backgrounds", 32,
     264, -1, -1},
    // Header/Footer
    {"GroupBox1", "QGroupBox", "TabSheetHeader", "Header", 8, 16, 401, 129},
    {"Label17", "QLabel", "GroupBox1", "Title:", 8, 24, -1, -1},
    {"EditTitle", "QLineEdit", "GroupBox1", nullptr, 8, 40, 385, 21},
    {"CheckBoxCenterTitle", "QCheckBox", "GroupBox1", "Center", 336, 22, -1, -1},
    {"CheckBoxHeaderTemplate", "QCheckBox", "GroupBox1", "Use HTML Template:", 8, 80, -1, -1},
    {"EditHeaderFileName", "QLineEdit", "GroupBox1", nullptr, 8, 96, 297, 21},
    {"ButtonHeaderBrowse", "QPushButton", "GroupBox1", "Browse", 312, 96, 75, 25},
    {"GroupBox2", "QGroupBox", "TabSheetHeader", "Footer", 8, 152, 401, 129},
    {"Label18", "QLabel", "GroupBox2", "Footer Text:", 8, 24, -1, -1},
    {"EditFooterText", "QLineEdit", "GroupBox2", nullptr, 8, 40, 385, 21},
    {"CheckBoxCenterFooter", "QCheckBox", "GroupBox2", "Center", 336, 22, -1, -1},
    {"CheckBoxFooterTemplate", "QCheckBox", "GroupBox2", "Use HTML Template:", 8, 80, -1, -1},
    {"EditFooterFileName", "QLineEdit", "GroupBox2", nullptr, 8, 96, 297, 21},
    {"ButtonFooterBrowse", "QPushButton", "GroupBox2", "Browse", 312, 96, 75, 24},
    // Hierarchy
    {"Label19", "QLabel", "TabSheetHierarchy",
     "Vellumcast! is able to create a hierarhchy of index pages where indices in parent directories point to "
     "indices in child directories. This enables a browser user to traverse multiple subdirectories within the "
     "indices.",
     8, 16, 401, 41},
    {"Label20", "QLabel", "TabSheetHierarchy",
     "However, if you're going to be uploading the indices to a website, and you intend on implementing your own "
     "hierarchy links, then you may wish to disable the automatic ones.",
     8, 64, 401, 41},
    {"Label21", "QLabel", "TabSheetHierarchy",
     "The View button on the \"run\" tab might not work anymore if you disable hierarchy links.", 8, 112, 401, 25},
    {"CheckBoxEnableHierarchyLinks", "QCheckBox", "TabSheetHierarchy", "Enable Hierarchy Links", 8, 152, -1, -1},
    {"CheckBoxEnableBackLinks", "QCheckBox", "TabSheetHierarchy", "Enable Back Links", 8, 168, -1, -1},
    {"CheckBoxDirFirstPageOnly", "QCheckBox", "TabSheetHierarchy", "Only display hierarchy on first catalog page",
     8, 184, -1, -1},
    {"RadioGroupSort", "TRadioGroup", "TabSheetHierarchy", "Sort Subdirectories by: ", 8, 216, 185, 57},
    {"CheckBoxFollowLinks", "QCheckBox", "TabSheetHierarchy", "Follow links out of the starting folder", 208, 224,
     -1, -1},
    // Publishing
    {"LabelPublishing", "QLabel", "TabSheetPublishing", nullptr, 8, 16, 401, 41},
    {"CheckBoxModernStyle", "QCheckBox", "TabSheetPublishing",
     "Modern style (pages for phones and desktops, photo viewer)", 8, 72, -1, -1},
    {"LabelFirstPage", "QLabel", "TabSheetPublishing", "First page name:", 8, 104, -1, -1},
    {"EditFirstPage", "QLineEdit", "TabSheetPublishing", nullptr, 8, 120, 185, 21},
    {"LabelTheme", "QLabel", "TabSheetPublishing", "Theme folder (empty: built-in):", 208, 104, -1, -1},
    {"EditTheme", "QLineEdit", "TabSheetPublishing", nullptr, 208, 120, 121, 21},
    {"ButtonThemeBrowse", "QPushButton", "TabSheetPublishing", "Browse", 336, 118, 75, 25},
    {"CheckBoxPrune", "QCheckBox", "TabSheetPublishing", "Remove generated files that a run no longer writes", 8,
     152, -1, -1},
    {"LabelOutputPath", "QLabel", "TabSheetPublishing", "Output folder (empty: write into the photo folders):", 8,
     184, -1, -1},
    {"EditOutputPath", "QLineEdit", "TabSheetPublishing", nullptr, 8, 200, 321, 21},
    {"ButtonOutputBrowse", "QPushButton", "TabSheetPublishing", "Browse", 336, 198, 75, 25},
    {"RadioGroupImages", "TRadioGroup", "TabSheetPublishing", "Photos in the output folder: ", 8, 228, 193, 61},
    {"GroupBoxLocation", "QGroupBox", "TabSheetPublishing", "Photo locations (GPS): ", 208, 228, 201, 61},
    {"CheckBoxShowLocation", "QCheckBox", "GroupBoxLocation", "Show on the viewer pages", 8, 18, -1, -1},
    {"CheckBoxStripLocation", "QCheckBox", "GroupBoxLocation", "Leave out of copied photos", 8, 37, -1, -1},
    // About
    {"Label22", "QLabel", "TabSheet4", nullptr, 95, 136, -1, -1},
    {"LabelVersion", "QLabel", "TabSheet4", "version 1.4", 168, 176, 81, -1},
};

QString TextOf(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(w)) return group->title();
  if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text();
  return {};
}

class FormMainTest : public ::testing::Test {
 protected:
  TSettingsSandbox sandbox_;
};

TEST_F(FormMainTest, WindowTabsAndPanel) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle(), "Vellumcast!");
  EXPECT_EQ(form.size(), QSize(439, 384));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // fixed size
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.font().pixelSize(), 11);

  const char* const tabs[][2] = {{"TabSheetRun", "Run"},       {"TabSheet1", "Table Setup"},
                                 {"TabSheet2", "Clean"},       {"TabSheet3", "Thumbnails"},
                                 {"TabSheetHeader", "Header/Footer"}, {"TabSheetHierarchy", "Hierarchy"},
                                 {"TabSheetPublishing", "Publishing"}, {"TabSheet4", "About"}};
  ASSERT_EQ(form.PageControl1->count(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(form.PageControl1->widget(i)->objectName(), tabs[i][0]);
    EXPECT_EQ(form.PageControl1->tabText(i), tabs[i][1]);
  }
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheetRun);
  // All eight tabs side by side, none scrolled out of sight.
  form.show();
  const QTabBar* bar = form.PageControl1->findChild<QTabBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_LE(bar->tabRect(7).right(), form.PageControl1->width() - 1);
  EXPECT_EQ(bar->tabRect(0).left(), 0);

  EXPECT_TRUE(form.Panel1->font().bold());
  EXPECT_TRUE(form.Panel1->font().underline());
  EXPECT_EQ(form.Panel1->font().pixelSize(), 19);
  EXPECT_EQ(form.Panel1->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(form.Panel1->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form.Label22->font().pixelSize(), 16);
  EXPECT_TRUE(form.Label22->font().bold());
  EXPECT_EQ(form.LabelVersion->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  EXPECT_EQ(form.EditDirs->palette().color(QPalette::Base), QColor(0, 255, 255));

  const char* const sort_items[] = {"Alphabetically", "Image Count"};
  ASSERT_EQ(form.RadioGroupSort->Count(), 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(form.RadioGroupSort->Item(i)->text(), sort_items[i]);
  // Both items inside the group's frame, below its caption, one above the other.
  QStyleOptionGroupBox option;
  option.initFrom(form.RadioGroupSort);
  option.text = form.RadioGroupSort->title();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect inside = form.RadioGroupSort->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                                    QStyle::SC_GroupBoxContents, form.RadioGroupSort);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(inside.contains(form.RadioGroupSort->Item(i)->geometry())) << i;
  EXPECT_LE(form.RadioGroupSort->Item(0)->geometry().bottom(), form.RadioGroupSort->Item(1)->geometry().top());

  for (const char* name : {"OpenDialogHeader", "OpenDialogFooter"}) {
    auto* dialog = form.findChild<QFileDialog*>(name);
    ASSERT_NE(dialog, nullptr) << name;
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Html Files (*htm*)"});
  }
}

TEST_F(FormMainTest, EveryControlByNameKindTextAndPlace) {
  TForm1 form;
  form.show();
  for (const TControlSpec& spec : kControls) {
    SCOPED_TRACE(spec.name);
    const QList<QWidget*> found = form.findChildren<QWidget*>(spec.name);
    // Label1 names one control here; the dialogs' Label1 are not children of the window.
    ASSERT_EQ(found.size(), 1);
    QWidget* w = found.first();
    EXPECT_TRUE(w->inherits(spec.kind)) << w->metaObject()->className();
    ASSERT_NE(w->parentWidget(), nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), spec.parent);
    if (spec.text != nullptr) {
      EXPECT_EQ(TextOf(w), QString::fromLatin1(spec.text));
    }
    EXPECT_EQ(w->pos(), QPoint(spec.left, spec.top));
    if (spec.width >= 0) {
      EXPECT_EQ(w->width(), spec.width);
    }
    if (spec.height >= 0) {
      EXPECT_EQ(w->height(), spec.height);
    }
    // Nothing sticks out of its parent, and a word-wrapped text fits its box.
    EXPECT_LE(w->geometry().right(), w->parentWidget()->width() - 1);
    EXPECT_LE(w->geometry().bottom(), w->parentWidget()->height() - 1);
    if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && label->wordWrap()) {
      // One pixel of slack: layout rounds fractional line heights up, while
      // the last line's descent leaves that pixel blank.
      EXPECT_LE(label->heightForWidth(label->width()), label->height() + 1);
      EXPECT_EQ(label->textFormat(), Qt::PlainText);
    } else if (spec.width < 0) {
      EXPECT_GE(w->width(), w->sizeHint().width());  // natural size: never cut
    }
  }
}

// The inside of a group box: below its caption, within its frame.
QRect GroupInside(QGroupBox* group) {
  QStyleOptionGroupBox option;
  option.initFrom(group);
  option.text = group->title();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  return group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, group);
}

// The two tabs that hold the cell captions and the location boxes: no control
// covers another, none is cut, and each says what it does in a tooltip.
TEST_F(FormMainTest, CaptionsAndLocationControlsFitTheirTabs) {
  TForm1 form;
  form.show();
  // A group places its items when it is shown: show the tab as a user does.
  form.PageControl1->setCurrentWidget(form.TabSheetPublishing);
  const QWidget* placed[] = {form.LabelCaptions,         form.ComboBoxCaptions,     form.RadioGroupImages,
                             form.GroupBoxLocation,      form.CheckBoxShowLocation, form.CheckBoxStripLocation,
                             form.LabelVideo,            form.ComboBoxVideo};
  for (const QWidget* control : placed) {
    EXPECT_TRUE(control->parentWidget()->rect().contains(control->geometry()))
        << control->objectName().toStdString() << " is cut by its tab";
    for (const QWidget* other : control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == control) continue;
      EXPECT_FALSE(control->geometry().intersects(other->geometry()))
          << control->objectName().toStdString() << " covers " << other->objectName().toStdString();
    }
  }
  // The boxes sit below the group's caption, inside its frame.
  const QRect inside = GroupInside(form.GroupBoxLocation);
  for (QCheckBox* box : {form.CheckBoxShowLocation, form.CheckBoxStripLocation}) {
    EXPECT_TRUE(inside.contains(box->geometry()))
        << box->objectName().toStdString() << " at " << box->geometry().top() << "+" << box->height() << " in "
        << inside.top() << "+" << inside.height();
    EXPECT_FALSE(box->toolTip().isEmpty());
  }
  // The narrower images group still shows each item whole.
  const QRect images_inside = GroupInside(form.RadioGroupImages);
  for (int i = 0; i < form.RadioGroupImages->Count(); ++i) {
    const QRadioButton* item = form.RadioGroupImages->Item(i);
    EXPECT_TRUE(images_inside.contains(item->geometry())) << i;
    EXPECT_GE(item->width(), item->sizeHint().width()) << item->text().toStdString();
  }
  // The combo is wide enough for its longest item; each item carries the
  // word the settings file and --captions use.
  EXPECT_GE(form.ComboBoxCaptions->width(), form.ComboBoxCaptions->sizeHint().width());
  EXPECT_FALSE(form.ComboBoxCaptions->toolTip().isEmpty());
  const char* const words[] = {"auto", "title", "name"};
  ASSERT_EQ(form.ComboBoxCaptions->count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(form.ComboBoxCaptions->itemData(i).toString(), words[i]);
  // The videos combo: the words of --video, the default first.
  EXPECT_GE(form.ComboBoxVideo->width(), form.ComboBoxVideo->sizeHint().width());
  EXPECT_FALSE(form.ComboBoxVideo->toolTip().isEmpty());
  const char* const modes[] = {"transcode", "link", "off"};
  ASSERT_EQ(form.ComboBoxVideo->count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(form.ComboBoxVideo->itemData(i).toString(), modes[i]);
}

}  // namespace
