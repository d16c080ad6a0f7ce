#pragma once
// Files derived from the loaded image: the program file with its boot area blanked and the
// complete burn file beside it (Generate Bin File), and the body file from the marker block on
// (Generate Body File). Each is a plain byte dump; the image itself is never changed.

#include <cstddef>
#include <string>

class DialogServices;

inline constexpr char kMsgBinIncomplete[] = "Bin Incomplete!";
inline constexpr char kMsgOpenBinFileError[] = "Open bin file error!";
inline constexpr char kBinSaveFilter[] = "bin files (*.bin)|*.bin|";
inline constexpr char kBinDefaultExtension[] = "bin";
inline constexpr char kBurnSuffix[] = "_BURN.bin";
// The chosen path is bounded as if held in a buffer of this many characters, terminator included.
inline constexpr std::size_t kDerivedPathBuffer = 1000;

// Generate Bin File: asks where to save, then writes the program file and its burn file.
// True when both were written.
bool WriteBinFiles(DialogServices& dlg);
// The same without the dialog: path is the program file (extension already applied).
bool WriteBinFilesTo(DialogServices& dlg, const std::string& path);

// Generate Body File: asks where to save, then writes blocks startBlock..endBlock-1.
bool WriteBodyFile(DialogServices& dlg);
bool WriteBodyFileTo(DialogServices& dlg, const std::string& path);

// The program path minus its last four characters, plus "_BURN.bin": "fw.bin" -> "fw_BURN.bin".
// Characters are UTF-8 code points, so a name is never cut inside a character. Empty when the
// path has fewer than four characters.
std::string BurnFilePath(const std::string& programPath);
