#include "ui/form_main.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>

#include "engine/run/catalog_filter.h"
#include "engine/store/clean.h"
#include "engine/classic/template_reader.h"
#include "engine/store/first_page.h"
#include "engine/modern/theme.h"
#include "engine/publish/output_check.h"
#include "engine/store/generated_names.h"
#include "support/product.h"
#include "ui/click_panel.h"
#include "ui/form_browse.h"
#include "ui/int_parse.h"
#include "ui/path_text.h"
#include "ui/radio_group.h"
#include "ui/settings_store.h"
#include "ui/settings_table.h"

namespace {

constexpr const char* kDoneText = "Indexing is complete. You may launch your browser with the <View> Button.";
constexpr const char* kDoneCaption = "Done!";
constexpr const char* kRefusedCaption = "Vellumcast!";

bool Tick(const QCheckBox* box) { return box->isChecked(); }

int32_t Number(const QLineEdit* edit) { return StrToIntDef(edit->text(), 0); }

std::string FileNameBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

std::string TextBytes(const QString& text) { return text.toUtf8().toStdString(); }

// A message of the engine as a sentence of a message box.
QString Sentence(const std::string& message) {
  QString text = QString::fromLocal8Bit(message);
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text + QLatin1Char('.');
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), open_url_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  BuildControls();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::ConnectHandlers() {
  connect(ButtonStart, &QPushButton::clicked, this, &TForm1::ButtonStartClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &TForm1::ButtonCancelClick);
  connect(ButtonView, &QPushButton::clicked, this, &TForm1::ButtonViewClick);
  connect(ButtonClean, &QPushButton::clicked, this, &TForm1::ButtonCleanClick);
  connect(ButtonBrowse, &QPushButton::clicked, this, &TForm1::ButtonBrowseClick);
  connect(ButtonHeaderBrowse, &QPushButton::clicked, this, &TForm1::ButtonHeaderBrowseClick);
  connect(ButtonFooterBrowse, &QPushButton::clicked, this, &TForm1::ButtonFooterBrowseClick);
  connect(ButtonOutputBrowse, &QPushButton::clicked, this, &TForm1::ButtonOutputBrowseClick);
  connect(ButtonThemeBrowse, &QPushButton::clicked, this, &TForm1::ButtonThemeBrowseClick);
  connect(Panel1, &TClickPanel::Clicked, this, &TForm1::Panel1Click);
}

void TForm1::FormCreate() {
  PageControl1->setCurrentWidget(TabSheetRun);
  LoadSettings();
  LabelVersion->setText(QStringLiteral("version ") + QString::fromLatin1(kProductVersion));
}

void TForm1::FormDestroy() {
  // Never leave a worker writing pages after the window is gone: ask it to
  // stop, wait for its thread, and only then save.
  if (worker_) {
    worker_->Terminate();
    worker_.reset();
  }
  SaveSettings();
}

void TForm1::Post(uint32_t message) {
  if (message == WM_INDEX_PROGRESS) {
    QCoreApplication::postEvent(this, new QEvent(kIndexProgressEvent));
  } else if (message == WM_INDEX_DONE) {
    QCoreApplication::postEvent(this, new QEvent(kIndexDoneEvent));
  }
}

void TForm1::customEvent(QEvent* event) {
  if (event->type() == kIndexProgressEvent) {
    WMIndexProgress();
  } else if (event->type() == kIndexDoneEvent) {
    WMIndexDone();
  } else {
    QWidget::customEvent(event);
  }
}

void TForm1::ShowRefusal(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kRefusedCaption), text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("MessageBoxRefused"));
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool TForm1::RunCanStart() {
  const QString start = EditStartPath->text();
  const QFileInfo folder(start.isEmpty() ? QStringLiteral(".") : start);
  if (!folder.isDir()) {
    ShowRefusal(QStringLiteral("The starting folder \"%1\" %2.")
                    .arg(start, folder.exists() ? QStringLiteral("is not a folder") : QStringLiteral("does not exist")));
    return false;
  }
  const std::string header = CheckBoxHeaderTemplate->isChecked() ? FileNameBytes(EditHeaderFileName->text()) : "";
  const std::string footer = CheckBoxFooterTemplate->isChecked() ? FileNameBytes(EditFooterFileName->text()) : "";
  char unreadable[2048];
  if (DescribeUnreadableTemplate(header.c_str(), footer.c_str(), unreadable, sizeof unreadable)) {
    ShowRefusal(Sentence(unreadable));
    return false;
  }
  std::string overlap;
  if (!OutputFolderKeepsApart(FileNameBytes(start).c_str(), FileNameBytes(EditOutputPath->text().trimmed()).c_str(),
                              &overlap)) {
    ShowRefusal(Sentence(overlap));
    PageControl1->setCurrentWidget(TabSheetPublishing);
    return false;
  }
  // The theme is read where the run reads it: only for the modern style.
  const std::string theme = FileNameBytes(EditTheme->text().trimmed());
  if (Tick(CheckBoxModernStyle) && !theme.empty()) {
    TModernTheme loaded;
    TThemeError error;
    if (!loaded.Load(theme, &error)) {
      ShowRefusal(QStringLiteral("The theme cannot be used: ") + QString::fromLocal8Bit(error.Describe()) +
                  QLatin1Char('.'));
      PageControl1->setCurrentWidget(TabSheetPublishing);
      return false;
    }
  }
  return true;
}

void TForm1::ButtonStartClick() {
  if (worker_) return;  // one run at a time
  if (!RunCanStart()) return;
  const std::string first_page = TextBytes(EditFirstPage->text().trimmed());
  if (!IsValidFirstPageName(first_page.c_str())) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Publishing"),
                                QStringLiteral("The first page name must be a file name of letters, digits, "
                                               "'.', '-' and '_' ending in .html or .htm, such as index.html."),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("MessageBoxFirstPage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    PageControl1->setCurrentWidget(TabSheetPublishing);
    return;
  }
  // The counters show this run from its start.
  for (QLineEdit* counter : {EditDirs, EditFiles, EditIndices}) counter->setText(QStringLiteral("0"));
  worker_ = std::make_unique<TThreadVellumcast>();
  TThreadVellumcast& w = *worker_;
  w.ownerwindow = this;
  w.options.cellheight = Number(EditCellHeight);
  w.options.cellwidth = Number(EditCellWidth);
  w.options.cellsperrow = Number(EditCellsPerRow);
  w.options.path = FileNameBytes(EditStartPath->text());
  w.options.rowsperpage = Number(EditRowsPerPage);
  w.options.createthumbs = Tick(CheckBoxCreateThumbs);
  w.options.sort = RadioGroupSort->ItemIndex();
  w.options.centertable = Tick(CheckBoxCenterTable);
  w.options.centertitle = Tick(CheckBoxCenterTitle);
  w.options.centerfooter = Tick(CheckBoxCenterFooter);
  w.options.centernavbar = Tick(CheckBoxCenterNavBar);
  w.options.dirfirstpageonly = Tick(CheckBoxDirFirstPageOnly);
  w.options.includefilenames = Tick(CheckBoxIncludeFileNames);
  w.options.thumbwhite = CheckBoxThumbWhite->isChecked() ? 255 : 0;
  w.options.title = TextBytes(EditTitle->text());
  w.options.footertext = TextBytes(EditFooterText->text());
  w.options.headertemplate = CheckBoxHeaderTemplate->isChecked() ? FileNameBytes(EditHeaderFileName->text()) : std::string();
  w.options.footertemplate = CheckBoxFooterTemplate->isChecked() ? FileNameBytes(EditFooterFileName->text()) : std::string();
  w.options.blinks = Tick(CheckBoxEnableBackLinks);
  w.options.hlinks = Tick(CheckBoxEnableHierarchyLinks);
  w.options.followlinks = Tick(CheckBoxFollowLinks);
  {
    TSettingsStore store;
    store.StoreOpen(QString::fromLatin1(TVellumcastSettings::kStoreName));
    for (const TStoredRunFlag& flag : kStoredRunFlags) {
      w.options.*flag.field = store.StoreGetInt(QString::fromLatin1(flag.name), flag.int_default) != 0;
    }
    store.StoreClose();
  }
  w.options.style = Tick(CheckBoxModernStyle) ? kStyleModern : kStyleClassic;
  w.options.firstpage = first_page;
  w.options.prune = Tick(CheckBoxPrune) ? kSwitchOn : kSwitchOff;
  w.options.outputpath = FileNameBytes(EditOutputPath->text().trimmed());
  w.options.theme = FileNameBytes(EditTheme->text().trimmed());
  w.options.images = static_cast<TImagesMode>(std::clamp(RadioGroupImages->ItemIndex(), 0, 2));
  const std::string captions = ComboBoxCaptions->currentData().toString().toStdString();
  int32_t captions_mode = kCaptionsAuto;
  w.options.captions = ParseCaptionsMode(captions.c_str(), &captions_mode) ? static_cast<TCaptionsMode>(captions_mode)
                                                                            : kCaptionsAuto;
  const std::string video = ComboBoxVideo->currentData().toString().toStdString();
  int32_t video_mode = kVideoTranscode;
  w.options.video = ParseVideoMode(video.c_str(), &video_mode) ? static_cast<TVideoMode>(video_mode) : kVideoTranscode;
  w.options.showlocation = Tick(CheckBoxShowLocation);
  w.options.striplocation = Tick(CheckBoxStripLocation);
  ApplyRunSettings(w);  // after the style, whose defaults it follows
  // A thread that cannot be started never sends its done message: the window
  // must not wait for it and stays idle.
  if (!w.Start()) worker_.reset();
}

void TForm1::ButtonCancelClick() {
  if (worker_) worker_->Terminate();
}

void TForm1::ButtonViewClick() {
  // The first page under the chosen name when a run wrote it there; in the
  // output folder when one is set.
  const QString output = EditOutputPath->text().trimmed();
  const QString start = output.isEmpty() ? EditStartPath->text() : output;
  const std::string first_page = TextBytes(EditFirstPage->text().trimmed());
  if (IsValidFirstPageName(first_page.c_str())) {
    const QString named = QDir::cleanPath(QDir::current().absoluteFilePath(
        WithTrailingSeparator(start) + QString::fromStdString(first_page)));
    if (IsGeneratedPageContent(QFile::encodeName(named).constData())) {
      open_url_(QUrl::fromLocalFile(named));
      return;
    }
  }
  open_url_(QUrl::fromLocalFile(TopCatalogPage(start)));
}

void TForm1::ButtonCleanClick() {
  // Never delete files that a running worker is writing.
  if (worker_) return;
  // Pages under the first page name of the Publishing tab go too (only those
  // a run wrote), and so does a catalog written into the output folder.
  const std::string first_page = TextBytes(EditFirstPage->text().trimmed());
  TCleanOptions options;
  if (IsValidFirstPageName(first_page.c_str())) options.firstpage = first_page.c_str();
  DeleteGenerated(FileNameBytes(EditStartPath->text()).c_str(), options);
  const QString output = EditOutputPath->text().trimmed();
  if (!output.isEmpty()) DeleteGenerated(FileNameBytes(output).c_str(), options);
}

void TForm1::ButtonBrowseClick() {
  QString chosen = EditStartPath->text();
  TFormBrowse dialog(this, &chosen);
  if (dialog.exec() == QDialog::Accepted) EditStartPath->setText(chosen);
}

void TForm1::ButtonOutputBrowseClick() {
  QString chosen = EditOutputPath->text().isEmpty() ? EditStartPath->text() : EditOutputPath->text();
  TFormBrowse dialog(this, &chosen);
  if (dialog.exec() == QDialog::Accepted) EditOutputPath->setText(chosen);
}

void TForm1::ButtonThemeBrowseClick() {
  QString chosen = EditTheme->text().isEmpty() ? EditStartPath->text() : EditTheme->text();
  TFormBrowse dialog(this, &chosen);
  if (dialog.exec() == QDialog::Accepted) EditTheme->setText(chosen);
}

void TForm1::ButtonHeaderBrowseClick() { ChooseTemplate(OpenDialogHeader, EditHeaderFileName); }

void TForm1::ButtonFooterBrowseClick() { ChooseTemplate(OpenDialogFooter, EditFooterFileName); }

void TForm1::ChooseTemplate(QFileDialog* dialog, QLineEdit* edit) {
  const QString current = edit->text();
  if (!current.isEmpty()) {
    const QFileInfo info(current);
    if (info.dir().exists()) dialog->setDirectory(info.absolutePath());
    dialog->selectFile(info.fileName());
  }
  if (dialog->exec() != QDialog::Accepted) return;
  const QStringList files = dialog->selectedFiles();
  if (!files.isEmpty()) edit->setText(QFileInfo(files.first()).absoluteFilePath());
}

void TForm1::Panel1Click() { open_url_(QUrl(QString::fromLatin1(kHomePageAddress))); }

void TForm1::WMIndexProgress() {
  if (!worker_) return;
  EditFiles->setText(QString::number(worker_->counters.filecount.load()));
  EditDirs->setText(QString::number(worker_->counters.dircount.load()));
  EditIndices->setText(QString::number(worker_->counters.indexcount.load()));
}

void TForm1::WMIndexDone() {
  if (!worker_) return;  // only a run's own worker ends a run
  worker_->WaitFor();  // its thread's last act was this message
  // The final counters: the last folder may count after the last progress message.
  WMIndexProgress();
  const int32_t not_written = worker_->report.FailureCount();
  const int32_t videos = worker_->counters.videocount.load();
  const int32_t transcoded = worker_->counters.transcodedcount.load();
  worker_.reset();
  QString text = QString::fromLatin1(kDoneText);
  // Videos are counted apart from the photos (they are among the files processed).
  if (videos > 0) {
    text += QStringLiteral("\n%1 %2, %3 web %4 made.")
                .arg(videos)
                .arg(videos == 1 ? QStringLiteral("video") : QStringLiteral("videos"))
                .arg(transcoded)
                .arg(transcoded == 1 ? QStringLiteral("copy") : QStringLiteral("copies"));
  }
  if (not_written > 0) {
    text += QStringLiteral("\n%1 %2 could not be written.")
                .arg(not_written)
                .arg(not_written == 1 ? QStringLiteral("file") : QStringLiteral("files"));
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kDoneCaption), text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("MessageBoxDone"));
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
