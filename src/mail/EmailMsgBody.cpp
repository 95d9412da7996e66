// Body editing of TEmailMsg: finding the text and HTML bodies, adding parts and
// alternatives, inserting notices, reducing a message to plain text and turning
// uuencoded blocks into attachments. Every operation holds the message lock and works
// on the parsed message; each change marks the message modified.
#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/HTMLPars.h"
#include "mail/Html.h"
#include "screening/EmailInfo.h"
#include "screening/FileExtLookup.h"
#include "screening/VornUtil.h"

namespace gatemoor {

namespace {

constexpr std::string_view kContentType = "Content-Type";
constexpr std::string_view kTransferEncoding = "Content-Transfer-Encoding";
constexpr std::string_view kDisposition = "Content-Disposition";

constexpr std::string_view kAttachmentPrefix = "----Vorn1";
constexpr std::string_view kPlainPartPrefix = "----Vorn2";
constexpr std::string_view kPlainBoundaryPrefix = "----Vorn3";
constexpr std::string_view kContainerPrefix = "----Vorn4";
constexpr std::string_view kHtmlPartPrefix = "----Vorn9";
constexpr std::string_view kHtmlBoundaryPrefix = "----Vorn2";

constexpr std::string_view kNewPlainType = "text/plain; charset=\"us-ascii\"";
constexpr std::string_view kNewHtmlType = "text/html; charset=\"us-ascii\"";
constexpr std::string_view kNewPartEncoding = "7bit";
constexpr std::string_view kConvertedType = "text/plain; charset=\"iso-8859-1\"";
constexpr std::string_view kConvertedEncoding = "8bit";

// Width of the text inside a notice box; a line that still exceeds it loses the right
// frame so that the box does not grow.
constexpr int kBoxWidth = 69;
// A uuencode "begin" line holds at most this much file name.
constexpr std::size_t kMaxUuFileName = 999;

std::string NewBoundary(std::string_view prefix) {
    return std::string(prefix) + RandomAlphanumeric(20);
}

std::string MultipartType(std::string_view subtype, const std::string& boundary) {
    return "multipart/" + std::string(subtype) + "; boundary=\"" + boundary + "\"";
}

// The position of `needle` in `text` ignoring ASCII case; npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view needle) {
    if (needle.empty() || needle.size() > text.size()) return std::string::npos;
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
    return it == text.end() ? std::string::npos : static_cast<std::size_t>(it - text.begin());
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FindNoCase(a, b) == 0;
}

// A Content-Type value turned from HTML to plain text.
std::string PlainTypeOf(std::string_view htmlType) {
    std::string type = AsciiLower(htmlType);
    ReplaceEvery("text/html", "text/plain", type);
    return type;
}

std::string FieldOf(const TEmailHeader& header, std::string_view name, bool unfold = false) {
    std::string value;
    header.GetField(name, value, unfold);
    return value;
}

bool IsPlainBody(const TEmailHeader* header) {
    return header != nullptr && header->IsPlainText();
}

bool IsHtmlBody(const TEmailHeader* header) {
    return header != nullptr && header->IsHtml();
}

// Attachments and attached messages never hold the message's own bodies.
bool IsForeign(const TEmailHeader* header) {
    return header == nullptr || header->IsAttachment() || header->IsRfc822();
}

bool Complete(const TBodyParts& found) {
    return found.plain != nullptr && found.html != nullptr;
}

// A multipart header is never a body itself, even where a parameter names a text type
// (multipart/related; type="text/html"): its part is a preamble or a container.
bool IsTextBody(const TEmailHeader* header) {
    return header != nullptr && !header->IsMultipart();
}

void Fill(TEmailMsgPart* part, TBodyParts& found) {
    const TEmailHeader* header = part->Header();
    if (!IsTextBody(header)) return;
    if (found.plain == nullptr && IsPlainBody(header)) found.plain = part;
    if (found.html == nullptr && IsHtmlBody(header)) found.html = part;
}

void SearchBodies(TEmailMsgPart* part, TBodyParts& found, int depth) {
    if (depth > kMaxPartDepth) return;
    const TEmailHeader* header = part->Header();
    if (header == nullptr) return;
    if (header->IsInline() && !IsForeign(header) && !header->IsMultipart()) Fill(part, found);
    TEmailMsgPartCollection& children = part->Children();
    for (int i = 0; i < children.Count() && !Complete(found); ++i) {
        TEmailMsgPart* child = children.Items(i);
        if (IsForeign(child->Header())) continue;
        Fill(child, found);
        if (!Complete(found)) SearchBodies(child, found, depth + 1);
    }
}

// The part that precedes the last one takes over the closing delimiter when `part`
// leaves its collection, so that the collection still ends with it.
void DetachKeepingClose(TEmailMsgPartCollection& from, TEmailMsgPart* part) {
    const int index = from.IndexOf(part);
    if (index > 0 && index == from.Count() - 1)
        from.Items(index - 1)->SetBoundaryLine(part->BoundaryLine());
    from.Detach(part);
}

// Makes the last part of the collection carry the closing delimiter; a part before it
// that carried it gets the plain delimiter.
void CloseCollection(TEmailMsgPartCollection& parts, const std::string& delimiter) {
    if (parts.Empty()) return;
    const std::string closing = delimiter + "--";
    for (int i = 0; i + 1 < parts.Count(); ++i) {
        if (parts.Items(i)->BoundaryLine() == closing) parts.Items(i)->SetBoundaryLine(delimiter);
    }
    parts.Items(parts.Count() - 1)->SetBoundaryLine(closing);
}

// The lines of the notice that belong to one output.
std::vector<std::string> NoticeLines(const TSimpleHtml& notice, TSimpleHtmlMode skip) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < notice.Count(); ++i) {
        if (notice.ModeOf(i) != skip) lines.push_back(notice.Line(i));
    }
    return lines;
}

void BoxLines(std::vector<std::string>& lines) {
    WrapLines(lines, kBoxWidth, true);
    PadLines(lines, kBoxWidth, ' ');
    for (std::string& line : lines) {
        if (static_cast<int>(line.size()) > kBoxWidth)
            line = "| " + line;
        else
            line = "| " + line + " |";
    }
    lines.emplace_back();
}

// The text of a body part as a reader shows it: decoded when its header names an
// encoding, the lines as they stand otherwise. Guessing an encoding for a part that
// names none would rewrite its text (a line ending in "=" joined to the next) once the
// part is stored back.
std::vector<std::string> TextLinesOf(TEmailMsgPart& part) {
    std::vector<std::string> lines;
    if (part.Header() != nullptr && part.Header()->IsEncoded()) {
        (void)part.DecodeToStringList(lines, false);
    } else {
        lines = part.RawText();
    }
    return lines;
}

// Where the notice goes in an HTML text.
std::size_t HtmlInsertionPoint(std::string_view text, bool atTop) {
    if (atTop) {
        for (std::string_view tag : {std::string_view("<body>"), std::string_view("<html>")}) {
            const std::size_t at = FindNoCase(text, tag);
            if (at != std::string::npos) return at + tag.size();
        }
        return 0;
    }
    for (std::string_view tag : {std::string_view("</body>"), std::string_view("</html>")}) {
        const std::size_t at = FindNoCase(text, tag);
        if (at != std::string::npos) return at;
    }
    return text.size();
}

}  // namespace

// --- Private helpers that need the message --------------------------------------------

namespace {

// A header owned by the message holding the fields of a new text or HTML part.
TEmailHeader* NewTextHeader(TEmailMsg& message, bool html) {
    auto* header = new TEmailHeader(&message);
    header->SetField(kContentType, html ? kNewHtmlType : kNewPlainType);
    header->SetField(kTransferEncoding, kNewPartEncoding);
    return header;
}

// Adds a new text or HTML part to the children of a multipart header (`parts` is the
// collection that `header` heads). A header without boundary gets one first; null when
// that fails, and null for a multipart whose content was never parsed into parts (a new
// part there would be written before its unparsed lines).
TEmailMsgPart* AddTextPartTo(TEmailMsg& message, TEmailMsgPartCollection& parts,
                             TEmailHeader& header, bool html) {
    if (parts.Empty()) return nullptr;
    std::string delimiter = header.GetBoundary();
    const bool newBoundary = delimiter.empty();
    if (newBoundary) {
        const std::string boundary = NewBoundary(html ? kHtmlBoundaryPrefix : kPlainBoundaryPrefix);
        if (!header.SetBoundary(boundary)) return nullptr;
        delimiter = "--" + boundary;
    }
    message.MarkModified();
    TEmailMsgPart* part = nullptr;
    if (!html) {
        part = parts.Insert(1);
        part->SetHeader(NewTextHeader(message, false));
        part->SetRawText({""});
        part->SetBoundaryLine(delimiter);
        if (parts.IndexOf(part) == parts.Count() - 1) CloseCollection(parts, delimiter);
    } else {
        int position = 1;
        if (parts.Count() > 1) {
            const TEmailHeader* second = parts.Items(1)->Header();
            if (second != nullptr && second->IsTextual() && !second->IsAttachment()) position = 2;
        }
        part = parts.Insert(position);
        part->SetHeader(NewTextHeader(message, true));
        part->SetRawText({""});
        for (int i = 0; i <= 2 && i < parts.Count(); ++i) parts.Items(i)->SetBoundaryLine(delimiter);
        CloseCollection(parts, delimiter);
    }
    // Without a boundary the parts that stood here were never delimited; each now needs
    // the delimiter after it, or the new part would be read as part of the one before.
    if (newBoundary) {
        for (int i = 0; i + 1 < parts.Count(); ++i) {
            if (parts.Items(i)->BoundaryLine().empty()) parts.Items(i)->SetBoundaryLine(delimiter);
        }
    }
    return part;
}

// Gives the body of a single-part message a header of its own holding `header`'s
// fields, so that the main header can become multipart. A body that is an attached
// message already has a header of its own (the attached message's): it is wrapped in a
// new part instead, so that the attached header is kept. An attached multipart stands
// split over the whole top level, its header and preamble first and each of its parts
// after it, with its epilogue as the message's (`epilogue`): the wrapper takes all of
// it, or the new closing delimiter would follow the attached message's first delimiter
// and cut off its parts.
TEmailMsgPart* SeparateBody(TEmailMsgPartCollection& parts, TEmailHeader& mainHeader,
                            TEmailHeader* header, std::vector<std::string>& epilogue) {
    TEmailMsgPart* body = parts.Items(0);
    if (body == nullptr) {
        body = parts.Add();
        body->SetHeader(header);
        return body;
    }
    // The raw lines are encoded by the old header's decoder; make them stand before the
    // header changes.
    (void)body->RawText();
    if (body->Header() == &mainHeader || body->Header() == nullptr) {
        body->SetHeader(header);
        return body;
    }
    TEmailMsgPart* wrapper = parts.Insert(0);
    wrapper->SetHeader(header);
    while (parts.Count() > 1) {
        TEmailMsgPart* part = parts.Items(1);
        parts.Detach(part);
        wrapper->Children().Attach(part);
    }
    // After the attached message's closing delimiter, as a parsed attached message
    // keeps it.
    if (!epilogue.empty()) {
        wrapper->SetRawText(std::move(epilogue));
        epilogue.clear();
    }
    return wrapper;
}

struct TRememberedFields {
    std::string type;
    std::string encoding;
    std::string disposition;
};

// Takes the body fields away from the main header of a single-part message.
TRememberedFields TakeBodyFields(TEmailHeader& mainHeader) {
    TRememberedFields fields{FieldOf(mainHeader, kContentType),
                             FieldOf(mainHeader, kTransferEncoding),
                             FieldOf(mainHeader, kDisposition)};
    mainHeader.SetField(kTransferEncoding, "");
    mainHeader.SetField(kDisposition, "");
    return fields;
}

TEmailHeader* HeaderWith(TEmailMsg& message, const TRememberedFields& fields) {
    auto* header = new TEmailHeader(&message);
    // A message without Content-Type is plain text. Its body part says so: a part
    // written with no header line at all would begin with the empty separator line,
    // and a reader that skips leading empty lines would take the text for its header.
    header->SetField(kContentType, fields.type.empty() ? std::string_view("text/plain") : fields.type);
    header->SetField(kTransferEncoding, fields.encoding);
    header->SetField(kDisposition, fields.disposition);
    return header;
}

TEmailMsgPart* NewPreamble(TEmailMsgPartCollection& parts, TEmailHeader& mainHeader,
                           const std::string& boundary) {
    TEmailMsgPart* preamble = parts.Insert(0);
    preamble->SetHeader(&mainHeader);
    preamble->SetRawText({std::string(kAddedPreambleLine), ""});
    preamble->SetBoundaryLine("--" + boundary);
    return preamble;
}

// The first multipart/alternative among the top-level parts after the preamble.
TEmailMsgPart* TopLevelAlternative(TEmailMsgPartCollection& parts) {
    for (int i = 1; i < parts.Count(); ++i) {
        const TEmailHeader* header = parts.Items(i)->Header();
        if (header != nullptr && header->IsMultipartAlternative() && !header->IsRfc822())
            return parts.Items(i);
    }
    return nullptr;
}

// How deep the running plain-text conversion has gone into attached messages that
// stand for the whole message, and how deep the running uuencode extraction has gone
// into attached messages inside a message. Both open a scratch message per level.
thread_local int tlsPlainConversionDepth = 0;
thread_local int tlsAttachedExtractionDepth = 0;

// Counts one level for as long as it lives.
class TDepthCount {
public:
    explicit TDepthCount(int& depth) : depth_(depth) { ++depth_; }
    ~TDepthCount() { --depth_; }
    TDepthCount(const TDepthCount&) = delete;
    TDepthCount& operator=(const TDepthCount&) = delete;

private:
    int& depth_;
};

struct TUuBlock {
    std::string name;
    std::vector<std::string> lines;
};

// Cuts the block that starts with the "begin" line at `begin` (its name after the
// first `prefixLength` characters) out of `lines`, up to and including a line "end".
TUuBlock CutUuBlock(std::vector<std::string>& lines, std::size_t begin, std::size_t prefixLength) {
    TUuBlock block;
    block.name = lines[begin].substr(prefixLength, kMaxUuFileName);
    // The name goes into quoted header parameters: a quote in it would end the value
    // early and let the rest of the line pose as further parameters (a second name).
    std::erase(block.name, '"');
    std::size_t end = begin + 1;
    while (end < lines.size() && !EqualsNoCase(lines[end], "end")) ++end;
    const auto first = lines.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto last = lines.begin() + static_cast<std::ptrdiff_t>(end);
    block.lines.assign(first + 1, last);
    lines.erase(first, end < lines.size() ? last + 1 : last);
    return block;
}

// Decodes the block (up to a line the decoder rejects) and appends it to the message
// as a Base64 attachment; nothing when no byte came out.
void AttachUuBlock(TEmailMsg& message, const TUuBlock& block) {
    std::stringstream decoded;
    TUUDecoder::Class()->Decode(block.lines, decoded);
    const std::string bytes = decoded.str();
    if (bytes.empty()) return;
    std::stringstream source(bytes);
    std::vector<std::string> encoded;
    TBase64Decoder::Class()->Encode(source, encoded);
    TEmailMsgPart* attachment = message.AddAttachment(encoded);
    std::string type;
    MimeTypeOfFileName(block.name, type);
    if (type.empty()) type = "application/octet-stream";
    TEmailHeader* header = attachment->Header();
    header->SetField(kContentType, type + "; name=\"" + block.name + "\"");
    header->SetField(kTransferEncoding, "base64");
    header->SetField(kDisposition, "attachment; filename=\"" + block.name + "\"");
}

}  // namespace

// --- Finding the bodies ---------------------------------------------------------------

TBodyParts TEmailMsg::FindBodyParts() {
    CriticalSectionGuard guard(Lock());
    TEmailMsgPartCollection& parts = Parts();
    TBodyParts found;
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        if (!IsForeign(part->Header())) Fill(part, found);
    }
    // A preamble part shares the main header and has no children, so it is no
    // container to search.
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        const TEmailHeader* header = part->Header();
        if (header == nullptr || !header->IsMultipartAlternative() || header->IsRfc822() ||
            part->IsPreamble())
            continue;
        TEmailMsgPartCollection& children = part->Children();
        for (int c = 0; c < children.Count() && !Complete(found); ++c) {
            TEmailMsgPart* child = children.Items(c);
            if (!IsForeign(child->Header())) Fill(child, found);
        }
        return found;
    }
    for (int i = 0; i < parts.Count() && !Complete(found); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        if (!IsForeign(part->Header())) SearchBodies(part, found, 0);
    }
    return found;
}

void TEmailMsg::GetPlainText(std::vector<std::string>& target, bool all) {
    CriticalSectionGuard guard(Lock());
    target.clear();
    TEmailMsgPartCollection& parts = Parts();
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        const TEmailHeader* header = part->Header();
        if (IsTextBody(header) && IsPlainBody(header) && !header->IsAttachment())
            part->GetBodyText(target, true);
    }
    if (target.empty()) {
        for (int i = 0; i < parts.Count(); ++i) {
            TEmailMsgPart* part = parts.Items(i);
            const TEmailHeader* header = part->Header();
            if (IsTextBody(header) && IsHtmlBody(header) && !header->IsAttachment())
                part->GetBodyText(target, true);
        }
    }
    if (all || target.empty()) {
        for (int i = 0; i < parts.Count(); ++i) parts.Items(i)->GetBodyText(target, true);
    }
}

// --- Adding parts ---------------------------------------------------------------------

TEmailMsgPart* TEmailMsg::AddAttachment(const std::vector<std::string>& lines) {
    CriticalSectionGuard guard(Lock());
    TEmailHeader& main = Header();
    TEmailMsgPartCollection& parts = Parts();
    if (!main.IsMultipart()) {
        const std::string boundary = NewBoundary(kAttachmentPrefix);
        const TRememberedFields fields = TakeBodyFields(main);
        main.SetField(kContentType, MultipartType("mixed", boundary));
        TEmailMsgPart* body = SeparateBody(parts, main, HeaderWith(*this, fields), epilogue_);
        body->SetBoundaryLine("--" + boundary + "--");
        NewPreamble(parts, main, boundary);
    }
    std::string delimiter = main.GetBoundary();
    if (delimiter.empty()) {
        // Without a delimiter the new part would be read as part of the preamble.
        const std::string boundary = NewBoundary(kAttachmentPrefix);
        main.SetBoundary(boundary);
        delimiter = "--" + boundary;
    }
    TEmailMsgPart* last = parts.Empty() ? nullptr : parts.Items(parts.Count() - 1);
    TEmailMsgPart* part = parts.Add();
    part->SetHeader(new TEmailHeader(this));
    part->SetRawText(lines);
    std::string closing = last != nullptr ? last->BoundaryLine() : std::string();
    if (closing.empty()) closing = delimiter + "--";
    part->SetBoundaryLine(closing);
    if (last != nullptr) last->SetBoundaryLine(delimiter);
    MarkModified();
    return part;
}

TEmailMsgPart* TEmailMsg::AddAlternativeContainer() {
    CriticalSectionGuard guard(Lock());
    TEmailHeader& main = Header();
    TEmailMsgPartCollection& parts = Parts();
    // A single-part message has no delimiters to put a second top-level part between.
    if (!main.IsMultipart()) return nullptr;
    std::string mainDelimiter = main.GetBoundary();
    if (mainDelimiter.empty()) {
        // The body was never delimited: it stays the preamble and the container follows
        // it behind a delimiter of its own.
        const std::string mainBoundary = NewBoundary(kContainerPrefix);
        if (!main.SetBoundary(mainBoundary)) return nullptr;
        mainDelimiter = "--" + mainBoundary;
        for (int i = 0; i < parts.Count(); ++i) {
            if (parts.Items(i)->BoundaryLine().empty()) parts.Items(i)->SetBoundaryLine(mainDelimiter);
        }
    }
    const std::string boundary = NewBoundary(kContainerPrefix);
    auto* header = new TEmailHeader(this);
    header->SetField(kContentType, "multipart/alternative;\r\n\tboundary=\"" + boundary + "\"");
    TEmailMsgPart* container = parts.Insert(1);
    container->SetHeader(header);
    container->SetBoundaryLine(mainDelimiter);
    // Appended as the last part, the container must close the main body.
    if (parts.IndexOf(container) == parts.Count() - 1) CloseCollection(parts, mainDelimiter);
    TEmailMsgPart* preamble = container->Children().Add();
    preamble->SetHeader(header);
    preamble->SetRawText({""});
    preamble->SetBoundaryLine("--" + boundary);
    MarkModified();
    return container;
}

TEmailMsgPart* TEmailMsg::AddPlainTextPart() {
    CriticalSectionGuard guard(Lock());
    TEmailHeader& main = Header();
    TEmailMsgPartCollection& parts = Parts();
    if (main.IsMultipartAlternative()) {
        for (int i = 0; i < parts.Count(); ++i) {
            if (IsPlainBody(parts.Items(i)->Header())) return nullptr;
        }
        return AddTextPartTo(*this, parts, main, false);
    }
    if (main.IsMultipart()) {
        if (TEmailMsgPart* alternative = TopLevelAlternative(parts)) {
            TEmailMsgPartCollection& children = alternative->Children();
            for (int i = 0; i < children.Count(); ++i) {
                if (IsPlainBody(children.Items(i)->Header())) return nullptr;
            }
            return AddTextPartTo(*this, children, *alternative->Header(), false);
        }
        TEmailMsgPart* container = AddAlternativeContainer();
        TEmailMsgPart* part = AddTextPartTo(*this, container->Children(), *container->Header(), false);
        if (part == nullptr) return nullptr;
        for (int i = 0; i < parts.Count(); ++i) {
            TEmailMsgPart* html = parts.Items(i);
            const TEmailHeader* header = html->Header();
            if (html == container || !IsHtmlBody(header) || header->IsAttachment()) continue;
            DetachKeepingClose(parts, html);
            container->Children().Attach(html);
            CloseCollection(container->Children(), container->Header()->GetBoundary());
            break;
        }
        return part;
    }
    const bool mixed = !main.IsTextual() || main.IsAttachment();
    const std::string boundary = NewBoundary(kPlainPartPrefix);
    const TRememberedFields fields = TakeBodyFields(main);
    main.SetField(kContentType, MultipartType(mixed ? "mixed" : "alternative", boundary));
    TEmailMsgPart* body = SeparateBody(parts, main, HeaderWith(*this, fields), epilogue_);
    body->SetBoundaryLine("--" + boundary + "--");
    NewPreamble(parts, main, boundary);
    TEmailMsgPart* part = parts.Insert(1);
    part->SetHeader(NewTextHeader(*this, false));
    part->SetRawText({""});
    part->SetBoundaryLine("--" + boundary);
    MarkModified();
    return part;
}

TEmailMsgPart* TEmailMsg::FAddHtmlTextPart() {
    CriticalSectionGuard guard(Lock());
    TEmailHeader& main = Header();
    TEmailMsgPartCollection& parts = Parts();
    if (main.IsMultipartAlternative()) {
        for (int i = 0; i < parts.Count(); ++i) {
            const TEmailHeader* header = parts.Items(i)->Header();
            if (IsHtmlBody(header) && !header->IsAttachment()) return nullptr;
        }
        return AddTextPartTo(*this, parts, main, true);
    }
    if (main.IsMultipart()) {
        if (TEmailMsgPart* alternative = TopLevelAlternative(parts)) {
            TEmailMsgPartCollection& children = alternative->Children();
            for (int i = 0; i < children.Count(); ++i) {
                if (IsHtmlBody(children.Items(i)->Header())) return nullptr;
            }
            return AddTextPartTo(*this, children, *alternative->Header(), true);
        }
        TEmailMsgPart* container = AddAlternativeContainer();
        for (int i = 0; i < parts.Count(); ++i) {
            TEmailMsgPart* plain = parts.Items(i);
            const TEmailHeader* header = plain->Header();
            if (plain == container || !IsPlainBody(header) || header->IsAttachment()) continue;
            DetachKeepingClose(parts, plain);
            container->Children().Attach(plain);
            plain->SetBoundaryLine(container->Header()->GetBoundary());
            break;
        }
        return AddTextPartTo(*this, container->Children(), *container->Header(), true);
    }
    const bool alternative = main.IsTextual() && !main.IsAttachment();
    const std::string boundary = NewBoundary(kHtmlPartPrefix);
    const TRememberedFields fields = TakeBodyFields(main);
    main.SetField(kContentType, MultipartType(alternative ? "alternative" : "mixed", boundary));
    TEmailMsgPart* body = SeparateBody(parts, main, HeaderWith(*this, fields), epilogue_);
    NewPreamble(parts, main, boundary);
    // Alternatives end with the richest form; a mixed body shows the new part first.
    TEmailMsgPart* part = parts.Insert(alternative ? 2 : 1);
    part->SetHeader(NewTextHeader(*this, true));
    part->SetRawText({""});
    TEmailMsgPart* second = alternative ? body : part;
    TEmailMsgPart* third = alternative ? part : body;
    second->SetBoundaryLine("--" + boundary);
    third->SetBoundaryLine("--" + boundary + "--");
    MarkModified();
    return part;
}

TEmailMsgPart* TEmailMsg::AddPlainTextAlternative() {
    CriticalSectionGuard guard(Lock());
    std::vector<std::string> text;
    GetPlainText(text, false);
    TEmailMsgPart* part = AddPlainTextPart();
    if (part != nullptr) {
        ReflowText(text);
        part->SetRawText(std::move(text));
    }
    return part;
}

TEmailMsgPart* TEmailMsg::AddHtmlTextAlternative() {
    CriticalSectionGuard guard(Lock());
    std::vector<std::string> text;
    GetPlainText(text, false);
    TEmailMsgPart* part = FAddHtmlTextPart();
    if (part != nullptr) {
        TextToHtmlLines(text);
        text.insert(text.begin(), "<html><body>");
        text.emplace_back("</body></html>");
        part->SetRawText(std::move(text));
    }
    return part;
}

TEmailMsgPart* TEmailMsg::EnsureTextBody() {
    CriticalSectionGuard guard(Lock());
    std::string type;
    Header().GetDecodedFieldValue(kContentType, type);
    if (EqualsNoCase(type, "message/partial")) return nullptr;
    const TBodyParts found = FindBodyParts();
    if (found.plain != nullptr || found.html != nullptr) return nullptr;
    return AddPlainTextPart();
}

TEmailMsgPart* TEmailMsg::EnsureAlternatives() {
    CriticalSectionGuard guard(Lock());
    const TBodyParts found = FindBodyParts();
    if (found.html != nullptr && found.plain == nullptr) return AddPlainTextAlternative();
    if (found.plain != nullptr && found.html == nullptr) return AddHtmlTextAlternative();
    if (found.plain == nullptr && found.html == nullptr) {
        TEmailMsgPart* plain = EnsureTextBody();
        if (plain == nullptr) return nullptr;
        TEmailMsgPart* html = AddHtmlTextAlternative();
        return html != nullptr ? html : plain;
    }
    return nullptr;
}

// --- Notices --------------------------------------------------------------------------

void TEmailMsg::InsertUserText(const TSimpleHtml& notice, bool atTop, bool boxed) {
    CriticalSectionGuard guard(Lock());
    if (notice.Empty()) return;
    TBodyParts found = FindBodyParts();
    if (found.plain == nullptr && found.html == nullptr) {
        if (Parts().Empty()) return;
        EnsureAlternatives();
        found = FindBodyParts();
        if (found.plain == nullptr && found.html == nullptr) return;
    }
    if (found.plain != nullptr) {
        std::vector<std::string> noticeLines = NoticeLines(notice, TSimpleHtmlMode::HtmlOnly);
        HtmlToText(noticeLines);
        if (boxed) BoxLines(noticeLines);
        std::vector<std::string> body = TextLinesOf(*found.plain);
        if (atTop)
            body.insert(body.begin(), noticeLines.begin(), noticeLines.end());
        else
            body.insert(body.end(), noticeLines.begin(), noticeLines.end());
        found.plain->EncodeFromStringList(body, false);
    }
    if (found.html != nullptr) {
        std::string text = TextOfLines(TextLinesOf(*found.html));
        const std::string noticeText = TextOfLines(NoticeLines(notice, TSimpleHtmlMode::TextOnly));
        text.insert(HtmlInsertionPoint(text, atTop), noticeText);
        found.html->EncodeFromStringList(SplitLines(text), false);
    }
    MarkModified();
}

// --- Plain-text conversion ------------------------------------------------------------

bool TEmailMsg::ConvertToPlainText() {
    CriticalSectionGuard guard(Lock());
    TEmailHeader& main = Header();
    TEmailMsgPartCollection& parts = Parts();
    std::string type(kConvertedType);
    std::string encoding(kConvertedEncoding);
    bool result = true;

    // The text of the plain body with its own fields, else of the HTML body converted,
    // else of whatever text the message holds.
    const auto takeBodyText = [&](const TBodyParts& found, std::string_view fallbackType,
                                  std::string_view fallbackEncoding) {
        std::vector<std::string> text;
        if (found.plain != nullptr) {
            text = found.plain->RawText();
            const std::string plainType = FieldOf(*found.plain->Header(), kContentType);
            // A top-level part without Content-Type is plain by default; say so where
            // the text goes, which may be a part below the top level.
            type = plainType.empty() ? std::string("text/plain") : plainType;
            encoding = FieldOf(*found.plain->Header(), kTransferEncoding);
        } else if (found.html != nullptr) {
            found.html->GetBodyText(text, false);
            ReflowText(text);
            type = PlainTypeOf(FieldOf(*found.html->Header(), kContentType, true));
            encoding = std::string(kConvertedEncoding);
        } else {
            GetPlainText(text, false);
            ReflowText(text);
            type = std::string(fallbackType);
            encoding = std::string(fallbackEncoding);
        }
        return text;
    };

    // The type tests look for words anywhere in the Content-Type, and a multipart may
    // name a text type in a parameter (multipart/related; type="text/html"). The tree
    // was built as a multipart, so it is converted as one.
    if (main.IsMultipart()) {
        const TBodyParts found = FindBodyParts();
        if (TEmailMsgPart* alternative = parts.FindAlternative()) {
            std::vector<std::string> text = takeBodyText(found, "text/plain", "");
            if (main.IsMultipartAlternative()) {
                for (int i = parts.Count() - 1; i >= 0; --i) {
                    if (parts.Items(i) != alternative) parts.Delete(i);
                }
                alternative->SetBoundaryLine("");
            } else {
                TEmailMsgPartCollection& children = alternative->Children();
                while (!children.Empty()) children.Delete(children.Count() - 1);
            }
            alternative->SetRawText(std::move(text));
            alternative->Header()->SetField(kContentType, type);
            alternative->Header()->SetField(kTransferEncoding, encoding);
        } else if (found.html != nullptr) {
            std::vector<std::string> text;
            found.html->GetBodyText(text, false);
            ReflowText(text);
            found.html->SetRawText(std::move(text));
            TEmailHeader* header = found.html->Header();
            header->SetField(kContentType, PlainTypeOf(FieldOf(*header, kContentType, true)));
            header->SetField(kTransferEncoding, kConvertedEncoding);
        }
    } else if (main.IsPlainText()) {
        return false;
    } else if (main.IsHtml()) {
        type = PlainTypeOf(FieldOf(main, kContentType, true));
        if (TEmailMsgPart* first = parts.Items(0)) {
            std::vector<std::string> text;
            first->GetBodyText(text, true);
            ReflowText(text);
            first->SetRawText(std::move(text));
        }
        main.SetField(kContentType, type);
        main.SetField(kTransferEncoding, encoding);
    } else if (main.IsRfc822()) {
        // Each level of attached message converts the next in a message of its own;
        // hostile nesting must not exhaust the stack.
        if (tlsPlainConversionDepth >= kMaxPartDepth) return false;
        std::vector<std::string> headerLines;
        main.SaveToLines(headerLines);
        std::vector<std::string> whole;
        SaveToLines(whole, true);
        const auto separator = std::find(whole.begin(), whole.end(), std::string());
        std::vector<std::string> inner(separator == whole.end() ? whole.end() : separator + 1,
                                       whole.end());
        // An attached message in base64 or quoted-printable is converted as the text it
        // encodes, and goes back encoded as the kept header says.
        TMIMEDecoderClass decoder = nullptr;
        const bool encoded = main.IsEncoded() && main.GetDecoderClass(decoder) && decoder != nullptr;
        if (encoded) (void)DecodeLinesInPlace(decoder, inner);
        std::vector<std::string> converted;
        {
            TEmailMsg attached;
            // A scratch message: it must neither save nor delete any file when it goes.
            attached.SetSaveOnDestroy(false);
            attached.SetDeleteFileWhenFlagged(false);
            attached.FlaggedDeleted(true);
            attached.SetEnsureTextBodyFlag(ensureTextBody_);
            attached.SetParseSubpartsFlag(parseSubparts_);
            attached.SetRawMail(inner);
            const TDepthCount depth(tlsPlainConversionDepth);
            result = attached.ConvertToPlainText();
            attached.SaveToLines(converted, true);
        }
        if (encoded) (void)EncodeLinesInPlace(decoder, converted);
        headerLines.emplace_back();
        headerLines.insert(headerLines.end(), converted.begin(), converted.end());
        // The message is the same message with a new body: its information record
        // keeps its content id, which reports and links already name.
        const int contentId = ContentId();
        SetRawMail(headerLines);
        Info().SetId(contentId);
        MarkModified();
    } else {
        const TBodyParts found = FindBodyParts();
        std::vector<std::string> text = takeBodyText(found, kConvertedType, kConvertedEncoding);
        while (parts.Count() > 1) parts.Delete(parts.Count() - 1);
        if (TEmailMsgPart* first = parts.Items(0)) {
            first->SetRawText(std::move(text));
            first->SetBoundaryLine("");
        }
        main.SetField(kContentType, type);
        main.SetField(kTransferEncoding, encoding);
    }
    if (result) {
        convertedToPlainText_ = true;
        MarkModified();
    }
    return result;
}

// --- Uuencoded attachments ------------------------------------------------------------

bool TEmailMsg::ExtractUuencodedAttachments() {
    CriticalSectionGuard guard(Lock());
    bool changed = false;
    for (;;) {
        TEmailMsgPart* plain = FindBodyParts().plain;
        if (plain == nullptr) return changed;
        std::vector<std::string> lines = TextLinesOf(*plain);
        bool neutralised = false;
        std::optional<TUuBlock> block;
        for (std::size_t i = 0; i < lines.size() && !block; ++i) {
            const std::string& line = lines[i];
            if (line.empty() || (line[0] != 'b' && line[0] != 'B')) continue;
            if (RegexContains("^begin \\d+\\x09", line, regex_flags::kCaseInsensitive)) {
                // A TAB after the mode makes some readers start a block that this scan
                // does not take; the leading blank stops them all.
                lines[i].insert(0, " ");
                neutralised = true;
                continue;
            }
            if (const auto match =
                    RegexSearch("^begin \\d+\\x20", line, regex_flags::kCaseInsensitive))
                block = CutUuBlock(lines, i, match->length);
        }
        if (!block) {
            // Store the neutralised lines; otherwise the change would be lost.
            if (neutralised) {
                plain->EncodeFromStringList(lines, false);
                changed = true;
                MarkModified();
            }
            break;
        }
        plain->EncodeFromStringList(lines, false);
        changed = true;
        MarkModified();
        // A multipart/mixed body takes an appended attachment as well as a text message
        // does; elsewhere a new part would become an alternative or a related resource,
        // so the block is only removed there.
        if (IsPlainTextMessage() || Header().IsMultipartMixed()) AttachUuBlock(*this, *block);
    }
    // Inside an attached message the walk of the enclosing message visits the attached
    // messages within this one anyway. Opening them here as well would open every
    // level of nesting twice as often as the level above it.
    if (tlsAttachedExtractionDepth > 0) return changed;
    const TDepthCount depth(tlsAttachedExtractionDepth);
    if (Parts().ConvertAttachedMessages()) changed = true;
    return changed;
}

}  // namespace gatemoor
