#pragma once
// Browse on a PC whose site signs its releases (the site-wide allowed signers are there): the
// chosen file is read once into memory, its release signature checked over those bytes, and the
// image loaded from the same bytes. The load's own checks and messages come first; an image that
// passes them but whose signature does not verify is refused with a plain message, and the image
// loaded before stays as it was. Without the site-wide file the dialog is left exactly as it is.

#include <optional>

class DialogServices;

// Nothing when the site-wide file is not there (load as always); else whether an image was
// loaded.
std::optional<bool> LoadReleaseImage(DialogServices& dlg, bool hex);
