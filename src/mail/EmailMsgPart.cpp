#include "mail/EmailMsgPart.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/HTMLPars.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilRegex.h"

namespace gatemoor {

namespace {

// Delphi-style trim: every character up to the space goes from both ends.
std::string Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::string WithoutBlanksAndTabs(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t') result.push_back(c);
    return result;
}

void AppendMoved(std::vector<std::string>& target, std::vector<std::string>&& lines) {
    if (target.empty()) {
        target = std::move(lines);
        return;
    }
    target.insert(target.end(), std::make_move_iterator(lines.begin()),
                  std::make_move_iterator(lines.end()));
}

TMIMEDecoderClass DecoderOf(const TEmailHeader* header, bool* found = nullptr) {
    TMIMEDecoderClass decoder = TDefaultDecoder::Class();
    bool named = false;
    if (header != nullptr) named = header->GetDecoderClass(decoder);
    if (decoder == nullptr) decoder = TDefaultDecoder::Class();
    if (found != nullptr) *found = named;
    return decoder;
}

bool HasSubtreeType(const TEmailHeader* header) {
    return header != nullptr && (header->IsMultipart() || header->IsRfc822());
}

// The run of URL characters of `text` that starts at `from`.
std::string UrlRunAt(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && IsUrlChar(text[end]))
        ++end;
    return std::string(text.substr(from, end - from));
}

// Every reference that follows an occurrence of `marker` (ASCII case ignored).
void CollectAfter(std::string_view text, std::string_view marker, TImageRefKind kind,
                  std::vector<TImageRef>& found) {
    std::size_t at = PosTextFrom(text, marker, 0);
    while (at != std::string_view::npos) {
        const std::size_t from = at + marker.size();
        found.push_back({Trim(UrlRunAt(text, from)), kind});
        at = PosTextFrom(text, marker, from);
    }
}

// The marker pairs of the information blocks, in the order they are tried.
struct TMarkerPair {
    std::string_view begin;
    std::string_view end;
};
constexpr TMarkerPair kInfoMarkers[] = {
    {OLD_BEGIN_VORN_INFO_TEXT_STR, OLD_END_VORN_INFO_TEXT_STR},
    {BEGIN_VORN_INFO_TEXT_STR, END_VORN_INFO_TEXT_STR},
    {BEGIN_VORN_INFO_HTML_STR, END_VORN_INFO_HTML_STR},
    {BEGIN_VORN_INFO_STR, END_VORN_INFO_STR},
};

// The delimiter that splits `parts` into its parts; empty when none does.
std::string DelimiterOf(const TEmailMsgPartCollection& parts) {
    const TEmailMsgPart* first = parts.Items(0);
    if (first == nullptr || first->Header() == nullptr) return {};
    const TEmailMsgPart* owner = parts.OwnerPart();
    const bool split = owner != nullptr ? HasSubtreeType(owner->Header()) : first->Header()->IsMultipart();
    return split ? first->Header()->GetBoundary() : std::string();
}

// True when `line`, written inside the body of the part that holds `parts`, would be
// found as a delimiter of a body that encloses it.
bool IsEnclosingDelimiter(const TEmailMsgPartCollection* parts, std::string_view line) {
    for (const TEmailMsgPart* above = parts != nullptr ? parts->OwnerPart() : nullptr;
         above != nullptr && above->Parent() != nullptr; above = above->Parent()->OwnerPart()) {
        const std::string delimiter = DelimiterOf(*above->Parent());
        if (!delimiter.empty() && line.find(delimiter) != std::string_view::npos) return true;
    }
    return false;
}

// Where `boundary` stands in `line` as a delimiter: anywhere in the line, but only when
// nothing follows it except "--" and blanks. Nested multiparts often take the outer
// boundary plus a suffix ("==_" and "==_.REL"), and hostile mail writes "--b-->" to hide
// text from readers that stop there; taking such lines for delimiters would cut the
// body where no mail program does, and the screening would judge a structure that the
// reader never sees.
std::size_t FindDelimiter(std::string_view line, std::string_view boundary) {
    std::size_t at = line.find(boundary);
    while (at != std::string_view::npos) {
        std::string_view after = line.substr(at + boundary.size());
        if (after.starts_with("--")) after.remove_prefix(2);
        if (after.find_first_not_of(" \t") == std::string_view::npos) return at;
        at = line.find(boundary, at + 1);
    }
    return std::string_view::npos;
}

}  // namespace

bool LoadHeaderBlock(TEmailHeader& header, TLineSource& source, bool skipLeadingEmptyLines,
                     std::string_view delimiter) {
    const std::vector<std::string>& lines = source.lines;
    std::size_t first = source.pos;
    if (skipLeadingEmptyLines)
        while (first < lines.size() && lines[first].empty())
            ++first;
    std::size_t end = first;
    bool suspect = false;  // a line that is no field and no continuation
    for (; end < lines.size() && !lines[end].empty(); ++end) {
        const std::string& line = lines[end];
        if (line.front() != ' ' && line.front() != '\t' &&
            (line.starts_with("--") || line.find(':') == std::string::npos))
            suspect = true;
    }
    std::size_t cut = end;
    if (suspect) {
        std::string own;
        {
            std::vector<std::string> copy(lines.begin() + static_cast<long>(first),
                                          lines.begin() + static_cast<long>(end));
            TEmailHeader probe;
            (void)probe.LoadFromLines(copy);
            if (probe.IsMultipart()) own = probe.GetBoundary();
        }
        for (std::size_t i = first; i < end && cut == end; ++i) {
            if ((!delimiter.empty() && FindDelimiter(lines[i], delimiter) != std::string::npos) ||
                (!own.empty() && FindDelimiter(lines[i], own) != std::string::npos))
                cut = i;
        }
    }
    if (cut == end) return header.LoadFromLines(source.lines, source.pos, skipLeadingEmptyLines);
    std::vector<std::string> block(std::make_move_iterator(source.lines.begin() + static_cast<long>(source.pos)),
                                   std::make_move_iterator(source.lines.begin() + static_cast<long>(cut)));
    source.pos = cut;
    std::size_t at = 0;
    return header.LoadFromLines(block, at, skipLeadingEmptyLines);
}

std::vector<std::string> TLineSource::TakeRest() {
    std::vector<std::string> rest;
    if (pos == 0) {
        rest = std::move(lines);
    } else if (pos < lines.size()) {
        rest.assign(std::make_move_iterator(lines.begin() + static_cast<long>(pos)),
                    std::make_move_iterator(lines.end()));
    }
    lines.clear();
    pos = 0;
    return rest;
}

// --- TEmailMsgPart ------------------------------------------------------------------

TEmailMsgPart::TEmailMsgPart(TEmailMsgPartCollection* parent, int position) : parent_(parent) {
    children_ = new TEmailMsgPartCollection(parent != nullptr ? parent->Level() + 1 : 1);
    children_->ownerPart_ = this;
    if (parent_ != nullptr) {
        auto& parts = parent_->parts_;
        if (position < 0 || position >= static_cast<int>(parts.size())) {
            parts.push_back(this);
        } else {
            parts.insert(parts.begin() + position, this);
        }
    }
}

TEmailMsgPart::~TEmailMsgPart() {
    delete children_;
    children_ = nullptr;
    SetHeader(nullptr);
    if (parent_ != nullptr) {
        auto& parts = parent_->parts_;
        // Collections free their parts from the back, where leaving costs nothing.
        if (!parts.empty() && parts.back() == this) {
            parts.pop_back();
        } else {
            std::erase(parts, this);
        }
    }
}

void TEmailMsgPart::SetHeader(TEmailHeader* header) {
    if (header == header_) return;
    TEmailHeader* before = header_;
    header_ = header;
    if (before != nullptr && before->Owner() != nullptr)
        before->Owner()->PartHeaderChanged(*this, before, nullptr);
    if (header_ != nullptr && header_->Owner() != nullptr)
        header_->Owner()->PartHeaderChanged(*this, nullptr, header_);
}

THeaderOwner* TEmailMsgPart::Owner() const {
    return header_ != nullptr ? header_->Owner() : nullptr;
}

TEmailMsg* TEmailMsgPart::Message() const {
    return dynamic_cast<TEmailMsg*>(Owner());
}

int TEmailMsgPart::Depth() const {
    return parent_ != nullptr ? parent_->Level() : 0;
}

void TEmailMsgPart::MarkModified() const {
    if (THeaderOwner* owner = Owner()) owner->MarkModified();
}

void TEmailMsgPart::InvalidateCache() {
    decodedCache_.clear();
    decodedCache_.shrink_to_fit();
}

std::vector<std::string>& TEmailMsgPart::RawText() {
    if (rawText_.empty() && !decodedCache_.empty()) {
        const TMIMEDecoderClass decoder = DecoderOf(header_);
        if (IsBinaryFamily(decoder)) {
            rawText_ = SplitLines(decodedCache_);
        } else {
            std::stringstream stream(decodedCache_);
            decoder->Encode(stream, rawText_);
        }
    }
    return rawText_;
}

void TEmailMsgPart::SetRawText(std::vector<std::string> lines) {
    rawText_ = std::move(lines);
    InvalidateCache();
    MarkModified();
}

bool TEmailMsgPart::IsPreamble() const {
    return header_ != nullptr && parent_ != nullptr && !parent_->parts_.empty() &&
           parent_->parts_.front() == this && header_->IsMultipart();
}

bool TEmailMsgPart::IsLastPart() const {
    return parent_ != nullptr && !parent_->parts_.empty() && parent_->parts_.back() == this;
}

bool TEmailMsgPart::WritesHeader() const {
    if (header_ == nullptr || header_->IsMessageHeader()) return false;
    return std::none_of(children_->parts_.begin(), children_->parts_.end(),
                        [this](const TEmailMsgPart* child) { return child->header_ == header_; });
}

TEmailHeader* TEmailMsgPart::NewHeaderFrom(TLineSource& source, std::string_view delimiter) {
    auto* header = new TEmailHeader(Owner());
    // A part that starts with an empty line has an empty header; the rule that skips
    // leading empty lines is the message's, and here it would take the body for header.
    (void)LoadHeaderBlock(*header, source, false, delimiter);
    return header;
}

bool TEmailMsgPart::ParseBody(std::vector<std::string>& lines, std::string_view boundary, bool raw) {
    TLineSource source{std::move(lines), 0};
    const bool reachedEnd = ParseBody(source, boundary, raw);
    lines = source.TakeRest();
    return reachedEnd;
}

bool TEmailMsgPart::ParseBody(TLineSource& source, std::string_view boundary, bool raw) {
    if (source.Empty()) return true;
    bool reachedEnd = true;
    if (boundary.empty()) {
        rawText_ = source.TakeRest();
    } else {
        // The delimiter counts wherever it stands in a line; a line break cannot be part
        // of it, so searching line by line finds what a search of the joined text would.
        std::size_t line = source.pos;
        std::size_t column = std::string::npos;
        for (; line < source.lines.size(); ++line) {
            column = FindDelimiter(source.lines[line], boundary);
            if (column != std::string::npos) break;
        }
        if (line == source.lines.size()) {
            rawText_ = source.TakeRest();
            // The closing delimiter that went missing is written back, unless it would
            // end an enclosing body as well (a nested multipart reusing the outer
            // boundary): the parts after it would vanish on the next reading.
            std::string closing = std::string(boundary) + "--";
            if (IsEnclosingDelimiter(parent_, closing)) closing.clear();
            boundaryLine_ = std::move(closing);
        } else {
            std::string& delimiterLine = source.lines[line];
            rawText_.assign(std::make_move_iterator(source.lines.begin() + static_cast<long>(source.pos)),
                            std::make_move_iterator(source.lines.begin() + static_cast<long>(line)));
            if (column > 0) {
                inlinePrefix_ = delimiterLine.substr(0, column);
                rawText_.push_back(inlinePrefix_);
            }
            boundaryLine_ = delimiterLine.substr(column);
            std::string().swap(delimiterLine);
            source.pos = line + 1;
            reachedEnd = boundaryLine_.size() == boundary.size() + 2 &&
                         boundaryLine_.compare(boundary.size(), 2, "--") == 0;
        }
    }
    InvalidateCache();
    // A part that took no line has no sub-parts: children parsed from nothing would
    // write an empty header (encoded, when the part names an encoding) that was not
    // there, and the written message would grow on every reading.
    if (!rawText_.empty()) ParseSubparts(raw);
    return reachedEnd;
}

void TEmailMsgPart::RunChildrenLoop(TLineSource& source, std::string_view boundary) {
    TEmailMsgPart* current = children_->parts_.back();
    while (!current->ParseBody(source, boundary, false)) {
        auto* next = new TEmailMsgPart(children_);
        next->parseSubparts_ = parseSubparts_;
        next->SetHeader(NewHeaderFrom(source, boundary));
        current = next;
    }
}

void TEmailMsgPart::ParseSubparts(bool raw) {
    if (!parseSubparts_ || header_ == nullptr || Depth() >= kMaxPartDepth) return;
    const bool multipart = header_->IsMultipart();
    if (!multipart && !header_->IsRfc822()) return;
    if (IsPreamble()) return;

    bool named = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &named);
    // Only a body whose header names its encoding is parsed from a decoded copy, as
    // only that one is encoded again when written: a guessed decoding (sniffed
    // quoted-printable, base64 for attachments) would come back altered.
    const bool fromRawLines = raw || !named || IsBinaryFamily(decoder);
    TLineSource source;
    if (fromRawLines) {
        source.lines = std::move(rawText_);
        rawText_.clear();
    } else {
        (void)DecodeLines(decoder, rawText_, source.lines);
        std::vector<std::string>().swap(rawText_);
    }

    auto* first = new TEmailMsgPart(children_);
    first->parseSubparts_ = parseSubparts_;
    if (multipart) {
        first->SetHeader(header_);
        const std::string boundary = header_->GetBoundary();
        if (boundary.empty()) {
            first->ParseBody(source, {}, false);
        } else {
            RunChildrenLoop(source, boundary);
        }
    } else {
        first->SetHeader(NewHeaderFrom(source, {}));
        RunChildrenLoop(source, first->header_->GetBoundary());
    }
    // After the closing delimiter: the epilogue, kept only where it can be written back
    // as it stood.
    if (fromRawLines) rawText_ = source.TakeRest();
}

bool TEmailMsgPart::WriteTo(std::vector<std::string>& target, bool full) {
    if (WritesHeader()) {
        header_->SaveToLines(target);
        target.emplace_back();
    }
    bool found = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &found);
    bool result = true;
    if (children_->Empty() || !found || IsBinaryFamily(decoder)) {
        result = WriteBody(target, full);
    } else {
        std::vector<std::string> body;
        result = WriteBody(body, full);
        // A preamble part writes the header it shares with this part at the front of
        // the body; that header must stand in clear text before the encoded body.
        const TEmailMsgPart* first = children_->parts_.front();
        if (first->header_ == header_ && first->WritesHeader()) {
            std::vector<std::string> header;
            header_->SaveToLines(header);
            const auto headerEnd = body.begin() + static_cast<long>(std::min(header.size() + 1, body.size()));
            target.insert(target.end(), std::make_move_iterator(body.begin()), std::make_move_iterator(headerEnd));
            body.erase(body.begin(), headerEnd);
        }
        (void)EncodeLinesInPlace(decoder, body);
        AppendMoved(target, std::move(body));
    }
    // A part that no delimiter follows ends where the enclosing text goes on: writing an
    // empty line for it would make the body one line longer on every save.
    if (!boundaryLine_.empty()) {
        if (!inlinePrefix_.empty() && !target.empty() && target.back() == inlinePrefix_) {
            target.back() += boundaryLine_;
        } else {
            target.push_back(boundaryLine_);
        }
    }
    return result;
}

bool TEmailMsgPart::WriteBody(std::vector<std::string>& target, bool full) {
    bool result = true;
    if (HasSubtreeType(header_)) {
        for (TEmailMsgPart* child : children_->parts_)
            if (!child->WriteTo(target, full)) result = false;
    }
    if (header_ != nullptr && header_->IsAttachment() && !full) {
        target.emplace_back(kSnipEncodedAttachment);
    } else if (full || header_ == nullptr || !header_->IsInlineAttachment()) {
        const std::vector<std::string>& lines = RawText();
        target.insert(target.end(), lines.begin(), lines.end());
    } else {
        target.emplace_back(kSnipInlineAttachment);
    }
    return result;
}

bool TEmailMsgPart::DecodeToBytes(std::string& bytes) {
    bool found = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &found);
    bool result = found;
    if (decodedCache_.empty() && !rawText_.empty()) {
        if (IsBinaryFamily(decoder)) {
            decodedCache_ = TextOfLines(rawText_);
        } else {
            std::stringstream stream;
            result = decoder->Decode(rawText_, stream);
            decodedCache_ = std::move(stream).str();
        }
    }
    bytes = decodedCache_;
    return result;
}

bool TEmailMsgPart::DecodeToStringList(std::vector<std::string>& target, bool withSubparts) {
    bool found = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &found);
    bool result = found;
    target.clear();
    if (withSubparts && !children_->Empty()) {
        (void)WriteBody(target, true);
    } else if (!rawText_.empty() && IsBinaryFamily(decoder)) {
        target = rawText_;
    } else {
        if (decodedCache_.empty()) {
            std::stringstream stream;
            result = decoder->Decode(rawText_, stream);
            decodedCache_ = std::move(stream).str();
        } else {
            result = true;
        }
        target = SplitLines(decodedCache_);
    }
    return result;
}

bool TEmailMsgPart::DecodeToStream(std::iostream& stream, bool withSubparts) {
    bool found = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &found);
    if (withSubparts && !children_->Empty()) {
        std::vector<std::string> lines;
        (void)WriteBody(lines, true);
        stream << TextOfLines(lines);
        return found;
    }
    if (!decodedCache_.empty()) {
        stream << decodedCache_;
        return true;
    }
    if (IsBinaryFamily(decoder)) {
        stream << TextOfLines(rawText_);
        return found;
    }
    std::stringstream decoded;
    if (!decoder->Decode(rawText_, decoded)) {
        stream << TextOfLines(rawText_);
        return false;
    }
    decodedCache_ = std::move(decoded).str();
    stream << decodedCache_;
    return found;
}

void TEmailMsgPart::DestroyChildren() {
    std::vector<TEmailHeader*> headers;
    children_->ForEach([&](TEmailMsgPart& part) {
        if (part.header_ != nullptr && part.header_ != header_) headers.push_back(part.header_);
        return std::string();
    });
    while (!children_->Empty())
        delete children_->parts_.back();  // from the back, where leaving costs nothing
    std::sort(headers.begin(), headers.end());
    headers.erase(std::unique(headers.begin(), headers.end()), headers.end());
    for (TEmailHeader* header : headers) {
        THeaderOwner* owner = header->Owner();
        const bool stillUsed = owner != nullptr && owner->PartOfHeader(*header) != nullptr;
        if (!stillUsed && !header->IsMessageHeader()) delete header;
    }
}

bool TEmailMsgPart::EncodeFromStringList(const std::vector<std::string>& lines, bool reparse) {
    // Attached messages and multiparts are always rebuilt from the new lines, so asking
    // for it changes nothing here.
    (void)reparse;
    bool found = false;
    const TMIMEDecoderClass decoder = DecoderOf(header_, &found);
    InvalidateCache();
    rawText_.clear();
    // A type without sub-parts is never re-parsed: its lines would stand unencoded
    // under a header that names an encoding.
    if (HasSubtreeType(header_)) {
        DestroyChildren();
        std::vector<std::string> copy = lines;
        ParseBody(copy, {}, true);
        if (children_->Empty() && !IsBinaryFamily(decoder)) {
            // Nothing was parsed out of the lines, so they are the content itself and
            // are encoded when written.
            decodedCache_ = TextOfLines(rawText_);
            rawText_.clear();
        }
    } else if (IsBinaryFamily(decoder)) {
        rawText_ = lines;
    } else {
        decodedCache_ = TextOfLines(lines);
    }
    MarkModified();
    return found;
}

void TEmailMsgPart::GetBodyText(std::vector<std::string>& target, bool recurse) {
    if (header_ != nullptr) {
        const bool html = header_->IsHtml();
        if (html || header_->IsPlainText()) {
            std::string bytes;
            if (header_->IsEncoded()) {
                std::stringstream stream;
                (void)DecodeToStream(stream, true);
                bytes = std::move(stream).str();
            } else {
                bytes = TextOfLines(RawText());
            }
            std::vector<std::string> lines = SplitLines(bytes);
            if (html) HtmlToText(lines);
            AppendMoved(target, std::move(lines));
        }
    }
    if (recurse)
        for (TEmailMsgPart* child : children_->parts_)
            child->GetBodyText(target, true);
}

void TEmailMsgPart::GetExtImageRefUrls(std::vector<TImageRef>& target) {
    if (imageRefs_) {
        target = *imageRefs_;
        return;
    }
    target.clear();
    std::vector<std::string> lines;
    (void)DecodeToStringList(lines, false);
    const std::string text = TextOfLines(lines);

    std::string style;
    const std::size_t styleStart = PosText("<style", text);
    if (styleStart != std::string::npos) {
        const std::size_t styleEnd = PosTextFrom(text, "</style>", styleStart);
        if (styleEnd != std::string::npos) style = text.substr(styleStart, styleEnd - styleStart);
    }

    ExtractTags(lines);
    std::string tags = TextOfLines(lines);
    (void)ReplaceEvery("\r\n", " ", tags);
    (void)ReplaceEvery("\"", " ", tags);
    (void)ReplaceEvery("  ", " ", tags);

    std::vector<std::string> locations;
    if (TEmailMsg* message = Message()) message->GetContentLocations(locations);

    std::vector<TImageRef> found;
    using namespace regex_flags;
    std::size_t start = 0;
    while (auto img = RegexSearch("<img.*?>", tags, kCaseInsensitive | kDotAll, start)) {
        start = img->position + std::max<std::size_t>(img->length, 1);
        const std::string& tag = img->groups[0];
        const auto src = RegexSearch("src *= *\"?[^ >]*", tag, kCaseInsensitive | kGreedy);
        if (!src) continue;
        const std::string& match = src->groups[0];
        std::string reference = Trim(std::string_view(match).substr(match.find('=') + 1));
        if (StartsWithNoCase(reference, "cid:")) {
            reference = reference.substr(0, reference.find_first_of(" \t"));
        } else {
            reference = UrlRunAt(reference, 0);
        }
        found.push_back({Trim(reference), TImageRefKind::ImgSrc});
    }
    CollectAfter(tags, "background=", TImageRefKind::Background, found);
    CollectAfter(tags, "type=image", TImageRefKind::InputImage, found);
    CollectAfter(style, "url(", TImageRefKind::CssUrl, found);

    for (TImageRef& ref : found) {
        if (ref.url.empty()) continue;
        if (StartsWithNoCase(ref.url, "cid:")) {
            ref.kind = TImageRefKind::ContentId;
        } else if (std::any_of(locations.begin(), locations.end(),
                               [&](const std::string& l) { return EqualsNoCase(l, ref.url); })) {
            ref.kind = TImageRefKind::ContentLocation;
        }
        target.push_back(std::move(ref));
    }
    imageRefs_ = target;
}

bool TEmailMsgPart::RemoveVornInfo() {
    bool found = false;
    if (header_ == nullptr || !header_->IsAttachment()) {
        std::vector<std::string> lines;
        (void)DecodeToStringList(lines, false);
        std::string text = TextOfLines(lines);
        for (const TMarkerPair& pair : kInfoMarkers) {
            // A marker without its partner is no block: the next pair is tried.
            const std::size_t begin = text.find(pair.begin);
            const std::size_t end = text.find(pair.end);
            if (begin == std::string::npos || end == std::string::npos) continue;
            found = true;
            const std::size_t blockEnd = end + pair.end.size();
            if (blockEnd > begin) {
                text.erase(begin, blockEnd - begin);
                (void)EncodeFromStringList(SplitLines(text), false);
            }
            break;
        }
    }
    for (TEmailMsgPart* child : children_->parts_)
        if (child->RemoveVornInfo()) found = true;
    return found;
}

// --- TEmailMsgPartCollection ---------------------------------------------------------

TEmailMsgPartCollection::~TEmailMsgPartCollection() {
    // From the back: a part leaves parts_ itself, and leaving the front of a collection
    // of many parts would move all the others each time.
    while (!parts_.empty()) {
        TEmailMsgPart* part = parts_.back();
        delete part;
    }
}

TEmailMsgPart* TEmailMsgPartCollection::Items(int i) const {
    if (i < 0 || i >= Count()) return nullptr;
    return parts_[static_cast<std::size_t>(i)];
}

int TEmailMsgPartCollection::IndexOf(const TEmailMsgPart* part) const {
    const auto it = std::find(parts_.begin(), parts_.end(), part);
    return it == parts_.end() ? -1 : static_cast<int>(it - parts_.begin());
}

TEmailMsgPart* TEmailMsgPartCollection::Add() {
    return new TEmailMsgPart(this);
}

TEmailMsgPart* TEmailMsgPartCollection::Insert(int i) {
    return new TEmailMsgPart(this, std::max(i, 0));
}

void TEmailMsgPartCollection::SetItem(int i, TEmailMsgPart* part) {
    if (i < 0 || i >= Count()) return;
    parts_[static_cast<std::size_t>(i)] = part;
    if (part != nullptr) part->parent_ = this;
}

void TEmailMsgPartCollection::Attach(TEmailMsgPart* part, int position) {
    if (part == nullptr) return;
    if (part->parent_ != nullptr && part->parent_ != this) part->parent_->Detach(part);
    if (IndexOf(part) >= 0) return;
    if (position < 0 || position >= Count()) {
        parts_.push_back(part);
    } else {
        parts_.insert(parts_.begin() + position, part);
    }
    part->parent_ = this;
}

void TEmailMsgPartCollection::Detach(TEmailMsgPart* part) {
    const int index = IndexOf(part);
    if (index < 0) return;
    parts_.erase(parts_.begin() + index);
    part->parent_ = nullptr;
}

void TEmailMsgPartCollection::Delete(int i) {
    TEmailMsgPart* part = Items(i);
    if (part == nullptr) return;
    if (i > 0 && i == Count() - 1) parts_[static_cast<std::size_t>(i - 1)]->boundaryLine_ = part->boundaryLine_;
    part->MarkModified();
    delete part;
}

bool TEmailMsgPartCollection::Remove(TEmailMsgPart* part) {
    const int index = IndexOf(part);
    if (index >= 0) {
        Delete(index);
        return true;
    }
    return std::any_of(parts_.begin(), parts_.end(),
                       [part](TEmailMsgPart* p) { return p->children_->Remove(part); });
}

bool TEmailMsgPartCollection::KeepOneBodyPart() {
    if (parts_.size() != 1 || !parts_.front()->IsPreamble()) return false;
    TEmailMsgPart* preamble = parts_.front();
    const std::string closing = preamble->boundaryLine_;
    if (!closing.ends_with("--") || closing.size() <= 4) return false;
    auto* part = new TEmailMsgPart(this);
    part->parseSubparts_ = preamble->parseSubparts_;
    part->SetHeader(new TEmailHeader(preamble->Owner()));
    (void)part->header_->SetField("Content-Type", "text/plain");
    preamble->boundaryLine_ = closing.substr(0, closing.size() - 2);
    part->boundaryLine_ = closing;
    part->MarkModified();
    return true;
}

TEmailMsgPart* TEmailMsgPartCollection::FindByField(std::string_view name, std::string_view value) const {
    for (TEmailMsgPart* part : parts_) {
        if (TEmailMsgPart* inner = part->children_->FindByField(name, value)) return inner;
        std::string field;
        if (part->header_ != nullptr && part->header_->GetDecodedField(name, field) &&
            (EqualsNoCase(field, value) || EqualsNoCase(WithoutBlanksAndTabs(field), value)))
            return part;
    }
    return nullptr;
}

std::string TEmailMsgPartCollection::ForEach(const TPartFunction& fn) const {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        TEmailMsgPart* part = parts_[i];
        std::string answer = fn(*part);
        if (!answer.empty()) return answer;
        answer = part->children_->ForEach(fn);
        if (!answer.empty()) return answer;
    }
    return {};
}

TEmailMsgPart* TEmailMsgPartCollection::FindAlternative() const {
    for (TEmailMsgPart* part : parts_) {
        const TEmailHeader* header = part->header_;
        if (header != nullptr && header->IsMultipartAlternative() && !header->IsMessagePart())
            return part;
    }
    for (TEmailMsgPart* part : parts_) {
        const TEmailHeader* header = part->header_;
        if (header != nullptr && header->IsMessagePart()) continue;
        if (TEmailMsgPart* inner = part->children_->FindAlternative()) return inner;
    }
    return nullptr;
}

namespace {

template <class Repair>
bool RepairTree(const TEmailMsgPartCollection& parts, Repair repair) {
    bool changed = false;
    parts.ForEach([&](TEmailMsgPart& part) {
        if (part.Header() != nullptr && repair(*part.Header())) changed = true;
        return std::string();
    });
    return changed;
}

}  // namespace

bool TEmailMsgPartCollection::UnfoldFileNames() {
    return RepairTree(*this, [](TEmailHeader& h) { return h.UnfoldFileNames(); });
}

bool TEmailMsgPartCollection::TrimFileNameDots() {
    return RepairTree(*this, [](TEmailHeader& h) { return h.TrimFileNameDots(); });
}

bool TEmailMsgPartCollection::CleanFileNames() {
    return RepairTree(*this, [](TEmailHeader& h) { return h.CleanFileNames(); });
}

bool TEmailMsgPartCollection::ConvertAttachedMessages() {
    bool changed = false;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        TEmailMsgPart* part = parts_[i];
        if (part->header_ != nullptr && part->header_->IsRfc822()) {
            std::vector<std::string> lines;
            (void)part->DecodeToStringList(lines, true);
            TEmailMsg attached;
            attached.SetSaveOnDestroy(false);
            attached.SetEnsureTextBodyFlag(false);
            (void)attached.SetRawMail(lines);
            if (attached.ExtractUuencodedAttachments()) {
                std::vector<std::string> written;
                (void)attached.SaveToLines(written, true);
                (void)part->EncodeFromStringList(written, true);
                changed = true;
            }
        }
        if (part->children_->ConvertAttachedMessages()) changed = true;
    }
    return changed;
}

}  // namespace gatemoor
