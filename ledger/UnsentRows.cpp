#include "ledger/UnsentRows.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "ledger/DurableFile.h"
#include "ledger/RunHistory.h"

namespace {

constexpr DurableFile::Access kAccess = DurableFile::Access::Private;

// FNV-1a of the URL: one file per database, named without the URL's text (and password).
std::string UrlHash(const std::string& url) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : url) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace

std::optional<UnsentRows> UnsentRows::For(const std::string& url, std::string* error) {
    if (url.rfind("sqlite:", 0) == 0) return UnsentRows(url.substr(7) + ".unsent.jsonl");
    const std::optional<std::string> folder = StateFolder(error);
    if (!folder) return std::nullopt;
    return UnsentRows(*folder + "/unsent-" + UrlHash(url) + ".jsonl");
}

bool UnsentRows::Keep(const RunRow& row, std::string* error) const {
    return DurableFile::AppendTo(m_path, FinalJsonLine(row), kAccess, error);
}

bool UnsentRows::Waiting() const {
    std::error_code failed;
    const auto size = std::filesystem::file_size(m_path, failed);
    return !failed && size > 0;
}

void UnsentRows::Send(const std::function<bool(const RunRow&)>& write) const {
    if (!Waiting()) return;
    std::string text;
    std::string error;
    {
        const auto file = DurableFile::Open(m_path, kAccess, &error);
        if (!file || !file->ReadAll(&text, &error)) return;
    }
    RunHistory waiting;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        waiting.AddJsonLine(text.substr(start, end - start), m_path);
        start = end + 1;
    }
    bool all = true;
    for (const RunRow& row : waiting.Rows()) all = write(row) && all;  // the rest is still tried
    if (!all) return;
    const auto file = DurableFile::Open(m_path, kAccess, &error);
    std::string now;
    if (file && file->ReadAll(&now, &error) && now == text) file->Clear(&error);
}
