#pragma once
// The dialog state and the services the image and device code may use: the one seam between
// them and every front end. The Qt dialog, the Win32 dialog, the console front end and the test
// fakes each implement the services; what the view does on a reset, a finished load and while
// sending is written once, here, over them. image/ and device/ include nothing else of app/
// (a test over the includes keeps it so); the handlers that call them live a layer above, in
// UpgradeDlgHandlers. Strings are UTF-8; only the Qt side converts.

#include <cstdint>
#include <optional>
#include <string>

#include "device/DriveHandle.h"

enum class FileDialogMode { Open, Save };

class DialogServices {
public:
    virtual ~DialogServices() = default;

    // Dialog state.
    DriveHandle m_hDevice = kInvalidDrive;
    std::string m_strProgramFile;
    std::string m_strSpace;
    std::int32_t m_nFileType = 0;
    std::uint32_t m_nChannel = 0;

    // Modal message with an OK button and no icon; the caption is the application's name.
    virtual void ShowMessage(const std::string& text) = 0;
    // Modal prompt with OK and Cancel, no icon, empty caption. True for OK.
    virtual bool AskOkCancel(const std::string& text) = 0;
    // File dialog. defaultExtension is appended to a name without extension ("" for none);
    // filter is in the "description|pattern|" form. Nothing when the user cancels.
    virtual std::optional<std::string> ChooseFile(FileDialogMode mode,
                                                  const std::string& defaultExtension,
                                                  const std::string& filter) = 0;
    // State values to controls (path, space text, file type, channel).
    virtual void PushValues() = 0;
    // Controls to state values, in the order space text, path, file type, channel. A bad
    // Channel text shows kChannelMessage and returns false; the values read before it stay.
    virtual bool ReadValues() = 0;
    virtual void EnableButton(int id, bool on) = 0;

    virtual void SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) = 0;
    virtual void SetProgressStep(int step) = 0;
    virtual void SetProgressPos(int pos) = 0;  // clamped into the range by the control
    virtual void StepProgress() = 0;

    // Block timer 1: when it expires the front end calls SendNextBlock; it keeps firing at the
    // interval until stopped.
    virtual void StartBlockTimer(unsigned intervalMs) = 0;
    virtual void StopBlockTimer() = 0;
    // Blocks the user interface thread; nothing else runs meanwhile.
    virtual void Wait(unsigned ms) = 0;

    // The run was confirmed and its start frame is next. False keeps the frame from being
    // sent: the run ends as failed, and the front end has said why (the console's record
    // could not be written). The dialogs have nothing to do here.
    virtual bool BeforeStartFrame() { return true; }

    // What the view does, written once over the services (DialogServices.cpp) and never
    // overridden. They are virtual only so that image/ and device/, which call them, reach them
    // through this table and not by link: ResetUi needs the image record and closes the drive,
    // so a direct call would tie the image and device libraries to app/ and app/ back to them.

    // Resets the upgrade view: the buttons follow whether a file is loaded, the values are
    // shown, currentBlock goes back to startBlock, the progress bar to its range, and an open
    // drive handle is closed.
    virtual void ResetUi();

    // Enables or disables Browse, Upgrade and both Generate buttons while blocks are being
    // sent; Cancel stays usable. Restored to the ResetUi rule when the run stops.
    virtual void LockForSending(bool locked);

    // What a finished load does to the view: the Generate buttons are enabled, the space text
    // and the path are taken and shown, the view is reset, and Upgrade is enabled.
    virtual void ShowLoadedImage(const std::string& path, const std::string& space);
};
