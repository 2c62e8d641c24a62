#include "ui/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

namespace {

constexpr int kItemLeft = 8;
constexpr int kTitleHeight = 14;  // room for the caption at the top

}  // namespace

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    group_->addButton(button, i);
  }
  PlaceItems();
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < Count()) {
    group_->button(index)->setChecked(true);
    return;
  }
  // An exclusive group never unchecks its last ticked button by itself.
  group_->setExclusive(false);
  for (QAbstractButton* button : group_->buttons()) button->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Item(int index) const {
  return qobject_cast<QRadioButton*>(group_->button(index));
}

int TRadioGroup::Count() const { return static_cast<int>(group_->buttons().size()); }

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  PlaceItems();
}

// Items share the height below the caption evenly, one per row.
void TRadioGroup::PlaceItems() {
  const int count = Count();
  if (count == 0) return;
  const int room = height() - kTitleHeight - 4;
  const int row = room / count;
  for (int i = 0; i < count; ++i) {
    QAbstractButton* button = group_->button(i);
    const int button_height = button->sizeHint().height();
    button->setGeometry(kItemLeft, kTitleHeight + i * row + (row - button_height) / 2,
                        width() - 2 * kItemLeft, button_height);
  }
}
