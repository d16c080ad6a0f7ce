#pragma once
// The release keys a site trusts, in OpenSSH's allowed-signers format (ssh-keygen(1), "ALLOWED
// SIGNERS"), so the file release engineering keeps for `ssh-keygen -Y verify` is the one the
// line reads:
//
//     release@example.com namespaces="kestrel-firmware",valid-before="20271231" ssh-ed25519 AAAA...
//
// One entry a line: principals, options (optional), key type, base64 key, comment. Of the
// options, namespaces= (a comma list; '*' and '?' match as in ssh), valid-after= and
// valid-before= (YYYYMMDD[HHMM[SS]], local time, UTC with a trailing Z) are honoured;
// cert-authority is refused, since a release is signed by a plain key, never by a certificate.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AllowedSigner {
    std::string principals;               // as written ("release@example.com,ci@example.com")
    std::string keyType;                  // "ssh-ed25519", or another type that no release can use
    std::vector<std::uint8_t> key;        // the key as OpenSSH encodes it (type and key data)
    std::vector<std::string> namespaces;  // empty: any namespace
    std::optional<std::int64_t> validAfter, validBefore;  // seconds since 1970 (UTC)
    std::string validAfterText, validBeforeText;          // as written
    int line = 0;
};

class AllowedSigners {
public:
    // The file's entries; nothing, with "FILE: CAUSE" or "FILE line N: WHAT" in *error, when it
    // cannot be read or an entry is not understood (a trust list is taken whole or not at all).
    static std::optional<AllowedSigners> Read(const std::string& path, std::string* error);
    static std::optional<AllowedSigners> Parse(const std::string& text, const std::string& path,
                                               std::string* error);

    // The site-wide file that turns verification on for every run when it exists; its place is
    // fixed when the program is built (see SiteFilePath), so no user setting can move it away.
    static std::string SiteFilePath();
    // The file a run verifies against: the one named on the command line, else the site-wide
    // file when it exists (also when it cannot be read: Read then refuses), else none.
    static std::optional<std::string> FileForRun(const std::optional<std::string>& named);

    const std::string& Path() const { return m_path; }
    const std::vector<AllowedSigner>& Entries() const { return m_entries; }

private:
    std::string m_path;
    std::vector<AllowedSigner> m_entries;
};

// OpenSSH's pattern match ('*' any run, '?' one character) over one comma-free pattern.
bool SshPatternMatch(const std::string& text, const std::string& pattern);
