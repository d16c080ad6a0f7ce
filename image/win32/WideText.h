#pragma once
// Kestrel keeps text and paths in UTF-8; the wide-character Win32 API takes UTF-16.

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
