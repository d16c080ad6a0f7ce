#include "image/RawBinaryLoader.h"

#include "services/DialogServices.h"
#include "image/File.h"
#include "image/LoadAnalysis.h"

bool LoadProgramBinary(DialogServices& dlg) {
    const auto path = dlg.ChooseFile(FileDialogMode::Open, "", kBinOpenFilter);
    if (!path) return false;
    return LoadProgramBinaryFrom(dlg, *path);
}

bool LoadProgramBinaryFrom(DialogServices& dlg, const std::string& path) {
    File file;
    if (!file.OpenForReading(path)) {
        dlg.ShowMessage(kMsgBinOpenError);
        return false;
    }
    FirmwareImage& scratch = BeginImageLoad();
    const std::int64_t length = file.ReadFully(scratch.data, sizeof scratch.data);
    if (length < 0) {
        dlg.ShowMessage(file.ErrorText());
        return false;
    }
    file.Close();
    return FinishImageLoad(dlg, static_cast<std::uint32_t>(length), path);
}
