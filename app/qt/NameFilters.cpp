#include "app/qt/NameFilters.h"

QStringList ToNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    // A trailing '|' ends the list; an odd description without a pattern is dropped, as the
    // platform dialog drops it.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1]
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                     .replaceInStrings(QStringLiteral(" "), QString())
                                     .join(QLatin1Char(' '));
        if (patterns.isEmpty()) continue;
        const QString suffix = QLatin1Char('(') + patterns + QLatin1Char(')');
        filters << (description.endsWith(suffix) ? description
                                                 : description + QLatin1Char(' ') + suffix);
    }
    return filters;
}

QString ApplyDefaultExtension(const QString& path, const QString& extension) {
    if (extension.isEmpty() || path.isEmpty()) return path;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name.contains(QLatin1Char('.'))) return path;
    return path + QLatin1Char('.') + extension;
}
