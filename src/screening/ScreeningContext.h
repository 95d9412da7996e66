// The state of one screening: the message being screened, the risk database of the call,
// the body parts the stages work on, the notice and the two flags. The pipeline creates
// one for each message and hands it to every stage, so the stages share what they need
// without module-wide variables, and a second screening can never see the first's parts.
#pragma once

#include <set>
#include <string>

#include "mail/EmailMsg.h"
#include "mail/Html.h"

namespace gatemoor {

class TFileExtensionList;

// What the attachment analysis keeps while it walks one message.
struct TAttachmentAnalysisState {
    int attachmentCount = 0;  // attachments in the whole part tree
    int runningNumber = 0;    // the attachment being analysed, from 1
    // Extensions already described for this message, lower case.
    std::set<std::string> describedExtensions;
};

struct TScreeningContext {
    TEmailMsg* message = nullptr;
    TFileExtensionList* extensions = nullptr;

    // The message's main text and HTML body parts as the stages hold them; a stage
    // "forgets" the HTML part by setting it to null.
    TEmailMsgPart* textPart = nullptr;
    TEmailMsgPart* htmlPart = nullptr;

    // Shown at the top of a changed message's body; built by the final stage.
    TSimpleHtml notice;
    bool noticeFlag = false;    // the message gets a notice and a report
    bool modifiedFlag = false;  // the message must be written back

    TAttachmentAnalysisState attachments;

    void SetBothFlags() { noticeFlag = modifiedFlag = true; }
    // The report section every stage adds its findings to.
    [[nodiscard]] TSimpleHtml& GeneralInfo() const {
        return message->Section(TReportSection::GeneralInfo);
    }
    [[nodiscard]] TSimpleHtml& AttachmentInfo() const {
        return message->Section(TReportSection::AttachmentInfo);
    }
};

}  // namespace gatemoor
