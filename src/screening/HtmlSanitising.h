// The checks on a message's formatted (HTML) body and on a plain text that is really a
// script. Findings become danger reasons and report lines; a dangerous HTML body is
// neutralised by reducing the message to plain text. Settings are read each time a
// check needs them.
#pragma once

#include <string_view>

#include "screening/ScreeningContext.h"

namespace gatemoor {

// For a message whose top-level type is plain text: a short body that starts with '<'
// and holds "<script" gets a notice line and both flags (no danger reason).
void CheckPlainTextMessage(TScreeningContext& ctx);

// "Web Content" 0 ("Plain Text Only"): forgets the HTML part, converts the message to
// plain text and says so. Runs before the attachment removal passes.
void ApplyWebContentChoice(TScreeningContext& ctx);

// "Web Content" 1 or 3: the script, link, frame and object checks on the HTML part's
// normalised text. Each finding records its reason and points line; the message is then
// converted to plain text, and a conversion that changed it adds its notice, sets both
// flags and forgets the HTML part. Errors propagate to the caller.
void CheckHtmlBody(TScreeningContext& ctx);

// Whether `text` holds what the expression "<[^>]*" + inner + ".*?>" (with '.' also
// matching line breaks) finds: a '<', then a match of `inner` before any '>', and a '>'
// anywhere after that match. `inner` is a Perl expression that can match neither '<' nor
// '>'. Linear in the text's length, where the expression as written takes quadratic time
// on a long run of '<'. Throws ERegexException for a bad `inner`.
[[nodiscard]] bool ContainsInTag(std::string_view text, std::string_view inner);

}  // namespace gatemoor
