// `gatemoor --screen`: the screening pipeline run on message files from the command line,
// with the stored settings and optional overrides for this run only.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace gatemoor {

struct TScreenCommand {
    std::vector<std::string> files;
    std::string outFolder;  // empty: standard output (one file only)
    // "Section/Name=value" overrides, already checked.
    struct Override {
        std::string section;
        std::string name;
        int value = 0;
    };
    std::vector<Override> overrides;
};

// Reads the arguments after "--screen". False with `error` set for a bad command line.
bool ParseScreenCommand(const std::vector<std::string>& args, TScreenCommand& command,
                        std::string& error);

// Screens every file; writes what the mail program would receive to the out folder
// (or `out`), one status line per message to `status` and errors to `errors`. The exit
// status: 0 when every file was screened, 1 when any could not be read or written.
int RunScreenCommand(const TScreenCommand& command, std::ostream& out, std::ostream& status,
                     std::ostream& errors);

}  // namespace gatemoor
