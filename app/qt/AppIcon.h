#pragma once
// The application icon, drawn by code so that every size is sharp and no binary artwork has to
// be kept: a chip with an upward arrow, for "firmware going onto the device".

#include <QIcon>
#include <QImage>

// One square rendering with a transparent background.
QImage RenderAppIcon(int size);

// The icon at the sizes window managers and the taskbar ask for.
QIcon AppIcon();
