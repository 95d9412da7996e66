// One RFC 822 header block: the main header of a message or the header of a MIME part.
// Its answers (content type, disposition, boundary, file names, transfer encoding)
// decide what the screening treats as an attachment, what it is called and how it is
// decoded, so their rules are screening policy and kept exactly.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/VornCriticalSections.h"

namespace gatemoor {

class THeaderOwner;
class TEmailMsgPart;
class TMIMEDecoder;
using TMIMEDecoderClass = const TMIMEDecoder*;

// Field and parameter names match without regard to ASCII case. "Decoded" reads unfold
// the value and pass it through DecodeHeaderText. Every operation holds the header's
// lock "EmailHeader_CS" for its whole duration (re-entrant; a time-out raises
// ECriticalSectionException); queries that consult the owner also take the owner's
// lock inside it. Nothing here throws on malformed mail.
class TEmailHeader {
public:
    // An empty header; with an owner it enters the owner's header registry.
    explicit TEmailHeader(THeaderOwner* owner = nullptr);
    // Leaves the owner's registry.
    ~TEmailHeader();
    TEmailHeader(const TEmailHeader&) = delete;
    TEmailHeader& operator=(const TEmailHeader&) = delete;

    [[nodiscard]] THeaderOwner* Owner() const { return owner_; }
    // True when there is an owner and this is its main header.
    [[nodiscard]] bool IsMessageHeader() const;
    // The first part, in a pre-order walk of the owner's tree, whose header this is;
    // null without owner or when no part has it.
    [[nodiscard]] TEmailMsgPart* OwningPart() const;

    // The parallel view of the fields, in block order; an index (0-based) outside
    // 0..FieldCount()-1 throws std::out_of_range.
    [[nodiscard]] int FieldCount() const;
    [[nodiscard]] std::string FieldName(int index) const;
    [[nodiscard]] std::string FieldValue(int index) const;

    void Clear();
    // Clears, then takes the header block from the front of `lines`: leading empty
    // lines, the field lines up to the first empty line, and that separator. Lines
    // beginning with a blank or TAB continue the field before them (kept after a CR
    // LF). False when no line was left to take, or when a field line without ':' had
    // to be dropped. A dropped line is no field, but it is kept in its place and
    // written back, so that parsing never loses the bytes of a message.
    bool LoadFromLines(std::vector<std::string>& lines);
    // The same from index `pos` of `lines`, which is advanced past what was taken (the
    // taken lines are moved out); parsing hands a message's lines from part to part
    // this way instead of erasing from the front. Without `skipLeadingEmpty` an empty
    // first line is the separator of an empty header, as it is for a MIME part that
    // starts with its body.
    bool LoadFromLines(std::vector<std::string>& lines, std::size_t& pos,
                       bool skipLeadingEmpty = true);
    // Appends "name: value" per field; folded values come out as the lines they were.
    void SaveToLines(std::vector<std::string>& target) const;

    // 0-based index of the first field called `name` (a ':' in it counts as a blank,
    // surrounding blanks are ignored); -1 when absent.
    [[nodiscard]] int IndexOfField(std::string_view name) const;
    // The stored value; with `unfold`, every fold loses its CR LF and one white-space
    // character. False and empty when absent.
    bool GetField(std::string_view name, std::string& value, bool unfold = false) const;
    bool GetDecodedField(std::string_view name, std::string& value) const;
    // The value up to its first ';', trimmed.
    bool GetFieldValue(std::string_view name, std::string& value, bool unfold = false) const;
    bool GetDecodedFieldValue(std::string_view name, std::string& value) const;
    // Replaces the first field of that name (an empty value removes it), or appends it
    // when absent and `value` is not empty. A trailing CR LF of the value is dropped.
    // True when the field existed.
    bool SetField(std::string_view name, std::string_view value);

    // The value of `param` in a "; "-separated field: the piece "param=value" (no blanks
    // around '='), one pair of surrounding quotes removed. A ';' inside a quoted value
    // does not separate. False and empty when absent or empty.
    bool GetParam(std::string_view field, std::string_view param, std::string& value,
                  bool unfold = false) const;
    bool GetDecodedParam(std::string_view field, std::string_view param, std::string& value) const;
    // Sets, adds or (empty value) removes the parameter in the decoded field and stores
    // the pieces joined with "; ". The value goes in without quotes unless it holds a
    // ';'. False (nothing added) when the field is absent.
    bool SetParam(std::string_view field, std::string_view param, std::string_view value);

    // "--" + the Content-Type boundary: a quoted one up to its closing quote, an
    // unquoted one up to ';' or white space. Empty when there is none.
    [[nodiscard]] std::string GetBoundary() const;
    // Sets the boundary, adding "Content-Type: multipart/alternative" when absent.
    bool SetBoundary(std::string_view boundary);

    // The disposition rules of the screening (see the definitions).
    [[nodiscard]] bool IsAttachment() const;
    [[nodiscard]] bool IsInline() const;
    [[nodiscard]] bool IsInlineAttachment() const;

    // File names, each found when its source is present; otherwise the name is built
    // from "Attachment". The name is decoded again with DecodeEncodedWords, gets the
    // extension of the content type when it has no '.', and keeps only blanks and
    // printable characters outside FORBIDDEN_FILENAME_CHARS.
    bool GetFileName(std::string& name) const;  // disposition name, else type name
    bool GetTypeFileName(std::string& name) const;
    bool GetDispositionFileName(std::string& name) const;
    bool GetContentIdFileName(std::string& name) const;

    // The decoded Content-Type before ';'. When absent (result false) "text/html" when
    // IsHtml, "text/plain" when IsPlainText, else empty.
    bool GetContentType(std::string& type) const;
    bool GetSubject(std::string& subject) const;

    // Also a part without Content-Type inside a multipart/digest.
    [[nodiscard]] bool IsRfc822() const;
    // IsRfc822 of a header that some part has; false otherwise.
    [[nodiscard]] bool IsMessagePart() const;
    [[nodiscard]] bool IsMultipart() const;
    [[nodiscard]] bool IsMultipartAlternative() const;
    [[nodiscard]] bool IsMultipartRelated() const;
    [[nodiscard]] bool IsMultipartMixed() const;
    // Without Content-Type: true.
    [[nodiscard]] bool IsTextual() const;
    // Without Content-Type: true only for the header of a top-level part.
    [[nodiscard]] bool IsPlainText() const;
    [[nodiscard]] bool IsHtml() const;

    // The Content-Transfer-Encoding as written when it is 7bit, 8bit, binary,
    // quoted-printable or base64 (any case), "binary" for anything else. Absent: "7bit"
    // and false.
    bool GetTransferEncoding(std::string& name) const;

    // Repairs of the Content-Disposition "FileName" and Content-Type "Name" parameters;
    // each answers whether it changed anything. A repair that would leave no name
    // keeps the name as it is.
    bool UnfoldFileNames();   // a folded raw name is stored unfolded and decoded
    bool TrimFileNameDots();  // trailing dots removed
    bool CleanFileNames();    // only blanks and printable characters outside
                              // FORBIDDEN_FILENAME_CHARS kept

    // The decoder class for the body; defined with the decoders.
    bool GetDecoderClass(TMIMEDecoderClass& decoderClass) const;
    [[nodiscard]] bool IsEncoded() const;

private:
    void MarkModified() const;
    [[nodiscard]] const TEmailHeader* MainHeaderOfOwner() const;
    [[nodiscard]] bool ContentTypeHas(std::string_view part) const;
    // The decoded Content-Type in lower case, kept until the fields change; null when
    // the header has none. The type questions ask it of every part again and again.
    [[nodiscard]] const std::string* LowerContentType() const;
    // Empties the answers kept for the fields; every change of the fields calls it.
    void ForgetDecoded();
    // A part without Content-Type directly inside a multipart/digest.
    [[nodiscard]] bool IsDigestEntry() const;
    [[nodiscard]] bool HasNamedFile(std::string_view field, std::string_view param,
                                    bool (*test)(std::string_view name)) const;
    bool MakeFileName(bool found, std::string raw, std::string& name) const;
    template <class Repair>
    bool RepairFileNames(Repair repair);

    mutable TMutexCriticalSection lock_;
    THeaderOwner* owner_;
    std::vector<std::string> names_;
    std::vector<std::string> values_;
    // Lines without ':' that LoadFromLines dropped, each with the index of the field it
    // stood before.
    std::vector<std::pair<std::size_t, std::string>> dropped_;
    // GetDecodedField's answers by lower-case name (none: absent); emptied on every
    // change of the fields.
    mutable std::vector<std::pair<std::string, std::optional<std::string>>> decoded_;
    mutable bool lowerTypeKnown_ = false;
    mutable std::optional<std::string> lowerType_;
};

}  // namespace gatemoor
