#pragma once
// Places a dialog centred over the window that owns it.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Top-left corner for a dialog of `dialog` size over an owner at `owner`:
// centred (halves rounded toward zero), never left of or above 0, and moved 15
// pixels right (down) when the two widths (heights) differ by less than 10
// pixels, so that a dialog of about its owner's size never hides it exactly.
QPoint CenteredPosition(const QRect& owner, const QSize& dialog);

// Moves `dialog` there, using the owner's top-level window; nothing when
// either is absent.
void CenterOverOwner(QWidget* owner, QWidget* dialog);
