#pragma once
// The dialog state and the services the image and device code may use. The Qt dialog, the
// console front end and the test fakes each implement the services; ResetUi is written once,
// here, over them, with the handler logic that every dialog front end shares. Strings are UTF-8;
// only the Qt side converts.

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

    // Resets the upgrade view: the buttons follow whether a file is loaded, the values are
    // shown, currentBlock goes back to startBlock, the progress bar to its range, and an open
    // drive handle is closed.
    void ResetUi();

    // Enables or disables Browse, Upgrade and both Generate buttons while blocks are being
    // sent; Cancel stays usable. Restored to the ResetUi rule when the run stops.
    void LockForSending(bool locked);

    // Handler logic shared by every dialog front end.
    // The state steps of the dialog's initialisation: no drive, channel 0, BIN, values shown,
    // the image idle from block 0, the view reset.
    void InitDialogState();
    // Browse: take the controls' values (a bad Channel is reported and the load goes on), then
    // run the loader of the chosen file type.
    void OnBrowse();
    // Whether a system command is the About item's.
    static bool IsAboutCommand(unsigned id);
};
