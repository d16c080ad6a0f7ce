#pragma once
// Loading a raw program binary: a byte-for-byte image of the program space from offset 0.

#include <string>

class DialogServices;

inline constexpr char kMsgBinOpenError[] = "File Open Error!";
inline constexpr char kBinOpenFilter[] = "DSP program bin files (*.bin)|*.bin|";

// Browse with BIN selected: asks for a file and loads it. True when a file was loaded.
bool LoadProgramBinary(DialogServices& dlg);

// Loads the file at path (no dialog). Only the first 512 KB of a longer file are read.
bool LoadProgramBinaryFrom(DialogServices& dlg, const std::string& path);
