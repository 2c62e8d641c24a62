// The main window's controls: names, texts and places of every tab.

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "support/product.h"
#include "ui/click_panel.h"
#include "ui/compact_tab_style.h"
#include "ui/form_main.h"
#include "ui/form_style.h"
#include "ui/path_text.h"
#include "ui/radio_group.h"

namespace {

constexpr const char* kTemplateFilter = "Html Files|*htm*";

QWidget* AddTab(QTabWidget* tabs, const char* name, const char* caption) {
  auto* page = new QWidget();
  page->setObjectName(QString::fromLatin1(name));
  tabs->addTab(page, QString::fromLatin1(caption));
  return page;
}

QLabel* WrappedLabel(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setTextFormat(Qt::PlainText);  // "<Start>" and the like are words, not tags
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QLabel* PlainLabel(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QCheckBox* CheckBox(const char* text, QWidget* parent) {
  return new QCheckBox(QString::fromLatin1(text), parent);
}

// A check box with a tooltip saying when it applies and what it does.
QCheckBox* CheckBox(const char* text, const char* tooltip, QWidget* parent) {
  QCheckBox* box = CheckBox(text, parent);
  box->setToolTip(QString::fromLatin1(tooltip));
  return box;
}

QPushButton* Button(const char* text, QWidget* parent) {
  return new QPushButton(QString::fromLatin1(text), parent);
}

// A counter box: aqua background, empty until the first progress message.
QLineEdit* CounterEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, QColor(0, 255, 255));
  palette.setColor(QPalette::Text, Qt::black);
  edit->setPalette(palette);
  return edit;
}

QFileDialog* TemplateDialog(const char* name, QWidget* parent) {
  auto* dialog = new QFileDialog(parent);
  dialog->setObjectName(QString::fromLatin1(name));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setNameFilter(QtNameFilter(QString::fromLatin1(kTemplateFilter)));
  return dialog;
}

}  // namespace

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Vellumcast!"));
  ApplyDialogStyle(this, QSize(439, 384), /*is_dialog=*/false);

  PageControl1 = Place(new QTabWidget(this), "PageControl1", 8, 8, 425, 321);
  if (auto* bar = PageControl1->findChild<QTabBar*>()) {
    auto* style = new TCompactTabStyle();
    style->setParent(bar);  // lives as long as the tab bar
    bar->setStyle(style);
  }
  BuildRunTab();
  BuildTableSetupTab();
  BuildCleanTab();
  BuildThumbnailsTab();
  BuildHeaderFooterTab();
  BuildHierarchyTab();
  BuildPublishingTab();
  BuildAboutTab();

  Panel1 = Place(new TClickPanel(QString::fromLatin1(kHomePageAddress), this), "Panel1", 8, 336, 425, 41);
  QFont link_font = Panel1->font();
  link_font.setPixelSize(19);
  link_font.setBold(true);
  link_font.setUnderline(true);
  Panel1->setFont(link_font);
  QPalette link_palette = Panel1->palette();
  link_palette.setColor(QPalette::WindowText, Qt::blue);
  Panel1->setPalette(link_palette);
  Panel1->setCursor(Qt::PointingHandCursor);

  OpenDialogHeader = TemplateDialog("OpenDialogHeader", this);
  OpenDialogFooter = TemplateDialog("OpenDialogFooter", this);
}

void TForm1::BuildRunTab() {
  QWidget* tab = TabSheetRun = AddTab(PageControl1, "TabSheetRun", "Run");
  Label1 = Place(WrappedLabel("Welcome to Vellumcast! Begin by entering the starting path that you would "
                              "like to create indices in below:", tab),
                 "Label1", 8, 16, 401, 25);
  Label2 = Place(PlainLabel("Starting Path:", tab), "Label2", 8, 56);
  EditStartPath = Place(new QLineEdit(tab), "EditStartPath", 8, 72, 321, 21);
  ButtonBrowse = Place(Button("Browse", tab), "ButtonBrowse", 336, 72, 75, 25);
  Label3 = Place(WrappedLabel("Press the <Start> button to being indexing. It will probably take several "
                              "minutes. Indexing will create two html files in each subdirectory. Press "
                              "<Cancel> at any time to abort.", tab),
                 "Label3", 8, 112, 409, 49);
  Label4 = Place(PlainLabel("Directories Processed:", tab), "Label4", 8, 160);
  Label5 = Place(PlainLabel("Files Processed:", tab), "Label5", 144, 160);
  Label6 = Place(PlainLabel("Indices Created:", tab), "Label6", 280, 160);
  EditDirs = Place(CounterEdit(tab), "EditDirs", 8, 176, 129, 21);
  EditFiles = Place(CounterEdit(tab), "EditFiles", 144, 176, 129, 21);
  EditIndices = Place(CounterEdit(tab), "EditIndices", 280, 176, 129, 21);
  ButtonStart = Place(Button("Start", tab), "ButtonStart", 8, 256, 75, 25);
  ButtonCancel = Place(Button("Cancel", tab), "ButtonCancel", 88, 256, 75, 25);
  ButtonView = Place(Button("View", tab), "ButtonView", 168, 256, 75, 25);
}

void TForm1::BuildTableSetupTab() {
  QWidget* tab = TabSheet1 = AddTab(PageControl1, "TabSheet1", "Table Setup");
  Label7 = Place(PlainLabel("Cell Width (pixels):", tab), "Label7", 8, 24);
  EditCellWidth = Place(new QLineEdit(tab), "EditCellWidth", 8, 40, 121, 21);
  Label8 = Place(PlainLabel("Cell Height (pixels):", tab), "Label8", 136, 24);
  EditCellHeight = Place(new QLineEdit(tab), "EditCellHeight", 136, 40, 121, 21);
  Label9 = Place(PlainLabel("Cells per row:", tab), "Label9", 8, 72);
  EditCellsPerRow = Place(new QLineEdit(tab), "EditCellsPerRow", 8, 88, 121, 21);
  Label10 = Place(PlainLabel("Rows per page:", tab), "Label10", 136, 72);
  EditRowsPerPage = Place(new QLineEdit(tab), "EditRowsPerPage", 136, 88, 121, 21);
  CheckBoxCenterTable = Place(CheckBox("Center the Image Table", tab), "CheckBoxCenterTable", 8, 128);
  CheckBoxCenterNavBar = Place(CheckBox("Center the Navigation Bar", tab), "CheckBoxCenterNavBar", 8, 144);
  CheckBoxIncludeFileNames =
      Place(CheckBox("Include filenames in each cell", tab), "CheckBoxIncludeFileNames", 8, 160);
  // Each item carries the word stored in the settings and taken by --captions.
  LabelCaptions = Place(PlainLabel("Text under each photo:", tab), "LabelCaptions", 8, 192);
  ComboBoxCaptions = new QComboBox(tab);
  ComboBoxCaptions->addItem(QStringLiteral("Automatic (modern style: photo titles, classic: file names)"),
                            QStringLiteral("auto"));
  ComboBoxCaptions->addItem(QStringLiteral("Photo titles in both styles"), QStringLiteral("title"));
  ComboBoxCaptions->addItem(QStringLiteral("File names"), QStringLiteral("name"));
  ComboBoxCaptions->setToolTip(
      QStringLiteral("What a cell shows under its photo. A photo's title comes from its metadata or a sidecar "
                     "file; a photo without one shows its file name (or its caption's first line). The classic "
                     "style shows no text when \"Include filenames in each cell\" is off."));
  Place(ComboBoxCaptions, "ComboBoxCaptions", 8, 208, 321, 21);
  // Each item carries the word stored under "video" and taken by --video.
  LabelVideo = Place(PlainLabel("Videos (modern style):", tab), "LabelVideo", 8, 236);
  ComboBoxVideo = new QComboBox(tab);
  ComboBoxVideo->addItem(QStringLiteral("Web copies of those browsers do not play"), QStringLiteral("transcode"));
  ComboBoxVideo->addItem(QStringLiteral("Linked as they are"), QStringLiteral("link"));
  ComboBoxVideo->addItem(QStringLiteral("Left out"), QStringLiteral("off"));
  ComboBoxVideo->setToolTip(
      QStringLiteral("Videos beside the photos get a poster thumbnail and a player page. A web copy (H.264 in "
                     "MP4) takes minutes of CPU per minute of video, once; the classic style lists no videos."));
  Place(ComboBoxVideo, "ComboBoxVideo", 8, 252, 321, 21);
}

void TForm1::BuildCleanTab() {
  QWidget* tab = TabSheet2 = AddTab(PageControl1, "TabSheet2", "Clean");
  Label11 = Place(WrappedLabel("Pressing the <Clean> button will remove all of the vellumcast*.html files "
                               "that have been created. It is useful if you've decided you no longer want "
                               "those files.", tab),
                  "Label11", 8, 16, 401, 33);
  Label12 = Place(WrappedLabel("Only files located within your \"starting path\" (see the \"Run\" page) will "
                               "be deleted. Only files created by Vellumcast will be deleted.", tab),
                  "Label12", 8, 48, 401, 33);
  ButtonClean = Place(Button("Clean", tab), "ButtonClean", 8, 88, 75, 25);
}

void TForm1::BuildThumbnailsTab() {
  QWidget* tab = TabSheet3 = AddTab(PageControl1, "TabSheet3", "Thumbnails");
  Label13 = Place(WrappedLabel("There are two ways in which thumbnails may be displayed in the catalogs. The "
                               "easiest method is just to let the browser resize the images itself. The "
                               "browser will read the full-size image from disk and resize it automatically "
                               "when it is displayed.", tab),
                  "Label13", 8, 16, 401, 41);
  Label14 = Place(WrappedLabel("This works well as long as you are viewing the catalogs from your own local "
                               "computer. However, if the catalogs are to be stored on a web server, then "
                               "users will experience delays as the full-size images are downloaded and "
                               "displayed. ", tab),
                  "Label14", 8, 64, 401, 41);
  Label15 = Place(WrappedLabel("The second option is to actually create thumbnail file which you may upload "
                               "to your website. These files will be resized already, and the user will "
                               "receive a speedy download.", tab),
                  "Label15", 8, 112, 401, 41);
  Label16 = Place(WrappedLabel("The bottom line: If you want to view indicies from your local hard drive, "
                               "leave the following option unchecked. If you want to upload the indices to "
                               "a website, then check the following option.", tab),
                  "Label16", 8, 160, 401, 41);
  CheckBoxCreateThumbs = Place(CheckBox("Create thumbnail files (i.e. for upload to a web server)", tab),
                               "CheckBoxCreateThumbs", 8, 216);
  Label23 = Place(PlainLabel("Thumbnail Options:", tab), "Label23", 8, 248);
  CheckBoxThumbWhite = Place(CheckBox("Use White instead of Black for thumbnail backgrounds", tab),
                             "CheckBoxThumbWhite", 32, 264);
}

void TForm1::BuildHeaderFooterTab() {
  QWidget* tab = TabSheetHeader = AddTab(PageControl1, "TabSheetHeader", "Header/Footer");
  GroupBox1 = Place(new QGroupBox(QStringLiteral("Header"), tab), "GroupBox1", 8, 16, 401, 129);
  Label17 = Place(PlainLabel("Title:", GroupBox1), "Label17", 8, 24);
  EditTitle = Place(new QLineEdit(GroupBox1), "EditTitle", 8, 40, 385, 21);
  CheckBoxCenterTitle = Place(CheckBox("Center", GroupBox1), "CheckBoxCenterTitle", 336, 22);
  CheckBoxHeaderTemplate = Place(CheckBox("Use HTML Template:", GroupBox1), "CheckBoxHeaderTemplate", 8, 80);
  EditHeaderFileName = Place(new QLineEdit(GroupBox1), "EditHeaderFileName", 8, 96, 297, 21);
  ButtonHeaderBrowse = Place(Button("Browse", GroupBox1), "ButtonHeaderBrowse", 312, 96, 75, 25);

  GroupBox2 = Place(new QGroupBox(QStringLiteral("Footer"), tab), "GroupBox2", 8, 152, 401, 129);
  Label18 = Place(PlainLabel("Footer Text:", GroupBox2), "Label18", 8, 24);
  EditFooterText = Place(new QLineEdit(GroupBox2), "EditFooterText", 8, 40, 385, 21);
  CheckBoxCenterFooter = Place(CheckBox("Center", GroupBox2), "CheckBoxCenterFooter", 336, 22);
  CheckBoxFooterTemplate = Place(CheckBox("Use HTML Template:", GroupBox2), "CheckBoxFooterTemplate", 8, 80);
  EditFooterFileName = Place(new QLineEdit(GroupBox2), "EditFooterFileName", 8, 96, 297, 21);
  ButtonFooterBrowse = Place(Button("Browse", GroupBox2), "ButtonFooterBrowse", 312, 96, 75, 24);
}

void TForm1::BuildHierarchyTab() {
  QWidget* tab = TabSheetHierarchy = AddTab(PageControl1, "TabSheetHierarchy", "Hierarchy");
  Label19 = Place(WrappedLabel("Vellumcast! is able to create a hierarhchy of index pages where indices in "
                               "parent directories point to indices in child directories. This enables a "
                               "browser user to traverse multiple subdirectories within the indices.", tab),
                  "Label19", 8, 16, 401, 41);
  Label20 = Place(WrappedLabel("However, if you're going to be uploading the indices to a website, and you "
                               "intend on implementing your own hierarchy links, then you may wish to "
                               "disable the automatic ones.", tab),
                  "Label20", 8, 64, 401, 41);
  Label21 = Place(WrappedLabel("The View button on the \"run\" tab might not work anymore if you disable "
                               "hierarchy links.", tab),
                  "Label21", 8, 112, 401, 25);
  CheckBoxEnableHierarchyLinks =
      Place(CheckBox("Enable Hierarchy Links", tab), "CheckBoxEnableHierarchyLinks", 8, 152);
  CheckBoxEnableBackLinks = Place(CheckBox("Enable Back Links", tab), "CheckBoxEnableBackLinks", 8, 168);
  CheckBoxDirFirstPageOnly = Place(CheckBox("Only display hierarchy on first catalog page", tab),
                                   "CheckBoxDirFirstPageOnly", 8, 184);
  RadioGroupSort = Place(new TRadioGroup(QStringLiteral("Sort Subdirectories by: "),
                                         {QStringLiteral("Alphabetically"), QStringLiteral("Image Count")}, tab),
                         "RadioGroupSort", 8, 216, 185, 57);
  CheckBoxFollowLinks = Place(CheckBox("Follow links out of the starting folder", tab), "CheckBoxFollowLinks",
                              208, 224);
}

void TForm1::BuildPublishingTab() {
  QWidget* tab = TabSheetPublishing = AddTab(PageControl1, "TabSheetPublishing", "Publishing");
  LabelPublishing = Place(WrappedLabel("The modern style writes pages that fit phones and desktops alike, with "
                                       "sharp thumbnails and a page per photo to step through them. The first "
                                       "page name index.html lets a web server open each folder's catalog.",
                                       tab),
                          "LabelPublishing", 8, 16, 401, 41);
  CheckBoxModernStyle =
      Place(CheckBox("Modern style (pages for phones and desktops, photo viewer)", tab), "CheckBoxModernStyle", 8, 72);
  LabelFirstPage = Place(PlainLabel("First page name:", tab), "LabelFirstPage", 8, 104);
  EditFirstPage = Place(new QLineEdit(tab), "EditFirstPage", 8, 120, 185, 21);
  LabelTheme = Place(PlainLabel("Theme folder (empty: built-in):", tab), "LabelTheme", 208, 104);
  EditTheme = Place(new QLineEdit(tab), "EditTheme", 208, 120, 121, 21);
  ButtonThemeBrowse = Place(Button("Browse", tab), "ButtonThemeBrowse", 336, 118, 75, 25);
  CheckBoxPrune = Place(CheckBox("Remove generated files that a run no longer writes", tab), "CheckBoxPrune", 8, 152);
  LabelOutputPath = Place(PlainLabel("Output folder (empty: write into the photo folders):", tab), "LabelOutputPath",
                          8, 184);
  EditOutputPath = Place(new QLineEdit(tab), "EditOutputPath", 8, 200, 321, 21);
  ButtonOutputBrowse = Place(Button("Browse", tab), "ButtonOutputBrowse", 336, 198, 75, 25);
  RadioGroupImages = Place(new TRadioGroup(QStringLiteral("Photos in the output folder: "),
                                           {QStringLiteral("Link to the photo folders"), QStringLiteral("Copy"),
                                            QStringLiteral("Hard link")},
                                           tab),
                           "RadioGroupImages", 8, 228, 193, 61);
  // Where a photo was taken: kept off every page and copy unless asked for.
  GroupBoxLocation = Place(new QGroupBox(QStringLiteral("Photo locations (GPS): "), tab), "GroupBoxLocation", 208,
                           228, 201, 61);
  CheckBoxShowLocation =
      Place(CheckBox("Show on the viewer pages",
                     "Modern style: a photo's page shows where it was taken (its coordinates, with a map link).",
                     GroupBoxLocation),
            "CheckBoxShowLocation", 8, 18);
  CheckBoxStripLocation =
      Place(CheckBox("Leave out of copied photos",
                     "With an output folder and \"Copy\" chosen: the copies are written without their GPS tags; "
                     "the originals stay as they are.",
                     GroupBoxLocation),
            "CheckBoxStripLocation", 8, 37);
  // The modern style wants stale thumbnails and viewer pages removed; the
  // box can still be cleared afterwards.
  connect(CheckBoxModernStyle, &QCheckBox::toggled, this, [this](bool modern) {
    if (modern) CheckBoxPrune->setChecked(true);
  });
}

void TForm1::BuildAboutTab() {
  QWidget* tab = TabSheet4 = AddTab(PageControl1, "TabSheet4", "About");
  Label22 = new QLabel(QStringLiteral("%1! by Korvane").arg(QString::fromLatin1(kProductName)), tab);
  QFont title_font = Label22->font();
  title_font.setPixelSize(16);
  title_font.setBold(true);
  Label22->setFont(title_font);
  Place(Label22, "Label22", 95, 136);
  LabelVersion = new QLabel(tab);
  LabelVersion->setAlignment(Qt::AlignCenter);
  Place(LabelVersion, "LabelVersion", 168, 176, 81, LabelVersion->fontMetrics().height() + 2);
}
