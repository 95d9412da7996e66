// Parses arbitrary bytes as a message and drives everything the screening does to one:
// both written forms, the body texts and searches, the alternatives, a notice, the
// plain-text conversion and the uuencode extraction, each on a fresh copy of the
// message and then all of them on the same message in the order the pipeline uses.
// Checked: the full form read back and written again gives the same text, and the
// message that the editing operations leave still writes and parses.
// The whole input is the message, so that real messages are seeds as they stand; the
// options (text body added, notice at the top, boxed) come from the input's length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/Html.h"
#include "PrivateFolder.h"

namespace {

using gatemoor::TEmailMsg;
using gatemoor::TEmailMsgPart;
using gatemoor::TEmailMsgPartCollection;
using Lines = std::vector<std::string>;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Inputs stay within what a message of a few hundred kilobytes costs.
constexpr std::size_t kMaxInput = 256 * 1024;

std::unique_ptr<TEmailMsg> Parsed(const Lines& lines, bool ensureTextBody) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(ensureTextBody);
    Lines copy = lines;
    (void)message->SetRawMail(copy);
    (void)message->Parts();
    return message;
}

Lines Written(TEmailMsg& message, bool full) {
    Lines lines;
    (void)message.SaveToLines(lines, full);
    return lines;
}

void EachPart(TEmailMsgPartCollection& parts, void (*visit)(TEmailMsgPart&)) {
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        visit(*part);
        EachPart(part->Children(), visit);
    }
}

void ReadPart(TEmailMsgPart& part) {
    Lines text;
    part.GetBodyText(text, false);
    std::string bytes;
    (void)part.DecodeToBytes(bytes);
    Lines lines;
    (void)part.DecodeToStringList(lines, true);
    std::vector<gatemoor::TImageRef> refs;
    part.GetExtImageRefUrls(refs);
}

gatemoor::TSimpleHtml Notice() {
    gatemoor::TSimpleHtml notice;
    notice.AddLine("This message was changed by the screen.", 5, false);
    notice.AddLine("<a href=\"http://localhost:6173/x\">Report</a>", 5, true,
                   gatemoor::TSimpleHtmlMode::HtmlOnly);
    notice.AddLine("Report: http://localhost:6173/x", 5, true, gatemoor::TSimpleHtmlMode::TextOnly);
    notice.WrapInBox("Notice", "", 0);
    return notice;
}

// The message that an editing operation leaves is a message: it writes, and what it
// writes parses and writes again.
void CheckStillAMessage(TEmailMsg& message) {
    const Lines full = Written(message, true);
    (void)Written(message, false);
    auto again = Parsed(full, false);
    (void)Written(*again, true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz::UsePrivateProgramFolder("message");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const std::size_t options = size % 8;
    const bool ensureTextBody = (options & 1) != 0;
    const bool noticeAtTop = (options & 2) != 0;
    const bool boxed = (options & 4) != 0;
    const Lines lines =
        gatemoor::SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));

    // Reading: the full form is a fixed point of parsing and writing.
    {
        auto message = Parsed(lines, ensureTextBody);
        const Lines full = Written(*message, true);
        (void)Written(*message, false);
        EachPart(message->Parts(), ReadPart);
        Lines text;
        message->GetPlainText(text, false);
        message->GetPlainText(text, true);
        (void)message->FindBodyParts();
        auto again = Parsed(full, false);
        Check(Written(*again, true) == full);
    }

    // Each editing operation on a fresh copy.
    {
        auto message = Parsed(lines, ensureTextBody);
        (void)message->EnsureAlternatives();
        CheckStillAMessage(*message);
    }
    {
        auto message = Parsed(lines, ensureTextBody);
        message->InsertUserText(Notice(), noticeAtTop, boxed);
        CheckStillAMessage(*message);
    }
    {
        auto message = Parsed(lines, ensureTextBody);
        (void)message->ConvertToPlainText();
        CheckStillAMessage(*message);
    }
    {
        auto message = Parsed(lines, ensureTextBody);
        (void)message->ExtractUuencodedAttachments();
        CheckStillAMessage(*message);
    }

    // All of them on one message, in the pipeline's order.
    {
        auto message = Parsed(lines, ensureTextBody);
        (void)message->ExtractUuencodedAttachments();
        (void)message->EnsureAlternatives();
        message->InsertUserText(Notice(), noticeAtTop, boxed);
        (void)message->ConvertToPlainText();
        CheckStillAMessage(*message);
    }
    return 0;
}
