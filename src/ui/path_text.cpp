#include "ui/path_text.h"

#include <QDir>
#include <QStringList>

#include "engine/store/generated_names.h"
#include "support/path_util.h"

namespace {

constexpr QChar kSeparator = QLatin1Char(kPathSeparator);

}  // namespace

QString WithTrailingSeparator(const QString& path) {
  if (path.isEmpty() || path.endsWith(kSeparator)) return path;
  return path + kSeparator;
}

QString TopCatalogPage(const QString& start_path) {
  const QString page = WithTrailingSeparator(start_path) + QString::fromLatin1(kFirstPageName);
  return QDir::cleanPath(QDir::current().absoluteFilePath(page));
}

QString QtNameFilter(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}
