#include "mail/EmailHeader.h"

#include "mail/EmailMsgPart.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "mail/EmailMsgPart.h"
#include "mail/EncodedWords.h"
#include "mail/HeaderOwner.h"
#include "screening/FileExtLookup.h"
#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

constexpr std::string_view kContentType = "Content-Type";
constexpr std::string_view kContentDisposition = "Content-Disposition";
constexpr std::string_view kContentTransferEncoding = "Content-Transfer-Encoding";
constexpr std::string_view kDefaultFileName = "Attachment";

// The two parameters that carry an attachment's file name.
struct TFileNameParam {
    std::string_view field;
    std::string_view param;
};
constexpr std::array kFileNameParams = {
    TFileNameParam{kContentDisposition, "FileName"},
    TFileNameParam{kContentType, "Name"},
};

constexpr std::array<std::string_view, 5> kKnownTransferEncodings = {
    "7bit", "8bit", "binary", "quoted-printable", "base64",
};

// Extensions of files that hold a whole message.
constexpr std::array<std::string_view, 3> kMessageFileExtensions = {".eml", ".nws", ".msg"};

[[nodiscard]] bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// The answers a header usually keeps (type, disposition, a few parameters): room made
// at once instead of growing one by one.
constexpr std::size_t kDecodedRoom = 4;

// Without the characters at or below the blank at both ends.
[[nodiscard]] std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

[[nodiscard]] bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiUpper(x) == AsciiUpper(y);
           });
}

// True when `key` is the cache key of parameter `param` of field `field` (a name
// without ':'): the names, a line feed between them, compared ignoring case.
[[nodiscard]] bool IsParamKey(std::string_view key, std::string_view field, std::string_view param) {
    return key.size() == field.size() + 1 + param.size() && key[field.size()] == '\n' &&
           SameNameIgnoringCase(key.substr(0, field.size()), field) &&
           SameNameIgnoringCase(key.substr(field.size() + 1), param);
}

// A field name as lookups compare it: first ':' as a blank, trimmed, upper case.
[[nodiscard]] std::string NameKey(std::string_view name) {
    std::string key(name);
    if (std::size_t colon = key.find(':'); colon != std::string::npos) key[colon] = ' ';
    return AsciiUpper(Trimmed(key));
}

// True when `lower` is a leading piece of `word` ("in" of "inline"); never for "".
[[nodiscard]] bool IsLeadingPieceOf(std::string_view lower, std::string_view word) {
    return !lower.empty() && word.starts_with(lower);
}

// Appends the lines of `text`, split at CR LF, CR or LF; a final terminator adds no
// empty line.
void AppendLines(std::string_view text, std::vector<std::string>& lines) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    if (text.empty()) lines.emplace_back();
}

// Every fold loses its line break and exactly one white-space character.
[[nodiscard]] std::string Unfolded(const std::string& value) {
    if (value.find("\r\n") == std::string::npos) return value;
    std::vector<std::string> lines;
    AppendLines(value, lines);
    std::string result = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (!lines[i].empty()) result.append(lines[i], 1);
    return result;
}

// A '"' opens a quoted value only right after '=' and only when it is closed later;
// a stray quote is an ordinary character, as it was before quotes counted at all.
[[nodiscard]] std::size_t EndOfQuotedValue(std::string_view text, std::size_t quote) {
    if (quote == 0 || text[quote - 1] != '=') return std::string_view::npos;
    return text.find('"', quote + 1);
}

// The pieces between the ';' of a field value that are not inside a quoted parameter
// value, each trimmed.
[[nodiscard]] std::vector<std::string> SplitParams(std::string_view value) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ';') {
            pieces.emplace_back(Trimmed(value.substr(start, i - start)));
            start = ++i;
        } else if (value[i] == '"') {
            const std::size_t close = EndOfQuotedValue(value, i);
            i = close == std::string_view::npos ? i + 1 : close + 1;
        } else {
            ++i;
        }
    }
    pieces.emplace_back(Trimmed(value.substr(start)));
    return pieces;
}

// Index of the piece "param=..." (name compared without regard to case), or npos.
[[nodiscard]] std::size_t FindParamPiece(const std::vector<std::string>& pieces,
                                         std::string_view param) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::size_t eq = pieces[i].find('=');
        if (eq != std::string::npos &&
            SameNameIgnoringCase(std::string_view(pieces[i]).substr(0, eq), param))
            return i;
    }
    return std::string::npos;
}

// The extension of a file name with its dot, after trailing dots; empty without one.
[[nodiscard]] std::string ExtensionOf(std::string_view name) {
    while (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    const std::size_t dot = name.find_last_of(".\\/:");
    if (dot == std::string_view::npos || name[dot] != '.') return {};
    return std::string(name.substr(dot));
}

// A file name that stands for an attached message, by its type or its extension.
[[nodiscard]] bool NamesMessageFile(std::string_view name) {
    std::string type;
    if (MimeTypeOfFileName(name, type) && AsciiLower(type).find("rfc822") != std::string::npos)
        return true;
    const std::string extension = AsciiLower(ExtensionOf(name));
    return std::find(kMessageFileExtensions.begin(), kMessageFileExtensions.end(), extension) !=
           kMessageFileExtensions.end();
}

// Holds the owner's lock for one scope when there is an owner.
class TOwnerGuard {
public:
    explicit TOwnerGuard(const THeaderOwner* owner) {
        if (owner != nullptr) guard_.emplace(owner->OwnerLock());
    }

private:
    std::optional<CriticalSectionGuard> guard_;
};

}  // namespace

TEmailHeader::TEmailHeader(THeaderOwner* owner) : lock_("EmailHeader_CS"), owner_(owner) {
    if (owner_ != nullptr) owner_->RegisterHeader(*this);
}

TEmailHeader::~TEmailHeader() {
    if (owner_ != nullptr) owner_->UnregisterHeader(*this);
}

void TEmailHeader::MarkModified() const {
    if (owner_ != nullptr) owner_->MarkModified();
}

const TEmailHeader* TEmailHeader::MainHeaderOfOwner() const {
    return owner_ == nullptr ? nullptr : owner_->MainHeader();
}

bool TEmailHeader::IsMessageHeader() const {
    CriticalSectionGuard guard(lock_);
    TOwnerGuard ownerGuard(owner_);
    return owner_ != nullptr && MainHeaderOfOwner() == this;
}

TEmailMsgPart* TEmailHeader::OwningPart() const {
    CriticalSectionGuard guard(lock_);
    if (owner_ == nullptr) return nullptr;
    TOwnerGuard ownerGuard(owner_);
    return owner_->PartOfHeader(*this);
}

TEmailMsgPart* THeaderOwner::PartOfHeader(const TEmailHeader& header) const {
    TEmailMsgPart* found = nullptr;
    WalkParts([&](TEmailMsgPart& part, const TEmailHeader* partHeader) {
        if (partHeader != &header) return true;
        found = &part;
        return false;
    });
    return found;
}

int TEmailHeader::FieldCount() const {
    CriticalSectionGuard guard(lock_);
    return static_cast<int>(names_.size());
}

std::string TEmailHeader::FieldName(int index) const {
    CriticalSectionGuard guard(lock_);
    return names_.at(static_cast<std::size_t>(index));
}

std::string TEmailHeader::FieldValue(int index) const {
    CriticalSectionGuard guard(lock_);
    return values_.at(static_cast<std::size_t>(index));
}

void TEmailHeader::Clear() {
    CriticalSectionGuard guard(lock_);
    if (names_.empty() && dropped_.empty()) return;
    ForgetDecoded();
    names_.clear();
    values_.clear();
    dropped_.clear();
    MarkModified();
}

bool TEmailHeader::LoadFromLines(std::vector<std::string>& lines) {
    CriticalSectionGuard guard(lock_);
    std::size_t pos = 0;
    const bool result = LoadFromLines(lines, pos);
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(pos));
    return result;
}

bool TEmailHeader::LoadFromLines(std::vector<std::string>& lines, std::size_t& pos,
                                 bool skipLeadingEmpty) {
    CriticalSectionGuard guard(lock_);
    Clear();
    dropped_.clear();
    if (!skipLeadingEmpty && pos < lines.size() && lines[pos].empty()) {
        ++pos;
        return true;
    }
    std::size_t first = pos;
    while (first < lines.size() && lines[first].empty())
        ++first;
    if (first >= lines.size()) {
        pos = lines.size();
        return false;
    }
    std::size_t end = first;
    while (end < lines.size() && !lines[end].empty())
        ++end;

    // Continuation lines join the field before them, each after a CR LF.
    std::vector<std::string> fields;
    fields.reserve(end - first);
    for (std::size_t i = first; i < end; ++i) {
        std::string& line = lines[i];
        if (!fields.empty() && (line.front() == ' ' || line.front() == '\t')) {
            fields.back().append("\r\n").append(line);
        } else {
            fields.push_back(std::move(line));
        }
    }
    pos = end < lines.size() ? end + 1 : end;

    bool allParsed = true;
    names_.reserve(fields.size());
    values_.reserve(fields.size());
    for (std::string& field : fields) {
        const std::size_t colon = field.find(':');
        if (colon == std::string::npos) {
            allParsed = false;  // no field; the rest still counts
            dropped_.emplace_back(names_.size(), std::move(field));
            continue;
        }
        names_.push_back(field.substr(0, colon));
        // The value keeps the line's own storage: cut to the trimmed text in place.
        const std::string_view value = Trimmed(std::string_view(field).substr(colon + 1));
        const auto from = static_cast<std::size_t>(value.data() - field.data());
        field.erase(from + value.size());
        field.erase(0, from);
        values_.push_back(std::move(field));
    }
    ForgetDecoded();
    if (!names_.empty() || !dropped_.empty()) MarkModified();
    return allParsed;
}

void TEmailHeader::SaveToLines(std::vector<std::string>& target) const {
    CriticalSectionGuard guard(lock_);
    std::size_t dropped = 0;
    for (std::size_t i = 0; i <= names_.size(); ++i) {
        for (; dropped < dropped_.size() && dropped_[dropped].first == i; ++dropped)
            AppendLines(dropped_[dropped].second, target);
        if (i < names_.size()) AppendLines(names_[i] + ": " + values_[i], target);
    }
}

int TEmailHeader::IndexOfField(std::string_view name) const {
    CriticalSectionGuard guard(lock_);
    // The names the code asks for have no ':'; only others need their key built.
    const std::string_view plain = Trimmed(name);
    const bool hasColon = plain.find(':') != std::string_view::npos;
    const std::string built = hasColon ? NameKey(name) : std::string();
    const std::string_view key = hasColon ? std::string_view(built) : plain;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        // Stored names keep their blanks for writing back; "Subject :" is still Subject.
        if (SameNameIgnoringCase(Trimmed(names_[i]), key)) return static_cast<int>(i);
    }
    return -1;
}

bool TEmailHeader::GetField(std::string_view name, std::string& value, bool unfold) const {
    CriticalSectionGuard guard(lock_);
    value.clear();
    const int index = IndexOfField(name);
    if (index < 0) return false;
    const std::string& stored = values_[static_cast<std::size_t>(index)];
    value = unfold ? Unfolded(stored) : stored;
    return true;
}

bool TEmailHeader::GetDecodedField(std::string_view name, std::string& value) const {
    CriticalSectionGuard guard(lock_);
    // The type queries ask for the same decoded fields again and again; the answers
    // stay until the fields change. Looked up without building the key first.
    const std::string_view plain = Trimmed(name);
    const bool hasColon = plain.find(':') != std::string_view::npos;
    if (!hasColon) {
        for (const auto& [cachedName, cachedValue] : decoded_) {
            if (!SameNameIgnoringCase(cachedName, plain)) continue;
            value = cachedValue.value_or(std::string());
            return cachedValue.has_value();
        }
    }
    const std::string key = AsciiLower(NameKey(name));
    if (hasColon) {
        for (const auto& [cachedName, cachedValue] : decoded_) {
            if (cachedName != key) continue;
            value = cachedValue.value_or(std::string());
            return cachedValue.has_value();
        }
    }
    std::optional<std::string> answer;
    if (GetField(name, value, true)) {
        value = DecodeHeaderText(value);
        answer = value;
    }
    if (decoded_.empty()) decoded_.reserve(kDecodedRoom);
    decoded_.emplace_back(key, answer);
    return answer.has_value();
}

bool TEmailHeader::GetFieldValue(std::string_view name, std::string& value, bool unfold) const {
    CriticalSectionGuard guard(lock_);
    const bool found = GetField(name, value, unfold);
    if (found) value.erase(std::min(value.find(';'), value.size()));
    value = std::string(Trimmed(value));
    return found;
}

bool TEmailHeader::GetDecodedFieldValue(std::string_view name, std::string& value) const {
    CriticalSectionGuard guard(lock_);
    if (!GetFieldValue(name, value, true)) return false;
    value = DecodeHeaderText(value);
    return true;
}

bool TEmailHeader::SetField(std::string_view name, std::string_view value) {
    CriticalSectionGuard guard(lock_);
    std::string fieldName(name);
    if (std::size_t colon = fieldName.find(':'); colon != std::string::npos) fieldName[colon] = ' ';
    fieldName = std::string(Trimmed(fieldName));
    if (value.size() > 1 && value.ends_with("\r\n")) value.remove_suffix(2);
    ForgetDecoded();

    const int index = IndexOfField(fieldName);
    if (index >= 0) {
        const auto at = static_cast<std::size_t>(index);
        if (values_[at] != value) {
            MarkModified();
            if (value.empty()) {
                names_.erase(names_.begin() + index);
                values_.erase(values_.begin() + index);
                for (auto& [before, line] : dropped_)
                    if (before > at) --before;
            } else {
                values_[at] = std::string(value);
            }
        }
        return true;
    }
    if (!value.empty()) {
        names_.push_back(std::move(fieldName));
        values_.emplace_back(value);
        MarkModified();
    }
    return false;
}

bool TEmailHeader::GetParam(std::string_view field, std::string_view param, std::string& value,
                            bool unfold) const {
    CriticalSectionGuard guard(lock_);
    std::string text;
    value.clear();
    if (!GetField(field, text, unfold)) return false;
    if (AsciiUpper(text).find(AsciiUpper(param)) == std::string::npos) return false;
    const std::vector<std::string> pieces = SplitParams(text);
    const std::size_t at = FindParamPiece(pieces, param);
    if (at == std::string::npos) return false;
    std::string_view found = std::string_view(pieces[at]).substr(pieces[at].find('=') + 1);
    if (found.empty()) return false;
    if (found.front() == '"') found.remove_prefix(1);
    if (!found.empty() && found.back() == '"') found.remove_suffix(1);
    value = std::string(found);
    return !value.empty();
}

bool TEmailHeader::GetDecodedParam(std::string_view field, std::string_view param,
                                   std::string& value) const {
    CriticalSectionGuard guard(lock_);
    // Kept with the decoded fields, under a key no field name can have: the field's
    // name, a line feed and the parameter's name. Looked up without building it first.
    const std::string_view plain = Trimmed(field);
    const bool hasColon = plain.find(':') != std::string_view::npos;
    if (!hasColon) {
        for (const auto& [cachedName, cachedValue] : decoded_) {
            if (!IsParamKey(cachedName, plain, param)) continue;
            value = cachedValue.value_or(std::string());
            return cachedValue.has_value();
        }
    }
    std::string key = AsciiLower(NameKey(field)) + '\n' + AsciiLower(param);
    if (hasColon) {
        for (const auto& [cachedName, cachedValue] : decoded_) {
            if (cachedName != key) continue;
            value = cachedValue.value_or(std::string());
            return cachedValue.has_value();
        }
    }
    std::optional<std::string> answer;
    if (GetParam(field, param, value, true)) {
        value = DecodeHeaderText(value);
        answer = value;
    }
    if (decoded_.empty()) decoded_.reserve(kDecodedRoom);
    decoded_.emplace_back(std::move(key), answer);
    return answer.has_value();
}

bool TEmailHeader::SetParam(std::string_view field, std::string_view param,
                            std::string_view value) {
    CriticalSectionGuard guard(lock_);
    std::string text;
    if (!GetDecodedField(field, text)) return false;
    std::vector<std::string> pieces = SplitParams(text);
    // A ';' in an unquoted value would split it on the next read.
    const bool quote =
        value.find(';') != std::string_view::npos && value.find('"') == std::string_view::npos;
    std::string piece = std::string(param) + "=";
    piece += quote ? "\"" + std::string(value) + "\"" : std::string(value);

    const std::size_t at = FindParamPiece(pieces, param);
    if (at == std::string::npos) {
        if (!value.empty()) pieces.push_back(std::move(piece));
    } else if (value.empty()) {
        pieces.erase(pieces.begin() + static_cast<long>(at));
    } else {
        pieces[at] = std::move(piece);
    }

    std::string joined = pieces.empty() ? std::string() : pieces.front();
    for (std::size_t i = 1; i < pieces.size(); ++i)
        if (!pieces[i].empty()) joined.append("; ").append(pieces[i]);
    SetField(field, joined);
    return true;
}

std::string TEmailHeader::GetBoundary() const {
    CriticalSectionGuard guard(lock_);
    std::string type;
    if (!GetDecodedField("CONTENT-TYPE", type)) return {};
    constexpr std::string_view kKey = "boundary=";
    const std::size_t at = AsciiLower(type).find(kKey);
    if (at == std::string::npos) return {};
    std::string_view rest = std::string_view(type).substr(at + kKey.size());
    // The boundary ends where its quotes close, or unquoted at the next parameter; the
    // delimiter lines of the body hold nothing more.
    std::string_view boundary;
    if (rest.starts_with('"')) {
        boundary = rest.substr(1, rest.find('"', 1) - 1);
    } else {
        boundary = rest.substr(0, std::min(rest.find(';'), rest.size()));
        boundary = boundary.substr(0, std::min(boundary.find_first_of(" \t\r\n"), boundary.size()));
    }
    // "--" alone would match every dashed line of the body.
    if (boundary.empty()) return {};
    return "--" + std::string(boundary);
}

bool TEmailHeader::SetBoundary(std::string_view boundary) {
    CriticalSectionGuard guard(lock_);
    if (IndexOfField(kContentType) < 0) SetField(kContentType, "multipart/alternative");
    return SetParam(kContentType, "boundary", boundary);
}

bool TEmailHeader::IsAttachment() const {
    CriticalSectionGuard guard(lock_);
    TOwnerGuard ownerGuard(owner_);
    std::string disposition;
    if (const TEmailHeader* main = MainHeaderOfOwner();
        main != nullptr && main->GetDecodedField(kContentDisposition, disposition)) {
        if (AsciiLower(disposition).starts_with("attachment")) return true;
        // The main header's disposition speaks for the one body of a single-part
        // message; in a multipart message one header line must not hide every part.
        if (!main->IsMultipart()) return false;
    }
    if (GetDecodedField(kContentDisposition, disposition)) {
        const std::string lv = AsciiLower(disposition);
        if (IsLeadingPieceOf(lv, "attachment")) return true;
        return !IsLeadingPieceOf(lv, "inline");
    }
    if (IsMultipart() || IsTextual()) {
        // Whether GetFileName finds a name, without building it: building consults the
        // type database, and this question is asked of every part again and again.
        std::string raw;
        return GetDecodedParam(kContentDisposition, "filename", raw) ||
               GetDecodedParam(kContentType, "name", raw);
    }
    return true;
}

bool TEmailHeader::IsInline() const {
    CriticalSectionGuard guard(lock_);
    TOwnerGuard ownerGuard(owner_);
    std::string disposition;
    if (const TEmailHeader* main = MainHeaderOfOwner()) {
        if (!main->IsMultipart()) return true;
        if (main->GetDecodedField(kContentDisposition, disposition) &&
            IsLeadingPieceOf(AsciiLower(disposition), "inline"))
            return true;
    }
    if (GetDecodedField(kContentDisposition, disposition)) {
        // Only a disposition with parameters can say "inline" here.
        const std::size_t semicolon = disposition.find(';');
        const std::string head =
            semicolon == std::string::npos ? std::string() : disposition.substr(0, semicolon + 1);
        return AsciiLower(head).find("inline") != std::string::npos;
    }
    return !IsMultipart() && IsTextual();
}

bool TEmailHeader::IsInlineAttachment() const {
    CriticalSectionGuard guard(lock_);
    TOwnerGuard ownerGuard(owner_);
    if (IsMessageHeader() || IsMultipart()) return false;
    if (const TEmailHeader* main = MainHeaderOfOwner(); main != nullptr && !main->IsMultipart())
        return false;
    std::string disposition;
    if (!GetDecodedField(kContentDisposition, disposition)) return false;
    const std::string lv = AsciiLower(disposition);
    if (IsLeadingPieceOf(lv, "attachment")) return false;
    if (IsLeadingPieceOf(lv, "inline")) return !IsTextual();
    return false;
}

bool TEmailHeader::MakeFileName(bool found, std::string raw, std::string& name) const {
    if (!found) raw = kDefaultFileName;
    raw = DecodeEncodedWords(raw);
    std::string type;
    std::string extension;
    if (raw.find('.') == std::string::npos && GetContentType(type) &&
        ExtensionOfMimeType(type, extension)) {
        extension.erase(0, extension.find_first_not_of('.'));
        if (!extension.empty()) raw += "." + extension;
    }
    KeepOnlyChars(raw, TCharClass::FileNameChar);
    name = std::move(raw);
    return found;
}

bool TEmailHeader::GetFileName(std::string& name) const {
    CriticalSectionGuard guard(lock_);
    if (GetDispositionFileName(name)) return true;
    return GetTypeFileName(name);
}

bool TEmailHeader::GetTypeFileName(std::string& name) const {
    CriticalSectionGuard guard(lock_);
    std::string raw;
    const bool found = GetDecodedParam(kContentType, "name", raw);
    return MakeFileName(found, std::move(raw), name);
}

bool TEmailHeader::GetDispositionFileName(std::string& name) const {
    CriticalSectionGuard guard(lock_);
    std::string raw;
    const bool found = GetDecodedParam(kContentDisposition, "filename", raw);
    return MakeFileName(found, std::move(raw), name);
}

bool TEmailHeader::GetContentIdFileName(std::string& name) const {
    CriticalSectionGuard guard(lock_);
    std::string raw;
    const bool found = GetDecodedField("Content-ID", raw);
    return MakeFileName(found, std::move(raw), name);
}

bool TEmailHeader::GetContentType(std::string& type) const {
    CriticalSectionGuard guard(lock_);
    if (GetDecodedFieldValue(kContentType, type)) return true;
    if (IsHtml()) {
        type = "text/html";
    } else if (IsPlainText()) {
        type = "text/plain";
    } else {
        type.clear();
    }
    return false;
}

bool TEmailHeader::GetSubject(std::string& subject) const {
    return GetDecodedField("Subject", subject);
}

bool TEmailHeader::HasNamedFile(std::string_view field, std::string_view param,
                                bool (*test)(std::string_view name)) const {
    std::string name;
    return GetDecodedParam(field, param, name) && test(name);
}

bool TEmailHeader::IsRfc822() const {
    CriticalSectionGuard guard(lock_);
    return ContentTypeHas("rfc822") || HasNamedFile(kContentType, "Name", NamesMessageFile) ||
           HasNamedFile(kContentDisposition, "FileName", NamesMessageFile) || IsDigestEntry();
}

bool TEmailHeader::IsDigestEntry() const {
    // In a multipart/digest a part without Content-Type is an attached message; taken
    // for text, its header would be screened as body and a notice written into it.
    if (owner_ == nullptr || IndexOfField(kContentType) >= 0) return false;
    TOwnerGuard ownerGuard(owner_);
    const TEmailMsgPart* part = OwningPart();
    if (part == nullptr) return false;
    const TEmailHeader* enclosing = owner_->EnclosingHeader(*part);
    return enclosing != nullptr && enclosing != this && enclosing->ContentTypeHas("multipart/digest");
}

bool TEmailHeader::IsMessagePart() const {
    CriticalSectionGuard guard(lock_);
    return OwningPart() != nullptr && IsRfc822();
}

void TEmailHeader::ForgetDecoded() {
    decoded_.clear();
    lowerTypeKnown_ = false;
    lowerType_.reset();
}

const std::string* TEmailHeader::LowerContentType() const {
    CriticalSectionGuard guard(lock_);
    if (!lowerTypeKnown_) {
        std::string type;
        if (GetDecodedField(kContentType, type)) lowerType_ = AsciiLower(type);
        lowerTypeKnown_ = true;
    }
    return lowerType_ ? &*lowerType_ : nullptr;
}

bool TEmailHeader::ContentTypeHas(std::string_view part) const {
    const std::string* type = LowerContentType();
    return type != nullptr && type->find(part) != std::string::npos;
}

bool TEmailHeader::IsMultipart() const {
    CriticalSectionGuard guard(lock_);
    return ContentTypeHas("multipart");
}

bool TEmailHeader::IsMultipartAlternative() const {
    CriticalSectionGuard guard(lock_);
    const std::string* type = LowerContentType();
    if (type == nullptr) return false;
    const std::string_view kind = std::string_view(*type).substr(0, type->find(';'));
    return kind.find("multipart/alternative") != std::string_view::npos;
}

bool TEmailHeader::IsMultipartRelated() const {
    CriticalSectionGuard guard(lock_);
    return ContentTypeHas("multipart/related");
}

bool TEmailHeader::IsMultipartMixed() const {
    CriticalSectionGuard guard(lock_);
    return ContentTypeHas("multipart/mixed");
}

bool TEmailHeader::IsTextual() const {
    CriticalSectionGuard guard(lock_);
    const std::string* lower = LowerContentType();
    if (lower == nullptr) return true;
    return lower->find("text") != std::string::npos || lower->find("charset") != std::string::npos;
}

bool TEmailHeader::IsPlainText() const {
    CriticalSectionGuard guard(lock_);
    TOwnerGuard ownerGuard(owner_);
    if (const std::string* lower = LowerContentType())
        return lower->find("text/plain") != std::string::npos || *lower == "text";
    const TEmailMsgPart* part = OwningPart();
    return part != nullptr && owner_->PartDepth(*part) == 0;
}

bool TEmailHeader::IsHtml() const {
    CriticalSectionGuard guard(lock_);
    return ContentTypeHas("text/html");
}

bool TEmailHeader::GetTransferEncoding(std::string& name) const {
    CriticalSectionGuard guard(lock_);
    if (!GetDecodedField(kContentTransferEncoding, name)) {
        name = "7bit";
        return false;
    }
    const std::string lower = AsciiLower(name);
    if (std::find(kKnownTransferEncodings.begin(), kKnownTransferEncodings.end(), lower) ==
        kKnownTransferEncodings.end())
        name = "binary";
    return true;
}

template <class Repair>
bool TEmailHeader::RepairFileNames(Repair repair) {
    CriticalSectionGuard guard(lock_);
    bool changed = false;
    for (const TFileNameParam& source : kFileNameParams) {
        std::string name;
        if (!GetDecodedParam(source.field, source.param, name)) continue;
        const std::optional<std::string> repaired = repair(source, name);
        // An emptied name would turn a named attachment into an unnamed body part.
        if (!repaired || repaired->empty()) continue;
        changed = SetParam(source.field, source.param, *repaired) || changed;
    }
    return changed;
}

bool TEmailHeader::UnfoldFileNames() {
    return RepairFileNames([this](const TFileNameParam& source,
                                  const std::string& decoded) -> std::optional<std::string> {
        std::string raw;
        if (!GetParam(source.field, source.param, raw, false) ||
            raw.find("\r\n") == std::string::npos)
            return std::nullopt;
        return decoded;
    });
}

bool TEmailHeader::TrimFileNameDots() {
    return RepairFileNames(
        [](const TFileNameParam&, const std::string& name) -> std::optional<std::string> {
            const std::size_t last = name.find_last_not_of('.');
            if (last + 1 == name.size()) return std::nullopt;
            return name.substr(0, last == std::string::npos ? 0 : last + 1);
        });
}

bool TEmailHeader::CleanFileNames() {
    return RepairFileNames(
        [](const TFileNameParam&, std::string name) -> std::optional<std::string> {
            if (!KeepOnlyChars(name, TCharClass::FileNameChar)) return std::nullopt;
            return name;
        });
}

}  // namespace gatemoor
