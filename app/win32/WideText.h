#pragma once
// The dialog state keeps UTF-8; Win32's wide-character API takes UTF-16.

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
