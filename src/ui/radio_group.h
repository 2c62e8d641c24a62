#pragma once
// A titled group of radio buttons with one selected index, -1 when none.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);

  int ItemIndex() const;
  // Selects item `index`; any index outside the items clears the selection.
  void SetItemIndex(int index);
  QRadioButton* Item(int index) const;
  int Count() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceItems();
  QButtonGroup* group_;
};
