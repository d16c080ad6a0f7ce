#include "app/qt/NameFilters.h"

#include "app/FileDialogRules.h"

QStringList ToNameFilters(const std::string& filter) {
    QStringList filters;
    for (const FileFilter& entry : ParseFileFilter(filter)) {
        QStringList patterns;
        for (const std::string& pattern : entry.patterns)
            patterns << QString::fromStdString(pattern);
        const QString description = QString::fromStdString(entry.description);
        const QString suffix =
            QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
        filters << (description.endsWith(suffix) ? description
                                                 : description + QLatin1Char(' ') + suffix);
    }
    return filters;
}
