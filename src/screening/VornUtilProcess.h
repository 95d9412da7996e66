// Other processes: whether they run, their windows and executables, closing them,
// starting programs, and running a console program with its streams in files.
//
// A process's windows are its endpoints on the window bus (platform/WindowBus.h).
// Processes are read from /proc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WindowBus.h"

namespace gatemoor {

using ProcessId = std::uint32_t;

// False for 0; otherwise true while the process exists and has not ended (a process
// that ended but was not yet collected by its parent counts as ended).
[[nodiscard]] bool IsProcessRunning(ProcessId processId);

// The first window (in the bus's order, newest first) that belongs to the process.
[[nodiscard]] std::optional<platform::BusWindow> FindProcessWindow(ProcessId processId);

// Asks the process to close: WM_CLOSE posted to its first window when it has one, else
// SIGTERM. True when the request was delivered.
bool CloseProcessWindow(ProcessId processId);

// Closes a process and answers true once it is closed. 0 answers true. After a close
// request (CloseProcessWindow) it checks waitMs / 100 + 1 times, 100 ms apart, whether
// the request took effect (the process has ended, or after a window request has no
// window left); otherwise it kills the process (SIGKILL) and answers whether that
// worked (a process that has already ended answers true). Blocks for at most
// waitMs + 100 ms before the kill.
bool CloseProcess(ProcessId processId, int waitMs);

// The full path of the process's executable (/proc/<pid>/exe), else its name from the
// process list (/proc/<pid>/comm); empty when neither can be read.
[[nodiscard]] std::string ProcessExePath(ProcessId processId);

// The first process whose executable path matches `pattern` (WildcardMatch): first the
// processes that own windows, in the order their windows are found, then every other
// process in the process list. 0 when none matches.
[[nodiscard]] ProcessId FindProcessByExePattern(std::string_view pattern);

// Wildcard match ignoring the case of A to Z. In the pattern `*` is any run of
// characters (also none), `?` any one character, `#` a digit, `$` a letter or digit,
// `^` a letter, `~` any character that is not a letter, digit or blank; everything else
// stands for itself. The whole text must match; "*" matches any text that is not
// empty; an empty text or pattern matches nothing.
[[nodiscard]] bool WildcardMatch(std::string_view text, std::string_view pattern);

// The newest window of that class, or none.
[[nodiscard]] std::optional<platform::BusWindow> FindWindowByClass(std::string_view className);

// Splits a command line into its words: blanks and tabs separate them, double quotes
// group blanks into a word and are themselves dropped.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts a program and does not wait for it. The program is `programPath` when that is
// not empty, else the command line's first word (looked up on PATH when it holds no
// "/"); when an unquoted first word names no executable file, the shortest run of first
// words joined by blanks that does is taken (a path with blanks written without quotes).
// The command line's words are the program's arguments, the first being the name it
// sees itself called by. The program runs in a session of its own; hidden (`show`
// false) its standard streams go to /dev/null, shown it shares this process's. Its end
// is collected in the background. Answers the new process's id, or 0 when it could not
// be started.
ProcessId StartProgram(std::string_view programPath, std::string_view commandLine, bool show);

// Runs a console program with its standard input, output and error in temporary files
// ("VornsmithyIn", "VornsmithyOut", "VornsmithyErr" in the temporary folder), `input`
// written to the first. Waits for its end, at most `timeoutMs` (0: without limit).
// True when the program ran to its end in time; then, or else, `output` and
// `errorOutput` hold what it wrote so far, and `message` says what went wrong (empty on
// success). A program still running at the time limit is left running.
bool RunConsoleProgram(std::string_view commandLine, std::string_view input, int timeoutMs,
                       std::string& output, std::string& errorOutput, std::string& message);

}  // namespace gatemoor
