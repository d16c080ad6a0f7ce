#pragma once
// Final rows the unit database did not take while it was away: a JSON Lines file of the
// effective user's own, written to the database when it answers again. A row in this file is
// believed as this user's run (an "ok" there makes every station skip the unit), so the file
// lives only where no other user can plant or redirect it: beside the SQLite file the user
// named, else in a private state folder, never in a shared folder such as /tmp.

#include <functional>
#include <optional>
#include <string>

#include "ledger/RunRow.h"

class UnsentRows {
public:
    // Where the rows of a database URL wait: PATH.unsent.jsonl beside an SQLite file; for a
    // server, unsent-HASH.jsonl in the first of $STATE_DIRECTORY (a systemd service's
    // StateDirectory=), $XDG_STATE_HOME/kestrel, and .local/state/kestrel in the effective
    // user's home as the password database names it. That folder is created 0700 and used only
    // when the effective user owns it and it is no symbolic link. Nothing, with the reason in
    // *error, when there is no such folder.
    static std::optional<UnsentRows> For(const std::string& url, std::string* error);

    const std::string& Path() const { return m_path; }
    // Appends the run's final line, flushed to disk.
    bool Keep(const RunRow& row, std::string* error) const;
    // Whether any row waits (a look at the file's size).
    bool Waiting() const;
    // Hands every waiting row to write; the file is emptied when each went in and nothing was
    // added meanwhile (writing a row twice changes nothing). The file is not held while the
    // rows are written, so a run keeping its row never waits for the database.
    void Send(const std::function<bool(const RunRow&)>& write) const;

private:
    explicit UnsentRows(std::string path) : m_path(std::move(path)) {}
    // The private state folder (see For), created when missing; Linux only.
    static std::optional<std::string> StateFolder(std::string* error);

    std::string m_path;
};
