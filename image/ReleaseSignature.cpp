#include "image/ReleaseSignature.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <optional>
#include <vector>

#include "image/AllowedSigners.h"
#include "image/Base64.h"
#include "image/File.h"
#include "image/FileOpen.h"
#include "image/ReleaseCrypto.h"

namespace {

// An armored signature is well under 1 KB; a larger file is not one.
constexpr std::size_t kMaxSignatureFile = 64 * 1024;
constexpr char kArmorBegin[] = "-----BEGIN SSH SIGNATURE-----";
constexpr char kArmorEnd[] = "-----END SSH SIGNATURE-----";
constexpr char kMagic[] = "SSHSIG";  // six bytes, no terminator on the wire
constexpr std::size_t kMagicSize = 6;
constexpr std::uint32_t kVersion = 1;
constexpr char kEd25519[] = "ssh-ed25519";

using Bytes = std::vector<std::uint8_t>;

// SSH wire encoding (RFC 4251): uint32 big-endian, string = uint32 length + bytes.
class WireReader {
public:
    WireReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit WireReader(const Bytes& bytes) : WireReader(bytes.data(), bytes.size()) {}

    std::optional<std::uint32_t> Uint32() {
        if (m_size - m_at < 4) return std::nullopt;
        const std::uint8_t* p = m_data + m_at;
        m_at += 4;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | p[3];
    }
    std::optional<Bytes> String() {
        const std::optional<std::uint32_t> n = Uint32();
        if (!n || *n > m_size - m_at) return std::nullopt;
        Bytes out(m_data + m_at, m_data + m_at + *n);
        m_at += *n;
        return out;
    }
    bool Raw(const char* expected, std::size_t n) {
        if (m_size - m_at < n || std::memcmp(m_data + m_at, expected, n) != 0) return false;
        m_at += n;
        return true;
    }
    bool AtEnd() const { return m_at == m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void PutString(Bytes& out, const std::uint8_t* data, std::size_t size) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(size >> shift));
    out.insert(out.end(), data, data + size);
}
void PutString(Bytes& out, const Bytes& bytes) {
    PutString(out, bytes.data(), bytes.size());
}

std::string AsText(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::string Fingerprint(const Bytes& key) {
    const auto digest = ReleaseCrypto::Sha256(key.data(), key.size());
    return "SHA256:" + Base64Encode(digest.data(), digest.size(), false);
}

// The parts of a signature blob (PROTOCOL.sshsig).
struct SshSig {
    Bytes key;  // the signer's public key, encoded
    std::string keyType;
    Bytes keyData;  // 32 bytes for ssh-ed25519
    Bytes space;    // namespace
    Bytes reserved;
    Bytes hashName;
    std::string signatureType;
    Bytes signature;  // 64 bytes for ssh-ed25519
};

// The blob between the armor lines; nothing, with why in *why, when it is not there.
std::optional<Bytes> Dearmor(const std::string& text, std::string* why) {
    const std::size_t begin = text.find(kArmorBegin);
    if (begin == std::string::npos || text.find_first_not_of(" \t\r\n") != begin) {
        *why = "no \"" + std::string(kArmorBegin) + "\" line";
        return std::nullopt;
    }
    const std::size_t body = begin + std::strlen(kArmorBegin);
    const std::size_t end = text.find(kArmorEnd, body);
    if (end == std::string::npos) {
        *why = "cut short: no \"" + std::string(kArmorEnd) + "\" line";
        return std::nullopt;
    }
    std::optional<Bytes> blob = Base64Decode(text.substr(body, end - body));
    if (!blob) *why = "its body is not base64";
    return blob;
}

std::optional<SshSig> ParseBlob(const Bytes& blob, std::string* why) {
    WireReader in(blob);
    SshSig sig;
    const auto bad = [&](const char* what) {
        *why = what;
        return std::nullopt;
    };
    if (!in.Raw(kMagic, kMagicSize)) return bad("it does not start with SSHSIG");
    const std::optional<std::uint32_t> version = in.Uint32();
    if (!version) return bad("cut short");
    if (*version != kVersion) return bad("signature version other than 1");
    std::optional<Bytes> key = in.String(), space, reserved, hashName, signature;
    if (key) space = in.String();
    if (space) reserved = in.String();
    if (reserved) hashName = in.String();
    if (hashName) signature = in.String();
    if (!signature) return bad("cut short");
    if (!in.AtEnd()) return bad("bytes after the signature");
    sig.key = *key;
    sig.space = *space;
    sig.reserved = *reserved;
    sig.hashName = *hashName;

    WireReader keyIn(sig.key);
    const std::optional<Bytes> keyType = keyIn.String();
    if (!keyType) return bad("its public key is cut short");
    sig.keyType = AsText(*keyType);
    if (sig.keyType == kEd25519) {
        const std::optional<Bytes> keyData = keyIn.String();
        if (!keyData || keyData->size() != ReleaseCrypto::kEd25519KeySize || !keyIn.AtEnd())
            return bad("its ssh-ed25519 public key is not 32 bytes");
        sig.keyData = *keyData;
    }
    WireReader sigIn(*signature);
    const std::optional<Bytes> sigType = sigIn.String();
    const std::optional<Bytes> sigData = sigType ? sigIn.String() : std::nullopt;
    if (!sigData || !sigIn.AtEnd()) return bad("its signature is cut short");
    sig.signatureType = AsText(*sigType);
    sig.signature = *sigData;
    return sig;
}

bool EntryAllowsNamespace(const AllowedSigner& entry) {
    if (entry.namespaces.empty()) return true;
    for (const std::string& pattern : entry.namespaces)
        if (SshPatternMatch(kReleaseNamespace, pattern)) return true;
    return false;
}

}  // namespace

const char* ReleaseSignature::StatusName() const {
    switch (m_status) {
        case SignatureStatus::Good:
            return "good";
        case SignatureStatus::Missing:
            return "missing";
        case SignatureStatus::Unreadable:
            return "unreadable";
        case SignatureStatus::Malformed:
            return "malformed";
        case SignatureStatus::UnsupportedKey:
            return "unsupported-key";
        case SignatureStatus::OtherNamespace:
            return "other-namespace";
        case SignatureStatus::UnknownKey:
            return "unknown-key";
        case SignatureStatus::BadSignature:
            return "bad-signature";
        case SignatureStatus::Expired:
            return "expired";
        case SignatureStatus::NotYetValid:
            return "not-yet-valid";
        case SignatureStatus::NotAllowed:
            return "not-allowed";
        case SignatureStatus::Unchecked:
            return "unchecked";
        case SignatureStatus::Unavailable:
            return "unavailable";
    }
    return "malformed";
}

ReleaseSignature ReleaseSignature::Check(const std::string& imagePath, const std::uint8_t* data,
                                         std::size_t size, const AllowedSigners* signers,
                                         std::int64_t now) {
    ReleaseSignature out;
    const std::string sigPath = PathFor(imagePath);
    const auto verdict = [&](SignatureStatus status, const std::string& text) {
        out.m_status = status;
        out.m_text = text;
        return out;
    };

    if (!ReleaseCrypto::Available())
        return verdict(SignatureStatus::Unavailable,
                       sigPath + ": this build of Kestrel cannot check release signatures");
    // Not there at all, or there and not readable: two different things to fix.
    std::error_code error;
    if (std::filesystem::status(NativePath(sigPath), error).type() ==
        std::filesystem::file_type::not_found)
        return verdict(SignatureStatus::Missing,
                       imagePath + ": no release signature (" + sigPath + " not found)");
    File file;
    if (!file.OpenForReading(sigPath))
        return verdict(SignatureStatus::Unreadable, file.ErrorText());
    std::string text(kMaxSignatureFile + 1, '\0');
    const std::int64_t n = file.ReadFully(text.data(), text.size());
    if (n < 0) return verdict(SignatureStatus::Unreadable, file.ErrorText());
    text.resize(static_cast<std::size_t>(n));
    std::string why;
    std::optional<SshSig> sig;
    if (text.size() > kMaxSignatureFile)
        why = "larger than 64 KB";
    else if (const std::optional<Bytes> blob = Dearmor(text, &why))
        sig = ParseBlob(*blob, &why);
    if (!sig)
        return verdict(SignatureStatus::Malformed,
                       sigPath + ": not an SSH signature (" + why + ")");

    out.m_signer.fingerprint = Fingerprint(sig->key);
    if (sig->keyType != kEd25519 || sig->signatureType != kEd25519 ||
        sig->signature.size() != ReleaseCrypto::kEd25519SignatureSize)
        return verdict(SignatureStatus::UnsupportedKey,
                       sigPath + ": signed with a " + sig->keyType +
                           " key; release signatures must be made with an ssh-ed25519 key");
    if (AsText(sig->space) != kReleaseNamespace)
        return verdict(SignatureStatus::OtherNamespace,
                       sigPath + ": signed for the namespace \"" + AsText(sig->space) +
                           "\", not \"" + kReleaseNamespace + "\" (ssh-keygen -Y sign -n " +
                           kReleaseNamespace + ")");
    const std::string hashName = AsText(sig->hashName);
    if (hashName != "sha512" && hashName != "sha256")
        return verdict(SignatureStatus::Malformed,
                       sigPath + ": not an SSH signature (hash \"" + hashName + "\")");

    const AllowedSigner* entry = nullptr;
    if (signers != nullptr) {
        for (const AllowedSigner& candidate : signers->Entries()) {
            if (candidate.key != sig->key) continue;
            // The first entry of this key that allows the signature now decides; else the
            // first of its entries says why not.
            const bool fits = EntryAllowsNamespace(candidate) &&
                              (!candidate.validAfter || now >= *candidate.validAfter) &&
                              (!candidate.validBefore || now < *candidate.validBefore);
            if (entry == nullptr || fits) entry = &candidate;
            if (fits) break;
        }
        if (entry == nullptr)
            return verdict(SignatureStatus::UnknownKey,
                           sigPath + ": signed by key " + out.m_signer.fingerprint +
                               ", which is not in the allowed signers (" + signers->Path() + ")");
        out.m_signer.principal = entry->principals;
    }

    // What the key signed: the preamble, the namespace, the reserved field, the hash's name
    // and the hash of the image's bytes.
    Bytes message(kMagic, kMagic + kMagicSize);
    PutString(message, sig->space);
    PutString(message, sig->reserved);
    PutString(message, sig->hashName);
    if (hashName == "sha512") {
        const auto digest = ReleaseCrypto::Sha512(data, size);
        PutString(message, digest.data(), digest.size());
    } else {
        const auto digest = ReleaseCrypto::Sha256(data, size);
        PutString(message, digest.data(), digest.size());
    }
    if (!ReleaseCrypto::Ed25519Verify(sig->keyData.data(), message.data(), message.size(),
                                      sig->signature.data()))
        return verdict(SignatureStatus::BadSignature,
                       sigPath + ": the signature does not match the bytes of " + imagePath +
                           " (the image or its signature changed after it was signed)");
    if (entry == nullptr)
        return verdict(SignatureStatus::Unchecked, sigPath + ": signed by key " +
                                                       out.m_signer.fingerprint +
                                                       "; no allowed signers to check it against");

    const std::string whose = "the key of " + entry->principals + " (" + out.m_signer.fingerprint +
                              ", " + signers->Path() + " line " + std::to_string(entry->line) + ")";
    if (!EntryAllowsNamespace(*entry))
        return verdict(SignatureStatus::NotAllowed, sigPath + ": " + whose +
                                                        " may not sign the namespace \"" +
                                                        kReleaseNamespace + "\" (namespaces=)");
    if (entry->validBefore && now >= *entry->validBefore)
        return verdict(
            SignatureStatus::Expired,
            sigPath + ": " + whose + " expired (valid-before " + entry->validBeforeText + ")");
    if (entry->validAfter && now < *entry->validAfter)
        return verdict(SignatureStatus::NotYetValid, sigPath + ": " + whose +
                                                         " is not valid yet (valid-after " +
                                                         entry->validAfterText + ")");
    return verdict(SignatureStatus::Good, sigPath + ": signed by " + entry->principals + " (" +
                                              out.m_signer.fingerprint + ")");
}
