#pragma once
// The main dialog's handlers, written once over the dialog services: both dialogs (Qt and
// Win32) forward their initialisation, button clicks, timer ticks and system commands here and
// decide nothing themselves. This is the layer above image/ and device/: it calls the loaders,
// the writers and the protocol, which in turn reach the dialog only through DialogServices.

class DialogServices;

class UpgradeDlgHandlers {
public:
    explicit UpgradeDlgHandlers(DialogServices& dlg) : m_dlg(dlg) {}

    // The state steps of the dialog's initialisation: no drive, channel 0, BIN, values shown,
    // the image idle from block 0, the view reset.
    void OnInitDialog();
    // A click on the control with this id, handled from the one table of control ids to
    // handlers. False when no handler belongs to the id (OK and Cancel stay with the toolkit).
    bool OnCommand(int id);
    // A tick of a timer: the block timer sends the next block.
    void OnTimer(int timerId);
    // Whether a system command is the About item's.
    static bool IsAboutCommand(unsigned id);
    // Whether a handler belongs to the control id.
    static bool HasCommand(int id);

private:
    DialogServices& m_dlg;
};
