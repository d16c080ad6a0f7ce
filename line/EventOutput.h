#pragma once
// Where EventFile's writer thread puts the stream: a file, or standard output for "-". One
// implementation per platform. A write waits for a slow reader in short slices and gives up
// when told to, so the station never waits on it.

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

class EventOutput {
public:
    virtual ~EventOutput() = default;
    // Opens PATH for appending (created 0640 when missing; no link followed in a sticky
    // folder; a FIFO opened without waiting for its reader), or takes standard output for "-".
    // Null, with the cause naming the file, in *error.
    static std::unique_ptr<EventOutput> Open(const std::string& path, std::string* error);

    // Writes all of `bytes`; false with the OS's cause in *error, or when `abandon` became true
    // while the reader took nothing.
    virtual bool Write(std::string_view bytes, const std::atomic<bool>& abandon,
                       std::string* error) = 0;
};
