#pragma once
// What the sub-commands share: loading an image, its trailer's texts and common options.

#include <optional>
#include <string>
#include <vector>

#include "cli/ConsoleDialog.h"
#include "image/AllowedSigners.h"
#include "image/HexLoader.h"
#include "line/ApprovedImage.h"
#include "line/EventFile.h"
#include "line/LineOptions.h"
#include "line/RunResult.h"

namespace CLI {
class App;
}

// Loads the image through the same loader Browse runs. True when the analysis accepted it.
// report, when given, receives what the HEX loader counted (zero for a raw binary).
bool LoadImageFile(ConsoleDialog& dlg, ImageFileType type, HexLoadReport* report = nullptr);
// What the dialog's words for a file that did not load leave out: where and why a HEX file was
// refused ("FILE: line 12: bad checksum"), or the path and the system's reason for a file that
// does not open ("cannot open \"FILE\": No such file or directory"); "" when neither applies.
std::string LoadFailureDetail(const std::string& file, const HexLoadReport& report);
// After the dialog's message for a file that did not load, LoadFailureDetail on stderr:
// "kestrel-cli: FILE: line 12: bad checksum".
void TellLoadFailure(const std::string& file, const HexLoadReport& report);

// "unknown command 'upgarde'; did you mean 'upgrade'? ..." when the first word of args after the
// program that is not an option names no sub-command of app; nothing otherwise.
std::optional<std::string> UnknownCommandText(CLI::App& app, const std::vector<std::string>& args);

// Adds "--type bin|hex" to a sub-command.
void AddTypeOption(CLI::App& command, std::optional<std::string>& type);
// Adds what upgrade and station share for a production line: --record FILE, --station NAME,
// --expect-sha256 HEX, --events FILE|-, --lot TEXT, --operator TEXT, --identity serial|attachment.
void AddLineOptions(CLI::App& command, LineOptions& options);

// The allowed signers a run checks its image's release signature against: the file named
// (--allowed-signers), else the site-wide file when it is there, else none (*signers empty).
// An exit status after saying on stderr why the file cannot be used: nothing is flashed then.
std::optional<int> ReadRunSigners(const std::optional<std::string>& named,
                                  std::optional<AllowedSigners>* signers);

// Opens --events FILE|- when given and adds it to options.sinks; false after saying on stderr
// why it cannot be written (before any device is touched).
bool OpenEventFile(LineOptions& options, EventFile& file);
// Says once on stderr that the event stream stopped, and why.
void SayEventTrouble(const EventFile& file);
