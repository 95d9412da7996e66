// The activity log: one record a line in one file a day, "<title> - dd mmm yyyy.log" in
// the program's Log folder, filtered by a detail level, old files deleted at the start
// of each new day. The log viewer reads the same files back.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/Time.h"

namespace gatemoor {

// Opening, appending to or closing the day's file failed; the module is unchanged.
class ELogFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A record whose time item is not a number.
class ELogLineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TLogRec {
    std::string Service;
    std::string Text;  // "<CRLF>" markers kept
    bool IsError = false;
    int Detail = 5;
    std::uint32_t ThreadId = 0;
    TDateTime Time = 0;  // time of day only
};

// One record. Levels run from 1 (detail) to 10 (important); level 11 never writes.
// Raises ECriticalSectionException on a lock time-out and ELogFileError on file errors.
void WriteLog(std::string_view service, std::string_view text, std::uint8_t level, bool isError);

// Parses one line into `record`; a thread id that is not a number keeps the record's
// previous one. Raises ELogLineError when the time item is not a number.
void ParseLogLine(std::string_view line, TLogRec& record);

// File name (no folder) of the current file; the date part is that of the zero date
// (30 Dec 1899) before the first file of the process has been opened.
[[nodiscard]] std::string LogFileNameForToday();
// Full path of the open file, empty while none is open.
[[nodiscard]] std::string CurrentLogFilePath();

// Makes what was written durable before the files are listed or read.
void FlushLog();
void SetDetailLevel(int level);     // 0 keeps levels 10 and up, 10 keeps everything
void SetRetentionDays(int days);
[[nodiscard]] int DetailLevel();
[[nodiscard]] int RetentionDays();

// Module start: the lock and state. Module end: closes the file, and deletes it when it
// was created by this run and nothing was written to it.
void LogModuleStart();
void LogModuleEnd();

}  // namespace gatemoor
