#include "ui/radio_group.h"

#include <algorithm>

#include <QButtonGroup>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

namespace {

constexpr int kItemLeft = 8;

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

// Items share the frame's inside (below the caption, wherever the style
// draws it) evenly, one per row.
void TRadioGroup::PlaceItems() {
  const int count = Count();
  if (count == 0) return;
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  const QRect inside = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, this);
  const int row = inside.height() / count;
  for (int i = 0; i < count; ++i) {
    QAbstractButton* button = group_->button(i);
    const int button_height = std::min(button->sizeHint().height(), row);
    button->setGeometry(inside.left() + kItemLeft, inside.top() + i * row + (row - button_height) / 2,
                        inside.width() - 2 * kItemLeft, button_height);
  }
}
