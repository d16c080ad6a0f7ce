#include "ledger/ReportFilter.h"

#include <cctype>
#include <cstdio>

namespace {

bool Digits(const std::string& text, std::size_t from, std::size_t count) {
    if (text.size() < from + count) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS" (a blank for the T, a trailing Z
// allowed) in the records' own spelling; nothing for anything else.
std::optional<std::string> Canonical(std::string text) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.pop_back();
    if (!Digits(text, 0, 4) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2) ||
        text[7] != '-' || !Digits(text, 8, 2))
        return std::nullopt;
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    if (text.size() == 10) return text;
    if ((text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2) || text.size() < 16 ||
        text[13] != ':' || !Digits(text, 14, 2))
        return std::nullopt;
    text[10] = 'T';
    if (std::stoi(text.substr(11, 2)) > 23 || std::stoi(text.substr(14, 2)) > 59)
        return std::nullopt;
    if (text.size() == 16) return text;
    if (text.size() != 19 || text[16] != ':' || !Digits(text, 17, 2) ||
        std::stoi(text.substr(17, 2)) > 60)
        return std::nullopt;
    return text;
}

const char* kTimeForms = " (UTC: YYYY-MM-DD, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS)";

bool IsHex(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
}

std::string CivilFromDays(long long days) {
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", y, m, d);
    return text;
}

bool ReportFilter::SetSince(const std::string& text, std::string* error) {
    since = Canonical(text);
    if (!since) *error = "--since " + text + " is not a date or time" + kTimeForms;
    return since.has_value();
}

bool ReportFilter::SetUntil(const std::string& text, std::string* error) {
    until = Canonical(text);
    if (!until) {
        *error = "--until " + text + " is not a date or time" + kTimeForms;
        return false;
    }
    if (until->size() == 10) {
        const long long day = DaysFromCivil(std::stoi(until->substr(0, 4)),
                                            static_cast<unsigned>(std::stoi(until->substr(5, 2))),
                                            static_cast<unsigned>(std::stoi(until->substr(8, 2))));
        until = CivilFromDays(day + 1);
    }
    return true;
}

std::string ReportFilter::ShaPrefix() const {
    if (!image || !IsHex(*image)) return "";
    std::string prefix = *image;
    for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return prefix;
}

bool ReportFilter::Matches(const RunRow& row) const {
    const std::string when = row.When();
    if (since && when < *since) return false;
    if (until && !(when < *until)) return false;
    if (!stations.empty()) {
        bool listed = false;
        for (const std::string& station : stations) listed = listed || station == row.station;
        if (!listed) return false;
    }
    if (image) {
        const std::string prefix = ShaPrefix();
        const bool bySha = !prefix.empty() && row.sha256.compare(0, prefix.size(), prefix) == 0;
        if (!bySha && row.file != *image && BaseName(row.file) != *image) return false;
    }
    return true;
}

std::string ReportFilter::Describe() const {
    std::string out;
    const auto add = [&out](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
    if (since) add("since " + *since);
    if (until) add("until " + *until + " (excluded)");
    for (const std::string& station : stations) add("station " + station);
    if (image) add("image " + *image);
    return out;
}
