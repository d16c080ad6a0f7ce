#pragma once
// What the view does, written once over the dialog services: a reset, the buttons while blocks
// are sent, a finished load. Every front end (the Qt and Win32 dialogs, the console, the test
// fakes) derives from it and provides the services themselves; the image, device and line code
// reach these through the services' table (services/DialogServices.h) and never link app/.

#include <string>

#include "services/DialogServices.h"

class DialogView : public DialogServices {
public:
    void ResetUi() final;
    void LockForSending(bool locked) final;
    void ShowLoadedImage(const std::string& path, const std::string& space) final;
};
