#pragma once
// The dialog services on a console: messages go to stderr worded as the dialog words them, the
// file dialog returns the path given on the command line, prompts ask on the terminal unless
// --yes, and the block timer is kept by RunBlockTimer.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "line/RunDialog.h"

class ConsoleDialog : public DialogView, public RunDialog {
public:
    struct Options {
        std::string path;               // what ChooseFile answers
        std::string channelText = "0";  // what ReadValues reads as the Channel
        bool assumeYes = false;         // answer OK to every prompt
        bool showProgress = false;      // draw a progress bar on stderr
        // Messages wait for ReleaseMessages, so that a run's record is on disk before its
        // result is shown.
        bool holdMessages = false;
        // Also report each message and progress step on stdout (see ChildReport), for a
        // parent kestrel-cli running several upgrades.
        bool reportToParent = false;
        // What BeforeStartFrame answers (the run's started record); none: true.
        std::function<bool()> beforeStartFrame = nullptr;
        // Called with the blocks accepted so far and the run's total at every step.
        std::function<void(int done, int total)> onProgress = nullptr;
    };

    explicit ConsoleDialog(Options options);

    void ShowMessage(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    std::optional<std::string> ChooseFile(FileDialogMode mode, const std::string& defaultExtension,
                                          const std::string& filter) override;
    void PushValues() override {}
    bool ReadValues() override;
    void EnableButton(int id, bool on) override { m_buttons[id] = on; }

    void SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) override;
    void SetProgressStep(int step) override { m_progressStep = step; }
    void SetProgressPos(int pos) override;
    void StepProgress() override;

    void StartBlockTimer(unsigned intervalMs) override;
    void StopBlockTimer() override { m_timerInterval.reset(); }
    void Wait(unsigned ms) override;
    bool BeforeStartFrame() override {
        return !m_options.beforeStartFrame || m_options.beforeStartFrame();
    }

    // Runs the block timer: while it is armed, sleeps until it is due and calls onTick. The
    // interval runs from the end of one tick to the next, as the dialog's timer does when a
    // tick stops and re-arms it. stopRequested is polled between ticks; an interrupt (see
    // ConsoleInterrupt) also ends the sleeps. Returns with the timer still armed when stopped.
    void RunBlockTimer(const std::function<void()>& onTick,
                       const std::function<bool()>& stopRequested) override;
    bool TimerArmed() const override { return m_timerInterval.has_value(); }

    // What the next ChooseFile answers: a sub-command that loads FILE and then saves to OUT
    // switches the answer between the two dialogs.
    void SetChosenPath(std::string path) { m_options.path = std::move(path); }
    // The run as the progress bar saw it: from the first arming of the timer after the bar was
    // reset, the blocks stepped, the time from then to the end of the last tick, and the time
    // spent inside ticks (the transfers themselves).
    int BlocksStepped() const override { return m_blocksStepped; }
    double RunSeconds() const override;
    double TickSeconds() const;

    const std::vector<std::string>& Messages() const override { return m_messages; }
    // Shows the messages held back so far (see Options::holdMessages).
    void ReleaseMessages() override;
    bool ButtonEnabled(int id) const;
    int ProgressPos() const { return m_progressPos; }
    int ProgressMin() const { return m_progressMin; }
    int ProgressMax() const { return m_progressMax; }

    // Called by a prompt answered "no" and by runs that stop silently; read by exit status.
    bool Declined() const { return m_declined; }

private:
    void DrawProgress();
    void EndProgressLine();

    Options m_options;
    std::vector<std::string> m_messages;
    std::map<int, bool> m_buttons;
    int m_progressMin = 0, m_progressMax = 0, m_progressPos = 0, m_progressStep = 1;
    std::optional<unsigned> m_timerInterval;
    std::chrono::steady_clock::time_point m_timerDue;
    unsigned m_timerArmings = 0;  // tells RunBlockTimer whether a tick re-armed the timer
    bool m_declined = false;

    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> m_runStart;
    Clock::time_point m_runEnd;
    Clock::duration m_tickTime{};
    int m_blocksStepped = 0;
    bool m_barOnLine = false;  // the cursor sits at the end of a drawn bar
    std::size_t m_messagesShown = 0;
};
