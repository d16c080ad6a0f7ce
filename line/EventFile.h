#pragma once
// --events FILE|-: the event stream as JSON Lines, appended to FILE, or written to standard
// output for "-" (which then carries event lines only). Each line is written whole and flushed
// at once, so a reader following the file sees every event as it happens.

#include <cstdio>
#include <string>

#include "line/EventSink.h"

class EventFile : public EventSink {
public:
    EventFile() = default;
    ~EventFile() override;
    EventFile(const EventFile&) = delete;
    EventFile& operator=(const EventFile&) = delete;

    // Opens FILE for appending (created when missing), or takes standard output for "-".
    // False, with the cause naming the file in *error.
    bool Open(const std::string& path, std::string* error);
    void OnEvent(std::string_view line) override;
    // The first write that failed ("PATH: CAUSE"); "" while all went well. Later events are
    // dropped: a stream with a hole would mislead more than one that stops.
    const std::string& Error() const { return m_error; }

private:
    std::FILE* m_file = nullptr;
    bool m_own = false;
    std::string m_path;
    std::string m_error;
};
