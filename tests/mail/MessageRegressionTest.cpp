// Faults that real mail and the fuzzers found in the part tree and the message, each
// kept as the smallest message that showed it.
#include <gtest/gtest.h>

#include <algorithm>
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

std::unique_ptr<TEmailMsg> Parsed(Lines lines) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(false);
    (void)message->SetRawMail(lines);
    (void)message->Parts();
    return message;
}

Lines Written(TEmailMsg& message) {
    Lines lines;
    (void)message.SaveToLines(lines, true);
    return lines;
}

// Depth and media type of every part, pre-order.
std::string Shape(TEmailMsgPartCollection& parts) {
    std::string text;
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        std::string type;
        (void)part->Header()->GetFieldValue("Content-Type", type);
        text += std::to_string(part->Depth()) + ":" + (type.empty() ? "-" : type) +
                (part->IsPreamble() ? "(preamble)" : "") + " ";
        text += Shape(part->Children());
    }
    return text;
}

// --- A transfer-encoded multipart part ---

struct EncodedMultipartCase {
    const char* name;
    const char* encoding;
    Lines body;  // the part's body as it stands in the message
};

// A multipart part that names a transfer encoding is parsed from its decoded body. Its
// header is written by its preamble part, inside the body that is re-encoded: it must
// still come out in clear text, ahead of the encoded lines.
TEST(MessageRegression, EncodedMultipartPartKeepsItsHeaderInClearText) {
    const EncodedMultipartCase cases[] = {
        {"quoted-printable", "quoted-printable",
         {"pre", "--in", "Content-Type: text/plain", "", "caf=E9", "--in--"}},
        {"base64", "base64",
         // "pre\r\n--in\r\nContent-Type: text/plain\r\n\r\ninner\r\n--in--\r\n"
         {"cHJlDQotLWluDQpDb250ZW50LVR5cGU6IHRleHQvcGxhaW4NCg0KaW5uZXINCi0taW4tLQ0K"}},
    };
    for (const EncodedMultipartCase& c : cases) {
        SCOPED_TRACE(c.name);
        Lines original = {"Content-Type: multipart/mixed; boundary=\"out\"", "", "--out",
                          "Content-Type: multipart/alternative; boundary=\"in\"",
                          std::string("Content-Transfer-Encoding: ") + c.encoding, ""};
        original.insert(original.end(), c.body.begin(), c.body.end());
        original.emplace_back("--out--");

        auto message = Parsed(original);
        const std::string shape = Shape(message->Parts());
        ASSERT_EQ(shape,
                  "0:multipart/mixed(preamble) 0:multipart/alternative "
                  "1:multipart/alternative(preamble) 1:text/plain ");
        const Lines written = Written(*message);
        ASSERT_GE(written.size(), 6u);
        EXPECT_EQ(Lines(written.begin(), written.begin() + 6), Lines(original.begin(), original.begin() + 6))
            << "the part's header was not written in clear text before its body";

        auto again = Parsed(written);
        EXPECT_EQ(Shape(again->Parts()), shape);
        EXPECT_EQ(Written(*again), written);
    }
}

struct GuessedEncodingCase {
    const char* name;
    const char* disposition;  // of the nested multipart
};

// A nested multipart without Content-Transfer-Encoding gets a decoder by guessing:
// quoted-printable when its text has a soft line break ("=" at a line end, as the
// checksum line of a PGP signature has), base64 when it counts as an attachment. Its
// parts are parsed from the lines as they stand: decoding by the guess removed every
// '=' of the inner headers ("charset=us-ascii" became "charsetus-ascii") and nothing
// encoded them again.
TEST(MessageRegression, MultipartWithoutNamedEncodingIsParsedFromItsLines) {
    const GuessedEncodingCase cases[] = {
        {"sniffed quoted-printable", "inline"},
        {"attachment taken for base64", "attachment; filename=\"signed.txt\""},
    };
    for (const GuessedEncodingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Lines original = {"Content-Type: multipart/mixed; boundary=\"out\"",
                                "",
                                "--out",
                                "Content-Type: multipart/signed; boundary=\"sig\"",
                                std::string("Content-Disposition: ") + c.disposition,
                                "",
                                "--sig",
                                "Content-Type: text/plain; charset=us-ascii",
                                "",
                                "signed text",
                                "--sig",
                                "Content-Type: application/pgp-signature; name=\"signature.asc\"",
                                "",
                                "-----BEGIN PGP SIGNATURE-----",
                                "iQIVAwUBUvPn/Tk1h9l9hlALAQisewE=",
                                "=Yv8A",
                                "-----END PGP SIGNATURE-----",
                                "--sig--",
                                "--out--"};
        auto message = Parsed(original);
        TEmailMsgPart* signedPart = message->Parts().Items(1);
        ASSERT_NE(signedPart, nullptr);
        ASSERT_EQ(signedPart->Children().Count(), 3);
        std::string charset;
        EXPECT_TRUE(signedPart->Children().Items(1)->Header()->GetParam("Content-Type", "charset", charset));
        EXPECT_EQ(charset, "us-ascii");
        const Lines& signature = signedPart->Children().Items(2)->StoredRawText();
        EXPECT_NE(std::find(signature.begin(), signature.end(), "iQIVAwUBUvPn/Tk1h9l9hlALAQisewE="),
                  signature.end());
        EXPECT_EQ(Written(*message), original);
    }
}

// --- A message that is an attached message ---

// A message whose own Content-Type is message/rfc822 holds one attached message. When
// that one is a multipart, its parts are the message's top-level parts after the part
// with the attached header and preamble, as they are inside a multipart. The first
// part, first and multipart, counts as a preamble and never parsed its body: the
// attachment inside went unseen.
TEST(MessageRegression, AttachedMultipartMessageAtTheTopIsSplitIntoItsParts) {
    const Lines original = {"Subject: outer",
                            "Content-Type: message/rfc822",
                            "",
                            "Subject: inner",
                            "Content-Type: multipart/mixed; boundary=\"in\"",
                            "",
                            "preamble",
                            "--in",
                            "Content-Type: text/plain",
                            "",
                            "text",
                            "--in",
                            "Content-Type: application/octet-stream; name=\"run.exe\"",
                            "Content-Transfer-Encoding: base64",
                            "",
                            "TVqQAA==",
                            "--in--",
                            "epilogue"};
    auto message = Parsed(original);
    EXPECT_EQ(Shape(message->Parts()),
              "0:multipart/mixed(preamble) 0:text/plain 0:application/octet-stream ");
    TEmailMsgPart* attachment = message->Parts().Items(2);
    ASSERT_NE(attachment, nullptr);
    EXPECT_TRUE(attachment->Header()->IsAttachment());
    std::string bytes;
    (void)attachment->DecodeToBytes(bytes);
    EXPECT_EQ(bytes, std::string("MZ\x90\x00", 4));
    EXPECT_EQ(message->Epilogue(), Lines{"epilogue"});
    EXPECT_EQ(Written(*message), original);
}

// The same in base64: the attached message is read from its decoded text, under the one
// top-level part, and encoded again when written. Its header used to be read from the
// encoded lines, which then made one header of lines without ':' and no parts at all.
TEST(MessageRegression, EncodedAttachedMessageAtTheTopIsParsedFromItsDecodedText) {
    const Lines original = {"Subject: outer",
                            "Content-Type: message/rfc822",
                            "Content-Transfer-Encoding: base64",
                            "",
                            "U3ViamVjdDogaW5uZXINCkNvbnRlbnQtVHlwZTogbXVsdGlwYXJ0L21peGVk",
                            "OyBib3VuZGFyeT0iaW4iDQoNCi0taW4NCkNvbnRlbnQtVHlwZTogYXBwbGlj",
                            "YXRpb24vb2N0ZXQtc3RyZWFtOyBuYW1lPSJydW4uZXhlIg0KQ29udGVudC1U",
                            "cmFuc2Zlci1FbmNvZGluZzogYmFzZTY0DQoNClRWcVFBQT09DQotLWluLS0N",
                            "Cg=="};
    auto message = Parsed(original);
    EXPECT_EQ(Shape(message->Parts()),
              "0:message/rfc822 1:multipart/mixed(preamble) 1:application/octet-stream ");
    TEmailMsgPart* attachment = message->Parts().Items(0)->Children().Items(1);
    ASSERT_NE(attachment, nullptr);
    EXPECT_TRUE(attachment->Header()->IsAttachment());
    std::string bytes;
    (void)attachment->DecodeToBytes(bytes);
    EXPECT_EQ(bytes, std::string("MZ\x90\x00", 4));
    EXPECT_EQ(Written(*message), original);
}

struct EmptyContainerCase {
    const char* name;
    const char* type;
    const char* encoding;  // empty: none
};

// A multipart or attached-message part with no line before the next delimiter has no
// sub-parts. A child parsed from nothing wrote an empty header, and under a named
// encoding that came out as a line of base64 ("DQo="): the message grew on every
// reading.
TEST(MessageRegression, EmptyContainerPartGetsNoChildren) {
    const EmptyContainerCase cases[] = {
        {"attached message in base64", "message/rfc822", "base64"},
        {"attached message", "message/rfc822", ""},
        {"multipart in quoted-printable", "multipart/mixed; boundary=\"in\"", "quoted-printable"},
    };
    for (const EmptyContainerCase& c : cases) {
        SCOPED_TRACE(c.name);
        Lines original = {"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b",
                          std::string("Content-Type: ") + c.type};
        if (*c.encoding != '\0') original.push_back(std::string("Content-Transfer-Encoding: ") + c.encoding);
        original.emplace_back();
        original.emplace_back("--b--");
        auto message = Parsed(original);
        ASSERT_EQ(message->Parts().Count(), 2);
        EXPECT_TRUE(message->Parts().Items(1)->Children().Empty());
        EXPECT_EQ(Written(*message), original);
    }
}

// --- A boundary found in the body ---

struct FoundBoundaryCase {
    const char* name;
    const char* delimiter;    // as the body writes it
    const char* contentType;  // the main Content-Type after parsing
    const char* shape;
};

// A multipart message without boundary parameter gets the delimiter found in its body,
// and the parameter is set so that the written message says it. The parameter must
// read back as that delimiter: an unquoted boundary ends at a blank, so "a b" set as
// it stood made the written message split at "--a" the next time. A delimiter that no
// parameter can name leaves the body whole.
TEST(MessageRegression, BoundaryFoundInTheBodyIsStoredSoThatItReadsBackTheSame) {
    const FoundBoundaryCase cases[] = {
        {"plain", "--xyz", "multipart/mixed; boundary=xyz",
         "0:multipart/mixed(preamble) 0:text/plain "},
        {"with blanks", "--a b c", "multipart/mixed; boundary=\"a b c\"",
         "0:multipart/mixed(preamble) 0:text/plain "},
        {"with a quote", "--a\"b c", "multipart/mixed", "0:multipart/mixed(preamble) "},
    };
    for (const FoundBoundaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string delimiter = c.delimiter;
        const Lines original = {"Content-Type: multipart/mixed", "", "preamble", delimiter,
                                "Content-Type: text/plain", "", "text", delimiter + "--"};
        auto message = Parsed(original);
        std::string type;
        EXPECT_TRUE(message->Header().GetField("Content-Type", type));
        EXPECT_EQ(type, c.contentType);
        const std::string shape = Shape(message->Parts());
        EXPECT_EQ(shape, c.shape);
        const Lines written = Written(*message);
        auto again = Parsed(written);
        EXPECT_EQ(Shape(again->Parts()), shape);
        EXPECT_EQ(Written(*again), written);
        // Body editing relies on the main header naming the top level's delimiter.
        auto edited = Parsed(original);
        (void)edited->AddPlainTextPart();
        const Lines editedLines = Written(*edited);
        auto editedAgain = Parsed(editedLines);
        EXPECT_EQ(Written(*editedAgain), editedLines);
    }
}

// --- A header that runs into a delimiter ---

struct HeaderIntoDelimiterCase {
    const char* name;
    Lines message;
    const char* shape;
};

// A header block runs to the first empty line, and a line without ':' in it is no field
// but stays in the header. A header that lacked its empty line took the delimiter after
// it and the next part's header lines in, and with them the part itself: a mail program
// shows that part, so the screen must see it too. The header now ends before a line that
// is a delimiter of the enclosing multipart or of its own boundary.
TEST(MessageRegression, HeaderThatRunsIntoADelimiterLeavesItToTheBody) {
    const HeaderIntoDelimiterCase cases[] = {
        {"part header into the next delimiter",
         {"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "Content-Type: text/plain",
          "--b", "Content-Type: application/x-msdownload; name=\"run.exe\"", "", "MZ", "--b--"},
         "0:multipart/mixed(preamble) 0:text/plain 0:application/x-msdownload "},
        {"delimiter twice",
         {"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "--b",
          "Content-Type: text/plain", "", "text", "--b--"},
         "0:multipart/mixed(preamble) 0:- 0:text/plain "},
        {"main header into the first delimiter",
         {"Content-Type: multipart/mixed; boundary=\"b\"", "X-Note: no empty line", "--b",
          "Content-Type: application/x-msdownload; name=\"run.exe\"", "", "MZ", "--b--"},
         "0:multipart/mixed(preamble) 0:application/x-msdownload "},
        {"main header after a blank continuation line",
         {"Content-Type: multipart/mixed;", " boundary=\"b\"", " ", "--b",
          "Content-Type: application/x-msdownload; name=\"run.exe\"", "", "MZ", "--b--"},
         "0:multipart/mixed(preamble) 0:application/x-msdownload "},
        {"main header without boundary, found in the body",
         {"Content-Type: multipart/mixed", "X-Note: no empty line", "--b",
          "Content-Type: application/x-msdownload; name=\"run.exe\"", "", "MZ", "--b--"},
         "0:multipart/mixed(preamble) 0:application/x-msdownload "},
        // No empty line and no body: the boundary found later must not end the header
        // on the next reading either.
        {"main header without boundary to the end of the message",
         {"Content-Type: multipart/mixed", "not a field", "--bxx"},
         "0:multipart/mixed(preamble) "},
        {"nested multipart header into its own first delimiter",
         {"Content-Type: multipart/mixed; boundary=\"out\"", "", "--out",
          "Content-Type: multipart/alternative; boundary=\"in\"", "--in",
          "Content-Type: text/html", "", "<p>x</p>", "--in--", "--out--"},
         "0:multipart/mixed(preamble) 0:multipart/alternative 1:multipart/alternative(preamble) "
         "1:text/html "},
    };
    for (const HeaderIntoDelimiterCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parsed(c.message);
        EXPECT_EQ(Shape(message->Parts()), c.shape);
        const Lines written = Written(*message);
        auto again = Parsed(written);
        EXPECT_EQ(Shape(again->Parts()), c.shape) << "the tree changed when written back";
        EXPECT_EQ(Written(*again), written);
    }
}

// --- A multipart that never closes ---

// A nested multipart that reuses the boundary of the one around it can never find its
// own closing delimiter. Writing one back for it would end the outer multipart there
// too, and the parts after it would be gone on the next reading: the message is
// written back as it stood.
TEST(MessageRegression, NestedMultipartReusingTheOuterBoundaryGetsNoClosingDelimiter) {
    const Lines original = {"Content-Type: multipart/mixed; boundary=\"same\"",
                            "",
                            "--same",
                            "Content-Type: multipart/alternative; boundary=\"same\"",
                            "",
                            "",
                            "--same",
                            "Content-Type: text/plain",
                            "",
                            "text",
                            "--same",
                            "Content-Type: application/octet-stream",
                            "",
                            "data",
                            "--same--"};
    auto message = Parsed(original);
    const std::string shape = Shape(message->Parts());
    EXPECT_EQ(shape,
              "0:multipart/mixed(preamble) 0:multipart/alternative "
              "1:multipart/alternative(preamble) 0:text/plain 0:application/octet-stream ");
    EXPECT_EQ(Written(*message), original);
    auto again = Parsed(Written(*message));
    EXPECT_EQ(Shape(again->Parts()), shape);
}

struct MissingCloseCase {
    const char* name;
    const char* innerBoundary;
    bool closingWritten;
};

// The closing delimiter that a nested multipart lacks is written back after its last
// part unless it would also read as the delimiter of the multipart around it.
TEST(MessageRegression, MissingClosingDelimiterIsAddedUnlessAnOuterBodyWouldEndThere) {
    const MissingCloseCase cases[] = {
        {"own boundary", "inner", true},
        {"outer boundary reused", "outer", false},
        {"outer boundary as its start", "outer-and-more", false},
        {"outer delimiter inside it", "x--outer", false},
        {"a boundary the outer one starts with", "out", true},
    };
    for (const MissingCloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string inner = c.innerBoundary;
        const Lines original = {"Content-Type: multipart/mixed; boundary=\"outer\"",
                                "",
                                "--outer",
                                "Content-Type: multipart/alternative; boundary=\"" + inner + "\"",
                                "",
                                "no delimiter of its own",
                                "--outer",
                                "Content-Type: text/plain",
                                "",
                                "after",
                                "--outer--"};
        auto message = Parsed(original);
        const std::string shape = Shape(message->Parts());
        Lines expected = original;
        if (c.closingWritten) expected.insert(expected.begin() + 6, "--" + inner + "--");
        const Lines written = Written(*message);
        EXPECT_EQ(written, expected);
        auto again = Parsed(written);
        EXPECT_EQ(Shape(again->Parts()), shape) << "the tree changed when written back";
    }
}

}  // namespace
}  // namespace gatemoor
