// The part tree: how parts take their share of a body, nest, write themselves back,
// decode and re-encode, list image references and lose information blocks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

std::unique_ptr<TEmailMsg> Parsed(const std::string& text) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(false);
    Lines lines = SplitLines(text);
    (void)message->SetRawMail(lines);
    (void)message->Parts();
    return message;
}

Lines Written(TEmailMsg& message, bool full = true) {
    Lines lines;
    (void)message.SaveToLines(lines, full);
    return lines;
}

std::string Decoded(TEmailMsgPart& part) {
    std::string bytes;
    (void)part.DecodeToBytes(bytes);
    return bytes;
}

std::string TypeOf(const TEmailMsgPart& part) {
    std::string type;
    (void)part.Header()->GetContentType(type);
    return type;
}

const std::string kMixed =
    "From: a@example.org\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--b\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "one\r\n"
    "--b\r\n"
    "Content-Type: application/octet-stream; name=\"x.bin\"\r\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAEC\r\n"
    "--b--\r\n"
    "epilogue\r\n";

TEST(EmailMsgPartParse, MultipartBecomesPreambleAndParts) {
    auto message = Parsed(kMixed);
    TEmailMsgPartCollection& parts = message->Parts();
    ASSERT_EQ(parts.Count(), 3);
    EXPECT_TRUE(parts.Items(0)->IsPreamble());
    EXPECT_EQ(parts.Items(0)->Header(), &message->Header());
    EXPECT_EQ(parts.Items(0)->StoredRawText(), Lines{"preamble"});
    EXPECT_EQ(parts.Items(0)->BoundaryLine(), "--b");
    EXPECT_EQ(TypeOf(*parts.Items(1)), "text/plain");
    EXPECT_EQ(parts.Items(1)->StoredRawText(), Lines{"one"});
    EXPECT_EQ(Decoded(*parts.Items(2)), std::string("\x00\x01\x02", 3));
    EXPECT_EQ(parts.Items(2)->BoundaryLine(), "--b--");
    EXPECT_TRUE(parts.Items(2)->IsLastPart());
    EXPECT_EQ(message->Epilogue(), Lines{"epilogue"});
    EXPECT_EQ(Written(*message), SplitLines(kMixed));
}

struct TDelimiterCase {
    const char* name;
    std::string body;             // after the main header
    std::vector<Lines> raw;       // raw lines of each top-level part
    std::vector<std::string> delimiters;
};

TEST(EmailMsgPartParse, DelimiterRules) {
    const TDelimiterCase cases[] = {
        {"closing delimiter with trailing blanks does not close",
         "--b\r\n\r\none\r\n--b--  \r\n\r\ntail\r\n",
         {{}, {"one"}, {"tail"}},
         {"--b", "--b--  ", "--b--"}},
        {"delimiter inside a line splits the part there",
         "--b\r\n\r\nsee http://x/--b--\r\n",
         {{}, {"see http://x/"}},
         {"--b", "--b--"}},
        {"a longer boundary that starts with this one is no delimiter",
         "--b\r\n\r\none\r\n--b.REL\r\ntwo\r\n--b--\r\n",
         {{}, {"one", "--b.REL", "two"}},
         {"--b", "--b--"}},
        {"a delimiter followed by other text is none",
         "--b\r\n\r\none\r\n--b-->\r\nhidden\r\n",
         {{}, {"one", "--b-->", "hidden"}},
         {"--b", "--b--"}},
        {"missing closing delimiter: the last part takes the rest",
         "--b\r\n\r\none\r\ntwo\r\n",
         {{}, {"one", "two"}},
         {"--b", "--b--"}},
    };
    for (const TDelimiterCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parsed("Content-Type: multipart/mixed; boundary=b\r\n\r\n" + c.body);
        TEmailMsgPartCollection& parts = message->Parts();
        ASSERT_EQ(parts.Count(), static_cast<int>(c.raw.size()));
        for (int i = 0; i < parts.Count(); ++i) {
            EXPECT_EQ(parts.Items(i)->StoredRawText(), c.raw[static_cast<std::size_t>(i)]) << i;
            EXPECT_EQ(parts.Items(i)->BoundaryLine(), c.delimiters[static_cast<std::size_t>(i)]) << i;
        }
    }
}

TEST(EmailMsgPartWrite, DelimiterInsideALineStaysInsideItWhenTheBodyChanges) {
    auto message = Parsed(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
        "text with the --b\r\nafter\r\n--b--\r\n");
    TEmailMsgPartCollection& parts = message->Parts();
    ASSERT_EQ(parts.Count(), 3);
    TEmailMsgPart* text = parts.Items(1);
    EXPECT_EQ(text->StoredRawText(), Lines{"text with the "});
    Lines changed = text->StoredRawText();
    changed.insert(changed.begin(), "notice");
    text->EncodeFromStringList(changed, false);
    const Lines written = Written(*message);
    EXPECT_NE(std::find(written.begin(), written.end(), "text with the --b"), written.end());
    EXPECT_EQ(Parsed(TextOfLines(written))->Parts().Count(), 3);
}

TEST(EmailMsgPartParse, NestedPartWithoutBoundaryKeepsEverythingInItsPreamble) {
    auto message = Parsed(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: multipart/alternative\r\n\r\nx\r\n--c\r\ny\r\n--b--\r\n");
    TEmailMsgPart* inner = message->Parts().Items(1);
    ASSERT_EQ(inner->Children().Count(), 1);
    EXPECT_TRUE(inner->Children().Items(0)->IsPreamble());
    EXPECT_EQ(inner->Children().Items(0)->StoredRawText(), (Lines{"x", "--c", "y"}));
}

TEST(EmailMsgPartParse, Base64AttachedMessageIsDecodedAndReEncodedOnWriting) {
    const std::string inner =
        "Subject: inner\r\nContent-Type: text/plain\r\n\r\n" + std::string(100, 'z') + "\r\n";
    std::string encoded;
    for (const std::string& line : Base64EncodeLines(inner, 76))
        encoded += line + "\r\n";
    auto message = Parsed(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        encoded + "--b--\r\n");
    TEmailMsgPart* attached = message->Parts().Items(1);
    ASSERT_EQ(attached->Children().Count(), 1);
    TEmailMsgPart* body = attached->Children().Items(0);
    std::string subject;
    ASSERT_TRUE(body->Header()->GetField("Subject", subject));
    EXPECT_EQ(subject, "inner");
    EXPECT_EQ(body->StoredRawText(), Lines{std::string(100, 'z')});

    const Lines written = Written(*message);
    // Base64 of the serialised inner message, in lines of 60 characters now.
    const auto first = std::find(written.begin(), written.end(), "Content-Transfer-Encoding: base64");
    ASSERT_NE(first, written.end());
    std::string again;
    for (auto it = first + 2; it != written.end() && *it != "--b--"; ++it) {
        EXPECT_LE(it->size(), BASE64_ENCODED_LINE_LENGTH);
        again += Base64DecodeLine(*it);
    }
    EXPECT_EQ(again, inner);
}

TEST(EmailMsgPartParse, DigestEntriesWithoutTypeAreAttachedMessages) {
    auto message = Parsed(
        "Content-Type: multipart/digest; boundary=b\r\n\r\n--b\r\n\r\n"
        "Subject: inner\r\nContent-Type: text/plain\r\n\r\nmessage 1\r\n--b--\r\n");
    TEmailMsgPart* entry = message->Parts().Items(1);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->Header()->IsRfc822());
    ASSERT_EQ(entry->Children().Count(), 1);
    std::string subject;
    EXPECT_TRUE(entry->Children().Items(0)->Header()->GetField("Subject", subject));
    EXPECT_EQ(subject, "inner");
    EXPECT_EQ(message->FindBodyParts().plain, nullptr) << "the attached message's text is no body";

    auto mixed = Parsed("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n--b--\r\n");
    EXPECT_FALSE(mixed->Parts().Items(1)->Header()->IsRfc822());
}

TEST(EmailMsgPartParse, NestingDeeperThanTheBoundStaysOpaque) {
    // Boundaries "n<i>z": none is a substring of another.
    std::string text = "Content-Type: multipart/mixed; boundary=n0z\r\n\r\n";
    for (int i = 0; i < kMaxPartDepth + 20; ++i)
        text += "--n" + std::to_string(i) + "z\r\nContent-Type: multipart/mixed; boundary=n" +
                std::to_string(i + 1) + "z\r\n\r\n";
    text += "deep\r\n";
    auto message = Parsed(text);
    int levels = 0;
    TEmailMsgPart* part = message->Parts().Items(1);
    while (part != nullptr && !part->Children().Empty()) {
        ++levels;
        part = part->Children().Items(1);
    }
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(levels, kMaxPartDepth);
    EXPECT_EQ(part->Depth(), kMaxPartDepth);
    EXPECT_EQ(part->StoredRawText().back(), "deep");
    // Written back and parsed again, the text stays the same.
    const Lines written = Written(*message);
    EXPECT_EQ(Written(*Parsed(TextOfLines(written))), written);
}

TEST(EmailMsgPartWrite, ShortFormSnipsAttachmentBodies) {
    auto message = Parsed(kMixed);
    const Lines lines = Written(*message, false);
    const auto marker = std::find(lines.begin(), lines.end(), std::string(kSnipEncodedAttachment));
    ASSERT_NE(marker, lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "AAEC"), lines.end());
    // The entry ends in CR LF: written out, an empty line follows the marker.
    EXPECT_NE(TextOfLines(lines).find("[[[ Snip --- Encoded attachment --- Snip ]]]\r\n\r\n--b--"),
              std::string::npos);
}

TEST(EmailMsgPartCollection, DeletingTheLastPartKeepsTheClosingDelimiter) {
    auto message = Parsed(kMixed);
    message->Parts().Delete(2);
    ASSERT_EQ(message->Parts().Count(), 2);
    EXPECT_EQ(message->Parts().Items(1)->BoundaryLine(), "--b--");
    EXPECT_TRUE(message->IsModified());
    auto again = Parsed(TextOfLines(Written(*message)));
    EXPECT_EQ(again->Parts().Count(), 2);
}

TEST(EmailMsgPartCollection, RemovingEveryBodyPartLeavesAnEmptyTextPart) {
    auto message = Parsed(kMixed);
    TEmailMsgPartCollection& parts = message->Parts();
    EXPECT_FALSE(parts.KeepOneBodyPart()) << "body parts are left";
    parts.Delete(2);
    parts.Delete(1);
    ASSERT_TRUE(parts.KeepOneBodyPart());
    EXPECT_FALSE(parts.KeepOneBodyPart());
    ASSERT_EQ(parts.Count(), 2);
    EXPECT_EQ(parts.Items(0)->BoundaryLine(), "--b");
    EXPECT_EQ(parts.Items(1)->BoundaryLine(), "--b--");
    auto again = Parsed(TextOfLines(Written(*message)));
    ASSERT_EQ(again->Parts().Count(), 2);
    EXPECT_EQ(TypeOf(*again->Parts().Items(1)), "text/plain");
    EXPECT_EQ(again->Epilogue(), Lines{"epilogue"});
}

TEST(EmailMsgPartCollection, FindByFieldIgnoresCaseAndBlanks) {
    auto message = Parsed(
        "Content-Type: multipart/related; boundary=b\r\n\r\n--b\r\n"
        "Content-ID: < Img 1 >\r\n\r\nx\r\n--b--\r\n");
    EXPECT_EQ(message->FindPartByField("content-id", "<img1>"), message->Parts().Items(1));
    EXPECT_EQ(message->FindPartByField("Content-ID", "< IMG 1 >"), message->Parts().Items(1));
    EXPECT_EQ(message->FindPartByField("Content-ID", "<img2>"), nullptr);
}

TEST(EmailMsgPartContent, EncodeFromStringListOfAnEncodedPartReEncodesLazily) {
    auto message = Parsed(kMixed);
    TEmailMsgPart* attachment = message->Parts().Items(2);
    attachment->EncodeFromStringList({"hello", "world"}, false);
    EXPECT_EQ(Decoded(*attachment), "hello\r\nworld\r\n");
    EXPECT_EQ(attachment->RawText(), Base64EncodeLines("hello\r\nworld\r\n"));
    auto again = Parsed(TextOfLines(Written(*message)));
    EXPECT_EQ(Decoded(*again->Parts().Items(2)), "hello\r\nworld\r\n");
}

TEST(EmailMsgPartContent, DecodeFallsBackToTheRawTextWhenDecodingFails) {
    auto message = Parsed("Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\naGk=\r\n");
    std::stringstream stream;
    EXPECT_TRUE(message->Parts().Items(0)->DecodeToStream(stream, false));
    EXPECT_EQ(stream.str(), "hi");
}

TEST(EmailMsgPartImages, ReferencesAndTheirKinds) {
    struct Case {
        const char* html;
        std::vector<TImageRef> expected;
    };
    const Case cases[] = {
        {"<img src=\"cid:image001\">", {{"cid:image001", TImageRefKind::ContentId}}},
        {"<body background=\"bg.gif\">", {}},
        {"<body background=bg.gif>", {{"bg.gif", TImageRefKind::Background}}},
        {"<IMG alt=x SRC = \"http://a.example/p.gif?x=1\" width=1>",
         {{"http://a.example/p.gif?x=1", TImageRefKind::ImgSrc}}},
        // The reference is the run right after "type=image": here none.
        {"<input type=image src=x.gif>", {}},
        {"<input type=imagex.gif>", {{"x.gif", TImageRefKind::InputImage}}},
        {"<img src=\"logo.png\">", {{"logo.png", TImageRefKind::ContentLocation}}},
        {"<style>td { background: url(http://b.example/bg.png) }</style><p>",
         {{"http://b.example/bg.png", TImageRefKind::CssUrl}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        auto message = Parsed(
            "Content-Type: multipart/related; boundary=b\r\n\r\n--b\r\n"
            "Content-Type: text/html\r\n\r\n" + std::string(c.html) +
            "\r\n--b\r\nContent-Type: image/png\r\nContent-Location: logo.png\r\n\r\nx\r\n--b--\r\n");
        std::vector<TImageRef> refs;
        message->Parts().Items(1)->GetExtImageRefUrls(refs);
        EXPECT_EQ(refs, c.expected);
    }
}

TEST(EmailMsgPartImages, ComputedOnce) {
    auto message = Parsed("Content-Type: text/html\r\n\r\n<img src=a.gif>\r\n");
    TEmailMsgPart* part = message->Parts().Items(0);
    std::vector<TImageRef> refs;
    part->GetExtImageRefUrls(refs);
    part->EncodeFromStringList({"<img src=b.gif>"}, false);
    part->GetExtImageRefUrls(refs);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].url, "a.gif");
}

TEST(EmailMsgPartInfoBlocks, RemovesTheFirstCompleteBlockOnly) {
    struct Case {
        const char* name;
        std::string body;
        bool found;
        std::string after;
    };
    const std::string oldBegin(OLD_BEGIN_VORN_INFO_TEXT_STR);
    const std::string oldEnd(OLD_END_VORN_INFO_TEXT_STR);
    const Case cases[] = {
        {"begin marker alone", "a\r\n" + oldBegin + "\r\nb\r\n", false, "a\r\n" + oldBegin + "\r\nb\r\n"},
        {"old text pair", "a\r\n" + oldBegin + "\r\nnotice\r\n" + oldEnd + "\r\nb\r\n", true, "a\r\n\r\nb\r\n"},
        {"html pair", "x<!Begin_Vornsmithy_Information>n<!End_Vornsmithy_Information>y\r\n", true, "xy\r\n"},
        {"end before begin", "End_Vornsmithy_Information Begin_Vornsmithy_Information\r\n", true,
         "End_Vornsmithy_Information Begin_Vornsmithy_Information\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parsed("Content-Type: text/plain\r\n\r\n" + c.body);
        EXPECT_EQ(message->DoRemoveVornInfo(), c.found);
        EXPECT_EQ(Decoded(*message->Parts().Items(0)), c.after);
        EXPECT_FALSE(message->DoRemoveVornInfo()) << "runs once per message";
    }
}

TEST(EmailMsgPartHeaders, HeadersKnowTheirPartAfterTheTreeChanges) {
    auto message = Parsed(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: multipart/mixed; boundary=c\r\n\r\n--c\r\n\r\nnested\r\n--c--\r\n--b--\r\n");
    TEmailMsgPart* outer = message->Parts().Items(1);
    TEmailMsgPart* nested = outer->Children().Items(1);
    // No Content-Type: plain text only at the top level.
    EXPECT_FALSE(nested->Header()->IsPlainText());
    outer->Children().Detach(nested);
    message->Parts().Attach(nested);
    EXPECT_TRUE(nested->Header()->IsPlainText());
    EXPECT_EQ(nested->Header()->OwningPart(), nested);
    message->Parts().Detach(nested);
    EXPECT_EQ(nested->Header()->OwningPart(), nullptr);
    delete nested;
}

TEST(EmailMsgPartHeaders, ManyPartsParseAndWriteBack) {
    std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        text += "--b\r\nContent-Type: text/plain\r\n\r\npart " + std::to_string(i) + "\r\n";
    text += "--b--\r\n";
    auto message = Parsed(text);
    EXPECT_EQ(message->Parts().Count(), 5001);
    EXPECT_EQ(Written(*message), SplitLines(text));
}

}  // namespace
}  // namespace gatemoor
