#include "tests/support/FakeDialog.h"

#include <algorithm>

#include "app/ChannelText.h"

bool FakeDialog::AskOkCancel(const std::string& text) {
    prompts.push_back(text);
    if (okCancelAnswers.empty()) return false;
    const bool answer = okCancelAnswers.front();
    okCancelAnswers.pop_front();
    return answer;
}

std::optional<std::string> FakeDialog::ChooseFile(FileDialogMode mode,
                                                  const std::string& defaultExtension,
                                                  const std::string& filter) {
    fileRequests.push_back({mode, defaultExtension, filter});
    if (files.empty()) return std::nullopt;
    auto file = files.front();
    files.pop_front();
    return file;
}

bool FakeDialog::ReadValues() {
    const auto channel = ParseChannelText(channelText);
    if (!channel) {
        ShowMessage(kMsgChannelInvalid);
        return false;
    }
    m_nChannel = *channel;
    return true;
}

void FakeDialog::SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) {
    progressMin = minimum;
    progressMax = maximum;
}

void FakeDialog::SetProgressPos(int pos) {
    progressPos = std::clamp(pos, progressMin, std::max(progressMin, progressMax));
}

bool FakeDialog::Enabled(int id) const {
    const auto it = buttons.find(id);
    return it != buttons.end() && it->second;
}
