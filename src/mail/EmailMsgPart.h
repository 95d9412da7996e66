// The body of a message as a tree of MIME parts. A part is a header (shared or its own),
// its raw body lines as they stand in the message, a cache of its decoded bytes and the
// collection of its sub-parts. The message drives parsing; a part consumes its share of
// the enclosing body, turns multiparts and attached messages into sub-trees and writes
// itself back. Parts have no locks: the owning message's lock and the header locks
// guard them.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

class TEmailHeader;
class TEmailMsg;
class TEmailMsgPart;
class TEmailMsgPartCollection;
class THeaderOwner;

// Parts nested deeper than this stay opaque bodies: their multipart or attached-message
// content is kept as raw lines and not parsed into children. Real mail nests a handful
// of levels; hostile mail can nest thousands, and every walk of the tree recurses.
inline constexpr int kMaxPartDepth = 100;

// The two snip markers that replace attachment bodies in the short form of a message.
// Each entry ends in CR LF, so it is written as the marker line and an empty line.
inline constexpr std::string_view kSnipEncodedAttachment =
    "[[[ Snip --- Encoded attachment --- Snip ]]]\r\n";
inline constexpr std::string_view kSnipInlineAttachment =
    "[[[ Snip --- Inline attachment --- Snip ]]]\r\n";

// The marker pairs of the information blocks that an earlier screening inserted.
inline constexpr std::string_view OLD_BEGIN_VORN_INFO_TEXT_STR =
    "======== Begin Vornsmithy Information ========";
inline constexpr std::string_view OLD_END_VORN_INFO_TEXT_STR =
    "========  End Vornsmithy Information  ========";
inline constexpr std::string_view BEGIN_VORN_INFO_TEXT_STR =
    "---------------------Begin_Vornsmithy_Information--------------------";
inline constexpr std::string_view END_VORN_INFO_TEXT_STR =
    "----------------------End_Vornsmithy_Information---------------------";
inline constexpr std::string_view BEGIN_VORN_INFO_HTML_STR = "<!Begin_Vornsmithy_Information>";
inline constexpr std::string_view END_VORN_INFO_HTML_STR = "<!End_Vornsmithy_Information>";
inline constexpr std::string_view BEGIN_VORN_INFO_STR = "Begin_Vornsmithy_Information";
inline constexpr std::string_view END_VORN_INFO_STR = "End_Vornsmithy_Information";

// Where an image reference of a part's HTML came from.
enum class TImageRefKind : int {
    ImgSrc = 0,           // the src attribute of an img tag
    Background = 1,       // a "background=" attribute
    InputImage = 2,       // an input of "type=image"
    CssUrl = 3,           // a CSS url( ) in the first style block
    ContentId = 4,        // a reference that starts with "cid:"
    ContentLocation = 5,  // equal to the Content-Location of a part of the message
};

struct TImageRef {
    std::string url;
    TImageRefKind kind = TImageRefKind::ImgSrc;
    friend bool operator==(const TImageRef&, const TImageRef&) = default;
};

// What the attachment analysis finds out about a part; set to these values when the
// part is created and read and written by the screening only.
struct TPartScreening {
    int Risk = -1;          // risk level of the attachment's extension
    int DangerPoints = 0;   // sum of the points of all findings
    int MaxSpaceRun = 0;    // longest run of blanks found in a name
    bool MultipleNames = false;
    bool DifferentNameExtensions = false;
    bool NoName = false;
    bool MultipleExtensions = false;
    bool BenignHidesDangerous = false;
    bool ExcessiveSpaces = false;
    bool DeceptiveMimeType = false;
    std::string ClassIdName;
    bool KeepAsPicture = false;  // exempt from the removal passes
};

// The lines of an enclosing body that parsing hands from part to part: each part takes
// its share from the front. A cursor instead of erasing from the front of the vector,
// so that a body of many parts is consumed in linear time.
struct TLineSource {
    std::vector<std::string> lines;
    std::size_t pos = 0;

    [[nodiscard]] bool Empty() const { return pos >= lines.size(); }
    [[nodiscard]] std::size_t Remaining() const { return lines.size() - pos; }
    // Moves the remaining lines out and empties the source.
    std::vector<std::string> TakeRest();
};

// Takes a header block from the front of `source` as TEmailHeader::LoadFromLines does,
// except that the block also ends before a line that is a delimiter of `delimiter` (the
// enclosing multipart's "--" + boundary; may be empty) or of the block's own boundary:
// a header that runs into a delimiter leaves it, and the part after it, to the body.
bool LoadHeaderBlock(TEmailHeader& header, TLineSource& source, bool skipLeadingEmptyLines,
                     std::string_view delimiter);

class TEmailMsgPart {
public:
    // Enters `parent` at `position` (-1 or beyond the end: appended) unless it is there.
    explicit TEmailMsgPart(TEmailMsgPartCollection* parent, int position = -1);
    // Frees the children, lines and caches and leaves the parent. Headers are never
    // freed here: they belong to the message.
    ~TEmailMsgPart();
    TEmailMsgPart(const TEmailMsgPart&) = delete;
    TEmailMsgPart& operator=(const TEmailMsgPart&) = delete;

    // The header's owner as a message; null without header or owner.
    [[nodiscard]] TEmailMsg* Message() const;
    [[nodiscard]] THeaderOwner* Owner() const;
    // The parent collection's level; 0 without parent.
    [[nodiscard]] int Depth() const;

    [[nodiscard]] TEmailHeader* Header() const { return header_; }
    // Also keeps the owner's index of which part has which header true.
    void SetHeader(TEmailHeader* header);
    [[nodiscard]] TEmailMsgPartCollection* Parent() const { return parent_; }
    [[nodiscard]] TEmailMsgPartCollection& Children() { return *children_; }
    [[nodiscard]] const TEmailMsgPartCollection& Children() const { return *children_; }

    // The body lines; regenerated from the decode cache first when they are empty and
    // the cache is not.
    [[nodiscard]] std::vector<std::string>& RawText();
    // Replaces the body lines: empties the decode cache and marks the message modified.
    void SetRawText(std::vector<std::string> lines);
    // The body lines as they stand, without regeneration.
    [[nodiscard]] const std::vector<std::string>& StoredRawText() const { return rawText_; }
    [[nodiscard]] const std::string& DecodeCache() const { return decodedCache_; }

    // The delimiter line that follows this part in its parent ("--b", "--b--"), or empty.
    [[nodiscard]] const std::string& BoundaryLine() const { return boundaryLine_; }
    void SetBoundaryLine(std::string line) { boundaryLine_ = std::move(line); }
    [[nodiscard]] bool ParseSubpartsFlag() const { return parseSubparts_; }
    void SetParseSubpartsFlag(bool parse) { parseSubparts_ = parse; }

    // The header is multipart and this is the first part of its parent.
    [[nodiscard]] bool IsPreamble() const;
    [[nodiscard]] bool IsLastPart() const;
    // False for the message's main header; otherwise true unless a child shares it.
    [[nodiscard]] bool WritesHeader() const;

    // Takes this part's share of `source` up to `boundary` (empty: all of it), then
    // parses the sub-parts. True when the end of the enclosing body was reached: no
    // boundary, no delimiter found, or the closing delimiter ("--" + boundary + "--").
    bool ParseBody(TLineSource& source, std::string_view boundary, bool raw);
    bool ParseBody(std::vector<std::string>& lines, std::string_view boundary, bool raw);
    // Builds the children of a multipart or attached-message part (not of a preamble
    // part, nor beyond kMaxPartDepth).
    void ParseSubparts(bool raw);

    // Appends the part: header and empty line when it writes its header, the body
    // (re-encoded when the children were parsed from a decoded copy), the boundary line.
    // With `full` false attachment bodies become the snip markers. True when every
    // body in it was complete.
    bool WriteTo(std::vector<std::string>& target, bool full);
    bool WriteBody(std::vector<std::string>& target, bool full);

    // The decoded body as lines / bytes; with sub-parts, the serialised children and
    // epilogue instead. False when the header names no transfer encoding or decoding
    // failed.
    bool DecodeToStringList(std::vector<std::string>& target, bool withSubparts);
    bool DecodeToStream(std::iostream& stream, bool withSubparts);
    // The decoded bytes of the part's own body (the cache, filled when needed).
    bool DecodeToBytes(std::string& bytes);
    // Replaces the content with `lines` (not transfer-encoded); a multipart or attached
    // message, or `reparse`, rebuilds the children from them.
    bool EncodeFromStringList(const std::vector<std::string>& lines, bool reparse);

    // Appends the text of text parts (HTML converted to text), with `recurse` also of
    // every child in order.
    void GetBodyText(std::vector<std::string>& target, bool recurse);
    // The images that the part's HTML refers to, each with its kind; computed once.
    void GetExtImageRefUrls(std::vector<TImageRef>& target);
    // Removes the first information block of each part of the sub-tree; true when a
    // complete marker pair was found anywhere in it.
    bool RemoveVornInfo();

    // Filled by the attachment analysis.
    TPartScreening Screening;

private:
    friend class TEmailMsgPartCollection;

    void InvalidateCache();
    void MarkModified() const;
    // A new header owned by the message, parsed from the front of `source`.
    TEmailHeader* NewHeaderFrom(TLineSource& source, std::string_view delimiter);
    void RunChildrenLoop(TLineSource& source, std::string_view boundary);
    // Destroys every child and the headers that belong to those children alone.
    void DestroyChildren();

    TEmailMsgPartCollection* parent_ = nullptr;
    TEmailMsgPartCollection* children_ = nullptr;
    TEmailHeader* header_ = nullptr;
    std::vector<std::string> rawText_;
    std::string decodedCache_;
    std::optional<std::vector<TImageRef>> imageRefs_;
    std::string boundaryLine_;
    // The text before the delimiter when the delimiter stood inside a line: written back
    // on that same line, so that saving never turns it into a delimiter for readers.
    std::string inlinePrefix_;
    bool parseSubparts_ = true;
};

// One level of the part tree. It owns its parts: destroying it destroys them, first to
// last.
class TEmailMsgPartCollection {
public:
    explicit TEmailMsgPartCollection(int level = 0) : level_(level) {}
    ~TEmailMsgPartCollection();
    TEmailMsgPartCollection(const TEmailMsgPartCollection&) = delete;
    TEmailMsgPartCollection& operator=(const TEmailMsgPartCollection&) = delete;

    [[nodiscard]] int Level() const { return level_; }
    // The part whose children these are; null for a message's top level.
    [[nodiscard]] TEmailMsgPart* OwnerPart() const { return ownerPart_; }
    [[nodiscard]] int Count() const { return static_cast<int>(parts_.size()); }
    // Null for an index outside 0..Count()-1.
    [[nodiscard]] TEmailMsgPart* Items(int i) const;
    [[nodiscard]] int IndexOf(const TEmailMsgPart* part) const;
    [[nodiscard]] bool Empty() const { return parts_.empty(); }

    // A new empty part at the end / at position i.
    TEmailMsgPart* Add();
    TEmailMsgPart* Insert(int i);
    // Replaces the reference at i (below Count()) without freeing the old part.
    void SetItem(int i, TEmailMsgPart* part);
    // Moves an existing part in (at the end, or at `position`) / out, without freeing.
    void Attach(TEmailMsgPart* part, int position = -1);
    void Detach(TEmailMsgPart* part);
    // Destroys the part at i; the last part (i > 0) first hands its boundary line to the
    // part before it.
    void Delete(int i);
    // Delete here, else in each part's children; true when found.
    bool Remove(TEmailMsgPart* part);
    // A multipart level that removals left with nothing but its preamble gets an empty
    // text part that carries the closing delimiter: a multipart without body part is
    // malformed, and readers would take the closing delimiter for a missing opening one.
    // Nothing otherwise; true when a part was added.
    bool KeepOneBodyPart();

    // Depth-first, children before the part itself: the first part whose decoded field
    // equals `value` ignoring case, as it is or without its spaces and tabs.
    [[nodiscard]] TEmailMsgPart* FindByField(std::string_view name, std::string_view value) const;
    // Pre-order walk; the first non-empty answer of `fn` ends it.
    using TPartFunction = std::function<std::string(TEmailMsgPart& part)>;
    std::string ForEach(const TPartFunction& fn) const;
    // The first direct multipart/alternative child that is not an attached message,
    // else the same search inside each child that is not an attached message.
    [[nodiscard]] TEmailMsgPart* FindAlternative() const;

    bool UnfoldFileNames();
    bool TrimFileNameDots();
    bool CleanFileNames();
    // Extracts uuencoded attachments inside every attached message of the sub-tree.
    bool ConvertAttachedMessages();

private:
    friend class TEmailMsgPart;

    int level_;
    TEmailMsgPart* ownerPart_ = nullptr;
    std::vector<TEmailMsgPart*> parts_;
};

}  // namespace gatemoor
