// Loading the window's controls from the settings store and saving them back.

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "ui/form_main.h"
#include "engine/run/catalog_filter.h"
#include "engine/run/image_order.h"
#include "ui/int_parse.h"
#include "ui/radio_group.h"
#include "ui/settings_store.h"
#include "ui/settings_table.h"

namespace {

// Every control of the table exists; a missing one would be a build fault,
// and is then skipped rather than dereferenced.
template <class T, class F>
void WithControl(const QObject* form, const char* name, F&& action) {
  if (T* control = form->findChild<T*>(QString::fromLatin1(name))) action(control);
}

}  // namespace

void TForm1::LoadSettings() {
  const TVellumcastSettings settings;
  TSettingsStore store;
  store.StoreOpen(QString::fromLatin1(TVellumcastSettings::kStoreName));
  for (const TSettingDef& def : settings.Defs()) {
    const QString name = QString::fromLatin1(def.name);
    switch (def.kind) {
      case TSettingKind::kText: {
        const QString text = store.StoreGetText(name, def.text_default);
        WithControl<QLineEdit>(this, def.control, [&](QLineEdit* edit) { edit->setText(text); });
        break;
      }
      case TSettingKind::kNumber: {
        const int32_t number = store.StoreGetInt(name, def.int_default);
        WithControl<QLineEdit>(this, def.control, [&](QLineEdit* edit) { edit->setText(QString::number(number)); });
        break;
      }
      case TSettingKind::kFlag: {
        const int32_t flag = store.StoreGetInt(name, def.int_default);
        WithControl<QCheckBox>(this, def.control, [&](QCheckBox* box) { box->setChecked(flag != 0); });
        break;
      }
      case TSettingKind::kSort: {
        const int32_t index = std::clamp(store.StoreGetInt(name, def.int_default), TVellumcastSettings::kSortMin,
                                         TVellumcastSettings::kSortMax);
        WithControl<TRadioGroup>(this, def.control, [&](TRadioGroup* group) { group->SetItemIndex(index); });
        break;
      }
      case TSettingKind::kChoice: {
        const int32_t stored = store.StoreGetInt(name, def.int_default);
        WithControl<TRadioGroup>(this, def.control, [&](TRadioGroup* group) {
          group->SetItemIndex(stored >= 0 && stored < group->Count() ? stored : def.int_default);
        });
        break;
      }
      case TSettingKind::kWord: {
        // A word no item carries shows the default's item.
        const QString word = store.StoreGetText(name, def.text_default);
        WithControl<QComboBox>(this, def.control, [&](QComboBox* combo) {
          const int found = combo->findData(word);
          combo->setCurrentIndex(found >= 0 ? found : combo->findData(def.text_default));
        });
        break;
      }
    }
  }
  for (int i = 0; i < TVellumcastSettings::kRunCount; ++i) {
    const TRunSettingDef& def = TVellumcastSettings::kRunSettings[i];
    run_settings_[i] = store.StoreGetText(QString::fromLatin1(def.name), QString::fromLatin1(def.text_default));
  }
  store.StoreClose();
}

void TForm1::ApplyRunSettings(TThreadVellumcast& worker) const {
  const std::string formats = run_settings_[0].toStdString();
  const std::string order = run_settings_[1].toStdString();
  int32_t number = 0;
  worker.options.formats = ParseCatalogFormats(formats.c_str(), &number) ? static_cast<TCatalogFormats>(number)
                                                                         : kFormatsFollowStyle;
  worker.options.order = ParseImageOrder(order.c_str(), &number) ? static_cast<TImageOrder>(number) : kOrderFollowStyle;
  worker.options.exclude = SplitPatternList(run_settings_[2].toStdString());
  worker.options.skiphidden = kSwitchFollowStyle;
  ResolveStyleDefaults(worker.options);
}

void TForm1::SaveSettings() {
  const TVellumcastSettings settings;
  TSettingsStore store;
  store.StoreOpen(QString::fromLatin1(TVellumcastSettings::kStoreName));
  for (const TSettingDef& def : settings.Defs()) {
    const QString name = QString::fromLatin1(def.name);
    switch (def.kind) {
      case TSettingKind::kText:
        WithControl<QLineEdit>(this, def.control, [&](QLineEdit* edit) { store.StoreSetText(name, edit->text()); });
        break;
      case TSettingKind::kNumber:
        WithControl<QLineEdit>(this, def.control,
                               [&](QLineEdit* edit) { store.StoreSetInt(name, StrToIntDef(edit->text(), 0)); });
        break;
      case TSettingKind::kFlag:
        WithControl<QCheckBox>(this, def.control,
                               [&](QCheckBox* box) { store.StoreSetInt(name, box->isChecked() ? 1 : 0); });
        break;
      case TSettingKind::kSort:
      case TSettingKind::kChoice:
        WithControl<TRadioGroup>(this, def.control,
                                 [&](TRadioGroup* group) { store.StoreSetInt(name, group->ItemIndex()); });
        break;
      case TSettingKind::kWord:
        WithControl<QComboBox>(this, def.control,
                               [&](QComboBox* combo) { store.StoreSetText(name, combo->currentData().toString()); });
        break;
    }
  }
  for (int i = 0; i < TVellumcastSettings::kRunCount; ++i)
    store.StoreSetText(QString::fromLatin1(TVellumcastSettings::kRunSettings[i].name), run_settings_[i]);
  store.StoreClose();
}
