// The screening of one retrieved message from end to end: backup, partial messages,
// preparation, the stages in their order, the notice, and the message written back in
// place of the received lines.
#pragma once

#include <string>
#include <vector>

namespace gatemoor {

class TFileExtensionList;
struct TScreeningContext;

// What became of one message, for the caller's own account (the mail program only sees
// the lines).
struct TScreeningOutcome {
    bool withheld = false;   // a message/partial fragment: the lines came back empty
    bool changed = false;    // the lines were replaced by the screened message
    bool noticed = false;    // the message got a notice and a report
    int dangerLevel = 0;     // 0..100
    std::string reportPath;  // the report written for it, empty when none
    std::string backupPath;  // the backup kept for it, empty when none is kept
    std::string joinedPath;  // the last fragment of a message/partial: the joined message
};

// Screens `lines` (one raw message, POP3 byte-stuffing already removed) with the risk
// database `extensions`. Afterwards `lines` holds what the mail program is to receive:
// the received lines when nothing was found, nothing for a withheld fragment. An error
// inside the screening leaves the received lines as they came.
TScreeningOutcome ProcessIncomingEmail(std::vector<std::string>& lines,
                                       TFileExtensionList& extensions);

// The stages between preparation and the notice: the date and subject checks, HTML
// sanitising, attachment removal, picture handling and the final stage.
void ScreenMessage(TScreeningContext& ctx);

}  // namespace gatemoor
