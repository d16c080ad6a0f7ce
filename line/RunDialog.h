#pragma once
// What a run of one unit without a dialog needs of its front end beside the dialog services
// (see UnitRun): the block timer run to the end of the run, and the messages held until the
// run is recorded. Implemented by the console (ConsoleDialog) and by test fakes.

#include <functional>
#include <string>
#include <vector>

class RunDialog {
public:
    virtual ~RunDialog() = default;
    // Runs the block timer while it is armed, calling onTick when it is due; returns with the
    // timer still armed when stopRequested said so.
    virtual void RunBlockTimer(const std::function<void()>& onTick,
                               const std::function<bool()>& stopRequested) = 0;
    virtual bool TimerArmed() const = 0;
    // The blocks the device accepted and the seconds of the block transfer.
    virtual int BlocksStepped() const = 0;
    virtual double RunSeconds() const = 0;
    // Every message the run showed, and showing those held back so far.
    virtual const std::vector<std::string>& Messages() const = 0;
    virtual void ReleaseMessages() = 0;
};
