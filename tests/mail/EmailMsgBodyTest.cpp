// Body editing of TEmailMsg. Every change is checked the way a mail program would see
// it: the edited message is written out in full and read back into a fresh message,
// whose part tree (types and nesting) and decoded bodies are compared with what the
// edit should have produced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/Html.h"
#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

// --- Messages ---------------------------------------------------------------------------

constexpr std::string_view kPlain = R"(From: a@example.org
Subject: Plain
Content-Type: text/plain; charset="us-ascii"
Content-Transfer-Encoding: 7bit

Hello world.
Second line.)";

// "Hello world." and CR LF, in Base64, shown inline.
constexpr std::string_view kPlainBase64 = R"(Subject: Encoded
Content-Type: text/plain
Content-Transfer-Encoding: base64
Content-Disposition: inline

SGVsbG8gd29ybGQuDQo=)";

// No Content-Type at all: plain text by default.
constexpr std::string_view kUntyped = R"(From: a@example.org
Subject: Untyped

Hello world.)";

constexpr std::string_view kHtml = R"(Subject: Html
Content-Type: text/html; charset="us-ascii"

<html><body><p>Hello world.</p></body></html>)";

constexpr std::string_view kHtmlBase64 = R"(Subject: Html
Content-Type: text/HTML; charset="utf-8"
Content-Transfer-Encoding: base64

PGh0bWw+PGJvZHk+PHA+SGVsbG8gd29ybGQuPC9wPjwvYm9keT48L2h0bWw+DQo=)";

// "%PDF-1.4" and LF.
constexpr std::string_view kPdf = R"(Subject: File
Content-Type: application/pdf; name="a.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="a.pdf"

JVBERi0xLjQK)";

constexpr std::string_view kMixed = R"(Subject: Mixed
Content-Type: multipart/mixed; boundary="outer"

This is a multi-part message in MIME format.
--outer
Content-Type: text/plain

Body text.
--outer
Content-Type: application/pdf; name="a.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="a.pdf"

JVBERi0xLjQK
--outer--)";

constexpr std::string_view kMixedHtml = R"(Subject: Mixed HTML
Content-Type: multipart/mixed; boundary="outer"

--outer
Content-Type: text/html

<html><body><p>Html body.</p></body></html>
--outer
Content-Type: application/pdf; name="a.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="a.pdf"

JVBERi0xLjQK
--outer--)";

constexpr std::string_view kPdfOnlyMixed = R"(Subject: Mixed file
Content-Type: multipart/mixed; boundary="outer"

--outer
Content-Type: application/pdf; name="a.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="a.pdf"

JVBERi0xLjQK
--outer--)";

constexpr std::string_view kAlternative = R"(Subject: Alternative
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/plain

Plain body.
--alt
Content-Type: text/html

<html><body><p>Html body.</p></body></html>
--alt--)";

constexpr std::string_view kAlternativeHtmlOnly = R"(Subject: Alternative HTML
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/html; charset="iso-8859-1"

<html><body><p>Html body.</p></body></html>
--alt--)";

constexpr std::string_view kAlternativePlainOnly = R"(Subject: Alternative text
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/plain

Plain body.
--alt--)";

constexpr std::string_view kMixedAlternative = R"(Subject: Both
Content-Type: multipart/mixed; boundary="outer"

--outer
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/plain

Plain body.
--alt
Content-Type: text/html

<html><body><p>Html body.</p></body></html>
--alt--
--outer
Content-Type: application/pdf; name="a.pdf"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="a.pdf"

JVBERi0xLjQK
--outer--)";

// The HTML body of an Apple-style message: its type parameter names text/html.
constexpr std::string_view kRelatedHtml = R"(Subject: Related
Content-Type: multipart/related; type="text/html"; boundary="rel"

--rel
Content-Type: text/html

<html><body><p>Html body.</p><img src="cid:pic"></body></html>
--rel
Content-Type: image/gif
Content-ID: <pic>
Content-Transfer-Encoding: base64

R0lGODlh
--rel--)";

// The HTML alternative sits in a multipart/related beside its picture.
constexpr std::string_view kAlternativeRelated = R"(Subject: Alternative related
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/plain

Plain body.
--alt
Content-Type: multipart/related; boundary="rel"

--rel
Content-Type: text/html

<html><body><p>Html body.</p></body></html>
--rel
Content-Type: image/gif
Content-Transfer-Encoding: base64

R0lGODlh
--rel--
--alt--)";

constexpr std::string_view kAttachedMessage = R"(Subject: Forward
Content-Type: multipart/mixed; boundary="outer"

--outer
Content-Type: text/plain

See the attached message.
--outer
Content-Type: message/rfc822

Subject: Inner
Content-Type: text/plain

Inner text.
--outer--)";

// A message whose whole body is another message.
constexpr std::string_view kWrapped = R"(Subject: Wrapped
Content-Type: message/rfc822

Subject: Inner
Content-Type: text/html

<html><body><p>Inner html.</p></body></html>)";

// A message whose whole body is a digest of two messages, its delimiter lines ending in
// a blank; the digest has a prologue and an epilogue.
constexpr std::string_view kWrappedDigest =
    "Subject: Wrapped digest\n"
    "Content-Type: message/rfc822\n"
    "\n"
    "Subject: Inner\n"
    "Content-Type: multipart/digest; boundary=\"foo\"\n"
    "\n"
    "prologue\n"
    "--foo \n"
    "Content-Type: message/rfc822\n"
    "\n"
    "Subject: m1\n"
    "Content-Type: text/plain\n"
    "\n"
    "m1 body\n"
    "--foo \n"
    "Content-Type: message/rfc822\n"
    "\n"
    "Subject: m2\n"
    "Content-Type: text/plain\n"
    "\n"
    "m2 body\n"
    "--foo--\n"
    "epilogue";

// --- Helpers ----------------------------------------------------------------------------

// The lines of a literal written with LF line ends.
Lines LinesOf(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::unique_ptr<TEmailMsg> NewMessage(Lines lines, bool ensureTextBody = false) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(ensureTextBody);
    message->SetRawMail(lines);
    (void)message->Parts();
    message->SetModified(false);
    return message;
}

std::unique_ptr<TEmailMsg> Parse(std::string_view text, bool ensureTextBody = false) {
    return NewMessage(LinesOf(text), ensureTextBody);
}

Lines Written(TEmailMsg& message) {
    Lines lines;
    EXPECT_TRUE(message.SaveToLines(lines, true));
    return lines;
}

// The message as a mail program receives it, read back as the screening reads mail.
std::unique_ptr<TEmailMsg> Reread(TEmailMsg& message) {
    return NewMessage(Written(message));
}

std::string Field(const TEmailHeader& header, std::string_view name) {
    std::string value;
    (void)header.GetField(name, value);
    return value;
}

std::string TypeOf(const TEmailMsgPart& part) {
    std::string type;
    if (part.Header() != nullptr) (void)part.Header()->GetDecodedFieldValue("Content-Type", type);
    return type.empty() ? "(none)" : AsciiLower(type);
}

// The tree as types: a preamble part is "preamble", children follow in braces.
std::string Shape(const TEmailMsgPartCollection& parts) {
    std::string shape;
    for (int i = 0; i < parts.Count(); ++i) {
        const TEmailMsgPart* part = parts.Items(i);
        if (!shape.empty()) shape += " ";
        shape += part->IsPreamble() ? "preamble" : TypeOf(*part);
        if (!part->Children().Empty()) shape += "{" + Shape(part->Children()) + "}";
    }
    return shape;
}

std::string Unix(std::string text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

// The body as a mail program reads it: decoded when the header names an encoding.
std::string Decoded(TEmailMsgPart& part) {
    std::string bytes;
    if (part.Header() != nullptr && part.Header()->IsEncoded()) {
        (void)part.DecodeToBytes(bytes);
    } else {
        bytes = TextOfLines(part.RawText());
    }
    return Unix(bytes);
}

// Every leaf part (no children, no preamble) in tree order as "type: decoded body".
void CollectLeaves(TEmailMsgPartCollection& parts, std::vector<std::string>& leaves) {
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        if (!part->Children().Empty()) {
            CollectLeaves(part->Children(), leaves);
        } else if (!part->IsPreamble()) {
            leaves.push_back(TypeOf(*part) + ": " + Decoded(*part));
        }
    }
}

std::vector<std::string> Leaves(TEmailMsg& message) {
    std::vector<std::string> leaves;
    CollectLeaves(message.Parts(), leaves);
    return leaves;
}

// The first part of the tree, in order, whose type is `type`.
TEmailMsgPart* FirstOfType(TEmailMsgPartCollection& parts, std::string_view type) {
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        if (!part->IsPreamble() && TypeOf(*part) == type) return part;
        if (TEmailMsgPart* inner = FirstOfType(part->Children(), type)) return inner;
    }
    return nullptr;
}

// A boundary the operations make: the prefix and 20 letters or digits.
bool IsNewBoundary(std::string_view delimiter, std::string_view prefix) {
    const std::string start = "--" + std::string(prefix);
    if (delimiter.size() != start.size() + 20 || delimiter.substr(0, start.size()) != start) return false;
    return std::all_of(delimiter.begin() + static_cast<long>(start.size()), delimiter.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// The decoded text of a part, for naming the parts that FindBodyParts answers.
std::string FirstLineOf(TEmailMsgPart* part) {
    if (part == nullptr) return "none";
    const Lines lines = SplitLines(Decoded(*part));
    return lines.empty() ? "" : lines.front();
}

// --- Finding the bodies ----------------------------------------------------------------

TEST(FindBodyPartsTest, FindsThePartsAMailProgramShows) {
    struct Case {
        const char* name;
        std::string_view message;
        const char* plain;  // first line of the plain part's body, or "none"
        const char* html;
    };
    const Case cases[] = {
        {"plain single part", kPlain, "Hello world.", "none"},
        {"untyped single part is plain", kUntyped, "Hello world.", "none"},
        {"html single part", kHtml, "none", "<html><body><p>Hello world.</p></body></html>"},
        {"attachment only", kPdf, "none", "none"},
        {"mixed with text", kMixed, "Body text.", "none"},
        {"alternative", kAlternative, "Plain body.", "<html><body><p>Html body.</p></body></html>"},
        {"alternative inside mixed", kMixedAlternative, "Plain body.",
         "<html><body><p>Html body.</p></body></html>"},
        {"related whose type names html: the html part, not the preamble", kRelatedHtml, "none",
         "<html><body><p>Html body.</p><img src=\"cid:pic\"></body></html>"},
        {"html inside related inside alternative", kAlternativeRelated, "Plain body.",
         "<html><body><p>Html body.</p></body></html>"},
        {"the text of an attached message is not the message's", kAttachedMessage,
         "See the attached message.", "none"},
        {"a wrapped message's body is the message's", kWrapped, "none",
         "<html><body><p>Inner html.</p></body></html>"},
        {"searched into nested containers", R"(Subject: x
Content-Type: multipart/mixed; boundary="b"

--b
Content-Type: multipart/mixed; boundary="c"

--c
Content-Type: multipart/related; boundary="d"

--d
Content-Type: text/html

<p>Deep.</p>
--d--
--c
Content-Type: text/plain

Deep text.
--c--
--b--)",
         "Deep text.", "<p>Deep.</p>"},
        {"text attached as a file is no body", R"(Subject: x
Content-Type: multipart/mixed; boundary="b"

--b
Content-Type: text/plain; name="notes.txt"
Content-Disposition: attachment; filename="notes.txt"

Notes.
--b
Content-Type: text/html

<p>Shown.</p>
--b--)",
         "none", "<p>Shown.</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        const TBodyParts found = message->FindBodyParts();
        EXPECT_EQ(FirstLineOf(found.plain), c.plain);
        EXPECT_EQ(FirstLineOf(found.html), c.html);
        EXPECT_FALSE(message->IsModified());
    }
}

TEST(GetPlainTextTest, TakesTextThenHtmlThenEverything) {
    struct Case {
        const char* name;
        std::string_view message;
        bool all;
        Lines expected;
    };
    const Case cases[] = {
        {"plain", kPlain, false, {"Hello world.", "Second line."}},
        {"base64 plain is decoded", kPlainBase64, false, {"Hello world."}},
        {"html converted", kHtml, false, {"Hello world."}},
        {"text wins over html", kAlternative, false, {"Plain body."}},
        {"all: text, then every part again", kAlternative, true,
         {"Plain body.", "Plain body.", "Html body."}},
        {"nested bodies come from the fallback", kMixedAlternative, false,
         {"Plain body.", "Html body."}},
        {"the preamble of a related html message is no html body", kRelatedHtml, false,
         {"Html body."}},
        {"an attachment gives no text", kPdf, false, {}},
        {"not the text of an attached message", kAttachedMessage, false, {"See the attached message."}},
        {"a wrapped message's text", kWrapped, false, {"Inner html."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        Lines text{"left over"};
        message->GetPlainText(text, c.all);
        EXPECT_EQ(text, c.expected);
    }
}

// --- Adding parts ------------------------------------------------------------------------

enum class Edit {
    AddAttachment,
    AddPlainTextPart,
    AddPlainTextAlternative,
    FAddHtmlTextPart,
    AddHtmlTextAlternative,
    EnsureTextBody,
    EnsureAlternatives,
};

// Runs the edit; true when it answered a new part.
bool Apply(TEmailMsg& message, Edit edit) {
    switch (edit) {
        case Edit::AddAttachment: {
            TEmailMsgPart* part = message.AddAttachment({"QUJD"});
            if (part == nullptr) return false;
            part->Header()->SetField("Content-Type", "application/octet-stream; name=\"x.bin\"");
            part->Header()->SetField("Content-Transfer-Encoding", "base64");
            part->Header()->SetField("Content-Disposition", "attachment; filename=\"x.bin\"");
            return true;
        }
        case Edit::AddPlainTextPart:
            return message.AddPlainTextPart() != nullptr;
        case Edit::AddPlainTextAlternative:
            return message.AddPlainTextAlternative() != nullptr;
        case Edit::FAddHtmlTextPart:
            return message.FAddHtmlTextPart() != nullptr;
        case Edit::AddHtmlTextAlternative:
            return message.AddHtmlTextAlternative() != nullptr;
        case Edit::EnsureTextBody:
            return message.EnsureTextBody() != nullptr;
        case Edit::EnsureAlternatives:
            return message.EnsureAlternatives() != nullptr;
    }
    return false;
}

constexpr const char* kPlainLeaf = "text/plain: Hello world.\nSecond line.\n";
constexpr const char* kHtmlLeaf = "text/html: <html><body><p>Hello world.</p></body></html>\n";
constexpr const char* kPdfLeaf = "application/pdf: %PDF-1.4\n";
constexpr const char* kNewPlainLeaf = "text/plain: \n";
constexpr const char* kNewHtmlLeaf = "text/html: \n";
constexpr const char* kAddedLeaf = "application/octet-stream: ABC";
constexpr const char* kBodyTextLeaf = "text/plain: Body text.\n";
constexpr const char* kPlainBodyLeaf = "text/plain: Plain body.\n";
constexpr const char* kHtmlBodyLeaf = "text/html: <html><body><p>Html body.</p></body></html>\n";
constexpr const char* kDigestLeaf1 = "text/plain: m1 body\n";
constexpr const char* kDigestLeaf2 = "text/plain: m2 body\n";

struct EditCase {
    const char* name;
    std::string_view message;
    Edit edit;
    bool added;
    const char* shape;  // of the message read back
    std::vector<std::string> leaves;
};

void RunEditCases(const std::vector<EditCase>& cases) {
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        const Lines before = Written(*message);
        EXPECT_EQ(Apply(*message, c.edit), c.added);
        if (!c.added) {
            EXPECT_EQ(Written(*message), before) << "an edit that adds nothing changes nothing";
        } else {
            EXPECT_TRUE(message->IsModified());
        }
        auto reread = Reread(*message);
        EXPECT_EQ(Shape(reread->Parts()), c.shape);
        EXPECT_EQ(Leaves(*reread), c.leaves);
        // Written again, the message read back is what the mail program got.
        EXPECT_EQ(Written(*reread), Written(*message));
    }
}

TEST(AddAttachmentTest, AppendsAPartThatClosesTheBody) {
    RunEditCases({
        {"plain single part becomes mixed", kPlain, Edit::AddAttachment, true,
         "preamble text/plain application/octet-stream", {kPlainLeaf, kAddedLeaf}},
        {"base64 body keeps its encoding", kPlainBase64, Edit::AddAttachment, true,
         "preamble text/plain application/octet-stream",
         {"text/plain: Hello world.\n", kAddedLeaf}},
        {"untyped body is said to be plain text", kUntyped, Edit::AddAttachment, true,
         "preamble text/plain application/octet-stream", {"text/plain: Hello world.\n", kAddedLeaf}},
        {"html single part", kHtml, Edit::AddAttachment, true,
         "preamble text/html application/octet-stream", {kHtmlLeaf, kAddedLeaf}},
        {"mixed: appended after the last part", kMixed, Edit::AddAttachment, true,
         "preamble text/plain application/pdf application/octet-stream",
         {kBodyTextLeaf, kPdfLeaf, kAddedLeaf}},
        {"alternative", kAlternative, Edit::AddAttachment, true,
         "preamble text/plain text/html application/octet-stream",
         {kPlainBodyLeaf, kHtmlBodyLeaf, kAddedLeaf}},
        {"beside an attached message", kAttachedMessage, Edit::AddAttachment, true,
         "preamble text/plain message/rfc822{text/plain} application/octet-stream",
         {"text/plain: See the attached message.\n", "text/plain: Inner text.\n", kAddedLeaf}},
        {"a wrapped message keeps its own header", kWrapped, Edit::AddAttachment, true,
         "preamble message/rfc822{text/html} application/octet-stream",
         {"text/html: <html><body><p>Inner html.</p></body></html>\n", kAddedLeaf}},
        {"a wrapped multipart stays whole", kWrappedDigest, Edit::AddAttachment, true,
         "preamble message/rfc822{preamble message/rfc822{text/plain} message/rfc822{text/plain}} "
         "application/octet-stream",
         {kDigestLeaf1, kDigestLeaf2, kAddedLeaf}},
    });
}

TEST(AddAttachmentTest, MovesTheBodyFieldsOffTheMainHeader) {
    auto message = Parse(kPlainBase64);
    TEmailMsgPart* added = message->AddAttachment({"QUJD"});
    ASSERT_NE(added, nullptr);
    TEmailHeader& main = message->Header();
    const std::string delimiter = main.GetBoundary();
    EXPECT_TRUE(IsNewBoundary(delimiter, "----Vorn1")) << delimiter;
    EXPECT_EQ(Field(main, "Content-Type"), "multipart/mixed; boundary=\"" + delimiter.substr(2) + "\"");
    EXPECT_EQ(main.IndexOfField("Content-Transfer-Encoding"), -1);
    EXPECT_EQ(main.IndexOfField("Content-Disposition"), -1);

    TEmailMsgPartCollection& parts = message->Parts();
    ASSERT_EQ(parts.Count(), 3);
    TEmailMsgPart* preamble = parts.Items(0);
    EXPECT_EQ(preamble->Header(), &main);
    EXPECT_EQ(preamble->RawText(), (Lines{std::string(kAddedPreambleLine), ""}));
    EXPECT_EQ(preamble->BoundaryLine(), delimiter);
    const TEmailHeader& body = *parts.Items(1)->Header();
    EXPECT_EQ(Field(body, "Content-Type"), "text/plain");
    EXPECT_EQ(Field(body, "Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(Field(body, "Content-Disposition"), "inline");
    EXPECT_EQ(parts.Items(1)->BoundaryLine(), delimiter);
    EXPECT_EQ(parts.Items(2), added);
    EXPECT_EQ(added->BoundaryLine(), delimiter + "--");
    EXPECT_EQ(added->RawText(), Lines{"QUJD"});
}

TEST(AddAttachmentTest, GivesAMultipartWithoutBoundaryOne) {
    auto message = Parse("Subject: x\nContent-Type: multipart/mixed\n\nno delimiter here");
    TEmailMsgPart* added = message->AddAttachment({"QUJD"});
    ASSERT_NE(added, nullptr);
    added->Header()->SetField("Content-Type", "application/octet-stream");
    added->Header()->SetField("Content-Transfer-Encoding", "base64");
    auto reread = Reread(*message);
    EXPECT_EQ(Shape(reread->Parts()), "preamble application/octet-stream");
    EXPECT_EQ(Leaves(*reread), (std::vector<std::string>{kAddedLeaf}));
    EXPECT_EQ(reread->Parts().Items(0)->RawText(), Lines{"no delimiter here"});
}

TEST(AddAlternativeContainerTest, InsertsAnEmptyAlternativeAfterThePreamble) {
    auto message = Parse(kMixed);
    TEmailMsgPart* container = message->AddAlternativeContainer();
    ASSERT_NE(container, nullptr);
    TEmailMsgPartCollection& parts = message->Parts();
    ASSERT_EQ(parts.Count(), 4);
    EXPECT_EQ(parts.Items(1), container);
    EXPECT_EQ(container->BoundaryLine(), "--outer");
    const std::string delimiter = container->Header()->GetBoundary();
    EXPECT_TRUE(IsNewBoundary(delimiter, "----Vorn4")) << delimiter;
    EXPECT_EQ(Field(*container->Header(), "Content-Type"),
              "multipart/alternative;\r\n\tboundary=\"" + delimiter.substr(2) + "\"");
    ASSERT_EQ(container->Children().Count(), 1);
    TEmailMsgPart* preamble = container->Children().Items(0);
    EXPECT_EQ(preamble->Header(), container->Header());
    EXPECT_EQ(preamble->RawText(), Lines{""});
    EXPECT_EQ(preamble->BoundaryLine(), delimiter);
    EXPECT_TRUE(message->IsModified());

    // The folded Content-Type is written as the two lines it was made of.
    const Lines written = Written(*message);
    const auto at = std::find(written.begin(), written.end(), "Content-Type: multipart/alternative;");
    ASSERT_NE(at, written.end());
    EXPECT_EQ(*(at + 1), "\tboundary=\"" + delimiter.substr(2) + "\"");
}

TEST(AddAlternativeContainerTest, NeedsAMultipartMessage) {
    auto message = Parse(kPlain);
    const Lines before = Written(*message);
    EXPECT_EQ(message->AddAlternativeContainer(), nullptr);
    EXPECT_EQ(Written(*message), before);
}

TEST(AddPlainTextPartTest, AddsOnePlainTextBody) {
    RunEditCases({
        {"plain single part: alternative with the new part first", kPlain, Edit::AddPlainTextPart,
         true, "preamble text/plain text/plain", {kNewPlainLeaf, kPlainLeaf}},
        {"html single part becomes alternative", kHtml, Edit::AddPlainTextPart, true,
         "preamble text/plain text/html", {kNewPlainLeaf, kHtmlLeaf}},
        {"attachment single part becomes mixed", kPdf, Edit::AddPlainTextPart, true,
         "preamble text/plain application/pdf", {kNewPlainLeaf, kPdfLeaf}},
        {"untyped single part", kUntyped, Edit::AddPlainTextPart, true,
         "preamble text/plain text/plain", {kNewPlainLeaf, "text/plain: Hello world.\n"}},
        {"mixed: a new alternative container holds it", kMixed, Edit::AddPlainTextPart, true,
         "preamble multipart/alternative{preamble text/plain} text/plain application/pdf",
         {kNewPlainLeaf, kBodyTextLeaf, kPdfLeaf}},
        {"mixed html: the html body joins the container", kMixedHtml, Edit::AddPlainTextPart, true,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kNewPlainLeaf, kHtmlBodyLeaf, kPdfLeaf}},
        {"alternative with text: nothing", kAlternative, Edit::AddPlainTextPart, false,
         "preamble text/plain text/html", {kPlainBodyLeaf, kHtmlBodyLeaf}},
        {"alternative html only: text goes first", kAlternativeHtmlOnly, Edit::AddPlainTextPart,
         true, "preamble text/plain text/html",
         {kNewPlainLeaf, kHtmlBodyLeaf}},
        {"alternative inside mixed with text: nothing", kMixedAlternative, Edit::AddPlainTextPart,
         false, "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kPlainBodyLeaf, kHtmlBodyLeaf, kPdfLeaf}},
        {"beside an attached message", kAttachedMessage, Edit::AddPlainTextPart, true,
         "preamble multipart/alternative{preamble text/plain} text/plain message/rfc822{text/plain}",
         {kNewPlainLeaf, "text/plain: See the attached message.\n", "text/plain: Inner text.\n"}},
        {"wrapped message becomes mixed", kWrapped, Edit::AddPlainTextPart, true,
         "preamble text/plain message/rfc822{text/html}",
         {kNewPlainLeaf, "text/html: <html><body><p>Inner html.</p></body></html>\n"}},
        {"a wrapped multipart stays whole", kWrappedDigest, Edit::AddPlainTextPart, true,
         "preamble text/plain "
         "message/rfc822{preamble message/rfc822{text/plain} message/rfc822{text/plain}}",
         {kNewPlainLeaf, kDigestLeaf1, kDigestLeaf2}},
    });
}

TEST(FAddHtmlTextPartTest, AddsOneHtmlBody) {
    RunEditCases({
        {"plain single part: alternative with the new part last", kPlain, Edit::FAddHtmlTextPart,
         true, "preamble text/plain text/html", {kPlainLeaf, kNewHtmlLeaf}},
        {"untyped single part", kUntyped, Edit::FAddHtmlTextPart, true,
         "preamble text/plain text/html", {"text/plain: Hello world.\n", kNewHtmlLeaf}},
        {"attachment single part: mixed with the new part first", kPdf, Edit::FAddHtmlTextPart,
         true, "preamble text/html application/pdf", {kNewHtmlLeaf, kPdfLeaf}},
        {"mixed: the text moves into a container", kMixed, Edit::FAddHtmlTextPart, true,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kBodyTextLeaf, kNewHtmlLeaf, kPdfLeaf}},
        {"alternative with html: nothing", kAlternative, Edit::FAddHtmlTextPart, false,
         "preamble text/plain text/html", {kPlainBodyLeaf, kHtmlBodyLeaf}},
        {"alternative text only: html goes last", kAlternativePlainOnly, Edit::FAddHtmlTextPart,
         true, "preamble text/plain text/html", {kPlainBodyLeaf, kNewHtmlLeaf}},
        {"alternative inside mixed with html: nothing", kMixedAlternative, Edit::FAddHtmlTextPart,
         false, "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kPlainBodyLeaf, kHtmlBodyLeaf, kPdfLeaf}},
        {"beside an attached message", kAttachedMessage, Edit::FAddHtmlTextPart, true,
         "preamble multipart/alternative{preamble text/plain text/html} message/rfc822{text/plain}",
         {"text/plain: See the attached message.\n", kNewHtmlLeaf, "text/plain: Inner text.\n"}},
        {"wrapped message becomes mixed", kWrapped, Edit::FAddHtmlTextPart, true,
         "preamble text/html message/rfc822{text/html}",
         {kNewHtmlLeaf, "text/html: <html><body><p>Inner html.</p></body></html>\n"}},
        {"a wrapped multipart stays whole", kWrappedDigest, Edit::FAddHtmlTextPart, true,
         "preamble text/html "
         "message/rfc822{preamble message/rfc822{text/plain} message/rfc822{text/plain}}",
         {kNewHtmlLeaf, kDigestLeaf1, kDigestLeaf2}},
    });
}

TEST(TextAlternativesTest, FillTheNewPartWithTheMessagesText) {
    RunEditCases({
        {"text from html", kHtml, Edit::AddPlainTextAlternative, true,
         "preamble text/plain text/html", {"text/plain: Hello world.\n", kHtmlLeaf}},
        {"text from html in mixed", kMixedHtml, Edit::AddPlainTextAlternative, true,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {"text/plain: Html body.\n", kHtmlBodyLeaf, kPdfLeaf}},
        {"no text alternative where one exists", kAlternative, Edit::AddPlainTextAlternative, false,
         "preamble text/plain text/html", {kPlainBodyLeaf, kHtmlBodyLeaf}},
        {"html from text", kPlain, Edit::AddHtmlTextAlternative, true,
         "preamble text/plain text/html",
         {kPlainLeaf,
          "text/html: <html><body>\nHello world.<br>\nSecond line.<br>\n</body></html>\n"}},
        {"html from text in mixed", kMixed, Edit::AddHtmlTextAlternative, true,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kBodyTextLeaf, "text/html: <html><body>\nBody text.<br>\n</body></html>\n", kPdfLeaf}},
        {"html escapes the text", "Subject: x\n\nif a < b && c > \"d\"", Edit::AddHtmlTextAlternative,
         true, "preamble text/plain text/html",
         {"text/plain: if a < b && c > \"d\"\n",
          "text/html: <html><body>\nif a &lt; b &amp;&amp; c &gt; &quot;d&quot;<br>\n</body></html>\n"}},
    });
}

TEST(EnsureTest, MakesSureOfTextAndHtmlBodies) {
    RunEditCases({
        {"text body for an attachment", kPdf, Edit::EnsureTextBody, true,
         "preamble text/plain application/pdf", {kNewPlainLeaf, kPdfLeaf}},
        {"text body for a mixed attachment", kPdfOnlyMixed, Edit::EnsureTextBody, true,
         "preamble multipart/alternative{preamble text/plain} application/pdf",
         {kNewPlainLeaf, kPdfLeaf}},
        {"html is a body", kHtml, Edit::EnsureTextBody, false, "text/html", {kHtmlLeaf}},
        {"text is a body", kPlain, Edit::EnsureTextBody, false, "text/plain", {kPlainLeaf}},
        {"a piece of a partial message stays as it is",
         "Subject: x\nContent-Type: Message/Partial; id=\"a\"; number=1; total=2\n\nSubject: y",
         Edit::EnsureTextBody, false, "message/partial", {"message/partial: Subject: y\n"}},
        {"html gets a text alternative", kHtml, Edit::EnsureAlternatives, true,
         "preamble text/plain text/html", {"text/plain: Hello world.\n", kHtmlLeaf}},
        {"text gets an html alternative", kPlain, Edit::EnsureAlternatives, true,
         "preamble text/plain text/html",
         {kPlainLeaf,
          "text/html: <html><body>\nHello world.<br>\nSecond line.<br>\n</body></html>\n"}},
        {"both present: nothing", kAlternative, Edit::EnsureAlternatives, false,
         "preamble text/plain text/html", {kPlainBodyLeaf, kHtmlBodyLeaf}},
        {"neither: both added", kPdf, Edit::EnsureAlternatives, true,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {kNewPlainLeaf, "text/html: <html><body>\n<br>\n</body></html>\n", kPdfLeaf}},
    });
}

// The attached multipart keeps every part after its first delimiter, its closing
// delimiter and its epilogue inside the attached message: the new closing delimiter
// follows all of it.
TEST(EnsureTest, AWrappedMultipartKeepsItsPartsAndDelimiters) {
    auto message = Parse(kWrappedDigest);
    ASSERT_NE(message->EnsureTextBody(), nullptr);
    const Lines written = Written(*message);
    const std::string closing = message->Header().GetBoundary() + "--";
    const auto innerClose = std::find(written.begin(), written.end(), "--foo--");
    const auto outerClose = std::find(written.begin(), written.end(), closing);
    const auto epilogue = std::find(written.begin(), written.end(), "epilogue");
    ASSERT_NE(outerClose, written.end());
    EXPECT_LT(innerClose, epilogue);
    EXPECT_LT(epilogue, outerClose);

    auto reread = NewMessage(written);
    TEmailMsgPart* wrapper = FirstOfType(reread->Parts(), "message/rfc822");
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->BoundaryLine(), closing);
    TEmailMsgPartCollection& digest = wrapper->Children();
    ASSERT_EQ(digest.Count(), 3);
    EXPECT_TRUE(digest.Items(0)->IsPreamble());
    EXPECT_EQ(Field(*digest.Items(0)->Header(), "Subject"), "Inner");
    EXPECT_EQ(digest.Items(0)->BoundaryLine(), "--foo ");
    EXPECT_EQ(digest.Items(1)->BoundaryLine(), "--foo ");
    EXPECT_EQ(digest.Items(2)->BoundaryLine(), "--foo--");
    EXPECT_EQ(wrapper->RawText(), Lines{"epilogue"});
    EXPECT_TRUE(reread->Epilogue().empty());
}

TEST(EnsureTest, ParsingAddsATextBodyUnlessTurnedOff) {
    auto ensured = Parse(kPdf, true);
    EXPECT_EQ(Shape(ensured->Parts()), "preamble text/plain application/pdf");
    auto plain = Parse(kPdf, false);
    EXPECT_EQ(Shape(plain->Parts()), "application/pdf");
}

TEST(AddTextPartTest, HeaderTextsAndBoundaryPrefixes) {
    struct Case {
        const char* name;
        std::string_view message;
        bool html;
        const char* prefix;      // of the boundary of the header the part went under
        const char* mainType;    // the main Content-Type up to its boundary parameter
    };
    const Case cases[] = {
        {"text into a text message", kPlain, false, "----Vorn2", "multipart/alternative; boundary=\""},
        {"text into an attachment", kPdf, false, "----Vorn2", "multipart/mixed; boundary=\""},
        {"html into a text message", kPlain, true, "----Vorn9", "multipart/alternative; boundary=\""},
        {"html into an attachment", kPdf, true, "----Vorn9", "multipart/mixed; boundary=\""},
        {"text into an alternative without boundary",
         "Subject: x\nContent-Type: multipart/alternative\n\n<p>Html.</p>", false, "----Vorn3",
         "multipart/alternative; boundary="},
        {"html into an alternative without boundary",
         "Subject: x\nContent-Type: multipart/alternative\n\nText.", true, "----Vorn2",
         "multipart/alternative; boundary="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        TEmailMsgPart* part = c.html ? message->FAddHtmlTextPart() : message->AddPlainTextPart();
        ASSERT_NE(part, nullptr);
        const TEmailHeader& header = *part->Header();
        ASSERT_EQ(header.FieldCount(), 2);
        EXPECT_EQ(header.FieldName(0), "Content-Type");
        EXPECT_EQ(header.FieldValue(0), c.html ? "text/html; charset=\"us-ascii\"" : "text/plain; charset=\"us-ascii\"");
        EXPECT_EQ(header.FieldName(1), "Content-Transfer-Encoding");
        EXPECT_EQ(header.FieldValue(1), "7bit");
        EXPECT_EQ(part->RawText(), Lines{""});
        const std::string delimiter = message->Header().GetBoundary();
        EXPECT_TRUE(IsNewBoundary(delimiter, c.prefix)) << delimiter;
        const std::string mainType = Field(message->Header(), "Content-Type");
        EXPECT_EQ(mainType.substr(0, std::string_view(c.mainType).size()), c.mainType);
        // Whatever stood in the undelimited body stays in front of the new part.
        auto reread = Reread(*message);
        EXPECT_EQ(Shape(reread->Parts()).substr(0, 8), "preamble");
        EXPECT_NE(FirstOfType(reread->Parts(), c.html ? "text/html" : "text/plain"), nullptr);
    }
}

TEST(AddTextPartTest, NewTopLevelPartsFollowAnAddedPreamble) {
    auto message = Parse(kHtml);
    TEmailMsgPart* plain = message->AddPlainTextPart();
    ASSERT_NE(plain, nullptr);
    TEmailMsgPartCollection& parts = message->Parts();
    const std::string delimiter = message->Header().GetBoundary();
    ASSERT_EQ(parts.Count(), 3);
    EXPECT_EQ(parts.Items(0)->RawText(), (Lines{std::string(kAddedPreambleLine), ""}));
    EXPECT_EQ(parts.Items(0)->BoundaryLine(), delimiter);
    EXPECT_EQ(parts.Items(1), plain);
    EXPECT_EQ(plain->BoundaryLine(), delimiter);
    EXPECT_EQ(parts.Items(2)->BoundaryLine(), delimiter + "--");
    EXPECT_EQ(Field(*parts.Items(2)->Header(), "Content-Type"), "text/html; charset=\"us-ascii\"");
    EXPECT_EQ(message->Header().IndexOfField("Content-Transfer-Encoding"), -1);
}

// --- Notices -----------------------------------------------------------------------------

TSimpleHtml Notice(std::string_view both = "Gatemoor changed this message.") {
    TSimpleHtml notice;
    notice.AddLine("<b>" + std::string(both) + "</b>", 5, true, TSimpleHtmlMode::Both);
    notice.AddLine("<a href=\"http://r/\">Report</a>", 5, true, TSimpleHtmlMode::HtmlOnly);
    notice.AddLine("Report: http://r/", 5, true, TSimpleHtmlMode::TextOnly);
    return notice;
}

constexpr const char* kTextNotice = "Gatemoor changed this message.\nReport: http://r/\n";
constexpr const char* kHtmlNotice =
    "<br><b>Gatemoor changed this message.</b>\n<br><a href=\"http://r/\">Report</a>\n";

std::string Boxed(std::string_view line) {
    std::string padded(line);
    padded.resize(69, ' ');
    return "| " + padded + " |\n";
}

TEST(InsertUserTextTest, PutsTheNoticeIntoEveryBody) {
    struct Case {
        const char* name;
        std::string_view message;
        bool atTop;
        bool boxed;
        const char* shape;
        std::vector<std::string> leaves;
    };
    const std::string boxedNotice = Boxed("Gatemoor changed this message.") + Boxed("Report: http://r/") + "\n";
    const std::vector<Case> cases = {
        {"text at top", kPlain, true, false, "text/plain",
         {std::string("text/plain: ") + kTextNotice + "Hello world.\nSecond line.\n"}},
        {"text at bottom", kPlain, false, false, "text/plain",
         {std::string("text/plain: Hello world.\nSecond line.\n") + kTextNotice}},
        {"text at top, boxed", kPlain, true, true, "text/plain",
         {"text/plain: " + boxedNotice + "Hello world.\nSecond line.\n"}},
        {"text at bottom, boxed", kPlain, false, true, "text/plain",
         {"text/plain: Hello world.\nSecond line.\n" + boxedNotice}},
        {"base64 text is decoded and encoded again", kPlainBase64, true, false, "text/plain",
         {std::string("text/plain: ") + kTextNotice + "Hello world.\n"}},
        {"html at top goes after <body>", kHtml, true, false, "text/html",
         {std::string("text/html: <html><body>") + kHtmlNotice + "<p>Hello world.</p></body></html>\n"}},
        {"html at bottom goes before </body>", kHtml, false, false, "text/html",
         {std::string("text/html: <html><body><p>Hello world.</p>") + kHtmlNotice + "</body></html>\n"}},
        {"boxing is for text only", kHtml, true, true, "text/html",
         {std::string("text/html: <html><body>") + kHtmlNotice + "<p>Hello world.</p></body></html>\n"}},
        {"base64 html", kHtmlBase64, true, false, "text/html",
         {std::string("text/html: <html><body>") + kHtmlNotice + "<p>Hello world.</p></body></html>\n"}},
        {"a body tag with attributes is no <body>: after <html>",
         "Subject: x\nContent-Type: text/html\n\n<HTML><BODY bgcolor=x>Hi</BODY></HTML>", true, false,
         "text/html", {std::string("text/html: <HTML>") + kHtmlNotice + "<BODY bgcolor=x>Hi</BODY></HTML>\n"}},
        {"at top without tags: the start", "Subject: x\nContent-Type: text/html\n\nHi <b>there</b>",
         true, false, "text/html", {std::string("text/html: ") + kHtmlNotice + "Hi <b>there</b>\n"}},
        {"at bottom without </body>: before </html>",
         "Subject: x\nContent-Type: text/html\n\n<html>Hi</html>", false, false, "text/html",
         {std::string("text/html: <html>Hi") + kHtmlNotice + "</html>\n"}},
        {"at bottom without tags: after the last character",
         "Subject: x\nContent-Type: text/html\n\nHi <b>there</b>", false, false, "text/html",
         {std::string("text/html: Hi <b>there</b>\n") + kHtmlNotice}},
        {"both alternatives", kAlternative, true, false, "preamble text/plain text/html",
         {std::string("text/plain: ") + kTextNotice + "Plain body.\n",
          std::string("text/html: <html><body>") + kHtmlNotice + "<p>Html body.</p></body></html>\n"}},
        {"alternatives inside mixed, attachment untouched", kMixedAlternative, false, false,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {std::string("text/plain: Plain body.\n") + kTextNotice,
          std::string("text/html: <html><body><p>Html body.</p>") + kHtmlNotice + "</body></html>\n",
          kPdfLeaf}},
        {"the attached message is left alone", kAttachedMessage, true, false,
         "preamble text/plain message/rfc822{text/plain}",
         {std::string("text/plain: ") + kTextNotice + "See the attached message.\n",
          "text/plain: Inner text.\n"}},
        {"a wrapped message's body", kWrapped, false, false, "text/html",
         {std::string("text/html: <html><body><p>Inner html.</p>") + kHtmlNotice + "</body></html>\n"}},
        {"an html body beside its pictures", kRelatedHtml, true, false,
         "preamble text/html image/gif",
         {std::string("text/html: <html><body>") + kHtmlNotice +
              "<p>Html body.</p><img src=\"cid:pic\"></body></html>\n",
          "image/gif: GIF89a"}},
        {"no body: both alternatives are made first", kPdf, true, false,
         "preamble multipart/alternative{preamble text/plain text/html} application/pdf",
         {std::string("text/plain: ") + kTextNotice + "\n",
          std::string("text/html: <html><body>") + kHtmlNotice + "\n<br>\n</body></html>\n", kPdfLeaf}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        message->InsertUserText(Notice(), c.atTop, c.boxed);
        EXPECT_TRUE(message->IsModified());
        auto reread = Reread(*message);
        EXPECT_EQ(Shape(reread->Parts()), c.shape);
        EXPECT_EQ(Leaves(*reread), c.leaves);
    }
}

TEST(InsertUserTextTest, BoxesLongLines) {
    const std::string word70(70, 'x');
    const std::string words = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi";
    TSimpleHtml notice;
    notice.AddLine(word70, 5, true, TSimpleHtmlMode::Both);
    notice.AddLine("  " + words, 5, true, TSimpleHtmlMode::TextOnly);
    auto message = Parse(kPlain);
    message->InsertUserText(notice, true, true);
    auto reread = Reread(*message);
    const Lines lines = SplitLines(Decoded(*reread->Parts().Items(0)));
    // A line that cannot be wrapped loses its right frame; a wrapped one keeps its
    // indentation on the next line.
    const Lines expected = {
        "| " + word70,
        "| " + ("  " + words.substr(0, 66) + " ") + " |",
        "| " + std::string("  nu xi") + std::string(62, ' ') + " |",
        "",
        "Hello world.",
        "Second line.",
    };
    EXPECT_EQ(lines, expected);
}

TEST(InsertUserTextTest, KeepsTextThatOnlyLooksEncoded) {
    // No transfer encoding is named: "=41" and a line ending in "=" are the text itself.
    auto message = Parse("Subject: x\n\nTotal =\n100 =41 units");
    message->InsertUserText(Notice(), true, false);
    auto reread = Reread(*message);
    EXPECT_EQ(Leaves(*reread),
              (std::vector<std::string>{std::string("(none): ") + kTextNotice + "Total =\n100 =41 units\n"}));
}

TEST(InsertUserTextTest, NothingForAnEmptyNotice) {
    auto message = Parse(kPlain);
    const Lines before = Written(*message);
    message->InsertUserText(TSimpleHtml(), true, true);
    EXPECT_EQ(Written(*message), before);
    EXPECT_FALSE(message->IsModified());
}

// --- Plain-text conversion ----------------------------------------------------------------

TEST(ConvertToPlainTextTest, EachKindOfMainHeader) {
    struct Case {
        const char* name;
        std::string_view message;
        bool result;
        const char* mainType;  // the main Content-Type afterwards
        const char* mainEncoding;
        const char* shape;
        std::vector<std::string> leaves;
    };
    const Case cases[] = {
        {"plain: nothing", kPlain, false, "text/plain; charset=\"us-ascii\"", "7bit", "text/plain",
         {kPlainLeaf}},
        {"html: its text", kHtml, true, "text/plain; charset=\"us-ascii\"", "8bit", "text/plain",
         {"text/plain: Hello world.\n"}},
        {"base64 html: decoded text", kHtmlBase64, true, "text/plain; charset=\"utf-8\"", "8bit",
         "text/plain", {"text/plain: Hello world.\n"}},
        {"alternative: the text part is the whole body", kAlternative, true, "text/plain", "",
         "text/plain", {kPlainBodyLeaf}},
        {"alternative html only: its text", kAlternativeHtmlOnly, true,
         "text/plain; charset=\"iso-8859-1\"", "8bit", "text/plain", {"text/plain: Html body.\n"}},
        {"alternative inside mixed: attachments stay", kMixedAlternative, true,
         "multipart/mixed; boundary=\"outer\"", "", "preamble text/plain application/pdf",
         {kPlainBodyLeaf, kPdfLeaf}},
        {"mixed html: the html part becomes text", kMixedHtml, true,
         "multipart/mixed; boundary=\"outer\"", "", "preamble text/plain application/pdf",
         {"text/plain: Html body.\n", kPdfLeaf}},
        {"related html: the html part, not the preamble", kRelatedHtml, true,
         "multipart/related; type=\"text/html\"; boundary=\"rel\"", "",
         "preamble text/plain image/gif", {"text/plain: Html body.\n", "image/gif: GIF89a"}},
        {"mixed text only: nothing to convert", kMixed, true, "multipart/mixed; boundary=\"outer\"",
         "", "preamble text/plain application/pdf", {kBodyTextLeaf, kPdfLeaf}},
        {"an attached message is not converted", kAttachedMessage, true,
         "multipart/mixed; boundary=\"outer\"", "", "preamble text/plain message/rfc822{text/plain}",
         {"text/plain: See the attached message.\n", "text/plain: Inner text.\n"}},
        {"wrapped message: the inner one is converted", kWrapped, true, "message/rfc822", "",
         "text/plain", {"text/plain: Inner html.\n"}},
        {"other: the text of the message, here none", kPdf, true, "text/plain; charset=\"iso-8859-1\"",
         "8bit", "text/plain", {"text/plain: "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        const int contentId = message->ContentId();
        EXPECT_EQ(message->ConvertToPlainText(), c.result);
        EXPECT_EQ(message->ConvertedToPlainText(), c.result);
        EXPECT_EQ(message->ContentId(), contentId);
        auto reread = Reread(*message);
        EXPECT_EQ(Field(reread->Header(), "Content-Type"), c.mainType);
        EXPECT_EQ(Field(reread->Header(), "Content-Transfer-Encoding"), c.mainEncoding);
        EXPECT_EQ(Shape(reread->Parts()), c.shape);
        EXPECT_EQ(Leaves(*reread), c.leaves);
    }
}

TEST(ConvertToPlainTextTest, AnEncodedWrappedMessageStaysEncoded) {
    auto message = Parse(R"(Subject: Wrapped
Content-Type: message/rfc822
Content-Transfer-Encoding: base64

U3ViamVjdDogSW5uZXINCkNvbnRlbnQtVHlwZTogdGV4dC9odG1sDQoNCjxo
dG1sPjxib2R5PjxwPklubmVyIGh0bWwuPC9wPjwvYm9keT48L2h0bWw+DQo=)");
    const int contentId = message->ContentId();
    ASSERT_TRUE(message->ConvertToPlainText());
    EXPECT_EQ(message->ContentId(), contentId);
    Lines written = Written(*message);
    const auto separator = std::find(written.begin(), written.end(), std::string());
    ASSERT_NE(separator, written.end());
    const Lines header(written.begin(), separator);
    EXPECT_EQ(header, (Lines{"Subject: Wrapped", "Content-Type: message/rfc822",
                             "Content-Transfer-Encoding: base64"}));
    Lines body(separator + 1, written.end());
    ASSERT_TRUE(DecodeLinesInPlace(TBase64Decoder::Class(), body));
    auto inner = NewMessage(body);
    EXPECT_EQ(Field(inner->Header(), "Subject"), "Inner");
    EXPECT_EQ(Field(inner->Header(), "Content-Type"), "text/plain");
    EXPECT_EQ(Field(inner->Header(), "Content-Transfer-Encoding"), "8bit");
    EXPECT_EQ(Leaves(*inner), (std::vector<std::string>{"text/plain: Inner html.\n"}));
}

TEST(ConvertToPlainTextTest, TheEpilogueDoesNotJoinTheText) {
    struct Case {
        const char* name;
        std::string_view message;
        Lines expectedBody;  // the written lines after the main header
    };
    const Case cases[] = {
        {"alternative reduced to one part", R"(Subject: x
Content-Type: multipart/alternative; boundary="a"

--a
Content-Type: text/plain

Plain.
--a
Content-Type: text/html

<p>Html.</p>
--a--
after the closing delimiter)",
         {"Plain."}},
        {"mixed keeps its delimiters and so its epilogue", R"(Subject: x
Content-Type: multipart/mixed; boundary="m"

--m
Content-Type: text/html

<p>Html.</p>
--m--
after the closing delimiter)",
         {"--m", "Content-Type: text/plain", "Content-Transfer-Encoding: 8bit", "", "Html.", "--m--",
          "after the closing delimiter"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        ASSERT_TRUE(message->ConvertToPlainText());
        const Lines written = Written(*message);
        const auto separator = std::find(written.begin(), written.end(), std::string());
        ASSERT_NE(separator, written.end());
        EXPECT_EQ(Lines(separator + 1, written.end()), c.expectedBody);
    }
}

TEST(ConvertToPlainTextTest, TextTakesTheEncodingOfThePartItCameFrom) {
    auto message = Parse(R"(Subject: x
Content-Type: multipart/mixed; boundary="outer"

--outer
Content-Type: multipart/alternative; boundary="alt"

--alt
Content-Type: text/plain; charset="utf-8"
Content-Transfer-Encoding: quoted-printable

Caf=C3=A9 au lait.
--alt
Content-Type: text/html

<p>Caf&eacute;</p>
--alt--
--outer--)");
    ASSERT_TRUE(message->ConvertToPlainText());
    auto reread = Reread(*message);
    TEmailMsgPart* text = FirstOfType(reread->Parts(), "text/plain");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Field(*text->Header(), "Content-Type"), "text/plain; charset=\"utf-8\"");
    EXPECT_EQ(Field(*text->Header(), "Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(Decoded(*text), "Caf\xC3\xA9 au lait.\n");
    EXPECT_EQ(Shape(reread->Parts()), "preamble text/plain");
}

TEST(ConvertToPlainTextTest, ReflowsConvertedHtml) {
    auto message = Parse("Subject: x\nContent-Type: text/html\n\n<p>Too  many blanks .</p><p></p><p></p><p>End.</p>");
    ASSERT_TRUE(message->ConvertToPlainText());
    auto reread = Reread(*message);
    const Lines lines = SplitLines(Decoded(*reread->Parts().Items(0)));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find("  "), std::string::npos) << lines[i];
        if (i > 0) {
            EXPECT_FALSE(lines[i].empty() && lines[i - 1].empty()) << "two empty lines at " << i;
        }
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Too many blanks.");
}

// --- Uuencoded attachments -------------------------------------------------------------------

// "Hello, uuencoded world!" and LF, uuencoded.
constexpr const char* kUuLine = "82&5L;&\\L('5U96YC;V1E9\"!W;W)L9\"$*";
constexpr const char* kUuBytes = "Hello, uuencoded world!\n";

std::string UuMessage(std::string_view header, std::string_view beginLine) {
    return std::string(header) + "\n\nBefore the file.\n" + std::string(beginLine) + "\n" + kUuLine +
           "\n`\nend\nAfter the file.";
}

TEST(ExtractUuencodedAttachmentsTest, TurnsBlocksIntoAttachments) {
    struct Case {
        const char* name;
        std::string message;
        bool result;
        const char* shape;
        std::vector<std::string> leaves;
    };
    const std::string text = "Before the file.\nAfter the file.\n";
    const std::string attachment = std::string("application/octet-stream: ") + kUuBytes;
    const std::vector<Case> cases = {
        {"plain text message", UuMessage("Subject: x\nContent-Transfer-Encoding: 7bit", "begin 644 a.bin"),
         true, "preamble text/plain application/octet-stream", {"text/plain: " + text, attachment}},
        {"no encoding named", UuMessage("Subject: x", "begin 644 a.bin"), true,
         "preamble text/plain application/octet-stream", {"text/plain: " + text, attachment}},
        {"any case, any mode", UuMessage("Subject: x", "BEGIN 0755 a.bin"), true,
         "preamble text/plain application/octet-stream", {"text/plain: " + text, attachment}},
        {"the type follows the name", UuMessage("Subject: x", "begin 644 notes.txt"), true,
         "preamble text/plain text/plain", {"text/plain: " + text, std::string("text/plain: ") + kUuBytes}},
        {"a block without end takes the rest",
         std::string("Subject: x\n\nBefore the file.\nbegin 644 a.bin\n") + kUuLine, true,
         "preamble text/plain application/octet-stream",
         {"text/plain: Before the file.\n", attachment}},
        {"a bad line ends the file", std::string("Subject: x\n\nbegin 644 a.bin\n") + kUuLine +
                                         "\nbad line\nend\nAfter.",
         true, "preamble text/plain application/octet-stream", {"text/plain: After.\n", attachment}},
        {"a block with no bytes is dropped", "Subject: x\n\nBefore.\nbegin 644 a.bin\n`\nend\nAfter.",
         true, "(none)", {"(none): Before.\nAfter.\n"}},
        {"a tab after the mode only disarms the line", "Subject: x\n\nbegin 644\ta.bin\nend", true,
         "(none)", {"(none):  begin 644\ta.bin\nend\n"}},
        {"no mode, no block", "Subject: x\n\nbegin here\nend", false, "(none)",
         {"(none): begin here\nend\n"}},
        {"mixed message: the file is kept",
         std::string("Subject: x\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
                     "Content-Type: text/plain\n\nBefore the file.\nbegin 644 a.bin\n") +
             kUuLine + "\nend\nAfter the file.\n--b--",
         true, "preamble text/plain application/octet-stream", {"text/plain: " + text, attachment}},
        {"alternative message: the block is removed and not kept",
         std::string("Subject: x\nContent-Type: multipart/alternative; boundary=\"b\"\n\n--b\n"
                     "Content-Type: text/plain\n\nBefore the file.\nbegin 644 a.bin\n") +
             kUuLine + "\nend\nAfter the file.\n--b\nContent-Type: text/html\n\n<p>x</p>\n--b--",
         true, "preamble text/plain text/html", {"text/plain: " + text, "text/html: <p>x</p>\n"}},
        {"inside an attached message",
         std::string("Subject: x\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
                     "Content-Type: text/plain\n\nSee below.\n--b\nContent-Type: message/rfc822\n\n"
                     "Subject: inner\n\nBefore the file.\nbegin 644 a.bin\n") +
             kUuLine + "\nend\nAfter the file.\n--b--",
         true, "preamble text/plain message/rfc822{preamble text/plain application/octet-stream}",
         {"text/plain: See below.\n", "text/plain: " + text, attachment}},
        {"no text body: nothing", std::string("Subject: x\nContent-Type: text/html\n\nbegin 644 a.bin\n") +
                                      kUuLine + "\nend",
         false, "text/html", {std::string("text/html: begin 644 a.bin\n") + kUuLine + "\nend\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parse(c.message);
        EXPECT_EQ(message->ExtractUuencodedAttachments(), c.result);
        EXPECT_EQ(message->IsModified(), c.result);
        auto reread = Reread(*message);
        EXPECT_EQ(Shape(reread->Parts()), c.shape);
        EXPECT_EQ(Leaves(*reread), c.leaves);
    }
}

TEST(ExtractUuencodedAttachmentsTest, NamesTheAttachmentAfterTheBlock) {
    auto message = Parse(UuMessage("Subject: x", "begin 644 report \"final\".doc"));
    ASSERT_TRUE(message->ExtractUuencodedAttachments());
    auto reread = Reread(*message);
    TEmailMsgPartCollection& parts = reread->Parts();
    ASSERT_EQ(parts.Count(), 3);
    const TEmailHeader& header = *parts.Items(2)->Header();
    // A quote in the name would end the quoted parameter and start another one.
    EXPECT_EQ(Field(header, "Content-Type"), "application/msword; name=\"report final.doc\"");
    EXPECT_EQ(Field(header, "Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(Field(header, "Content-Disposition"), "attachment; filename=\"report final.doc\"");
    std::string name;
    EXPECT_TRUE(header.GetFileName(name));
    EXPECT_EQ(name, "report final.doc");
    EXPECT_EQ(Unix(Decoded(*parts.Items(2))), kUuBytes);
}

TEST(ExtractUuencodedAttachmentsTest, CutsTheNameAt999Characters) {
    auto message = Parse(UuMessage("Subject: x", "begin 644 " + std::string(1200, 'n')));
    ASSERT_TRUE(message->ExtractUuencodedAttachments());
    auto reread = Reread(*message);
    ASSERT_EQ(reread->Parts().Count(), 3);
    const TEmailHeader& header = *reread->Parts().Items(2)->Header();
    EXPECT_EQ(Field(header, "Content-Type"), "application/octet-stream; name=\"" + std::string(999, 'n') + "\"");
    std::string name;
    EXPECT_TRUE(header.GetDispositionFileName(name));
    EXPECT_EQ(name, std::string(999, 'n'));
}

TEST(ExtractUuencodedAttachmentsTest, WritesBase64InLinesOfSixty) {
    // 100 bytes of "x": two full uuencode lines and a short one.
    const std::string bytes(100, 'x');
    std::stringstream source(bytes);
    Lines uu;
    ASSERT_TRUE(TUUDecoder::Class()->Encode(source, uu));
    std::string body = "Subject: x\n\nText.\nbegin 644 x.bin\n";
    for (const std::string& line : uu) body += line + "\n";
    body += "end";
    auto message = Parse(body);
    ASSERT_TRUE(message->ExtractUuencodedAttachments());
    const Lines written = Written(*message);
    auto reread = NewMessage(written);
    TEmailMsgPart* attachment = FirstOfType(reread->Parts(), "application/octet-stream");
    ASSERT_NE(attachment, nullptr);
    const Lines& raw = attachment->RawText();
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[0].size(), 60u);
    EXPECT_EQ(raw[1].size(), 60u);
    EXPECT_EQ(raw[2].size(), 16u);
    std::string decoded;
    (void)attachment->DecodeToBytes(decoded);
    EXPECT_EQ(decoded, bytes);
}

TEST(ExtractUuencodedAttachmentsTest, EveryBlockBecomesAnAttachment) {
    const std::string message = std::string("Subject: x\n\nOne.\nbegin 644 a.bin\n") + kUuLine +
                                "\nend\nTwo.\nbegin 600 b.bin\n" + kUuLine + "\nend\nThree.";
    auto parsed = Parse(message);
    ASSERT_TRUE(parsed->ExtractUuencodedAttachments());
    auto reread = Reread(*parsed);
    EXPECT_EQ(Shape(reread->Parts()), "preamble text/plain application/octet-stream application/octet-stream");
    EXPECT_EQ(Leaves(*reread), (std::vector<std::string>{
                                   "text/plain: One.\nTwo.\nThree.\n",
                                   std::string("application/octet-stream: ") + kUuBytes,
                                   std::string("application/octet-stream: ") + kUuBytes}));
    std::string first;
    std::string second;
    (void)reread->Parts().Items(2)->Header()->GetFileName(first);
    (void)reread->Parts().Items(3)->Header()->GetFileName(second);
    EXPECT_EQ(first, "a.bin");
    EXPECT_EQ(second, "b.bin");
}

// A message that holds `levels` attached messages one inside the other; the text of
// each holds a uuencoded file.
std::string NestedMessages(int levels) {
    std::string inner = std::string("Subject: level 0\n\nLevel 0.\nbegin 644 f0.bin\n") + kUuLine + "\nend";
    for (int level = 1; level <= levels; ++level) {
        const std::string b = "b" + std::to_string(level);
        const std::string n = std::to_string(level);
        inner = "Subject: level " + n + "\nContent-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b +
                "\nContent-Type: text/plain\n\nLevel " + n + ".\nbegin 644 f" + n + ".bin\n" + kUuLine +
                "\nend\n--" + b + "\nContent-Type: message/rfc822\n\n" + inner + "\n--" + b + "--";
    }
    return inner;
}

TEST(ExtractUuencodedAttachmentsTest, ReachesIntoEveryAttachedMessage) {
    // Deep enough that visiting each level once per level above it would never end.
    constexpr int kLevels = 40;
    auto message = Parse(NestedMessages(kLevels));
    ASSERT_TRUE(message->ExtractUuencodedAttachments());
    auto reread = Reread(*message);
    std::vector<std::string> names;
    std::vector<std::string> texts;
    reread->ForEachPart([&](TEmailMsgPart& part) {
        std::string name;
        if (part.Header() != nullptr && part.Header()->GetDispositionFileName(name)) {
            names.push_back(name);
            EXPECT_EQ(Decoded(part), kUuBytes) << name;
        } else if (!part.IsPreamble() && TypeOf(part) == "text/plain") {
            texts.push_back(Decoded(part));
        }
        return std::string();
    });
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kLevels + 1));
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kLevels + 1));
    for (int level = 0; level <= kLevels; ++level) {
        const std::string n = std::to_string(level);
        EXPECT_NE(std::find(names.begin(), names.end(), "f" + n + ".bin"), names.end()) << n;
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Level " + n + ".\n"), texts.end()) << n;
    }
}

}  // namespace
}  // namespace gatemoor
