#pragma once
// The application icon as Qt images, from the drawing both dialogs share (app/AppIconArt.h).

#include <QIcon>
#include <QImage>

// One square rendering with a transparent background.
QImage RenderAppIcon(int size);

// The icon at the sizes window managers and the taskbar ask for.
QIcon AppIcon();
