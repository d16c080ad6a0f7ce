#include "ledger/DurableFile.h"

bool DurableFile::AppendTo(const std::string& path, const std::string& bytes, Access access,
                           std::string* error) {
    const std::unique_ptr<DurableFile> file = Open(path, access, error);
    return file && file->Append(bytes, error);
}
