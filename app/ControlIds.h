#pragma once
// Control and timer identifiers of the main dialog; the core names buttons by these.

enum ControlId : int {
    IDC_UPGRADE = 1002,
    IDC_PROGRAM_FILE = 1011,
    IDC_SPACE = 1012,
    IDC_CHANNEL = 1013,
    IDC_CANCEL_UPGRADE = 1016,
    IDC_BROWSE = 1017,
    IDC_PROGRESS = 1018,
    IDC_BIN = 1019,
    IDC_HEX = 1020,
    IDC_GEN_BIN = 1021,
    IDC_GEN_BODY = 1022,
};

inline constexpr int kBlockTimerId = 1;

// File types of the BIN/HEX radio group (m_nFileType).
inline constexpr int kFileTypeBin = 0;
inline constexpr int kFileTypeHex = 1;

// The radio of a file type, -1 for a value outside the group (no radio checked); and back.
constexpr int RadioOfFileType(int fileType) {
    return fileType == kFileTypeBin ? IDC_BIN : fileType == kFileTypeHex ? IDC_HEX : -1;
}
constexpr int FileTypeOfRadio(int id) {
    return id == IDC_BIN ? kFileTypeBin : id == IDC_HEX ? kFileTypeHex : -1;
}
