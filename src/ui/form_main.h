#pragma once
// The main window: every setting of a run on eight tabs, the run control
// (Start, Cancel, progress counters, the completion box), View, Clean, the
// folder dialog and the template choosers. Settings are loaded when the
// window is created and saved when it is destroyed.

#include <functional>
#include <memory>

#include <QEvent>
#include <QWidget>

#include "engine/run/thread_vellumcast.h"
#include "platform/owner.h"
#include "ui/settings_table.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QUrl;
class TClickPanel;
class TRadioGroup;

// The worker's two notifications arrive as these queued events, carrying no
// data: the window reads what it needs from the worker.
inline constexpr QEvent::Type kIndexProgressEvent = static_cast<QEvent::Type>(QEvent::User + WM_INDEX_PROGRESS);
inline constexpr QEvent::Type kIndexDoneEvent = static_cast<QEvent::Type>(QEvent::User + WM_INDEX_DONE);

class TForm1 : public QWidget, public TOwnerWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  // Stops a run that is still going, waits for it, then saves the settings.
  ~TForm1() override;

  // Thread-safe and never blocking: queues the message for the window thread.
  void Post(uint32_t message) override;

  // How View and the panel hand an address to the desktop; by default
  // QDesktopServices::openUrl. Replaceable, e.g. to watch what would be opened.
  using TUrlOpener = std::function<bool(const QUrl&)>;
  void SetUrlOpener(TUrlOpener opener) { open_url_ = std::move(opener); }

  // The current run's worker, nullptr while idle.
  const TThreadVellumcast* Worker() const { return worker_.get(); }

  void LoadSettings();
  void SaveSettings();
  // The stored run settings without controls (TVellumcastSettings::kRunSettings), by index.
  const QString& RunSetting(int index) const { return run_settings_[index]; }
  void SetRunSetting(int index, const QString& text) { run_settings_[index] = text; }
  // Copies them into a worker: unreadable values give the classic defaults;
  // hidden folders are skipped with the modern style.
  void ApplyRunSettings(TThreadVellumcast& worker) const;

  QTabWidget* PageControl1;
  TClickPanel* Panel1;
  QFileDialog* OpenDialogHeader;
  QFileDialog* OpenDialogFooter;

  // Run
  QWidget* TabSheetRun;
  QLabel* Label1;
  QLabel* Label2;
  QLineEdit* EditStartPath;
  QPushButton* ButtonBrowse;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLineEdit* EditDirs;
  QLineEdit* EditFiles;
  QLineEdit* EditIndices;
  QPushButton* ButtonStart;
  QPushButton* ButtonCancel;
  QPushButton* ButtonView;
  // Table Setup
  QWidget* TabSheet1;
  QLabel* Label7;
  QLineEdit* EditCellWidth;
  QLabel* Label8;
  QLineEdit* EditCellHeight;
  QLabel* Label9;
  QLineEdit* EditCellsPerRow;
  QLabel* Label10;
  QLineEdit* EditRowsPerPage;
  QCheckBox* CheckBoxCenterTable;
  QCheckBox* CheckBoxCenterNavBar;
  QCheckBox* CheckBoxIncludeFileNames;
  QLabel* LabelCaptions;
  QComboBox* ComboBoxCaptions;
  QLabel* LabelVideo;
  QComboBox* ComboBoxVideo;
  // Clean
  QWidget* TabSheet2;
  QLabel* Label11;
  QLabel* Label12;
  QPushButton* ButtonClean;
  // Thumbnails
  QWidget* TabSheet3;
  QLabel* Label13;
  QLabel* Label14;
  QLabel* Label15;
  QLabel* Label16;
  QCheckBox* CheckBoxCreateThumbs;
  QLabel* Label23;
  QCheckBox* CheckBoxThumbWhite;
  // Header/Footer
  QWidget* TabSheetHeader;
  QGroupBox* GroupBox1;
  QLabel* Label17;
  QLineEdit* EditTitle;
  QCheckBox* CheckBoxCenterTitle;
  QCheckBox* CheckBoxHeaderTemplate;
  QLineEdit* EditHeaderFileName;
  QPushButton* ButtonHeaderBrowse;
  QGroupBox* GroupBox2;
  QLabel* Label18;
  QLineEdit* EditFooterText;
  QCheckBox* CheckBoxCenterFooter;
  QCheckBox* CheckBoxFooterTemplate;
  QLineEdit* EditFooterFileName;
  QPushButton* ButtonFooterBrowse;
  // Hierarchy
  QWidget* TabSheetHierarchy;
  QLabel* Label19;
  QLabel* Label20;
  QLabel* Label21;
  QCheckBox* CheckBoxEnableHierarchyLinks;
  QCheckBox* CheckBoxEnableBackLinks;
  QCheckBox* CheckBoxDirFirstPageOnly;
  TRadioGroup* RadioGroupSort;
  QCheckBox* CheckBoxFollowLinks;
  // Publishing
  QWidget* TabSheetPublishing;
  QLabel* LabelPublishing;
  QCheckBox* CheckBoxModernStyle;
  QLabel* LabelFirstPage;
  QLineEdit* EditFirstPage;
  QLabel* LabelTheme;
  QLineEdit* EditTheme;
  QPushButton* ButtonThemeBrowse;
  QCheckBox* CheckBoxPrune;
  QLabel* LabelOutputPath;
  QLineEdit* EditOutputPath;
  QPushButton* ButtonOutputBrowse;
  TRadioGroup* RadioGroupImages;
  QGroupBox* GroupBoxLocation;
  QCheckBox* CheckBoxShowLocation;
  QCheckBox* CheckBoxStripLocation;
  // About
  QWidget* TabSheet4;
  QLabel* Label22;
  QLabel* LabelVersion;

 protected:
  void customEvent(QEvent* event) override;

 private:
  void BuildControls();
  void BuildRunTab();
  void BuildTableSetupTab();
  void BuildCleanTab();
  void BuildThumbnailsTab();
  void BuildHeaderFooterTab();
  void BuildHierarchyTab();
  void BuildPublishingTab();
  void BuildAboutTab();
  void ConnectHandlers();

  void FormCreate();
  void FormDestroy();
  void ButtonStartClick();
  // False, after a message box saying why, when the starting folder does not
  // exist, a ticked template cannot be read, the output folder overlaps the
  // photo tree or the modern style's theme does not load: nothing is started
  // then.
  bool RunCanStart();
  void ShowRefusal(const QString& text);
  void ButtonCancelClick();
  void ButtonViewClick();
  void ButtonCleanClick();
  void ButtonBrowseClick();
  void ButtonHeaderBrowseClick();
  void ButtonFooterBrowseClick();
  void ButtonOutputBrowseClick();
  void ButtonThemeBrowseClick();
  void Panel1Click();
  void WMIndexProgress();
  void WMIndexDone();
  // Runs a template chooser starting from the edit's text; a picked file's
  // full path goes into the edit.
  void ChooseTemplate(QFileDialog* dialog, QLineEdit* edit);

  std::unique_ptr<TThreadVellumcast> worker_;
  TUrlOpener open_url_;
  QString run_settings_[TVellumcastSettings::kRunCount];
};
