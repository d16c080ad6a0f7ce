#include "cli/ConsoleDialog.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <thread>

#include "app/ChannelText.h"

ConsoleDialog::ConsoleDialog(Options options) : m_options(std::move(options)) {}

void ConsoleDialog::ShowMessage(const std::string& text)
{
    m_messages.push_back(text);
    std::cerr << text << '\n';
}

bool ConsoleDialog::AskOkCancel(const std::string& text)
{
    std::cerr << text;
    if (m_options.assumeYes) {
        std::cerr << " [OK: --yes]\n";
        return true;
    }
    if (!::isatty(STDIN_FILENO)) {
        std::cerr << " [Cancel: no terminal to ask; pass --yes to accept]\n";
        m_declined = true;
        return false;
    }
    std::cerr << " [ok/cancel] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool ok = answer == "o" || answer == "ok" || answer == "y" || answer == "yes";
    if (!ok) m_declined = true;
    return ok;
}

std::string ConsoleDialog::ApplyDefaultExtension(const std::string& path, const std::string& ext)
{
    if (ext.empty()) return path;
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.find('.') != std::string::npos) return path;
    return path + "." + ext;
}

std::optional<std::string> ConsoleDialog::ChooseFile(FileDialogMode, const std::string& ext,
                                                     const std::string&)
{
    if (m_options.path.empty()) return std::nullopt;
    return ApplyDefaultExtension(m_options.path, ext);
}

bool ConsoleDialog::ReadValues()
{
    const auto channel = ParseChannelText(m_options.channelText);
    if (!channel) {
        ShowMessage(kMsgChannelInvalid);
        return false;
    }
    m_nChannel = *channel;
    return true;
}

bool ConsoleDialog::ButtonEnabled(int id) const
{
    const auto it = m_buttons.find(id);
    return it != m_buttons.end() && it->second;
}

void ConsoleDialog::SetProgressRange(std::uint16_t minimum, std::uint16_t maximum)
{
    m_progressMin = minimum;
    m_progressMax = maximum;
    m_progressPos = std::clamp(m_progressPos, m_progressMin, std::max(m_progressMin, m_progressMax));
}

void ConsoleDialog::SetProgressPos(int pos)
{
    m_progressPos = std::clamp(pos, m_progressMin, std::max(m_progressMin, m_progressMax));
    DrawProgress();
}

void ConsoleDialog::StepProgress()
{
    SetProgressPos(m_progressPos + m_progressStep);
}

void ConsoleDialog::DrawProgress()
{
    if (!m_options.showProgress || m_progressMax <= m_progressMin) return;
    const int total = m_progressMax - m_progressMin;
    const int done = m_progressPos - m_progressMin;
    constexpr int kWidth = 40;
    const int filled = done * kWidth / total;
    std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << done << "/"
              << total << std::flush;
    if (done == total) std::cerr << '\n';
}

void ConsoleDialog::StartBlockTimer(unsigned intervalMs)
{
    m_timerInterval = intervalMs;
    m_timerDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
}

void ConsoleDialog::Wait(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ConsoleDialog::RunBlockTimer(const std::function<void()>& onTick,
                                  const std::function<bool()>& stopRequested)
{
    while (m_timerInterval && !stopRequested()) {
        std::this_thread::sleep_until(m_timerDue);
        if (stopRequested()) break;
        // The timer keeps firing at its interval until the tick stops it.
        m_timerDue += std::chrono::milliseconds(*m_timerInterval);
        onTick();
    }
}
