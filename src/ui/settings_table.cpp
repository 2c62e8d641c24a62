#include "ui/settings_table.h"

#include <cstring>

#include <QDir>
#include <QStandardPaths>

#include "engine/run/first_start_defaults.h"
#include "engine/run/walk.h"
#include "support/product.h"

TVellumcastSettings::TVellumcastSettings()
    : defs_{{
          {"path", TSettingKind::kText, "EditStartPath", 0, DefaultStartPath()},
          {"cellwidth", TSettingKind::kNumber, "EditCellWidth", kFirstStartCellWidth, {}},
          {"cellheight", TSettingKind::kNumber, "EditCellHeight", kFirstStartCellHeight, {}},
          {"cellsperrow", TSettingKind::kNumber, "EditCellsPerRow", kFirstStartCellsPerRow, {}},
          {"rowsperpage", TSettingKind::kNumber, "EditRowsPerPage", kFirstStartRowsPerPage, {}},
          {"createthumbs", TSettingKind::kFlag, "CheckBoxCreateThumbs", 0, {}},
          {"headertemplateenable", TSettingKind::kFlag, "CheckBoxHeaderTemplate", 0, {}},
          {"headertemplate", TSettingKind::kText, "EditHeaderFileName", 0, QString()},
          {"title", TSettingKind::kText, "EditTitle", 0, QString::fromLatin1(kFirstStartTitle)},
          {"footertemplateenable", TSettingKind::kFlag, "CheckBoxFooterTemplate", 0, {}},
          {"footertemplate", TSettingKind::kText, "EditFooterFileName", 0, QString()},
          {"footertext", TSettingKind::kText, "EditFooterText", 0, DefaultFooterText()},
          {"hlinks", TSettingKind::kFlag, "CheckBoxEnableHierarchyLinks", 1, {}},
          {"blinks", TSettingKind::kFlag, "CheckBoxEnableBackLinks", 1, {}},
          {"sort", TSettingKind::kSort, "RadioGroupSort", 1, {}},
          {"centertable", TSettingKind::kFlag, "CheckBoxCenterTable", 1, {}},
          {"centertitle", TSettingKind::kFlag, "CheckBoxCenterTitle", 1, {}},
          {"centerfooter", TSettingKind::kFlag, "CheckBoxCenterFooter", 1, {}},
          {"centernavbar", TSettingKind::kFlag, "CheckBoxCenterNavBar", 1, {}},
          {"dirfirstpageonly", TSettingKind::kFlag, "CheckBoxDirFirstPageOnly", 1, {}},
          {"includefilenames", TSettingKind::kFlag, "CheckBoxIncludeFileNames", 1, {}},
          {"thumbwhite", TSettingKind::kFlag, "CheckBoxThumbWhite", 0, {}},
          {"followlinks", TSettingKind::kFlag, "CheckBoxFollowLinks", 0, {}},
          {"style", TSettingKind::kFlag, "CheckBoxModernStyle", 0, {}},
          {"firstpage", TSettingKind::kText, "EditFirstPage", 0, QString::fromLatin1(kFirstPageName)},
          {"prune", TSettingKind::kFlag, "CheckBoxPrune", 0, {}},
          {"outputpath", TSettingKind::kText, "EditOutputPath", 0, QString()},
          {"images", TSettingKind::kChoice, "RadioGroupImages", 0, {}},
          {"theme", TSettingKind::kText, "EditTheme", 0, QString()},
          {"captions", TSettingKind::kWord, "ComboBoxCaptions", 0, QStringLiteral("auto")},
          {"video", TSettingKind::kWord, "ComboBoxVideo", 0, QStringLiteral("transcode")},
          {"showlocation", TSettingKind::kFlag, "CheckBoxShowLocation", 0, {}},
          {"striplocation", TSettingKind::kFlag, "CheckBoxStripLocation", 0, {}},
      }} {}

const TSettingDef* TVellumcastSettings::Find(const char* name) const {
  for (const TSettingDef& def : defs_) {
    if (std::strcmp(def.name, name) == 0) return &def;
  }
  return nullptr;
}

QString TVellumcastSettings::DefaultStartPath() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QDir(pictures).exists()) return pictures;
  return QDir::homePath();
}

QString TVellumcastSettings::DefaultFooterText() {
  return QString::fromStdString(FirstStartFooterText());
}
