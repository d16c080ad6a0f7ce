#include "image/ReleaseGate.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "services/DialogServices.h"
#include "image/AllowedSigners.h"
#include "image/File.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/LoadAnalysis.h"
#include "image/RawBinaryLoader.h"
#include "image/ReleaseSignature.h"

namespace {

class MemorySource : public HexByteSource {
public:
    explicit MemorySource(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::int64_t Read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, m_bytes.size() - m_at);
        std::memcpy(buffer, m_bytes.data() + m_at, n);
        m_at += n;
        return static_cast<std::int64_t>(n);
    }
    std::string ErrorText() const override { return {}; }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
};

// The refusal the commit check shows, set for the one load that is under way.
std::string g_refusal;

bool RefuseUnsigned(DialogServices& dlg) {
    if (g_refusal.empty()) return true;
    dlg.ShowMessage(g_refusal);
    return false;
}

// Lifts the commit check when the load ends, however it ends.
struct CommitCheck {
    explicit CommitCheck(std::string refusal) {
        g_refusal = std::move(refusal);
        SetLoadCommitCheck(RefuseUnsigned);
    }
    ~CommitCheck() {
        SetLoadCommitCheck(nullptr);
        g_refusal.clear();
    }
    CommitCheck(const CommitCheck&) = delete;
    CommitCheck& operator=(const CommitCheck&) = delete;
};

}  // namespace

std::optional<bool> LoadReleaseImage(DialogServices& dlg, bool hex) {
    const std::optional<std::string> site = AllowedSigners::FileForRun(std::nullopt);
    if (!site) return std::nullopt;
    const std::optional<std::string> path =
        dlg.ChooseFile(FileDialogMode::Open, hex ? kHexDefaultExtension : "",
                       hex ? kHexOpenFilter : kBinOpenFilter);
    if (!path) return false;
    File file;
    if (!file.OpenForReading(*path)) {
        dlg.ShowMessage(hex ? kMsgHexOpenError : kMsgBinOpenError);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const std::int64_t n = file.Read(buffer, sizeof buffer);
        if (n < 0) {
            dlg.ShowMessage(file.ErrorText());
            return false;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    file.Close();

    std::string error;
    const std::optional<AllowedSigners> signers = AllowedSigners::Read(*site, &error);
    std::string refusal;
    if (!signers) {
        refusal =
            "This image cannot be used: the release signature cannot be checked (" + error + ").";
    } else {
        const ReleaseSignature signature =
            ReleaseSignature::Check(*path, bytes.data(), bytes.size(), &*signers,
                                    static_cast<std::int64_t>(std::time(nullptr)));
        if (!signature.Good())
            refusal =
                "This image is not a signed release and cannot be used: " + signature.Text() + ".";
    }
    const CommitCheck check(refusal);
    if (hex) {
        MemorySource source(bytes);
        return LoadHexFromSource(dlg, source, *path);
    }
    FirmwareImage& scratch = BeginImageLoad();
    const std::size_t length = std::min(bytes.size(), sizeof scratch.data);
    std::memcpy(scratch.data, bytes.data(), length);
    return FinishImageLoad(dlg, static_cast<std::uint32_t>(length), *path);
}
