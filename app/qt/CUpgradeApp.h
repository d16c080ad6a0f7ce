#pragma once
// The application object: runs the main dialog modally and ends the process when it closes.
// It keeps no data of its own, so the application's name is the program file's name.

class CUpgradeApp {
public:
    // Returns the process exit status; the dialog's result does not change it.
    int InitInstance(int& argc, char** argv);
};

extern CUpgradeApp theApp;
