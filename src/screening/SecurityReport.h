// The last stage of the screening: the backup of a message as received, the notice at
// the top of a changed message, and the HTML security report that the notice links to.
// A message that needed no notice loses its backup again; a report, once written, is
// never rewritten.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "screening/ScreeningContext.h"

namespace gatemoor {

// The public page on the over-long Date header hole (bulletin MS00-043), named in the
// danger reason and the report line of the date check.
inline constexpr std::string_view kDateBulletinAddress =
    "https://learn.microsoft.com/en-us/security-updates/securitybulletins/2000/ms00-043";
// The public page explaining why mail servers return messages whose sender address was
// forged, linked from the notice of a bounce.
inline constexpr std::string_view kBounceExplanationAddress =
    "https://en.wikipedia.org/wiki/Backscatter_(email)";

// Writes `lines` to a new file Backup(xxxxx).eml in the backups folder, each line
// followed by CR LF, and answers its file name without folder; empty when the file could
// not be written (a partly written file is removed). When the first line would be read
// back as the property line of the message file format, an empty property line goes
// before it, so that the received text can never choose the message's stored properties
// (its information record, above all); every other backup holds the lines byte for byte.
[[nodiscard]] std::string SaveBackup(const std::vector<std::string>& lines);

// BackupsFolder() + "/" + `fileName`.
[[nodiscard]] std::string BackupPath(std::string_view fileName);

// The top-level Content-Type of the message is exactly "multipart/report": a bounce.
[[nodiscard]] bool IsBounce(TEmailMsg& message);

// The general-information line of the danger level: "  The danger level associated with
// the original e-mail as a whole is <level>%." in green for 0, orange for 1 to 9, orange
// bold for 10 to 19 and red bold from 20 on.
[[nodiscard]] std::string DangerLevelLine(int level);

// The final stage, after every other stage. With the notice flag: makes sure the message
// has a body for the notice, fills the backup information, puts the danger level and
// one points line per danger reason at the top of the general information, builds the
// notice with the report link (and the bounce lines for a bounce) and writes the report.
// Without it: deletes the backup; a bounce still gets a small notice of its own (and both
// flags) but no report; otherwise the notice is cleared.
void FinishScreening(TScreeningContext& ctx);

// Writes the security report of `message` to its report path. Does nothing when the
// path is empty or the file exists already: a report is never rewritten. Every text
// taken from the message is HTML-escaped. The raw text is the backup loaded as a message
// and written out in short form; the message's own short form when that gives nothing.
// True when the report was written now. Never throws: a report that cannot be written
// is left out (and noted in the transcript), so that the screened message still goes
// out as screened.
bool WriteReport(TEmailMsg& message);

}  // namespace gatemoor
