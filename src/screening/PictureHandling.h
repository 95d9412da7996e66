// The picture policy applied to one screened message: pictures embedded in the HTML
// body, pictures attached to the message and references to pictures on other servers
// are blocked (replaced by the transparent placeholder of the report service) or
// deferred (replaced by links to the report service, which shows them only when the
// user asks). Settings are read each time a stage needs them.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailMsgPart.h"
#include "screening/ScreeningContext.h"

namespace gatemoor {

// A deferred picture could not be saved; it ends the screening of the message.
class EPictureFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the "Pictures" choice, and with "More Options" the three values below it, decide.
struct TPictureDecisions {
    bool blockEmbedded = false;
    bool promptEmbedded = false;
    bool blockAttached = false;
    bool blockExternal = false;
    bool promptExternal = false;
};
// Reads "Pictures" (default 2), "Embedded Images" (1), "Download Images" (2) and
// "Image Attachments" (1).
[[nodiscard]] TPictureDecisions ReadPictureDecisions();

using TImageRefList = std::vector<TImageRef>;

// The picture references of ctx.htmlPart as its HTML writes them; empty when the HTML
// part is not known.
[[nodiscard]] TImageRefList PictureReferences(TScreeningContext& ctx);

// The report service links that replace a reference. `name` may be empty: the link then
// names no picture.
[[nodiscard]] std::string BlockedPictureLink();
[[nodiscard]] std::string DeferredEmbeddedPictureLink(std::string_view name, int recordId);
[[nodiscard]] std::string DeferredExternalPictureLink(int recordId, std::string_view reference);

// The five stages, in the order the screening runs them. Each of the four HTML stages
// does nothing unless its decision holds, the HTML part is known and `refs` is not
// empty; each walks `refs` from the last entry to the first and writes the HTML part
// back once when its text changed. Replacing a reference replaces every occurrence of
// its text, except where a longer reference of `refs` starts with it at that place, and
// never when the link itself contains the text.

// cid: and location references become the placeholder link; their parts are removed,
// each with a notice. Anything replaced or removed sets both flags.
void BlockEmbeddedPictures(TScreeningContext& ctx, const TImageRefList& refs);
// cid: and location references: the part's decoded content is saved in the Images
// folder, the part removed and the reference replaced by a link naming the saved file
// (a reference without part names the file saved last). Sets the modified flag only.
// Throws EPictureFileError when a file cannot be written.
void PromptEmbeddedPictures(TScreeningContext& ctx, const TImageRefList& refs);
// Every part of `parts` and below, last first and sub-parts before their part: a
// picture is removed while its kind (attached, or embedded in the HTML) is blocked, and
// marked KeepAsPicture otherwise. True, with both flags set, when a part was removed.
bool CheckPictureAttachments(TScreeningContext& ctx, const TImageRefList& refs,
                             TEmailMsgPartCollection& parts);
// External references not pointing at "http://LocalHost" become the placeholder link;
// a notice counts them, and both flags are set.
void BlockExternalPictures(TScreeningContext& ctx, const TImageRefList& refs);
// The same references become deferred links with the packed reference; the same notice,
// the modified flag only.
void PromptExternalPictures(TScreeningContext& ctx, const TImageRefList& refs);

// The picture step of the screening: the reference list of the HTML part while it is
// known, then the five stages in order. Throws EPictureFileError as above.
void HandlePictures(TScreeningContext& ctx);

}  // namespace gatemoor
