#include "ui/center_over_owner.h"

#include <cstdlib>

#include <QWidget>

namespace {

constexpr int kSameSizeSlack = 10;
constexpr int kSameSizeOffset = 15;

}  // namespace

QPoint CenteredPosition(const QRect& owner, const QSize& dialog) {
  // Integer division in C++ rounds toward zero.
  int top = owner.top() + (owner.height() - dialog.height()) / 2;
  int left = owner.left() + (owner.width() - dialog.width()) / 2;
  if (top < 0) top = 0;
  if (left < 0) left = 0;
  if (std::abs(owner.width() - dialog.width()) < kSameSizeSlack) left += kSameSizeOffset;
  if (std::abs(owner.height() - dialog.height()) < kSameSizeSlack) top += kSameSizeOffset;
  return {left, top};
}

void CenterOverOwner(QWidget* owner, QWidget* dialog) {
  if (owner == nullptr || dialog == nullptr) return;
  // Frame rectangles: move() places a window's frame, and a dialog that is
  // not shown yet has a frame equal to its own rectangle.
  const QRect owner_rect = owner->window()->frameGeometry();
  dialog->move(CenteredPosition(owner_rect, dialog->frameGeometry().size()));
}
