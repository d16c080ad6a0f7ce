#pragma once
// The file dialog's filters, as the core states them ("description|pattern|description|
// pattern|", parsed by the toolkit-free ParseFileFilter), in the form Qt's file dialog takes.

#include <QStringList>

#include <string>

// "bin files (*.bin)|*.bin|" gives "bin files (*.bin)"; a description that does not already end
// with its patterns gets them appended in parentheses, which is where Qt reads them from.
// Patterns separated by ';' become space-separated.
QStringList ToNameFilters(const std::string& filter);
