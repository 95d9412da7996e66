#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/VornUrl.h"
#include "platform/SettingsStore.h"
#include "screening/AttachmentAnalysis.h"
#include "screening/EmailInfo.h"
#include "screening/PictureHandling.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilFolders.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kSection = "Security Settings";

constexpr std::string_view kHeader =
    "From: sender@example.com\n"
    "To: user@example.com\n"
    "Subject: Pictures\n"
    "MIME-Version: 1.0\n";

// "PICTURE-1" in Base64: the bytes a saved picture must hold.
constexpr std::string_view kPictureBytes = "PICTURE-1";
constexpr std::string_view kPictureBase64 = "UElDVFVSRS0x";

// One body part of a multipart with boundary "b": its header lines, then a body.
std::string Part(std::string_view headers, std::string_view body = kPictureBase64) {
    return "--b\n" + std::string(headers) + "\n" + std::string(body) + "\n";
}

std::string PicturePart(std::string_view headers) {
    return Part(std::string(headers) + "Content-Transfer-Encoding: base64\n");
}

// An HTML body with the pictures that the parts hold, as mail programs send it.
std::string Related(std::string_view html, std::string_view parts = {}) {
    return std::string(kHeader) + "Content-Type: multipart/related; boundary=\"b\"\n\n" +
           Part("Content-Type: text/html; charset=us-ascii\n", html) + std::string(parts) + "--b--\n";
}

std::string Mixed(std::string_view html, std::string_view parts) {
    return std::string(kHeader) + "Content-Type: multipart/mixed; boundary=\"b\"\n\n" +
           Part("Content-Type: text/html; charset=us-ascii\n", html) + std::string(parts) + "--b--\n";
}

std::string HtmlOnly(std::string_view html) {
    return std::string(kHeader) + "Content-Type: text/html; charset=us-ascii\n\n" + std::string(html) + "\n";
}

// The "Pictures" choice and, for "More Options", the values below it.
void SetPictures(int pictures, std::optional<int> embedded = {}, std::optional<int> download = {},
                 std::optional<int> attachments = {}) {
    platform::SetIntegerOverride(kSection, "Pictures", pictures);
    if (embedded) platform::SetIntegerOverride(kSection, "Embedded Images", *embedded);
    if (download) platform::SetIntegerOverride(kSection, "Download Images", *download);
    if (attachments) platform::SetIntegerOverride(kSection, "Image Attachments", *attachments);
}

// Every src="..." value of an HTML text, in order.
Lines Sources(std::string_view html) {
    Lines found;
    static const std::regex src("src=\"([^\"]*)\"");
    const std::string text(html);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), src); it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

struct TParsedLink {
    std::string command;
    Lines params;
};

TParsedLink ParseLink(std::string_view link) {
    TVornUrl url;
    url.Parse(link);
    EXPECT_EQ(url.Host(), "LocalHost") << link;
    EXPECT_EQ(url.Port(), ReportServicePort()) << link;
    return {url.Command(), url.Params()};
}

// One message loaded from literal text as the pipeline holds it.
class Screening {
public:
    explicit Screening(std::string_view text) {
        message_.SetSaveOnDestroy(false);
        message_.SetEnsureTextBodyFlag(false);
        Lines lines = SplitLines(text);
        EXPECT_TRUE(message_.SetRawMail(lines));
        const TBodyParts parts = message_.FindBodyParts();
        ctx.message = &message_;
        ctx.textPart = parts.plain;
        ctx.htmlPart = parts.html;
        original_ = Written();
    }

    TEmailMsg& Message() { return message_; }
    [[nodiscard]] int RecordId() const { return message_.Info().Id(); }
    [[nodiscard]] const Lines& Original() const { return original_; }

    Lines Written() {
        Lines lines;
        EXPECT_TRUE(message_.SaveToLines(lines, true));
        return lines;
    }

    // The written message loaded afresh, as the mail program will see it.
    std::unique_ptr<TEmailMsg> Reloaded() {
        auto copy = std::make_unique<TEmailMsg>();
        copy->SetSaveOnDestroy(false);
        copy->SetEnsureTextBodyFlag(false);
        Lines lines = Written();
        EXPECT_TRUE(copy->SetRawMail(lines));
        return copy;
    }

    // The HTML of the written message.
    std::string Html() {
        const auto reloaded = Reloaded();
        TEmailMsgPart* html = reloaded->FindBodyParts().html;
        if (html == nullptr) return {};
        Lines lines;
        (void)html->DecodeToStringList(lines, false);
        return TextOfLines(lines);
    }

    Lines Notices() {
        Lines lines;
        const TSimpleHtml& info = ctx.GeneralInfo();
        for (std::size_t i = 0; i < info.Count(); ++i)
            lines.push_back(info.Line(i));
        return lines;
    }

    bool HasPart(std::string_view field, std::string_view value) {
        return Reloaded()->FindPartByField(field, value) != nullptr;
    }

    TScreeningContext ctx;

private:
    TEmailMsg message_;
    Lines original_;
};

std::string Notice(std::string_view text) {
    return "<br>" + std::string(text);
}

std::string EmbeddedNotice(std::string_view name) {
    return Notice("Gatemoor removed the picture \"" + std::string(name) + "\" that was embedded in this e-mail.");
}

std::string AttachedNotice(std::string_view name) {
    return Notice("Gatemoor removed the picture \"" + std::string(name) + "\" that was attached to this e-mail.");
}

const std::string kOneExternalNotice = Notice("Gatemoor removed a reference to external picture from this e-mail.");

const std::string kPlaceholder = "http://LocalHost:6173/Image?Name=DotClear.gif";

// The files of the Images folder.
Lines SavedPictures() {
    Lines names;
    for (const auto& entry : fs::directory_iterator(ImagesFolder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PictureHandling : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ClearIntegerOverrides();
        fs::remove_all(ImagesFolder());
    }
    void TearDown() override { platform::ClearIntegerOverrides(); }
};

// --- The decisions -------------------------------------------------------------------------

struct DecisionCase {
    const char* name;
    std::optional<int> pictures, embedded, download, attachments;
    TPictureDecisions expected;
};

TEST_F(PictureHandling, DecisionsFollowTheChoiceAndTheMoreOptions) {
    // Fields: blockEmbedded, promptEmbedded, blockAttached, blockExternal, promptExternal.
    const DecisionCase cases[] = {
        {"nothing stored: Prompt", {}, {}, {}, {}, {false, true, false, false, true}},
        {"Block Pictures", 0, {}, {}, {}, {true, false, true, true, false}},
        {"Allow All", 1, {}, {}, {}, {}},
        {"Prompt", 2, {}, {}, {}, {false, true, false, false, true}},
        {"Prompt ignores the options", 2, 0, 0, 0, {false, true, false, false, true}},
        {"Block ignores the options", 0, 2, 2, 1, {true, false, true, true, false}},
        // Unset options read as Prompt, Ignore and Ignore: pictures from the internet are
        // left alone here, whatever the stored default of the window says.
        {"More Options, nothing else stored", 3, {}, {}, {}, {false, true, false, false, false}},
        {"More Options, all blocked", 3, 0, 0, 0, {true, false, true, true, false}},
        {"More Options, all prompted", 3, 1, 1, {}, {false, true, false, false, true}},
        {"More Options, all ignored", 3, 2, 2, 1, {}},
        {"More Options, only attachments blocked", 3, 2, 2, 0, {false, false, true, false, false}},
        {"an unknown choice allows all", 9, 0, 0, 0, {}},
    };
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ClearIntegerOverrides();
        if (c.pictures) SetPictures(*c.pictures, c.embedded, c.download, c.attachments);
        const TPictureDecisions d = ReadPictureDecisions();
        EXPECT_EQ(d.blockEmbedded, c.expected.blockEmbedded);
        EXPECT_EQ(d.promptEmbedded, c.expected.promptEmbedded);
        EXPECT_EQ(d.blockAttached, c.expected.blockAttached);
        EXPECT_EQ(d.blockExternal, c.expected.blockExternal);
        EXPECT_EQ(d.promptExternal, c.expected.promptExternal);
    }
}

// --- The links ---------------------------------------------------------------------------

TEST_F(PictureHandling, LinksCarryTheirParametersInOrder) {
    EXPECT_EQ(BlockedPictureLink(), kPlaceholder);
    EXPECT_EQ(DeferredEmbeddedPictureLink("logo(aB3dE).gif", 42),
              "http://LocalHost:6173/EmbeddedImage?Name=logo%28aB3dE%29.gif&CId=42");
    EXPECT_EQ(DeferredEmbeddedPictureLink("", 7), "http://LocalHost:6173/EmbeddedImage?CId=7");

    // Packed texts are Base64, whose '+' must not come back as a blank.
    const std::string references[] = {"http://tracker.example/open.gif?u=1&m=2",
                                      "http://a.example/~~~~>>>>.gif", "x"};
    for (const std::string& reference : references) {
        SCOPED_TRACE(reference);
        const std::string link = DeferredExternalPictureLink(kMaxEmailInfoId, reference);
        const TParsedLink parsed = ParseLink(link);
        EXPECT_EQ(parsed.command, "ImagePrompt");
        ASSERT_EQ(parsed.params.size(), 2u);
        EXPECT_EQ(parsed.params[0], "CId=" + std::to_string(kMaxEmailInfoId));
        ASSERT_TRUE(parsed.params[1].starts_with("EncUrl="));
        EXPECT_EQ(UnpackText(parsed.params[1].substr(7)), reference);
        EXPECT_EQ(link.find(reference), std::string::npos);
    }
}

// --- Embedded pictures ----------------------------------------------------------------------

const std::string kLogoMessage =
    Related("<html><body><p>Hi</p><img src=\"cid:logo1\"></body></html>",
            PicturePart("Content-Type: image/gif; name=\"logo.gif\"\nContent-ID: <logo1>\n"));

TEST_F(PictureHandling, BlockedEmbeddedPictureBecomesThePlaceholderAndItsPartGoes) {
    SetPictures(0);
    Screening s(kLogoMessage);
    HandlePictures(s.ctx);
    EXPECT_EQ(Sources(s.Html()), Lines{kPlaceholder});
    EXPECT_FALSE(s.HasPart("Content-ID", "<logo1>"));
    EXPECT_EQ(s.Notices(), Lines{EmbeddedNotice("logo.gif")});
    EXPECT_TRUE(s.ctx.noticeFlag);
    EXPECT_TRUE(s.ctx.modifiedFlag);
    EXPECT_TRUE(SavedPictures().empty());
}

TEST_F(PictureHandling, BlockedEmbeddedPictureNoticesByReferenceKind) {
    struct Case {
        const char* name;
        std::string html;
        std::string part;
        std::string notice;
    };
    const Case cases[] = {
        {"unnamed cid: part", "<img src=\"cid:pic\">", "Content-Type: image/png\nContent-ID: <pic>\n",
         Notice("Gatemoor removed a picture that was embedded in this e-mail.")},
        {"cid: without angle brackets", "<img src=\"cid:pic\">", "Content-Type: image/png; name=p.png\nContent-ID: pic\n",
         EmbeddedNotice("p.png")},
        {"location reference", "<img src=\"http://example.com/pic.gif\">",
         "Content-Type: image/gif; name=pic.gif\nContent-Location: http://example.com/pic.gif\n", EmbeddedNotice("pic.gif")},
        {"name from the disposition", "<img src=\"cid:pic\">",
         "Content-Type: image/png\nContent-Disposition: inline; filename=\"d.png\"\nContent-ID: <pic>\n",
         EmbeddedNotice("d.png")},
        {"a sender's markup in the name", "<img src=\"cid:pic\">",
         "Content-Type: image/png; name=\"<b>x.png\"\nContent-ID: <pic>\n", EmbeddedNotice("&lt;b&gt;x.png")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPictures(0);
        Screening s(Related(c.html, PicturePart(c.part)));
        HandlePictures(s.ctx);
        EXPECT_EQ(Sources(s.Html()), Lines{kPlaceholder});
        EXPECT_EQ(s.Notices(), Lines{c.notice});
        EXPECT_EQ(s.Reloaded()->Parts().Count(), 2) << "the preamble and the HTML part";
        EXPECT_TRUE(s.ctx.noticeFlag);
    }
}

// The first "Name" that a deferred link carries comes from the part it names.
std::string NameOf(const TParsedLink& link) {
    for (const std::string& param : link.params)
        if (param.starts_with("Name=")) return param.substr(5);
    return {};
}

TEST_F(PictureHandling, PromptedEmbeddedPictureIsSavedAndLinked) {
    SetPictures(2);
    Screening s(kLogoMessage);
    HandlePictures(s.ctx);

    const Lines sources = Sources(s.Html());
    ASSERT_EQ(sources.size(), 1u);
    const TParsedLink link = ParseLink(sources[0]);
    EXPECT_EQ(link.command, "EmbeddedImage");
    ASSERT_EQ(link.params.size(), 2u);
    const std::string name = NameOf(link);
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(logo\([A-Za-z0-9]{5}\)\.gif)"))) << name;
    EXPECT_EQ(link.params[0], "Name=" + name);
    EXPECT_EQ(link.params[1], "CId=" + std::to_string(s.RecordId()));

    EXPECT_EQ(SavedPictures(), Lines{name});
    EXPECT_EQ(test::ReadFile(ImagesFolder() + "/" + name), kPictureBytes);
    EXPECT_FALSE(s.HasPart("Content-ID", "<logo1>"));
    EXPECT_TRUE(s.Notices().empty());
    EXPECT_FALSE(s.ctx.noticeFlag);
    EXPECT_TRUE(s.ctx.modifiedFlag);
}

TEST_F(PictureHandling, PromptedPictureWithoutNameGetsANumber) {
    struct Case {
        const char* name;
        std::string contentType;
        std::string pattern;
    };
    const Case cases[] = {
        {"declared type", "Content-Type: image/png\n", R"(\d+\([A-Za-z0-9]{5}\)\.png)"},
        {"type without extension", "Content-Type: application/x-no-such-type\n", R"(\d+\([A-Za-z0-9]{5}\)\.jpg)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(ImagesFolder());
        SetPictures(2);
        Screening s(Related("<img src=\"cid:p\">", PicturePart(c.contentType + "Content-ID: <p>\n")));
        HandlePictures(s.ctx);
        const Lines saved = SavedPictures();
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_TRUE(std::regex_match(saved[0], std::regex(c.pattern))) << saved[0];
        const std::string number = saved[0].substr(0, saved[0].find('('));
        EXPECT_LE(std::stoll(number), kMaxEmailInfoId);
        EXPECT_EQ(NameOf(ParseLink(Sources(s.Html()).at(0))), saved[0]);
    }
}

TEST_F(PictureHandling, ReferenceWithoutPartNamesThePictureSavedLast) {
    // The walk runs from the last reference to the first.
    struct Case {
        const char* name;
        std::string html;
        bool missingHasName;
    };
    const Case cases[] = {
        {"missing reference walked first", "<img src=\"cid:a\"><img src=\"cid:missing\">", false},
        {"missing reference walked last", "<img src=\"cid:missing\"><img src=\"cid:a\">", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPictures(2);
        Screening s(Related(c.html, PicturePart("Content-Type: image/gif; name=a.gif\nContent-ID: <a>\n")));
        HandlePictures(s.ctx);
        const Lines sources = Sources(s.Html());
        ASSERT_EQ(sources.size(), 2u);
        const std::size_t missing = c.missingHasName ? 0 : 1;
        const TParsedLink found = ParseLink(sources[1 - missing]);
        const TParsedLink orphan = ParseLink(sources[missing]);
        EXPECT_EQ(orphan.command, "EmbeddedImage");
        if (c.missingHasName) {
            EXPECT_EQ(orphan.params, found.params);
        } else {
            EXPECT_EQ(orphan.params, Lines{"CId=" + std::to_string(s.RecordId())});
        }
        EXPECT_EQ(NameOf(found).substr(0, 2), "a(");
    }
}

TEST_F(PictureHandling, SavedNamesStayShortAndQuoteFree) {
    SetPictures(2);
    const std::string longName(300, 'n');
    Screening s(Related("<img src=\"cid:x\"><img src=\"cid:y\">",
                        PicturePart("Content-Type: image/gif; name=\"" + longName + ".gif\"\nContent-ID: <x>\n") +
                            PicturePart("Content-Type: image/gif; name=\"it's `a`.gif\"\nContent-ID: <y>\n")));
    HandlePictures(s.ctx);
    const Lines saved = SavedPictures();
    ASSERT_EQ(saved.size(), 2u);
    for (const std::string& name : saved) {
        SCOPED_TRACE(name);
        EXPECT_LT(name.size(), 130u);
        EXPECT_EQ(name.find_first_of("'`"), std::string::npos);
        EXPECT_EQ(test::ReadFile(ImagesFolder() + "/" + name), kPictureBytes);
    }
    for (const std::string& source : Sources(s.Html()))
        EXPECT_EQ(source.find_first_of("'`"), std::string::npos) << source;
}

TEST_F(PictureHandling, PictureThatCannotBeSavedEndsTheScreening) {
    SetPictures(2);
    const std::string folder = ImagesFolder();
    fs::remove_all(folder);
    test::WriteFile(folder, "a file where the folder should be");
    Screening s(kLogoMessage);
    EXPECT_THROW(HandlePictures(s.ctx), EPictureFileError);
    fs::remove(folder);
}

TEST_F(PictureHandling, BodyPartThatNamesItselfIsNeverRemoved) {
    // A sender can give the HTML part the Content-id that its own picture reference names.
    const std::string message = std::string(kHeader) +
                                "Content-Type: multipart/related; boundary=\"b\"\n\n" +
                                Part("Content-Type: text/html; charset=us-ascii\nContent-ID: <self>\n",
                                     "<p>x</p><img src=\"cid:self\">") +
                                "--b--\n";
    for (const int pictures : {0, 2}) {
        SCOPED_TRACE(pictures);
        SetPictures(pictures);
        Screening s(message);
        HandlePictures(s.ctx);
        ASSERT_NE(s.ctx.htmlPart, nullptr);
        const std::string html = s.Html();
        EXPECT_NE(html.find("<p>x</p>"), std::string::npos);
        EXPECT_EQ(html.find("cid:self"), std::string::npos);
        EXPECT_TRUE(s.HasPart("Content-ID", "<self>"));
    }
}

TEST_F(PictureHandling, MultipartThatLooksLikeAPictureKeepsItsStructure) {
    // The first part of a multipart shares its header, here one with a picture's name and
    // a Content-ID the HTML refers to; it carries the opening delimiter.
    SetPictures(0);
    Screening s(std::string(kHeader) +
                "Content-Type: multipart/related; boundary=\"b\"; name=\"x.gif\"\nContent-ID: <top>\n\n" +
                Part("Content-Type: text/html; charset=us-ascii\n", "<p>kept</p><img src=\"cid:top\">") + "--b--\n");
    HandlePictures(s.ctx);
    const std::string html = s.Html();
    EXPECT_NE(html.find("<p>kept</p>"), std::string::npos) << TextOfLines(s.Written());
    EXPECT_EQ(Sources(html), Lines{kPlaceholder});
    EXPECT_TRUE(s.Notices().empty());
}

// --- External pictures ----------------------------------------------------------------------

TEST_F(PictureHandling, BlockedExternalReferencesAreCountedOncePerAddress) {
    struct Case {
        const char* name;
        std::string html;
        std::string notice;
        std::size_t placeholders;
    };
    const std::string tracker = "<img src=\"http://tracker.example/o.gif\">";
    const Case cases[] = {
        {"one address three times", tracker + "<p>a</p>" + tracker + "<p>b</p>" + tracker, kOneExternalNotice, 3},
        {"two addresses", tracker + "<img src=\"https://cdn.example/b.png\">",
         Notice("Gatemoor removed 2 references to external pictures from this e-mail."), 2},
        // Walked first, the shorter address must leave the longer one whole.
        {"an address that begins another", "<img src=\"http://tracker.example/o.gif?id=5\">" + tracker,
         Notice("Gatemoor removed 2 references to external pictures from this e-mail."), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPictures(0);
        Screening s(HtmlOnly(c.html));
        HandlePictures(s.ctx);
        EXPECT_EQ(Sources(s.Html()), Lines(c.placeholders, kPlaceholder));
        EXPECT_EQ(s.Notices(), Lines{c.notice});
        EXPECT_TRUE(s.ctx.noticeFlag);
        EXPECT_TRUE(s.ctx.modifiedFlag);
    }
}

TEST_F(PictureHandling, EveryKindOfExternalReferenceIsReplaced) {
    SetPictures(0);
    Screening s(HtmlOnly(
        "<html><head><style>body { background: url(http://a.example/bg.png) }</style></head>"
        "<body background=http://a.example/back.gif><img src=\"http://a.example/img.gif\"></body></html>"));
    HandlePictures(s.ctx);
    const std::string html = s.Html();
    EXPECT_EQ(html.find("a.example"), std::string::npos) << html;
    EXPECT_NE(html.find("url(" + kPlaceholder + ")"), std::string::npos) << html;
    EXPECT_NE(html.find("background=" + kPlaceholder + ">"), std::string::npos) << html;
    EXPECT_EQ(s.Notices(), Lines{Notice("Gatemoor removed 3 references to external pictures from this e-mail.")});
}

TEST_F(PictureHandling, LinksToTheLocalServiceAreNeverReplaced) {
    const std::string html =
        "<img src=\"http://LocalHost:6173/Image?Name=DotClear.gif\">"
        "<img src=\"HTTP://LOCALHOST:6173/x.gif\"><img src=\"http://localhost/y.gif\">";
    for (const int pictures : {0, 2}) {
        SCOPED_TRACE(pictures);
        SetPictures(pictures);
        Screening s(HtmlOnly(html));
        HandlePictures(s.ctx);
        EXPECT_EQ(s.Written(), s.Original());
        EXPECT_TRUE(s.Notices().empty());
        EXPECT_FALSE(s.ctx.noticeFlag);
        EXPECT_FALSE(s.ctx.modifiedFlag);
    }
}

TEST_F(PictureHandling, PromptedExternalReferencesBecomeDeferredLinks) {
    SetPictures(2);
    const std::string first = "http://tracker.example/o.gif";
    const std::string second = "http://tracker.example/o.gif?id=5";
    Screening s(HtmlOnly("<img src=\"" + first + "\"><img src=\"" + second + "\"><img src=\"" + first + "\">"));
    HandlePictures(s.ctx);
    const Lines sources = Sources(s.Html());
    ASSERT_EQ(sources.size(), 3u);
    const std::string expected[] = {first, second, first};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TParsedLink link = ParseLink(sources[i]);
        EXPECT_EQ(link.command, "ImagePrompt");
        ASSERT_EQ(link.params.size(), 2u);
        EXPECT_EQ(link.params[0], "CId=" + std::to_string(s.RecordId()));
        EXPECT_EQ(UnpackText(link.params[1].substr(std::string_view("EncUrl=").size())), expected[i]);
    }
    EXPECT_EQ(s.Notices(), Lines{Notice("Gatemoor removed 2 references to external pictures from this e-mail.")});
    EXPECT_FALSE(s.ctx.noticeFlag);
    EXPECT_TRUE(s.ctx.modifiedFlag);
}

// --- Pictures attached to the message ------------------------------------------------------

struct AttachmentCase {
    const char* name;
    std::string headers;
    bool multipleExtensions;
    bool picture;
    std::string shownName;
};

TEST_F(PictureHandling, AttachedPicturesAreRecognisedByNameOrType) {
    const AttachmentCase cases[] = {
        {"jpg by name", "Content-Type: application/octet-stream; name=photo.jpg\n", false, true, "photo.jpg"},
        {"upper-case tif by name", "Content-Type: application/octet-stream; name=SCAN.TIF\n", false, true, "SCAN.TIF"},
        {"name from the disposition",
         "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"p.jpeg\"\n", false, true,
         "p.jpeg"},
        {"two extensions, no picture type", "Content-Type: application/octet-stream; name=photo.jpg.exe\n", true,
         false, ""},
        {"two extensions, declared picture", "Content-Type: image/jpeg; name=photo.jpg.exe\n", true, true,
         "photo.jpg.exe"},
        {"unnamed picture by type", "Content-Type: IMAGE/PNG\nContent-Disposition: attachment\n", false, true,
         "Unnamed Picture"},
        {"a document", "Content-Type: application/pdf; name=report.pdf\n", false, false, ""},
    };
    for (const AttachmentCase& c : cases) {
        for (const int pictures : {0, 2}) {
            SCOPED_TRACE(std::string(c.name) + ", Pictures " + std::to_string(pictures));
            SetPictures(pictures);
            Screening s(Mixed("<p>Hello</p>", PicturePart(c.headers)));
            TEmailMsgPart* attachment = s.Message().Parts().Items(2);
            ASSERT_NE(attachment, nullptr);
            attachment->Screening.MultipleExtensions = c.multipleExtensions;
            const bool removed = CheckPictureAttachments(s.ctx, PictureReferences(s.ctx), s.Message().Parts());
            const bool blocked = c.picture && pictures == 0;
            EXPECT_EQ(removed, blocked);
            EXPECT_EQ(s.Message().Parts().Count(), blocked ? 2 : 3);
            EXPECT_EQ(s.Notices(), blocked ? Lines{AttachedNotice(c.shownName)} : Lines{});
            EXPECT_EQ(s.ctx.noticeFlag, blocked);
            if (!blocked) {
                EXPECT_EQ(attachment->Screening.KeepAsPicture, c.picture);
            }
        }
    }
}

TEST_F(PictureHandling, MoreOptionsKeepAttachedPicturesAndBlockEmbeddedOnes) {
    // "Image Attachments" 1 (Ignore) with "Embedded Images" 0 (Block).
    SetPictures(3, 0, 2, 1);
    Screening s(Mixed("<img src=\"cid:used\">",
                      PicturePart("Content-Type: image/jpeg; name=photo.jpg\nContent-Disposition: attachment\n") +
                          PicturePart("Content-Type: image/gif; name=used.gif\nContent-ID: <used>\n") +
                          PicturePart("Content-Type: image/gif; name=spare.gif\nContent-ID: <spare>\n")));
    HandlePictures(s.ctx);
    EXPECT_EQ(s.Notices(), (Lines{EmbeddedNotice("used.gif"), EmbeddedNotice("spare.gif")}));
    TEmailMsgPartCollection& parts = s.Message().Parts();
    ASSERT_EQ(parts.Count(), 3);
    std::string name;
    ASSERT_TRUE(parts.Items(2)->Header()->GetParam("Content-Type", "name", name));
    EXPECT_EQ(name, "photo.jpg");
    EXPECT_TRUE(parts.Items(2)->Screening.KeepAsPicture);
    EXPECT_EQ(Sources(s.Html()), Lines{kPlaceholder});
    EXPECT_TRUE(s.ctx.noticeFlag);
}

TEST_F(PictureHandling, KeptPictureSurvivesTheBlockAllPass) {
    SetPictures(2);
    Screening s(Mixed("<p>Hello</p>", PicturePart("Content-Type: image/jpeg; name=photo.jpg\n") +
                                          PicturePart("Content-Type: application/pdf; name=report.pdf\n")));
    EXPECT_FALSE(CheckPictureAttachments(s.ctx, PictureReferences(s.ctx), s.Message().Parts()));
    EXPECT_TRUE(RemoveAllAttachments(s.ctx, s.Message().Parts()));
    const std::string written = TextOfLines(s.Written());
    EXPECT_NE(written.find("photo.jpg"), std::string::npos);
    EXPECT_EQ(written.find("report.pdf"), std::string::npos);
}

TEST_F(PictureHandling, PicturesWithoutHtmlReferencesCountAsAttached) {
    // A Content-ID alone does not make a picture embedded when the HTML refers to nothing.
    SetPictures(3, 0, 2, 1);
    Screening s(Mixed("<p>no pictures</p>", PicturePart("Content-Type: image/gif; name=a.gif\nContent-ID: <a>\n")));
    HandlePictures(s.ctx);
    EXPECT_EQ(s.Message().Parts().Count(), 3);
    EXPECT_TRUE(s.Message().Parts().Items(2)->Screening.KeepAsPicture);
    EXPECT_FALSE(s.ctx.noticeFlag);
}

TEST_F(PictureHandling, NestedPicturesAreCheckedLastFirst) {
    SetPictures(0);
    const std::string nested = "--b\nContent-Type: multipart/mixed; boundary=\"inner\"\n\n"
                               "--inner\nContent-Type: image/png; name=one.png\nContent-Transfer-Encoding: base64\n\n" +
                               std::string(kPictureBase64) +
                               "\n--inner\nContent-Type: image/png; name=two.png\nContent-Transfer-Encoding: base64\n\n" +
                               std::string(kPictureBase64) + "\n--inner--\n";
    Screening s(Mixed("<p>x</p>", nested));
    EXPECT_TRUE(CheckPictureAttachments(s.ctx, {}, s.Message().Parts()));
    EXPECT_EQ(s.Notices(), (Lines{AttachedNotice("two.png"), AttachedNotice("one.png")}));
    const std::string written = TextOfLines(s.Written());
    EXPECT_EQ(written.find(".png"), std::string::npos);
    // The emptied container still opens and closes: one empty body part stays in it.
    EXPECT_NE(written.find("\r\n--inner\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\r\n--inner--\r\n"), std::string::npos) << written;
    const auto reloaded = s.Reloaded();
    ASSERT_EQ(reloaded->Parts().Count(), 3);
    EXPECT_EQ(reloaded->Parts().Items(2)->Children().Count(), 2);
}

// --- Nothing to do -------------------------------------------------------------------------

TEST_F(PictureHandling, AllowAllAndIgnoreLeaveTheMessageAlone) {
    const std::string message =
        Mixed("<img src=\"cid:logo1\"><img src=\"http://tracker.example/o.gif\">",
              PicturePart("Content-Type: image/gif; name=logo.gif\nContent-ID: <logo1>\n") +
                  PicturePart("Content-Type: image/jpeg; name=photo.jpg\n"));
    struct Case {
        const char* name;
        int pictures;
        std::optional<int> embedded, download, attachments;
    };
    const Case cases[] = {{"Allow All", 1, {}, {}, {}}, {"More Options, all ignored", 3, 2, 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPictures(c.pictures, c.embedded, c.download, c.attachments);
        Screening s(message);
        HandlePictures(s.ctx);
        EXPECT_EQ(s.Written(), s.Original());
        EXPECT_TRUE(s.Notices().empty());
        EXPECT_FALSE(s.ctx.noticeFlag);
        EXPECT_FALSE(s.ctx.modifiedFlag);
        EXPECT_TRUE(SavedPictures().empty());
    }
}

TEST_F(PictureHandling, StagesNeedTheHtmlPart) {
    SetPictures(0);
    Screening s(kLogoMessage);
    s.ctx.htmlPart = nullptr;  // forgotten by the HTML checks
    HandlePictures(s.ctx);
    // Only the attachment check runs; without references the picture counts as attached.
    EXPECT_EQ(s.Notices(), Lines{AttachedNotice("logo.gif")});
    EXPECT_NE(TextOfLines(s.Written()).find("cid:logo1"), std::string::npos);
}

// --- Real messages ----------------------------------------------------------------------

const Lines& CorpusFiles() {
    static const Lines files = [] {
        Lines found;
        const fs::path root(GATEMOOR_CORPUS_DIR);
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
             it.increment(error)) {
            if (it->is_regular_file() && it->path().extension() == ".eml") found.push_back(it->path().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }();
    return files;
}

bool IsLocalServiceLink(std::string_view reference) {
    return AsciiLower(reference).starts_with("http://localhost");
}

TEST_F(PictureHandling, CorpusMessagesKeepNoPictureReferenceFromElsewhere) {
    if (CorpusFiles().empty()) GTEST_SKIP() << "no corpus at " << GATEMOOR_CORPUS_DIR;
    int withReferences = 0;
    for (const int pictures : {0, 2}) {
        SetPictures(pictures);
        for (const std::string& file : CorpusFiles()) {
            SCOPED_TRACE(file + ", Pictures " + std::to_string(pictures));
            Screening s(test::ReadFile(file));
            if (s.ctx.htmlPart == nullptr) continue;
            const TImageRefList before = PictureReferences(s.ctx);
            ASSERT_NO_THROW(HandlePictures(s.ctx));
            if (before.empty()) continue;
            ++withReferences;
            const auto reloaded = s.Reloaded();
            TEmailMsgPart* html = reloaded->FindBodyParts().html;
            ASSERT_NE(html, nullptr);
            TImageRefList after;
            html->GetExtImageRefUrls(after);
            for (const TImageRef& ref : after) {
                // A reference that the link itself holds cannot be replaced.
                const bool inLink = BlockedPictureLink().find(ref.url) != std::string::npos;
                EXPECT_TRUE(IsLocalServiceLink(ref.url) || inLink) << ref.url;
            }
        }
    }
    EXPECT_GT(withReferences, 0);
}

}  // namespace
}  // namespace gatemoor
