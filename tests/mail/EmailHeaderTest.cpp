#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "mail/EmailHeader.h"
#include "mail/HeaderOwner.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

// A message stand-in: a header registry it frees, a modified count, and a part tree
// given as a pre-order list of (header, depth). Parts are only addresses to the header,
// which asks the owner about them.
class TTestOwner : public THeaderOwner {
public:
    ~TTestOwner() override {
        std::vector<TEmailHeader*> headers;
        headers.swap(registry_);
        for (TEmailHeader* header : headers)
            delete header;
    }

    // A header owned (and freed) by this owner; the first one is the main header.
    TEmailHeader& NewHeader(const Lines& block = {}) {
        auto* header = new TEmailHeader(this);
        if (main_ == nullptr) main_ = header;
        Lines lines = block;
        if (!lines.empty()) (void)header->LoadFromLines(lines);
        return *header;
    }
    TEmailMsgPart* AddPart(const TEmailHeader& header, int depth) {
        parts_.push_back({&header, depth});
        return PartAt(parts_.size() - 1);
    }
    [[nodiscard]] bool Registered(const TEmailHeader* header) const {
        return std::count(registry_.begin(), registry_.end(), header) == 1;
    }
    int modified = 0;

    const TEmailHeader* MainHeader() const override { return main_; }
    void RegisterHeader(TEmailHeader& header) override {
        if (!Registered(&header)) registry_.push_back(&header);
    }
    void UnregisterHeader(TEmailHeader& header) override { std::erase(registry_, &header); }
    void MarkModified() override { ++modified; }
    TAbstractCriticalSection& OwnerLock() const override { return lock_; }
    void WalkParts(const TPartVisitor& visit) const override {
        for (std::size_t i = 0; i < parts_.size(); ++i)
            if (!visit(*PartAt(i), parts_[i].header)) return;
    }
    int PartDepth(const TEmailMsgPart& part) const override {
        return reinterpret_cast<const TPart&>(part).depth;
    }
    // The header of the nearest part before it in the walk that lies one level up.
    const TEmailHeader* EnclosingHeader(const TEmailMsgPart& part) const override {
        const auto* entry = reinterpret_cast<const TPart*>(&part);
        std::size_t i = 0;
        while (i < parts_.size() && &parts_[i] != entry) ++i;
        while (i-- > 0)
            if (parts_[i].depth < entry->depth) return parts_[i].header;
        return main_;
    }

private:
    struct TPart {
        const TEmailHeader* header;
        int depth;
    };
    TEmailMsgPart* PartAt(std::size_t i) const {
        return reinterpret_cast<TEmailMsgPart*>(const_cast<TPart*>(&parts_[i]));
    }

    mutable TMutexCriticalSection lock_{"EmailMsg_CS"};
    std::vector<TEmailHeader*> registry_;
    const TEmailHeader* main_ = nullptr;
    std::deque<TPart> parts_;  // stable addresses
};

// A header without owner loaded from one block.
std::unique_ptr<TEmailHeader> Parsed(Lines block) {
    auto header = std::make_unique<TEmailHeader>();
    (void)header->LoadFromLines(block);
    return header;
}

std::string Field(const TEmailHeader& header, std::string_view name, bool unfold = false) {
    std::string value;
    (void)header.GetField(name, value, unfold);
    return value;
}

std::string Decoded(const TEmailHeader& header, std::string_view name) {
    std::string value;
    (void)header.GetDecodedField(name, value);
    return value;
}

// The file-type answers the screening layer would give, for the types these tests use.
// The header asks the machine's file-type database; these tests rely only on answers
// that database gives everywhere (the screening pins them in its own table).
class FileTypeQueries : public ::testing::Test {};

// ---- parsing and writing ------------------------------------------------------------

TEST(EmailHeaderParse, UnfoldsOneWhiteSpaceCharacterPerFold) {
    struct {
        const char* name;
        const char* continuation;
        const char* decoded;
    } const cases[] = {
        {"one blank", " World", "HelloWorld"},
        {"two blanks", "  World", "Hello World"},
        {"tab", "\tWorld", "HelloWorld"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Lines block = {"Subject: Hello", c.continuation, "To: a@b"};
        auto header = Parsed(block);
        EXPECT_EQ(Decoded(*header, "subject"), c.decoded);
        EXPECT_EQ(Field(*header, "Subject"), std::string("Hello\r\n") + c.continuation);
        Lines saved;
        header->SaveToLines(saved);
        EXPECT_EQ(saved, block);
    }
}

TEST(EmailHeaderParse, JoinsEveryContinuationLine) {
    auto header = Parsed({"Content-Type: multipart/mixed;", "\tboundary=\"b1\";", " x=y", "A: 1"});
    EXPECT_EQ(header->FieldCount(), 2);
    EXPECT_EQ(Field(*header, "Content-Type", true), "multipart/mixed;boundary=\"b1\";x=y");
    EXPECT_EQ(header->GetBoundary(), "--b1");
}

TEST(EmailHeaderParse, TakesTheBlockAndItsSeparatorOnly) {
    TEmailHeader header;
    Lines lines = {"", "", "From: a@b", "Subject:  x  ", "", "body", ""};
    EXPECT_TRUE(header.LoadFromLines(lines));
    EXPECT_EQ(lines, (Lines{"body", ""}));
    EXPECT_EQ(header.FieldCount(), 2);
    EXPECT_EQ(header.FieldValue(1), "x");
}

TEST(EmailHeaderParse, FailsOnEmptyBlocksAndLinesWithoutColon) {
    TEmailHeader header;
    Lines empty;
    EXPECT_FALSE(header.LoadFromLines(empty));

    Lines onlyEmpty = {"", "", ""};
    EXPECT_FALSE(header.LoadFromLines(onlyEmpty));
    EXPECT_TRUE(onlyEmpty.empty());

    Lines noColon = {"From: a", "garbage", "To: b"};
    EXPECT_FALSE(header.LoadFromLines(noColon));
    EXPECT_EQ(header.FieldCount(), 2);
    EXPECT_EQ(Field(header, "To"), "b");
}

TEST(EmailHeaderParse, KeepsNamesAsWrittenYetFindsThem) {
    auto header = Parsed({"Subject : spaced", "X-A: 1", "x-a: 2", "Empty:"});
    EXPECT_EQ(header->FieldName(0), "Subject ");
    EXPECT_EQ(header->IndexOfField("SUBJECT"), 0);
    EXPECT_EQ(header->IndexOfField(" x-A: "), 1);  // the first of duplicates
    EXPECT_EQ(header->IndexOfField("Empty"), 3);
    EXPECT_EQ(header->IndexOfField("Missing"), -1);
    std::string value = "stale";
    EXPECT_FALSE(header->GetField("Missing", value));
    EXPECT_EQ(value, "");
    Lines saved;
    header->SaveToLines(saved);
    EXPECT_EQ(saved, (Lines{"Subject : spaced", "X-A: 1", "x-a: 2", "Empty: "}));
}

TEST(EmailHeaderParse, FieldValueStopsAtTheFirstSemicolon) {
    auto header = Parsed({"Content-Type: Text/Plain ; charset=x", "X: =?a?Q?b=3Bc?=; d"});
    std::string value;
    EXPECT_TRUE(header->GetFieldValue("content-type", value));
    EXPECT_EQ(value, "Text/Plain");
    EXPECT_TRUE(header->GetDecodedFieldValue("X", value));
    EXPECT_EQ(value, "b;c");
    EXPECT_FALSE(header->GetFieldValue("Missing", value));
    EXPECT_EQ(value, "");
}

// ---- SetField -----------------------------------------------------------------------

TEST(EmailHeaderSetField, SetsAddsAndRemoves) {
    TTestOwner owner;
    TEmailHeader& header = owner.NewHeader({"X-Test: 1", "Subject: s"});
    owner.modified = 0;

    EXPECT_FALSE(header.SetField("X-Other", ""));
    EXPECT_EQ(header.FieldCount(), 2);
    EXPECT_EQ(owner.modified, 0);

    EXPECT_TRUE(header.SetField("x-test", "1"));  // unchanged value
    EXPECT_EQ(owner.modified, 0);

    EXPECT_TRUE(header.SetField("X-Test", ""));
    EXPECT_EQ(header.IndexOfField("X-Test"), -1);
    EXPECT_EQ(owner.modified, 1);

    EXPECT_TRUE(header.SetField("Subject:", "a\r\n"));
    EXPECT_EQ(header.FieldCount(), 1);
    EXPECT_EQ(header.FieldName(0), "Subject");
    EXPECT_EQ(header.FieldValue(0), "a");
    EXPECT_EQ(owner.modified, 2);

    EXPECT_FALSE(header.SetField("New:", "v\r\n"));
    EXPECT_EQ(header.FieldName(1), "New");
    EXPECT_EQ(header.FieldValue(1), "v");
    EXPECT_EQ(owner.modified, 3);

    header.Clear();
    EXPECT_EQ(header.FieldCount(), 0);
    EXPECT_EQ(owner.modified, 4);
}

// ---- parameters ---------------------------------------------------------------------

TEST(EmailHeaderParams, GetParamFindsOnlyWellFormedPieces) {
    struct {
        const char* name;
        const char* value;
        bool found;
        const char* param;
    } const cases[] = {
        {"quoted", "attachment; filename=\"a.exe\"", true, "a.exe"},
        {"unquoted", "attachment;filename=a.exe", true, "a.exe"},
        {"name case", "attachment; FILENAME=a.exe", true, "a.exe"},
        {"blanks around equals", "attachment; filename = a.exe", false, ""},
        {"empty", "attachment; filename=", false, ""},
        {"empty quotes", "attachment; filename=\"\"", false, ""},
        {"absent", "attachment; size=3", false, ""},
        {"other parameter containing the name", "attachment; xfilename=a", false, ""},
        // A ';' inside quotes does not end the value ("a.txt;.exe" is an .exe).
        {"quoted semicolon", "attachment; filename=\"a.txt;.exe\"; size=1", true, "a.txt;.exe"},
        {"stray quote is a character", "attachment; filename=a\"b; size=1", true, "a\"b"},
        {"unclosed quote", "attachment; filename=\"ab; size=1", true, "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto header = Parsed({std::string("Content-Disposition: ") + c.value});
        std::string value = "stale";
        EXPECT_EQ(header->GetParam("content-disposition", "filename", value), c.found);
        EXPECT_EQ(value, c.param);
    }
}

TEST(EmailHeaderParams, FoldedAndEncodedParams) {
    auto header =
        Parsed({"Content-Type: application/pdf; name=\"long", "  name.pdf\"; x=\"=?a?Q?r=E9?=\""});
    std::string value;
    EXPECT_TRUE(header->GetParam("Content-Type", "name", value));
    EXPECT_EQ(value, "long\r\n  name.pdf");
    EXPECT_TRUE(header->GetParam("Content-Type", "name", value, true));
    EXPECT_EQ(value, "long name.pdf");
    EXPECT_TRUE(header->GetDecodedParam("Content-Type", "x", value));
    EXPECT_EQ(value, "r\xE9");
}

TEST(EmailHeaderParams, SetParamRewritesTheDecodedField) {
    struct {
        const char* name;
        const char* before;
        const char* param;
        const char* value;
        const char* after;
    } const cases[] = {
        {"append unquoted", "text/plain; charset=\"x\"", "boundary", "q r",
         "text/plain; charset=\"x\"; boundary=q r"},
        {"replace keeps caller's spelling", "text/plain; CHARSET=x; a=b", "Charset", "y",
         "text/plain; Charset=y; a=b"},
        {"remove", "text/plain; charset=x; a=b", "charset", "", "text/plain; a=b"},
        {"semicolon gets quotes", "text/plain", "name", "a;b.exe", "text/plain; name=\"a;b.exe\""},
        {"encoded words are decoded", "text/plain; x==?a?Q?y?=", "a", "b", "text/plain; x=y; a=b"},
        {"folds are unfolded", "text/plain;\r\n\tcharset=x", "a", "b",
         "text/plain; charset=x; a=b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TEmailHeader header;
        header.SetField("Content-Type", c.before);
        EXPECT_TRUE(header.SetParam("Content-Type", c.param, c.value));
        EXPECT_EQ(Field(header, "Content-Type"), c.after);
        std::string readBack;
        EXPECT_EQ(header.GetParam("Content-Type", c.param, readBack), *c.value != '\0');
        EXPECT_EQ(readBack, c.value);
    }
    TEmailHeader header;
    EXPECT_FALSE(header.SetParam("Content-Type", "boundary", "x"));
    EXPECT_EQ(header.FieldCount(), 0);
}

// ---- boundary -----------------------------------------------------------------------

TEST(EmailHeaderBoundary, ReadsTheBoundaryParameter) {
    struct {
        const char* name;
        const char* contentType;
        const char* delimiter;
    } const cases[] = {
        {"quoted", "multipart/mixed; boundary=\"=_a\"", "--=_a"},
        {"case kept, name any case", "Multipart/Mixed; BOUNDARY=AbC", "--AbC"},
        // Mail programs end an unquoted boundary at the next parameter; reading further
        // would make the screen miss every part that they show.
        {"unquoted before a parameter", "multipart/mixed; boundary=abc; x=y", "--abc"},
        {"quote in a later parameter", "multipart/mixed; boundary=b; name=\"x\"", "--b"},
        {"unquoted before a blank", "multipart/mixed; boundary=abc (c)", "--abc"},
        {"unclosed quote", "multipart/mixed; boundary=\"abc", "--abc"},
        {"empty", "multipart/mixed; boundary=\"\"", ""},
        {"none", "multipart/mixed", ""},
        {"encoded word", "multipart/mixed; boundary=\"=?a?Q?x=5Fy?=\"", "--x_y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto header = Parsed({std::string("content-type: ") + c.contentType});
        EXPECT_EQ(header->GetBoundary(), c.delimiter);
    }
    EXPECT_EQ(TEmailHeader().GetBoundary(), "");
}

TEST(EmailHeaderBoundary, SetBoundaryAddsAContentType) {
    TEmailHeader header;
    EXPECT_TRUE(header.SetBoundary("----Vorn3abc"));
    EXPECT_EQ(Field(header, "Content-Type"), "multipart/alternative; boundary=----Vorn3abc");
    EXPECT_EQ(header.GetBoundary(), "------Vorn3abc");
    EXPECT_TRUE(header.SetBoundary("x;y"));
    EXPECT_EQ(header.GetBoundary(), "--x;y");
}

// ---- content type -------------------------------------------------------------------

TEST(EmailHeaderContentType, ClassifiesTheType) {
    enum : unsigned {
        Multi = 1,
        Alt = 2,
        Rel = 4,
        Mixed = 8,
        Textual = 16,
        Plain = 32,
        Html = 64,
        Rfc822 = 128,
    };
    struct {
        const char* contentType;
        unsigned answers;
    } const cases[] = {
        {"Multipart/Alternative; boundary=x", Multi | Alt},
        {"multipart/mixed; type=\"multipart/alternative\"", Multi | Mixed},
        {"multipart/related; type=text/html", Multi | Rel | Textual | Html},
        {"text/plain; charset=us-ascii", Textual | Plain},
        {"TEXT", Textual | Plain},
        {"text/HTML", Textual | Html},
        {"application/octet-stream; charset=x", Textual},
        {"image/gif", 0},
        {"message/rfc822", Rfc822},
        {"application/octet-stream; name=\"fwd.EML.\"", Rfc822},
        {"=?a?Q?text=2Fplain?=", Textual | Plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType);
        auto h = Parsed({std::string("Content-Type: ") + c.contentType});
        EXPECT_EQ(h->IsMultipart(), (c.answers & Multi) != 0);
        EXPECT_EQ(h->IsMultipartAlternative(), (c.answers & Alt) != 0);
        EXPECT_EQ(h->IsMultipartRelated(), (c.answers & Rel) != 0);
        EXPECT_EQ(h->IsMultipartMixed(), (c.answers & Mixed) != 0);
        EXPECT_EQ(h->IsTextual(), (c.answers & Textual) != 0);
        EXPECT_EQ(h->IsPlainText(), (c.answers & Plain) != 0);
        EXPECT_EQ(h->IsHtml(), (c.answers & Html) != 0);
        EXPECT_EQ(h->IsRfc822(), (c.answers & Rfc822) != 0);
        EXPECT_FALSE(h->IsMessagePart());  // no owning part
    }
}

TEST(EmailHeaderContentType, MissingTypeIsPlainTextOnlyAtTopLevel) {
    TTestOwner owner;
    TEmailHeader& main = owner.NewHeader({"Subject: s"});
    TEmailHeader& nested = owner.NewHeader({"X: 1"});
    TEmailHeader& orphan = owner.NewHeader({"X: 2"});
    owner.AddPart(main, 0);
    owner.AddPart(nested, 1);
    std::string type;
    EXPECT_FALSE(main.GetContentType(type));
    EXPECT_EQ(type, "text/plain");
    EXPECT_TRUE(main.IsTextual());
    EXPECT_FALSE(nested.GetContentType(type));
    EXPECT_EQ(type, "");
    EXPECT_FALSE(nested.IsPlainText());
    EXPECT_FALSE(orphan.IsPlainText());
    EXPECT_FALSE(TEmailHeader().IsPlainText());
}

TEST(EmailHeaderContentType, AttachedMessageNeedsAnOwningPart) {
    TTestOwner owner;
    TEmailHeader& main = owner.NewHeader({"Content-Type: multipart/mixed; boundary=b"});
    TEmailHeader& attached = owner.NewHeader({"Content-Type: message/rfc822"});
    TEmailHeader& loose = owner.NewHeader({"Content-Type: message/rfc822"});
    owner.AddPart(main, 0);
    owner.AddPart(attached, 0);
    EXPECT_TRUE(attached.IsMessagePart());
    EXPECT_FALSE(loose.IsMessagePart());
    EXPECT_FALSE(main.IsMessagePart());
}

// In a digest, an entry without Content-Type is an attached message; typed entries,
// entries of other containers and the digest's own header are not.
TEST(EmailHeaderContentType, UntypedDigestEntryIsAnAttachedMessage) {
    TTestOwner owner;
    TEmailHeader& main = owner.NewHeader({"Content-Type: multipart/mixed; boundary=a"});
    TEmailHeader& digest = owner.NewHeader({"Content-Type: multipart/digest; boundary=b"});
    TEmailHeader& entry = owner.NewHeader({"Subject: entry"});
    TEmailHeader& typed = owner.NewHeader({"Content-Type: text/plain"});
    TEmailHeader& mixedEntry = owner.NewHeader({"Subject: not in a digest"});
    owner.AddPart(digest, 0);
    owner.AddPart(entry, 1);
    owner.AddPart(typed, 1);
    owner.AddPart(mixedEntry, 0);
    EXPECT_TRUE(entry.IsRfc822());
    EXPECT_TRUE(entry.IsMessagePart());
    EXPECT_FALSE(typed.IsRfc822());
    EXPECT_FALSE(mixedEntry.IsRfc822());
    EXPECT_FALSE(digest.IsRfc822());
    EXPECT_FALSE(main.IsRfc822());
}

TEST_F(FileTypeQueries, AttachedMessageByTheTypeOfItsName) {
    auto byType = Parsed({"Content-Type: application/octet-stream",
                          "Content-Disposition: attachment; filename=page.eml"});
    EXPECT_TRUE(byType->IsRfc822());
    auto pdf = Parsed({"Content-Type: application/octet-stream; name=a.pdf"});
    EXPECT_FALSE(pdf->IsRfc822());
}

// ---- dispositions -------------------------------------------------------------------

TEST(EmailHeaderDisposition, StandaloneHeaders) {
    struct {
        const char* name;
        Lines block;
        bool attachment;
        bool isInline;
        bool inlineAttachment;
    } const cases[] = {
        {"bare inline",
         {"Content-Type: image/gif", "Content-Disposition: inline"},
         false,
         false,
         true},
        {"leading piece of inline",
         {"Content-Type: image/gif", "Content-Disposition: in"},
         false,
         false,
         true},
        {"bare inline without type", {"Content-Disposition: inline"}, false, false, false},
        {"inline with file name",
         {"Content-Disposition: inline; filename=x.gif"},
         true,
         true,
         false},
        {"attachment", {"Content-Disposition: attachment; filename=a.exe"}, true, false, false},
        {"leading piece of attachment", {"Content-Disposition: attach"}, true, false, false},
        {"other disposition", {"Content-Disposition: form-data"}, true, false, false},
        {"inline text",
         {"Content-Type: text/plain", "Content-Disposition: inline"},
         false,
         false,
         false},
        {"unnamed text", {"Content-Type: text/plain"}, false, true, false},
        {"named text", {"Content-Type: text/plain; name=a.txt"}, true, true, false},
        {"no type at all", {"Subject: s"}, false, true, false},
        {"picture", {"Content-Type: image/gif"}, true, false, false},
        {"multipart",
         {"Content-Type: multipart/mixed", "Content-Disposition: inline"},
         false,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto header = Parsed(c.block);
        EXPECT_EQ(header->IsAttachment(), c.attachment);
        EXPECT_EQ(header->IsInline(), c.isInline);
        EXPECT_EQ(header->IsInlineAttachment(), c.inlineAttachment);
    }
}

TEST(EmailHeaderDisposition, SinglePartMessageFollowsItsMainHeader) {
    TTestOwner inlineMessage;
    TEmailHeader& main = inlineMessage.NewHeader(
        {"Content-Type: application/octet-stream", "Content-Disposition: inline"});
    TEmailHeader& part = inlineMessage.NewHeader(
        {"Content-Type: image/gif", "Content-Disposition: attachment; filename=a.gif"});
    for (const TEmailHeader* header : {&main, &part}) {
        EXPECT_FALSE(header->IsAttachment());
        EXPECT_TRUE(header->IsInline());
        EXPECT_FALSE(header->IsInlineAttachment());  // a single part has no inline ones
    }

    TTestOwner attachedMessage;
    TEmailHeader& main2 = attachedMessage.NewHeader({"Content-Disposition: Attachment; x=1"});
    TEmailHeader& part2 = attachedMessage.NewHeader({"Content-Disposition: inline"});
    EXPECT_TRUE(main2.IsAttachment());
    EXPECT_TRUE(part2.IsAttachment());
}

TEST(EmailHeaderDisposition, MultipartMessagePartsDecideForThemselves) {
    TTestOwner owner;
    TEmailHeader& main = owner.NewHeader(
        {"Content-Type: multipart/mixed; boundary=b", "Content-Disposition: inline"});
    TEmailHeader& exe = owner.NewHeader({"Content-Type: application/x-msdownload",
                                         "Content-Disposition: attachment; filename=a.exe"});
    TEmailHeader& picture =
        owner.NewHeader({"Content-Type: image/gif", "Content-Disposition: inline"});
    TEmailHeader& text = owner.NewHeader({"Content-Type: text/plain"});
    // An "inline" on the main header must not hide the parts of a multipart message.
    EXPECT_TRUE(exe.IsAttachment());
    EXPECT_FALSE(main.IsAttachment());
    EXPECT_FALSE(main.IsInlineAttachment());
    EXPECT_TRUE(picture.IsInlineAttachment());
    EXPECT_FALSE(picture.IsAttachment());
    // The main header's "inline" makes every part inline.
    EXPECT_TRUE(exe.IsInline());
    EXPECT_TRUE(text.IsInline());
    EXPECT_FALSE(text.IsAttachment());
}

// ---- file names ---------------------------------------------------------------------

TEST_F(FileTypeQueries, FileNamesFromTheirThreeSources) {
    struct {
        const char* name;
        Lines block;
        bool typeFound;
        const char* typeName;
        bool dispositionFound;
        const char* dispositionName;
        bool idFound;
        const char* idName;
        const char* fileName;
    } const cases[] = {
        {"encoded type name gets an extension",
         {"Content-Type: application/pdf; name=\"=?iso-8859-1?Q?r=E9sum=E9?=\""},
         true,
         "rsum.pdf",
         false,
         "Attachment.pdf",
         false,
         "Attachment.pdf",
         "rsum.pdf"},
        {"disposition wins",
         {"Content-Type: image/gif; name=a.gif",
          "Content-Disposition: attachment; filename=\"b<1>.gif\"", "Content-ID: <part1@host>"},
         true,
         "a.gif",
         true,
         "b1.gif",
         true,
         "part1@host.gif",
         "b1.gif"},
        {"forbidden characters",
         {"Content-Disposition: attachment; filename=\"a:b|c*d?e/f\\\\g.txt\""},
         false,
         "Attachment",
         true,
         "abcdefg.txt",
         false,
         "Attachment",
         "abcdefg.txt"},
        {"unknown type adds nothing",
         {"Content-Type: application/x-unknown; name=readme"},
         true,
         "readme",
         false,
         "Attachment",
         false,
         "Attachment",
         "readme"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto header = Parsed(c.block);
        std::string name;
        EXPECT_EQ(header->GetTypeFileName(name), c.typeFound);
        EXPECT_EQ(name, c.typeName);
        EXPECT_EQ(header->GetDispositionFileName(name), c.dispositionFound);
        EXPECT_EQ(name, c.dispositionName);
        EXPECT_EQ(header->GetContentIdFileName(name), c.idFound);
        EXPECT_EQ(name, c.idName);
        EXPECT_EQ(header->GetFileName(name), c.typeFound || c.dispositionFound);
        EXPECT_EQ(name, c.fileName);
    }
}

TEST(EmailHeaderFileNames, RepairsChangeOnlyWhatNeedsIt) {
    auto header =
        Parsed({"Content-Type: application/pdf; name=\"folded", " name.pdf...\"",
                "Content-Disposition: attachment; filename=\"r\xE9sum\xE9.doc\"; size=1"});
    EXPECT_TRUE(header->UnfoldFileNames());
    EXPECT_EQ(Field(*header, "Content-Type"), "application/pdf; Name=foldedname.pdf...");
    EXPECT_FALSE(header->UnfoldFileNames());

    EXPECT_TRUE(header->TrimFileNameDots());
    std::string name;
    EXPECT_TRUE(header->GetParam("Content-Type", "name", name));
    EXPECT_EQ(name, "foldedname.pdf");
    EXPECT_FALSE(header->TrimFileNameDots());

    EXPECT_TRUE(header->CleanFileNames());
    EXPECT_EQ(Field(*header, "Content-Disposition"), "attachment; FileName=rsum.doc; size=1");
    EXPECT_FALSE(header->CleanFileNames());

    // A repair never removes a name altogether.
    auto dots = Parsed({"Content-Type: text/plain; name=\"...\""});
    EXPECT_FALSE(dots->TrimFileNameDots());
    EXPECT_TRUE(dots->IsAttachment());
}

// ---- transfer encoding --------------------------------------------------------------

TEST(EmailHeaderTransferEncoding, NormalisesTheName) {
    struct {
        const char* block;
        bool found;
        const char* name;
    } const cases[] = {
        {"Content-Transfer-Encoding: X-UUEncode", true, "binary"},
        {"Content-Transfer-Encoding: BASE64", true, "BASE64"},
        {"content-transfer-encoding:  Quoted-Printable ", true, "Quoted-Printable"},
        {"Content-Transfer-Encoding: 8bit; x", true, "binary"},
        {"Subject: none", false, "7bit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        std::string name;
        EXPECT_EQ(Parsed({c.block})->GetTransferEncoding(name), c.found);
        EXPECT_EQ(name, c.name);
    }
}

// ---- owner --------------------------------------------------------------------------

TEST(EmailHeaderOwner, RegistryMainHeaderAndOwningPart) {
    TTestOwner owner;
    TEmailHeader& main = owner.NewHeader();
    TEmailHeader& shared = owner.NewHeader();
    owner.AddPart(main, 0);
    TEmailMsgPart* first = owner.AddPart(shared, 0);
    owner.AddPart(shared, 1);  // a multipart part and its first child share a header
    EXPECT_TRUE(owner.Registered(&main));
    EXPECT_TRUE(main.IsMessageHeader());
    EXPECT_FALSE(shared.IsMessageHeader());
    EXPECT_EQ(shared.OwningPart(), first);
    EXPECT_EQ(shared.Owner(), &owner);

    auto* temporary = new TEmailHeader(&owner);
    EXPECT_TRUE(owner.Registered(temporary));
    EXPECT_EQ(temporary->OwningPart(), nullptr);
    delete temporary;
    EXPECT_FALSE(owner.Registered(temporary));

    TEmailHeader loose;
    EXPECT_FALSE(loose.IsMessageHeader());
    EXPECT_EQ(loose.OwningPart(), nullptr);
}

// ---- real mail ----------------------------------------------------------------------

constexpr int kMaxCorpusNesting = 8;

// Lines as the message reader makes them: split at CR LF, CR or LF.
Lines SplitLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

// Every query on one header, and writing it back and reading it again.
void Exercise(const TEmailHeader& header) {
    std::string s;
    (void)header.GetSubject(s);
    (void)header.GetContentType(s);
    (void)header.GetFileName(s);
    (void)header.GetContentIdFileName(s);
    (void)header.GetTransferEncoding(s);
    (void)header.GetBoundary();
    (void)header.IsAttachment();
    (void)header.IsInline();
    (void)header.IsInlineAttachment();
    (void)header.IsRfc822();
    (void)header.IsPlainText();
    Lines saved;
    header.SaveToLines(saved);
    TEmailHeader again;
    (void)again.LoadFromLines(saved);
    ASSERT_EQ(again.FieldCount(), header.FieldCount());
    for (int i = 0; i < header.FieldCount(); ++i) {
        EXPECT_EQ(again.FieldName(i), header.FieldName(i));
        EXPECT_EQ(again.FieldValue(i), header.FieldValue(i));
    }
}

// Parses the header block at the front of `lines`, then the blocks of its parts.
void ParseBlocks(Lines lines, int depth, int& blocks) {
    TEmailHeader header;
    (void)header.LoadFromLines(lines);
    ++blocks;
    Exercise(header);
    const std::string delimiter = header.GetBoundary();
    if (delimiter.empty() || depth >= kMaxCorpusNesting) return;
    Lines part;
    bool inPart = false;
    for (const std::string& line : lines) {
        if (line.starts_with(delimiter)) {
            if (inPart) ParseBlocks(part, depth + 1, blocks);
            part.clear();
            inPart = line.compare(delimiter.size(), 2, "--") != 0;
        } else if (inPart) {
            part.push_back(line);
        }
    }
}

TEST(EmailHeaderCorpus, ParsesEveryHeaderBlock) {
    const std::filesystem::path corpus = GATEMOOR_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    int files = 0;
    int blocks = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".eml") continue;
        SCOPED_TRACE(entry.path().string());
        ++files;
        EXPECT_NO_THROW(ParseBlocks(SplitLines(test::ReadFile(entry.path().string())), 0, blocks));
    }
    EXPECT_GT(files, 0);
    EXPECT_GT(blocks, files);
}

}  // namespace
}  // namespace gatemoor
