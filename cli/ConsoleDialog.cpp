#include "cli/ConsoleDialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <thread>

#include "app/ChannelText.h"
#include "app/FileDialogRules.h"
#include "line/ChildReport.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/Terminal.h"

ConsoleDialog::ConsoleDialog(Options options) : m_options(std::move(options)) {}

void ConsoleDialog::ShowMessage(const std::string& text) {
    m_messages.push_back(text);
    if (m_options.reportToParent) std::cout << ChildReport::MessageLine(text) << std::flush;
    if (!m_options.holdMessages) ReleaseMessages();
}

void ConsoleDialog::ReleaseMessages() {
    if (m_messagesShown == m_messages.size()) return;
    EndProgressLine();
    for (; m_messagesShown < m_messages.size(); ++m_messagesShown)
        std::cerr << m_messages[m_messagesShown] << '\n';
}

bool ConsoleDialog::AskOkCancel(const std::string& text) {
    ReleaseMessages();
    EndProgressLine();
    std::cerr << text;
    if (m_options.assumeYes) {
        std::cerr << " [OK: --yes]\n";
        return true;
    }
    if (!IsTerminal(StandardStream::Input)) {
        std::cerr << " [Cancel: no terminal to ask; pass --yes to accept]\n";
        m_declined = true;
        return false;
    }
    std::cerr << " [ok/cancel] " << std::flush;
    std::string answer;
    // Ctrl-C at the prompt answers Cancel; the command then sees the interrupt.
    if (!ConsoleInterrupt::WaitForInput() || !std::getline(std::cin, answer)) {
        std::cerr << '\n';
        m_declined = true;
        return false;
    }
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool ok = answer == "o" || answer == "ok" || answer == "y" || answer == "yes";
    if (!ok) m_declined = true;
    return ok;
}

std::optional<std::string> ConsoleDialog::ChooseFile(FileDialogMode, const std::string& ext,
                                                     const std::string&) {
    if (m_options.path.empty()) return std::nullopt;
    return ApplyDefaultExtension(m_options.path, ext);
}

bool ConsoleDialog::ReadValues() {
    const auto channel = ParseChannelText(m_options.channelText);
    if (!channel) {
        ShowMessage(kMsgChannelInvalid);
        return false;
    }
    m_nChannel = *channel;
    return true;
}

bool ConsoleDialog::ButtonEnabled(int id) const {
    const auto it = m_buttons.find(id);
    return it != m_buttons.end() && it->second;
}

void ConsoleDialog::SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) {
    m_progressMin = minimum;
    m_progressMax = maximum;
    m_progressPos =
        std::clamp(m_progressPos, m_progressMin, std::max(m_progressMin, m_progressMax));
}

void ConsoleDialog::SetProgressPos(int pos) {
    m_progressPos = std::clamp(pos, m_progressMin, std::max(m_progressMin, m_progressMax));
}

void ConsoleDialog::StepProgress() {
    SetProgressPos(m_progressPos + m_progressStep);
    ++m_blocksStepped;
    if (m_options.reportToParent)
        std::cout << ChildReport::ProgressLine(m_progressPos - m_progressMin,
                                               m_progressMax - m_progressMin)
                  << std::flush;
    if (m_options.onProgress)
        m_options.onProgress(m_progressPos - m_progressMin, m_progressMax - m_progressMin);
    DrawProgress();
}

void ConsoleDialog::DrawProgress() {
    if (!m_options.showProgress || m_progressMax <= m_progressMin) return;
    const int total = m_progressMax - m_progressMin;
    const int done = m_progressPos - m_progressMin;
    constexpr int kWidth = 40;
    const int filled = done * kWidth / total;
    char left[32] = "--:--";
    if (done > 0 && m_runStart) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - *m_runStart).count();
        const long seconds = std::lround(elapsed / done * (total - done));
        std::snprintf(left, sizeof left, "%ld:%02ld", seconds / 60, seconds % 60);
    }
    char counts[96];
    std::snprintf(counts, sizeof counts, "] %d/%d blocks %3d%% %s left", done, total,
                  done * 100 / total, left);
    // Clear to the end of the line: the text may shrink as time left does.
    std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), '.') << counts << "\x1b[K"
              << std::flush;
    m_barOnLine = true;
}

void ConsoleDialog::EndProgressLine() {
    if (!m_barOnLine) return;
    std::cerr << '\n';
    m_barOnLine = false;
}

void ConsoleDialog::StartBlockTimer(unsigned intervalMs) {
    const auto now = Clock::now();
    if (m_progressPos == m_progressMin) {
        // First arming since the bar was reset: a run starts.
        m_runStart = now;
        m_runEnd = now;
        m_tickTime = {};
        m_blocksStepped = 0;
        DrawProgress();
    }
    m_timerInterval = intervalMs;
    m_timerDue = now + std::chrono::milliseconds(intervalMs);
    ++m_timerArmings;
}

void ConsoleDialog::Wait(unsigned ms) {
    // Nothing else runs meanwhile, Ctrl-C included: it is taken at the next timer sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ConsoleDialog::RunBlockTimer(const std::function<void()>& onTick,
                                  const std::function<bool()>& stopRequested) {
    while (m_timerInterval && !stopRequested()) {
        if (!ConsoleInterrupt::SleepUntil(m_timerDue) || stopRequested()) break;
        const unsigned armings = m_timerArmings;
        const auto begin = Clock::now();
        onTick();
        const auto end = Clock::now();
        m_tickTime += end - begin;
        m_runEnd = end;
        // A tick that left the timer running as it was gets the next one an interval later.
        if (m_timerInterval && armings == m_timerArmings)
            m_timerDue = end + std::chrono::milliseconds(*m_timerInterval);
    }
}

double ConsoleDialog::RunSeconds() const {
    if (!m_runStart) return 0.0;
    return std::chrono::duration<double>(m_runEnd - *m_runStart).count();
}

double ConsoleDialog::TickSeconds() const {
    return std::chrono::duration<double>(m_tickTime).count();
}
