#pragma once
// The file dialog's filter and default extension, given the way the core states them
// ("description|pattern|description|pattern|"), in the form Qt's file dialog takes.

#include <QString>
#include <QStringList>

#include <string>

// "bin files (*.bin)|*.bin|" gives "bin files (*.bin)"; a description that does not already end
// with its patterns gets them appended in parentheses, which is where Qt reads them from.
// Patterns separated by ';' become space-separated.
QStringList ToNameFilters(const std::string& filter);

// Appends "." + extension to a file name that has none (an empty extension adds nothing).
QString ApplyDefaultExtension(const QString& path, const QString& extension);
