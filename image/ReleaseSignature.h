#pragma once
// A release's detached signature: the OpenSSH file signature (`ssh-keygen -Y sign -n
// kestrel-firmware -f KEY IMAGE` writes IMAGE.sig) of the image file's bytes, checked against
// the site's allowed signers. The armored SSHSIG format is read here; the hashes and the
// Ed25519 check are Nettle's (ReleaseCrypto).
//
// Checked in this order, each with its own words: the signature file is there and readable,
// is an SSH signature, by an ssh-ed25519 key, for the namespace "kestrel-firmware", by a key
// the allowed signers list, over these very bytes, and the entry allows it now (valid-after,
// valid-before, namespaces=).

#include <cstddef>
#include <cstdint>
#include <string>

class AllowedSigners;

// The namespace release signatures are made for, so that a signature a key made for anything
// else (a git commit, a file someone asked for) is never taken as a release.
inline constexpr char kReleaseNamespace[] = "kestrel-firmware";

enum class SignatureStatus {
    Good,
    Missing,         // no IMAGE.sig beside the image
    Unreadable,      // IMAGE.sig could not be read
    Malformed,       // not an armored SSH signature, cut short, or garbage
    UnsupportedKey,  // signed with a key type other than ssh-ed25519
    OtherNamespace,  // signed for another namespace
    UnknownKey,      // the key is not in the allowed signers
    BadSignature,    // not a signature of these bytes: the image (or IMAGE.sig) changed
    Expired,         // the entry's valid-before has passed
    NotYetValid,     // the entry's valid-after has not come
    NotAllowed,      // the entry's namespaces= does not allow the release namespace
    Unchecked,       // right for the key it names, but no allowed signers were given (info)
    Unavailable,     // this build cannot check signatures
};

struct ReleaseSigner {
    std::string principal;    // the allowed-signers entry's principals
    std::string fingerprint;  // "SHA256:..." as ssh-keygen -l prints it
};

class ReleaseSignature {
public:
    // Checks IMAGE.sig (imagePath + ".sig") over data, the image file's bytes as read once.
    // Without signers (info with no allowed-signers file) the signature is checked only against
    // the key it names: Unchecked at best.
    static ReleaseSignature Check(const std::string& imagePath, const std::uint8_t* data,
                                  std::size_t size, const AllowedSigners* signers,
                                  std::int64_t now);

    static std::string PathFor(const std::string& imagePath) { return imagePath + ".sig"; }

    bool Good() const { return m_status == SignatureStatus::Good; }
    SignatureStatus Status() const { return m_status; }
    // "good", "missing", "unreadable", "malformed", "unsupported-key", "other-namespace",
    // "unknown-key", "bad-signature", "expired", "not-yet-valid", "not-allowed", "unchecked",
    // "unavailable".
    const char* StatusName() const;
    // The signer: both fields for Good, Expired, NotYetValid, NotAllowed; the fingerprint alone
    // wherever the key could be read.
    const ReleaseSigner& Signer() const { return m_signer; }
    // What a person reads: which of the above it was, naming the files.
    const std::string& Text() const { return m_text; }

private:
    SignatureStatus m_status = SignatureStatus::Missing;
    ReleaseSigner m_signer;
    std::string m_text;
};
