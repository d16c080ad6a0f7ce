#pragma once
// A dialog for tests: records every service call, answers prompts and file dialogs from queues,
// and lets a test observe the block timer and Wait without sleeping.

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/DialogView.h"

class FakeDialog : public DialogView {
public:
    struct FileRequest {
        FileDialogMode mode;
        std::string defaultExtension;
        std::string filter;
    };

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskOkCancel(const std::string& text) override;
    std::optional<std::string> ChooseFile(FileDialogMode mode, const std::string& defaultExtension,
                                          const std::string& filter) override;
    void PushValues() override { ++pushCount; }
    bool ReadValues() override;
    void EnableButton(int id, bool on) override { buttons[id] = on; }
    void SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) override;
    void SetProgressStep(int step) override { progressStep = step; }
    void SetProgressPos(int pos) override;
    void StepProgress() override { SetProgressPos(progressPos + progressStep); }
    void StartBlockTimer(unsigned intervalMs) override {
        timerInterval = intervalMs;
        timerStarts.push_back(intervalMs);
    }
    void StopBlockTimer() override { timerInterval.reset(); }
    void Wait(unsigned ms) override { waits.push_back(ms); }

    bool Enabled(int id) const;

    // Answers and files handed out in order; an empty queue means Cancel.
    std::deque<bool> okCancelAnswers;
    std::deque<std::optional<std::string>> files;
    std::string channelText = "0";

    std::vector<std::string> messages;
    std::vector<std::string> prompts;
    std::vector<FileRequest> fileRequests;
    std::map<int, bool> buttons;
    int pushCount = 0;
    int progressMin = 0, progressMax = 0, progressPos = 0, progressStep = 0;
    std::optional<unsigned> timerInterval;
    std::vector<unsigned> timerStarts;
    std::vector<unsigned> waits;
};
