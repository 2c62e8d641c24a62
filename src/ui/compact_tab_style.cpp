#include "ui/compact_tab_style.h"

TCompactTabStyle::TCompactTabStyle() : QProxyStyle(nullptr) {}

int TCompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  if (metric == PM_TabBarTabHSpace) return kTabHorizontalSpace;
  return QProxyStyle::pixelMetric(metric, option, widget);
}
