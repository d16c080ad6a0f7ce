#pragma once
// The dialog state and the services the image, device and line code call: the one seam between
// them and every front end, declared here, below its callers, as a table they call through and
// never link. app/ implements it: DialogView writes what the view does on a reset, a finished
// load and while sending once over the services, and the Qt dialog, the Win32 dialog, the
// console front end and the test fakes provide the rest. No file below the front ends includes
// app/ (scripts/check-layering keeps it so). Strings are UTF-8; only the Qt side converts.

#include <cstdint>
#include <optional>
#include <string>

#include "services/DriveHandle.h"

enum class FileDialogMode { Open, Save };

class DialogServices {
public:
    // Defined in DialogServices.cpp: the table and its type information live in kestrel_services,
    // which every caller links, so a sanitizer's check of a call through it needs nothing above.
    virtual ~DialogServices();

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

    // What the view does, written once in app/ (DialogView) over the services above.

    // Resets the upgrade view: the buttons follow whether a file is loaded, the values are
    // shown, currentBlock goes back to startBlock, the progress bar to its range, and an open
    // drive handle is closed.
    virtual void ResetUi() = 0;

    // Enables or disables Browse, Upgrade and both Generate buttons while blocks are being
    // sent; Cancel stays usable. Restored to the ResetUi rule when the run stops.
    virtual void LockForSending(bool locked) = 0;

    // What a finished load does to the view: the Generate buttons are enabled, the space text
    // and the path are taken and shown, the view is reset, and Upgrade is enabled.
    virtual void ShowLoadedImage(const std::string& path, const std::string& space) = 0;
};
