#pragma once
// The application icon, drawn by code so that every size is sharp and no binary artwork has to
// be kept: a chip with an upward arrow, for "firmware going onto the device". Both dialogs use
// this one drawing: Qt turns it into its icon, the Windows build writes it into the program's
// icon resource.

#include <cstdint>
#include <vector>

// A size x size rendering, row by row from the top, each pixel 0xAARRGGBB (not premultiplied),
// antialiased, with a transparent background.
std::vector<std::uint32_t> RenderAppIconArgb(int size);
