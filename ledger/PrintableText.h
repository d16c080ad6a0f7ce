#pragma once
// Text from records and databases on its way to a terminal or a page: a station named with
// escape sequences must not clear the operator's screen or retitle the window. Control
// characters (C0, DEL, C1) and bytes that are not UTF-8 become '?'; other characters, any
// script, stay as they are.

#include <string>

std::string PrintableText(const std::string& text);
