#include "image/AllowedSigners.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "image/Base64.h"
#include "image/File.h"
#include "image/FileOpen.h"

namespace {

// A trust list is a few lines; anything larger is not one.
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// The next white-space-delimited field of line from at, with double quotes keeping blanks in
// (the quotes stay in the field; Unquote removes them). Empty at the end of the line.
std::string NextField(const std::string& line, std::size_t& at) {
    while (at < line.size() && IsSpace(line[at])) ++at;
    const std::size_t start = at;
    bool quoted = false;
    while (at < line.size() && (quoted || !IsSpace(line[at]))) {
        if (line[at] == '"') quoted = !quoted;
        ++at;
    }
    return line.substr(start, at - start);
}

std::string Unquote(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '"') out += c;
    return out;
}

// Splits at commas outside double quotes.
std::vector<std::string> SplitOptions(const std::string& text) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// YYYYMMDD[HHMM[SS]][Z] as ssh-keygen reads it: local time, or UTC with the Z.
std::optional<std::int64_t> ParseTime(std::string text) {
    bool utc = false;
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        utc = true;
        text.pop_back();
    }
    if (text.size() != 8 && text.size() != 12 && text.size() != 14) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t n) {
        return std::stoi(text.substr(at, n));
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    const int hour = text.size() >= 12 ? number(8, 2) : 0;
    const int minute = text.size() >= 12 ? number(10, 2) : 0;
    const int second = text.size() == 14 ? number(12, 2) : 0;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    if (utc)
        return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
                   86400 +
               hour * 3600 + minute * 60 + second;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

bool IsKeyType(const std::string& field) {
    return field.rfind("ssh-", 0) == 0 || field.rfind("ecdsa-", 0) == 0 ||
           field.rfind("sk-", 0) == 0 || field.rfind("rsa-", 0) == 0;
}

// The options field into entry; the words of the first problem, or nothing.
std::optional<std::string> ParseOptions(const std::string& field, AllowedSigner& entry) {
    for (const std::string& option : SplitOptions(field)) {
        const std::size_t equals = option.find('=');
        const std::string name = Lower(option.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? std::string() : Unquote(option.substr(equals + 1));
        if (name == "cert-authority")
            return "cert-authority entries are not supported (sign releases with a plain "
                   "ssh-ed25519 key)";
        if (name == "namespaces" && equals != std::string::npos) {
            entry.namespaces = SplitCommas(value);
        } else if ((name == "valid-after" || name == "valid-before") &&
                   equals != std::string::npos) {
            const std::optional<std::int64_t> when = ParseTime(value);
            if (!when) return name + "=\"" + value + "\" is not a time (YYYYMMDD[HHMM[SS]][Z])";
            (name == "valid-after" ? entry.validAfter : entry.validBefore) = when;
            (name == "valid-after" ? entry.validAfterText : entry.validBeforeText) = value;
        } else {
            return "option \"" + option + "\" is not supported";
        }
    }
    return std::nullopt;
}

// The key type the encoded key names (its first string), or "" when it names none.
std::string EncodedKeyType(const std::vector<std::uint8_t>& key) {
    if (key.size() < 4) return {};
    const std::size_t n = (std::size_t{key[0]} << 24) | (std::size_t{key[1]} << 16) |
                          (std::size_t{key[2]} << 8) | key[3];
    if (n > key.size() - 4) return {};
    return std::string(key.begin() + 4, key.begin() + 4 + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

bool SshPatternMatch(const std::string& text, const std::string& pattern) {
    std::size_t t = 0, p = 0;
    std::size_t star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::optional<AllowedSigners> AllowedSigners::Read(const std::string& path, std::string* error) {
    File file;
    if (!file.OpenForReading(path)) {
        *error = file.ErrorText();
        return std::nullopt;
    }
    std::string text(kMaxFileSize + 1, '\0');
    const std::int64_t n = file.ReadFully(text.data(), text.size());
    if (n < 0) {
        *error = file.ErrorText();
        return std::nullopt;
    }
    if (static_cast<std::size_t>(n) > kMaxFileSize) {
        *error = path + ": larger than 1 MB, not an allowed-signers file";
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(n));
    return Parse(text, path, error);
}

std::optional<AllowedSigners> AllowedSigners::Parse(const std::string& text,
                                                    const std::string& path, std::string* error) {
    AllowedSigners out;
    out.m_path = path;
    int number = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(from, end - from);
        from = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto fail = [&](const std::string& what) {
            *error = path + " line " + std::to_string(number) + ": " + what;
            return std::nullopt;
        };
        std::size_t at = 0;
        AllowedSigner entry;
        entry.line = number;
        entry.principals = Unquote(NextField(line, at));
        if (entry.principals.empty() || entry.principals[0] == '#') continue;
        std::string field = NextField(line, at);
        if (!field.empty() && !IsKeyType(field)) {
            if (auto problem = ParseOptions(field, entry)) return fail(*problem);
            field = NextField(line, at);
        }
        if (field.empty()) return fail("no key (principals [options] ssh-ed25519 BASE64)");
        entry.keyType = field;
        const std::optional<std::vector<std::uint8_t>> key = Base64Decode(NextField(line, at));
        if (!key || key->empty() || EncodedKeyType(*key) != entry.keyType)
            return fail("the " + entry.keyType + " key is not valid base64 of such a key");
        entry.key = *key;
        out.m_entries.push_back(std::move(entry));
    }
    return out;
}

std::string AllowedSigners::SiteFilePath() {
#ifdef KESTREL_SITE_SIGNERS_TEST_VARIABLE
    // Builds with the test tiers only: the tests point it at a file of their own. A package is
    // built without them, so there no environment moves the site's file away.
    if (const char* given = std::getenv(KESTREL_SITE_SIGNERS_TEST_VARIABLE);
        given != nullptr && *given != '\0')
        return given;
#endif
    return KESTREL_SITE_SIGNERS;
}

std::optional<std::string> AllowedSigners::FileForRun(const std::optional<std::string>& named) {
    if (named) return named;
    const std::string site = SiteFilePath();
    std::error_code error;
    // A file that exists but cannot be looked at (a folder without search rights) counts as
    // there: Read says why, and nothing is flashed unverified.
    const std::filesystem::file_status status = std::filesystem::status(NativePath(site), error);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
    if (error && error != std::errc::no_such_file_or_directory &&
        error != std::errc::not_a_directory)
        return site;
    if (error) return std::nullopt;
    return site;
}
