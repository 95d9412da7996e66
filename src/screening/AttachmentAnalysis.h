// Attachment danger analysis and removal. Every attachment of the message is judged by
// its names, their extensions and what the risk database says of them, the MIME type
// the sender declared, blanks hidden in the name and a request to be shown inline; each
// finding adds danger points to the part (TPartScreening) and explanatory lines to the
// message's attachment section. The removal passes then delete attachments by the
// user's "Attachment Blocking" choice, each deletion leaving a notice in the general
// information.
#pragma once

#include <string_view>

#include "screening/ScreeningContext.h"

namespace gatemoor {

class TEmailMsgPart;
class TEmailMsgPartCollection;
class TFileExtension;

// Danger reasons of the message: a top-level attachment, an attachment below another
// part.
inline constexpr std::string_view kAttachmentReason = "Attachment";
inline constexpr std::string_view kEmailAttachmentReason = "Email attachment";

// Analyses every part of ctx.message and fills its attachment section; a top-level
// part's points become the danger reason kAttachmentReason (the first non-zero one
// counts). Resets ctx.attachments and the message's per-attachment builders first. An
// error ends the analysis quietly and keeps what was gathered.
void FCheckAttachedFiles(TScreeningContext& ctx);

// The sub-parts first (each recorded as kEmailAttachmentReason), then the part itself
// when it is an attachment: its section is built, boxed and appended to the attachment
// section. An error inside one part's analysis discards that part's unfinished section
// and the analysis goes on with the next part, so that a malformed part cannot shield
// the ones after it.
void AnalysePart(TScreeningContext& ctx, TEmailMsgPart& part);

// The findings of one file name of `part`: blanks hiding the extension, two known
// extensions, and the description of the extensions. Lines go to `section`.
void AnalyseName(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                 std::string_view name);

// What the database says of one extension record, as lines of `level` in `section`, with
// its points; nothing for an empty record. Records the extension as described for this
// message.
void DescribeExtension(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                       const TFileExtension& record, int level);

// The removal passes over a part collection (the message's top level) and its sub-trees,
// last part first, sub-parts before their part. None removes an attached message, a part
// kept as a picture, the main text or HTML part that ctx holds, a part that contains one
// of those two, or the first part of a multipart (it carries the opening delimiter).
// Each removal adds its notice to the general information; true, with both flags set,
// when anything was removed. They read what FCheckAttachedFiles found.
bool RemoveDangerousAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts);
bool RemoveSuspiciousAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts);
// Considers every part, attachment or not.
bool RemoveAllAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts);

// "Attachment Blocking" 2: the dangerous pass; 1: the dangerous pass and, only when it
// removed nothing, the suspicious pass; otherwise nothing. Runs before picture handling.
bool ApplyAttachmentBlocking(TScreeningContext& ctx);
// "Attachment Blocking" 0: the block-all pass; otherwise nothing. Runs after picture
// handling, so that the pictures it kept survive.
bool ApplyBlockAllAttachments(TScreeningContext& ctx);

}  // namespace gatemoor
