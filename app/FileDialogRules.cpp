#include "app/FileDialogRules.h"

#include <filesystem>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, begin);
        pieces.push_back(text.substr(begin, end == std::string::npos ? end : end - begin));
        if (end == std::string::npos) return pieces;
        begin = end + 1;
    }
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
    const std::vector<std::string> parts = Split(filter, '|');
    std::vector<FileFilter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        FileFilter entry;
        entry.description = Trimmed(parts[i]);
        for (std::string pattern : Split(parts[i + 1], ';')) {
            std::erase(pattern, ' ');
            if (!pattern.empty()) entry.patterns.push_back(pattern);
        }
        if (!entry.patterns.empty()) filters.push_back(std::move(entry));
    }
    return filters;
}

std::string ApplyDefaultExtension(const std::string& path, const std::string& extension) {
    if (extension.empty() || path.empty()) return path;
    const std::string name = std::filesystem::path(path).filename().string();
    if (name.empty() || name.find('.') != std::string::npos) return path;
    return path + "." + extension;
}
