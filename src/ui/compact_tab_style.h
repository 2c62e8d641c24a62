#pragma once
// The desktop's own style with narrower tab padding, so that the notebook's
// eight tabs fit its width side by side as one row.

#include <QProxyStyle>

class TCompactTabStyle : public QProxyStyle {
 public:
  static constexpr int kTabHorizontalSpace = 7;  // text to tab edges, both sides together

  TCompactTabStyle();
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
};
