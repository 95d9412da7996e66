#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "screening/AttachmentAnalysis.h"
#include "screening/EmailInfo.h"
#include "screening/FileExtensions.h"
#include "support/TestSupport.h"

namespace gatemoor {

void PrintTo(const TDangerReason& reason, std::ostream* out) {
    *out << "{\"" << reason.text << "\", " << reason.points << "}";
}

namespace {

using Lines = std::vector<std::string>;

constexpr std::string_view kClassId = "{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr std::string_view kUnnamedMark = "<unnamed>";

Lines SplitLines(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The header lines of an attachment that names itself in both places.
std::string Named(std::string_view name, std::string_view type = "application/octet-stream",
                  std::string_view disposition = "attachment") {
    return "Content-Type: " + std::string(type) + "; name=\"" + std::string(name) +
           "\"\n"
           "Content-Disposition: " +
           std::string(disposition) + "; filename=\"" + std::string(name) +
           "\"\n"
           "Content-Transfer-Encoding: base64\n";
}

std::string Unnamed(std::string_view type = "application/x-gatemoor-unknown") {
    return "Content-Type: " + std::string(type) +
           "\n"
           "Content-Disposition: attachment\n"
           "Content-Transfer-Encoding: base64\n";
}

// A multipart/mixed message: a text body, then each attachment (its header lines) with a
// small base64 body.
std::string Mixed(const std::vector<std::string>& attachments, std::string_view subject = "Invoice",
                  std::string_view mainType = "multipart/mixed; boundary=\"sep\"") {
    std::string text =
        "From: sender@example.com\nTo: user@example.com\nSubject: " + std::string(subject) +
        "\nMIME-Version: 1.0\n"
        "Content-Type: " +
        std::string(mainType) +
        "\n\n"
        "This is a multi-part message.\n"
        "--sep\n"
        "Content-Type: text/plain; charset=us-ascii\n"
        "\n"
        "Hello\n";
    for (const std::string& attachment : attachments)
        text += "--sep\n" + attachment + "\nTVqQAAMAAAAEAAAA\n";
    return text + "--sep--\n";
}

std::string NameOf(const TEmailHeader& header) {
    std::string name;
    return header.GetFileName(name) ? name : std::string(kUnnamedMark);
}

void CollectAttachments(TEmailMsgPartCollection& parts, std::vector<TEmailMsgPart*>& found) {
    for (int i = 0; i < parts.Count(); ++i) {
        TEmailMsgPart* part = parts.Items(i);
        const TEmailHeader* header = part->Header();
        if (header != nullptr && (header->IsAttachment() || header->IsInlineAttachment()))
            found.push_back(part);
        CollectAttachments(part->Children(), found);
    }
}

// The names of the attachments of a message, in tree order.
Lines AttachmentNames(TEmailMsg& message) {
    std::vector<TEmailMsgPart*> parts;
    CollectAttachments(message.Parts(), parts);
    Lines names;
    for (TEmailMsgPart* part : parts)
        names.push_back(NameOf(*part->Header()));
    return names;
}

Lines Texts(const TSimpleHtml& html) {
    return html.Lines();
}

bool HasLine(const TSimpleHtml& html, std::string_view line) {
    const Lines lines = html.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The content of a boxed section: its lines inside the box, without the line naming this
// computer's program for a file type, which depends on the desktop.
Lines BoxContent(const TSimpleHtml& section) {
    Lines content;
    bool inside = false;
    for (const std::string& line : section.Lines()) {
        if (line.find("<BlockQuote>") != std::string::npos) {
            inside = true;
        } else if (line.find("</BlockQuote>") != std::string::npos) {
            inside = false;
        } else if (inside && line.find("Application associated with") == std::string::npos) {
            content.push_back(line);
        }
    }
    return content;
}

std::string DangerLine(std::string_view open, int percent, std::string_view close) {
    return "<br>" + std::string(open) + "  The danger level associated with this attachment is " +
           std::to_string(percent) + "%.<br>" + std::string(close);
}

// One message loaded from literal text with the parts that the pipeline would hold.
class Screening {
public:
    Screening(std::string_view text, TFileExtensionList& extensions) {
        message_.SetSaveOnDestroy(false);
        message_.SetEnsureTextBodyFlag(false);
        Lines lines = SplitLines(text);
        EXPECT_TRUE(message_.SetRawMail(lines));
        const TBodyParts body = message_.FindBodyParts();
        ctx.message = &message_;
        ctx.extensions = &extensions;
        ctx.textPart = body.plain;
        ctx.htmlPart = body.html;
    }

    TEmailMsg& Message() { return message_; }

    std::vector<TEmailMsgPart*> Attachments() {
        std::vector<TEmailMsgPart*> parts;
        CollectAttachments(message_.Parts(), parts);
        return parts;
    }

    // The only attachment called `name`.
    TEmailMsgPart& Attachment(std::string_view name) {
        for (TEmailMsgPart* part : Attachments())
            if (NameOf(*part->Header()) == name) return *part;
        ADD_FAILURE() << "no attachment " << name;
        return *message_.Parts().Items(0);
    }

    [[nodiscard]] const TSimpleHtml& AttachmentInfo() const { return ctx.AttachmentInfo(); }
    [[nodiscard]] Lines GeneralInfo() const { return Texts(ctx.GeneralInfo()); }
    [[nodiscard]] std::vector<TDangerReason> Reasons() const {
        return message_.Info().DangerReasons();
    }

    // The written message loaded afresh, as the mail program will see it.
    std::unique_ptr<TEmailMsg> Reloaded() {
        Lines lines;
        EXPECT_TRUE(message_.SaveToLines(lines, true));
        auto copy = std::make_unique<TEmailMsg>();
        copy->SetSaveOnDestroy(false);
        copy->SetEnsureTextBodyFlag(false);
        EXPECT_TRUE(copy->SetRawMail(lines));
        return copy;
    }

    // What survived: the attachment names of the written message, after checking that it
    // still has its text body.
    Lines Remaining() {
        auto copy = Reloaded();
        TEmailMsgPart* plain = copy->FindBodyParts().plain;
        EXPECT_NE(plain, nullptr) << "the text body is gone";
        if (plain != nullptr) {
            Lines body;
            (void)plain->DecodeToStringList(body, false);
            EXPECT_NE(std::find(body.begin(), body.end(), "Hello"), body.end());
        }
        return AttachmentNames(*copy);
    }

    TScreeningContext ctx;

private:
    TEmailMsg message_;
};

// What the analysis found out about a part, for comparing as a whole.
struct Outcome {
    int risk = -1;
    int points = 0;
    int maxSpaceRun = 0;
    bool multipleNames = false;
    bool differentNameExtensions = false;
    bool noName = false;
    bool multipleExtensions = false;
    bool benignHidesDangerous = false;
    bool excessiveSpaces = false;
    bool deceptiveMimeType = false;
    std::string classIdName{};
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{risk " << o.risk << ", points " << o.points << ", spaces " << o.maxSpaceRun
               << ", names " << o.multipleNames << o.differentNameExtensions << o.noName
               << ", extensions " << o.multipleExtensions << o.benignHidesDangerous
               << ", excessive " << o.excessiveSpaces << ", deceptive " << o.deceptiveMimeType
               << ", class id \"" << o.classIdName << "\"}";
}

Outcome OutcomeOf(const TEmailMsgPart& part) {
    const TPartScreening& s = part.Screening;
    return {s.Risk,
            s.DangerPoints,
            s.MaxSpaceRun,
            s.MultipleNames,
            s.DifferentNameExtensions,
            s.NoName,
            s.MultipleExtensions,
            s.BenignHidesDangerous,
            s.ExcessiveSpaces,
            s.DeceptiveMimeType,
            s.ClassIdName};
}

constexpr std::string_view kGreen = "<font color=green>";
constexpr std::string_view kOrange = "<font color=orange>";
constexpr std::string_view kOrangeBold = "<font color=orange><b>";
constexpr std::string_view kRedBold = "<font color=red><b>";

std::string_view CloseOf(std::string_view open) {
    return open.ends_with("<b>") ? std::string_view("</b></font>") : std::string_view("</font>");
}

class AttachmentAnalysis : public ::testing::Test {
protected:
    AttachmentAnalysis() { extensions_.LoadDefaults(); }
    void SetUp() override { WriteSetting(settings::kAttachmentBlocking, 1); }

    TFileExtensionList extensions_;
};

TEST_F(AttachmentAnalysis, AMessageWithoutAttachmentsSaysSo) {
    Screening s(Mixed({}), extensions_);
    FCheckAttachedFiles(s.ctx);
    EXPECT_EQ(Texts(s.AttachmentInfo()), Lines{"<br>  No attachments found."});
    EXPECT_TRUE(s.Reasons().empty());
    EXPECT_EQ(s.ctx.attachments.attachmentCount, 0);
}

// One named attachment each: the points from its name and type, the total before the
// clamp, and the coloured line after it.
TEST_F(AttachmentAnalysis, NamesAndTypesGiveTheirPoints) {
    const std::string classIdName = "folder." + std::string(kClassId);
    struct Case {
        const char* name;
        std::string headers;
        int total;  // before the clamp
        std::string_view colour;
        Outcome outcome;
    };
    const Case cases[] = {
        {"two extensions, the last very high",
         Named("invoice.txt.exe", "application/x-msdownload"),
         110,
         kRedBold,
         {.risk = 3, .points = 100, .multipleExtensions = true, .benignHidesDangerous = true}},
        {"plain text", Named("readme.txt", "text/plain"), 0, kGreen, {.risk = 0}},
        // The risk is the larger of the part's and the extension's, so it stays unset.
        {"a negative risk lowers the points", Named("key.asc", "text/plain"), -20, kGreen, {}},
        {"four blanks in a row",
         Named("file    name.doc", "application/msword"),
         26,
         kRedBold,
         {.risk = 1, .points = 26, .maxSpaceRun = 4, .excessiveSpaces = true}},
        {"three blanks in a row",
         Named("a   b.txt", "text/plain"),
         12,
         kOrangeBold,
         {.risk = 0, .points = 12, .maxSpaceRun = 3, .excessiveSpaces = true}},
        {"two blanks add nothing",
         Named("file  name.doc", "application/msword"),
         10,
         kOrange,
         {.risk = 1, .points = 10}},
        {"blanks at the very end do not count",
         Named("notes.txt    ", "text/plain"),
         0,
         kGreen,
         {.risk = 0}},
        {"a program sent as a picture",
         Named("photo.exe", "image/jpeg"),
         80,
         kRedBold,
         {.risk = 3, .points = 80, .deceptiveMimeType = true}},
        {"a class id as the extension",
         Named(classIdName),
         100,
         kRedBold,
         {.risk = -1, .points = 100, .classIdName = "My Computer"}},
        {"a class id behind a known extension",
         Named("x.txt." + std::string(kClassId)),
         110,
         kRedBold,
         {.risk = -1, .points = 100, .multipleExtensions = true, .classIdName = "My Computer"}},
        {"an unknown extension", Named("data.xyz"), 0, kGreen, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(Mixed({c.headers}), extensions_);
        FCheckAttachedFiles(s.ctx);
        const std::vector<TEmailMsgPart*> attachments = s.Attachments();
        ASSERT_EQ(attachments.size(), 1u);
        const TEmailMsgPart& part = *attachments.front();
        EXPECT_EQ(OutcomeOf(part), c.outcome);
        const TSimpleHtml& info = s.AttachmentInfo();
        EXPECT_TRUE(HasLine(info, "<br>Total danger level associated with this attachment is " +
                                      std::to_string(c.total) + "."));
        EXPECT_TRUE(HasLine(info, DangerLine(c.colour, c.outcome.points, CloseOf(c.colour))));
        EXPECT_EQ(Texts(info).front(), "<br>" + std::to_string(c.outcome.points) +
                                           " danger points added to message due to attachment " +
                                           NameOf(*part.Header()));
        const std::vector<TDangerReason> reasons = s.Reasons();
        if (c.outcome.points == 0) {
            EXPECT_TRUE(reasons.empty());
        } else {
            EXPECT_EQ(reasons, (std::vector<TDangerReason>{{"Attachment", c.outcome.points}}));
        }
    }
}

TEST_F(AttachmentAnalysis, TheSectionOfABenignExtensionHidingAProgram) {
    Screening s(Mixed({Named("invoice.txt.exe", "application/x-msdownload")}), extensions_);
    FCheckAttachedFiles(s.ctx);
    ASSERT_EQ(s.Message().AttachmentSections().Count(), 1u);
    const std::string exeReference = extensions_.CopyOf("exe")->References().at(0);
    const Lines expected{
        DangerLine(kRedBold, 100, "</b></font>"),
        "<br>  Full name of attachment is \"invoice.txt.exe\".",
        "<!InLineWarning>",
        "<!InLineWarningPoints>",
        "<br>  The sender of this attachment considered it to be:\"application/x-msdownload\" "
        "(MIME type).",
        "<br> <font color=Red><b>  Warning:</b></font> Two file extensions found.  Multiple file "
        "extensions are some times used by virus writers to hide the true nature of the sent "
        "file.",
        "<br>10 danger points added to attachment due to multiple file extensions in name. In "
        "addition, in this case a relatively risky file type (EXE) may appear to be a relatively "
        "benign file type(TXT).",
        "<br>50 danger points added to attachment due to benign file extension hiding dangerous "
        "file extension.",
        "<br>",
        "<br>  Information on the second file extension is as follows:",
        "<br><font color=Red>  Overall risk inherent in opening files with extension\".EXE\" is "
        "very high.</font>",
        "<br>50 danger points added to attachment due to high risk file extension EXE.",
        "<br>  A file with a \".EXE\" extension is usually a: Executable File.",
        "<br>  For more information please see:",
        "<br>  " + exeReference,
        "<br>  This computer considers this attachment to be:\"application/x-msdownload\".",
        "<br>",
        "<br>  Information on the first file extension is as follows:",
        "<br>  Overall risk inherent in opening files with extension\".TXT\" is low.",
        "<br>0 danger points added to attachment due to file extension risk TXT.",
        "<br>  A file with a \".TXT\" extension is usually a: ASCII Text File (i.e. plain, safe "
        "unformatted text).",
        "<br>  This computer considers this attachment to be:\"text/plain\".",
        "<br>  This is not the same type as the sender claims it is.",
        "<br>  The file extension for this MIME type is EXE",
        "<br>Total danger level associated with this attachment is 110.",
    };
    EXPECT_EQ(BoxContent(s.Message().AttachmentSections()[0]), expected);

    // The report carries the message's points line, then the boxed section.
    const TSimpleHtml& info = s.AttachmentInfo();
    ASSERT_GE(info.Count(), 3u);
    EXPECT_EQ(info.ModeOf(0), TSimpleHtmlMode::HtmlOnly);
    EXPECT_EQ(info.Line(1), "<br>Information about attachment \"invoice.txt.exe\":");
    EXPECT_EQ(info.ModeOf(1), TSimpleHtmlMode::TextOnly);
    EXPECT_EQ(BoxContent(info), expected);
}

TEST_F(AttachmentAnalysis, PointsLinesAreForTheHtmlReportOnly) {
    Screening s(Mixed({Named("file    name.doc", "application/msword")}), extensions_);
    FCheckAttachedFiles(s.ctx);
    const TSimpleHtml& section = s.Message().AttachmentSections()[0];
    bool sawPoints = false;
    for (std::size_t i = 0; i < section.Count(); ++i) {
        const std::string& line = section.Line(i);
        if (line.find("danger points added to attachment") == std::string::npos) continue;
        SCOPED_TRACE(line);
        sawPoints = true;
        EXPECT_EQ(section.ModeOf(i), TSimpleHtmlMode::HtmlOnly);
    }
    EXPECT_TRUE(sawPoints);
    EXPECT_TRUE(
        HasLine(section,
                "<br><font color=red><b>  Warning:</b></font> 4 consecutive spaces found in "
                "attached file name. Excessive spaces are often used by virus writers to "
                "hide the true nature of the sent file by causing the file extension not "
                "to be displayed."));
    EXPECT_TRUE(HasLine(section,
                        "<br>16 danger points added to attachment due to consecutive "
                        "space characters in name."));
}

TEST_F(AttachmentAnalysis, AttachmentsWithoutAName) {
    const std::string blankSubject = "Look           here";  // 11 blanks
    struct Case {
        const char* name;
        std::string headers;
        std::string subject;
        Outcome outcome;
        Lines present;
        Lines absent;
    };
    const std::string noNameLine =
        "<br>  <font color=red>Attached file had no name specified.<br>This is suspicious</font>";
    const std::string subjectLine =
        "<br>  <font color=red>Subject line indicates attempted security exploit.</font>";
    const Case cases[] = {
        {"a type that maps to a program",
         Unnamed("application/x-msdownload"),
         "Invoice",
         {.risk = 3, .points = 100, .noName = true},
         {noNameLine, "<br>  The file extension for this MIME type is EXE",
          "<br>  The sender of this attachment considered it to be:\"application/x-msdownload\" "
          "(MIME type)."},
         {subjectLine}},
        {"a type without an extension",
         Unnamed(),
         "Invoice",
         {.risk = -1, .points = 20, .noName = true},
         {noNameLine, "<br>  There is no file extention mapped to this file type."},
         {subjectLine}},
        {"no type at all, whatever the subject",
         "Content-Disposition: attachment\nContent-Transfer-Encoding: base64\n",
         blankSubject,
         {.risk = -1, .points = 50, .noName = true},
         {noNameLine, subjectLine,
          "<br>  There is no file type information at all supplied for this file.",
          "<!SenderMimeType>"},
         {}},
        {"a subject with more than ten blanks",
         Unnamed(),
         blankSubject,
         {.risk = -1, .points = 90, .noName = true},
         {subjectLine},
         {}},
        {"a subject with ten blanks",
         Unnamed(),
         "Look          here",
         {.risk = -1, .points = 20, .noName = true},
         {},
         {subjectLine}},
        {"an attached message needs no name",
         "Content-Type: message/rfc822\nContent-Disposition: attachment\n\n"
         "Subject: inner\nContent-Type: text/plain\n",
         "Invoice",
         {.risk = -1, .points = 20, .noName = true},
         {"<br>  There is no file extention mapped to this file type."},
         {noNameLine}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(Mixed({c.headers}, c.subject), extensions_);
        FCheckAttachedFiles(s.ctx);
        const std::vector<TEmailMsgPart*> attachments = s.Attachments();
        ASSERT_EQ(attachments.size(), 1u);
        EXPECT_EQ(OutcomeOf(*attachments.front()), c.outcome);
        const TSimpleHtml& info = s.AttachmentInfo();
        EXPECT_EQ(info.Line(0), "<br>" + std::to_string(c.outcome.points) +
                                    " danger points added to message due to attachment "
                                    "<No name supplied>");
        EXPECT_TRUE(HasLine(info, "<br>Information about attachment \"<No name supplied>\":"));
        for (const std::string& line : c.present)
            EXPECT_TRUE(HasLine(info, line)) << line;
        for (const std::string& line : c.absent)
            EXPECT_FALSE(HasLine(info, line)) << line;
    }
}

TEST_F(AttachmentAnalysis, TwoAttachmentsAreNumberedAndTheFirstPointsCount) {
    Screening s(Mixed({Named("notes.doc", "application/msword"),
                       Named("setup.exe", "application/x-msdownload")}),
                extensions_);
    FCheckAttachedFiles(s.ctx);
    EXPECT_EQ(s.ctx.attachments.attachmentCount, 2);
    EXPECT_EQ(s.ctx.attachments.runningNumber, 2);
    const TSimpleHtml& info = s.AttachmentInfo();
    EXPECT_TRUE(HasLine(info, "<br>Information about attachment number 1 of 2 \"notes.doc\":"));
    EXPECT_TRUE(HasLine(info, "<br>Information about attachment number 2 of 2 \"setup.exe\":"));
    EXPECT_TRUE(HasLine(
        info,
        "   <td width=\"50%\"><font size=\"-1\"><b>Information about attachment number 1 of "
        "2 &quot;notes.doc&quot;:</b></font></td>"));
    EXPECT_EQ(s.Attachment("notes.doc").Screening.DangerPoints, 10);
    EXPECT_EQ(s.Attachment("setup.exe").Screening.DangerPoints, 50);
    // Both are the reason "Attachment"; a reason is recorded once.
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"Attachment", 10}}));
    EXPECT_EQ(s.Message().TotalDangerPoints(), 10);
}

TEST_F(AttachmentAnalysis, AnExtensionDescribedAgainGoesOneLevelDeeper) {
    Screening s(Mixed({Named("first.txt", "text/plain"), Named("second.txt", "text/plain")}),
                extensions_);
    FCheckAttachedFiles(s.ctx);
    TSimpleHtmlList& sections = s.Message().AttachmentSections();
    ASSERT_EQ(sections.Count(), 2u);
    const auto levelOfRiskLine = [](const TSimpleHtml& section) {
        for (std::size_t i = 0; i < section.Count(); ++i)
            if (section.Line(i).find("Overall risk inherent") != std::string::npos)
                return section.LevelOf(i);
        return -1;
    };
    EXPECT_EQ(levelOfRiskLine(sections[0]), TSimpleHtml::kDefaultLevel);
    EXPECT_EQ(levelOfRiskLine(sections[1]), TSimpleHtml::kDefaultLevel + 1);
    EXPECT_EQ(s.ctx.attachments.describedExtensions, (std::set<std::string>{"txt"}));
}

TEST_F(AttachmentAnalysis, MoreThanOneNameIsAFinding) {
    // The disposition names a program, the type a harmless picture behind text.
    Screening s(Mixed({"Content-Type: application/x-msdownload; name=\"setup.txt.gif\"\n"
                       "Content-Disposition: attachment; filename=\"setup.exe\"\n"
                       "Content-Transfer-Encoding: base64\n"}),
                extensions_);
    FCheckAttachedFiles(s.ctx);
    TEmailMsgPart& part = s.Attachment("setup.exe");
    // 10 + 20 for the names, 50 for the program, 10 for the two extensions of the decoy.
    EXPECT_EQ(OutcomeOf(part), (Outcome{.risk = 3,
                                        .points = 90,
                                        .multipleNames = true,
                                        .differentNameExtensions = true,
                                        .multipleExtensions = true}));
    const TSimpleHtml& info = s.AttachmentInfo();
    EXPECT_TRUE(HasLine(info,
                        "<br><font color=><b>  Warning:</b></font> More than one name was supplied "
                        "for this file.  This could be an attempt to confuse your security "
                        "software.  The supplied names are: \"setup.exe\" and \"setup.txt.gif\"."));
    EXPECT_TRUE(HasLine(info,
                        "<br>20 danger points added to attachment due to different file ext on the "
                        "diff names., and \"setup.txt.gif\".  The name your email program will "
                        "probably recognize is \"setup.exe\"."));

    // The decoy's harmless last extension does not lower the program's risk.
    WriteSetting(settings::kAttachmentBlocking, 2);
    EXPECT_TRUE(ApplyAttachmentBlocking(s.ctx));
    EXPECT_EQ(s.GeneralInfo(), (Lines{"<br>Gatemoordeleted an attachment \"setup.txt.gif\" from "
                                      "this e-mail because it's danger level was very high"}));
    EXPECT_TRUE(s.Remaining().empty());
}

TEST_F(AttachmentAnalysis, AnUnsafeInlineRequestCountsAfterTheClamp) {
    Screening s(Mixed({Named("run.exe", "application/x-msdownload", "inline")}), extensions_);
    FCheckAttachedFiles(s.ctx);
    TEmailMsgPart& part = s.Attachment("run.exe");
    EXPECT_EQ(part.Screening.DangerPoints, 100);
    const TSimpleHtml& info = s.AttachmentInfo();
    EXPECT_TRUE(HasLine(info, DangerLine(kRedBold, 50, "</b></font>")));
    EXPECT_TRUE(HasLine(info,
                        "<br>  <font color=red><b>Warning:</b></font> Unsafe file asked to "
                        "be displayed inline, as opposed to as an attachment."));
    EXPECT_TRUE(HasLine(info,
                        "<br>  50 danger points added to attachment due to unsafe inline "
                        "request."));
    EXPECT_FALSE(HasLine(info, "<!InLineWarning>"));
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"Attachment", 100}}));
}

TEST_F(AttachmentAnalysis, AttachmentsInsideAnAttachedMessageAreEmailAttachments) {
    const std::string inner =
        "Content-Type: message/rfc822; name=\"fwd.eml\"\n"
        "Content-Disposition: attachment; filename=\"fwd.eml\"\n"
        "\n"
        "Subject: inner\n"
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"in\"\n"
        "\n"
        "--in\n"
        "Content-Type: text/plain\n"
        "\n"
        "inner text\n"
        "--in\n" +
        Named("setup.exe", "application/x-msdownload") +
        "\n"
        "TVqQAAMAAAAEAAAA\n"
        "--in--\n";
    Screening s(Mixed({inner}), extensions_);
    FCheckAttachedFiles(s.ctx);
    EXPECT_EQ(s.ctx.attachments.attachmentCount, 2);
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"Email attachment", 50}}));

    WriteSetting(settings::kAttachmentBlocking, 2);
    EXPECT_TRUE(ApplyAttachmentBlocking(s.ctx));
    // The program goes; the attached message stays with its own text.
    EXPECT_EQ(s.Remaining(), Lines{"fwd.eml"});
    Lines written;
    ASSERT_TRUE(s.Message().SaveToLines(written, true));
    EXPECT_NE(std::find(written.begin(), written.end(), "inner text"), written.end());
    EXPECT_NE(std::find(written.begin(), written.end(), "Subject: inner"), written.end());
}

TEST_F(AttachmentAnalysis, RemovalNotices) {
    enum class Blocking { Dangerous = 2, Suspicious = 1 };
    struct Case {
        const char* name;
        std::string headers;
        Blocking blocking;
        std::string notice;
    };
    const std::string lead = "<br>Gatemoordeleted an attachment \"";
    const Case cases[] = {
        {"very high risk", Named("invoice.txt.exe", "application/x-msdownload"),
         Blocking::Dangerous,
         lead + "invoice.txt.exe\" from this e-mail because it's danger level was very high"},
        {"very high risk shown inline",
         "Content-Type: application/x-msdownload; name=\"run.exe\"\nContent-Disposition: inline\n",
         Blocking::Dangerous,
         lead + "run.exe\" from this e-mail because it's danger level was very high and it was "
                "set to be open upon viewing the email."},
        {"a class id", Named("folder." + std::string(kClassId)), Blocking::Dangerous,
         lead + "folder." + std::string(kClassId) +
             "\" from this e-mail because it's file type was hidden using a Class id file "
             "extenstion."},
        {"high risk", Named("sheet.xls", "application/vnd.ms-excel"), Blocking::Suspicious,
         lead + "sheet.xls\" from this e-mail because it's danger level was high"},
        {"names with different extensions",
         "Content-Type: application/msword; name=\"a.pdf\"\n"
         "Content-Disposition: attachment; filename=\"a.doc\"\n",
         Blocking::Suspicious,
         lead + "a.pdf\" from this e-mail because it had more than one name with different file "
                "extensions."},
        {"a lower risk type", Named("notes.doc", "image/gif"), Blocking::Suspicious,
         lead + "notes.doc\" from this e-mail because it's danger level was unclear.(It's MIME "
                "type risk was lower than file extension risk.)"},
        {"two names",
         "Content-Type: application/msword; name=\"b.doc\"\n"
         "Content-Disposition: attachment; filename=\"a.doc\"\n",
         Blocking::Suspicious,
         lead + "b.doc\" from this e-mail because it had more than one name."},
        {"two extensions and blanks", Named("a.txt    .doc", "application/msword"),
         Blocking::Suspicious,
         lead + "a.txt    .doc\" from this e-mail because it had more than one file extension and "
                "multiple spaces in the file name."},
        {"two extensions", Named("notes.txt.doc", "application/msword"), Blocking::Suspicious,
         lead + "notes.txt.doc\" from this e-mail because it had more than one file extension."},
        {"no name", Unnamed(), Blocking::Suspicious,
         lead + "Un-named Attachment\" from this e-mail because it had no file name."},
        {"a name that is markup", Named("<b>evil.exe", "application/x-msdownload"),
         Blocking::Dangerous,
         lead + "&lt;b&gt;evil.exe\" from this e-mail because it's danger level was very high"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(Mixed({c.headers}), extensions_);
        FCheckAttachedFiles(s.ctx);
        WriteSetting(settings::kAttachmentBlocking, static_cast<int>(c.blocking));
        EXPECT_TRUE(ApplyAttachmentBlocking(s.ctx));
        EXPECT_EQ(s.GeneralInfo(), Lines{c.notice});
        EXPECT_TRUE(s.ctx.noticeFlag);
        EXPECT_TRUE(s.ctx.modifiedFlag);
        EXPECT_TRUE(s.Remaining().empty());
    }
}

TEST_F(AttachmentAnalysis, TheSendersTypeCannotBecomeMarkup) {
    Screening s(Mixed({Named("a.txt", "text/x<script>alert(1)</script>")}), extensions_);
    FCheckAttachedFiles(s.ctx);
    for (const std::string& line : Texts(s.AttachmentInfo()))
        EXPECT_EQ(line.find("<script"), std::string::npos) << line;
    EXPECT_TRUE(HasLine(s.AttachmentInfo(),
                        "<br>  The sender of this attachment considered it to be:\"text/"
                        "x&lt;script&gt;alert(1)&lt;/script&gt;\" (MIME type)."));
}

// Which attachments each "Attachment Blocking" choice leaves, running the passes as the
// pipeline does: the dangerous and suspicious passes before picture handling, the
// block-all pass after it.
TEST_F(AttachmentAnalysis, AttachmentBlockingChoices) {
    const std::string withProgram = Mixed({Named("setup.exe", "application/x-msdownload"),
                                           Unnamed(), Named("notes.doc", "application/msword")});
    const std::string withoutProgram = Mixed({Unnamed(), Named("notes.doc", "application/msword")});
    const std::string withInline =
        Mixed({"Content-Type: application/x-gatemoor-unknown\n"
               "Content-Disposition: inline\n"
               "Content-Transfer-Encoding: base64\n"});
    const std::string unnamed(kUnnamedMark);
    const std::string setupNotice =
        "<br>Gatemoordeleted an attachment \"setup.exe\" from this e-mail because it's danger "
        "level was very high";
    struct Case {
        const char* name;
        const std::string& message;
        int blocking;
        Lines remaining;
        Lines notices;
    };
    const Case cases[] = {
        {"none", withProgram, 3, {"setup.exe", unnamed, "notes.doc"}, {}},
        {"dangerous", withProgram, 2, {unnamed, "notes.doc"}, {setupNotice}},
        {"suspicious loses only the program",
         withProgram,
         1,
         {unnamed, "notes.doc"},
         {setupNotice}},
        {"suspicious without a program",
         withoutProgram,
         1,
         {"notes.doc"},
         {"<br>Gatemoordeleted an attachment \"Un-named Attachment\" from this e-mail because it "
          "had no file name."}},
        {"dangerous without a program", withoutProgram, 2, {unnamed, "notes.doc"}, {}},
        {"all",
         withProgram,
         0,
         {},
         {"<br>Gatemoordeleted an attachment \"notes.doc\" from this e-mail.",
          "<br>Gatemoordeleted an un-named attachment from this e-mail.",
          "<br>Gatemoordeleted an attachment \"setup.exe\" from this e-mail."}},
        {"all with an un-named inline attachment",
         withInline,
         0,
         {},
         {"<br>Gatemoor deleted an un-named inline attachment from this e-mail."}},
        {"suspicious with an un-named inline attachment",
         withInline,
         1,
         {},
         {"<br>Gatemoordeleted an attachment \"Un-named Attachment\" from this e-mail because it "
          "had no file name."}},
        {"none with an un-named inline attachment", withInline, 3, {unnamed}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSetting(settings::kAttachmentBlocking, c.blocking);
        Screening s(c.message, extensions_);
        FCheckAttachedFiles(s.ctx);
        const bool removedEarly = ApplyAttachmentBlocking(s.ctx);
        const bool removedLate = ApplyBlockAllAttachments(s.ctx);
        EXPECT_EQ(removedEarly, c.blocking != 0 && !c.notices.empty());
        EXPECT_EQ(removedLate, c.blocking == 0);
        EXPECT_EQ(s.ctx.noticeFlag, !c.notices.empty());
        EXPECT_EQ(s.GeneralInfo(), c.notices);
        EXPECT_EQ(s.Remaining(), c.remaining);
    }
}

TEST_F(AttachmentAnalysis, BlockAllSparesAKeptPicture) {
    for (const bool kept : {true, false}) {
        SCOPED_TRACE(kept ? "kept" : "not kept");
        WriteSetting(settings::kAttachmentBlocking, 0);
        Screening s(Mixed({Named("photo.jpg", "image/jpeg"),
                           Named("setup.exe", "application/x-msdownload")}),
                    extensions_);
        FCheckAttachedFiles(s.ctx);
        s.Attachment("photo.jpg").Screening.KeepAsPicture = kept;
        EXPECT_TRUE(ApplyBlockAllAttachments(s.ctx));
        EXPECT_EQ(s.Remaining(), kept ? Lines{"photo.jpg"} : Lines{});
    }
}

TEST_F(AttachmentAnalysis, TheAnalysisKeepsAPicturesMark) {
    Screening s(Mixed({Named("photo.jpg", "image/jpeg")}), extensions_);
    s.Attachment("photo.jpg").Screening.KeepAsPicture = true;
    FCheckAttachedFiles(s.ctx);
    EXPECT_TRUE(s.Attachment("photo.jpg").Screening.KeepAsPicture);
}

// A container named like a file that holds the message's bodies: block-all removes the
// attachments but never the bodies that later stages work on.
TEST_F(AttachmentAnalysis, BlockAllLeavesTheBodiesAndTheirContainer) {
    const std::string text =
        "From: sender@example.com\nSubject: Layout\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"sep\"\n"
        "\n"
        "--sep\n"
        "Content-Type: multipart/alternative; boundary=\"alt\"; name=\"layout.htm\"\n"
        "Content-Disposition: inline\n"
        "\n"
        "--alt\n"
        "Content-Type: text/plain\n"
        "\n"
        "Hello\n"
        "--alt\n"
        "Content-Type: text/html\n"
        "\n"
        "<html><body>Hello</body></html>\n"
        "--alt--\n"
        "--sep\n" +
        Named("setup.exe", "application/x-msdownload") +
        "\n"
        "TVqQAAMAAAAEAAAA\n"
        "--sep--\n";
    WriteSetting(settings::kAttachmentBlocking, 0);
    Screening s(text, extensions_);
    ASSERT_NE(s.ctx.textPart, nullptr);
    ASSERT_NE(s.ctx.htmlPart, nullptr);
    FCheckAttachedFiles(s.ctx);
    EXPECT_TRUE(ApplyBlockAllAttachments(s.ctx));
    EXPECT_EQ(s.GeneralInfo(),
              Lines{"<br>Gatemoordeleted an attachment \"setup.exe\" from this e-mail."});
    const auto copy = s.Reloaded();
    const TBodyParts body = copy->FindBodyParts();
    EXPECT_NE(body.plain, nullptr);
    EXPECT_NE(body.html, nullptr);
    EXPECT_TRUE(AttachmentNames(*copy).empty());
}

// A message whose own header names a program: its first part carries that header and the
// opening delimiter, and stays, while the real program goes.
TEST_F(AttachmentAnalysis, TheFirstPartOfAMultipartStays) {
    WriteSetting(settings::kAttachmentBlocking, 2);
    Screening s(Mixed({Named("setup.exe", "application/x-msdownload")}, "Invoice",
                      "multipart/mixed; boundary=\"sep\"; name=\"pack.exe\""),
                extensions_);
    FCheckAttachedFiles(s.ctx);
    EXPECT_EQ(s.ctx.attachments.attachmentCount, 2);
    EXPECT_EQ(s.Attachment("pack.exe").Screening.Risk, 3);
    EXPECT_TRUE(ApplyAttachmentBlocking(s.ctx));
    EXPECT_EQ(s.GeneralInfo(), (Lines{"<br>Gatemoordeleted an attachment \"setup.exe\" from this "
                                      "e-mail because it's danger level was very high"}));
    EXPECT_EQ(s.Remaining(), Lines{"pack.exe"});
}

// Sets an environment variable for its lifetime.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(AttachmentAnalysis, TheAssociatedProgramIsNamed) {
    test::TempFolder home;
    test::WriteFile(home.File("mimeapps.list"),
                    "[Default Applications]\ntext/plain=gatemoor-test-viewer.desktop\n");
    std::filesystem::create_directories(home.Path() + "/applications");
    test::WriteFile(home.File("applications/gatemoor-test-viewer.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Viewer\n"
                    "Exec=\"/opt/gatemoor test/view\" %f\n");
    const EnvOverride config("XDG_CONFIG_HOME", home.Path());
    const EnvOverride data("XDG_DATA_HOME", home.Path());

    Screening s(Mixed({Named("readme.txt", "text/plain")}), extensions_);
    FCheckAttachedFiles(s.ctx);
    EXPECT_TRUE(HasLine(s.AttachmentInfo(),
                        "<br>  Application associated with this file "
                        "extension on this computer is /opt/gatemoor test/view"));
}

}  // namespace
}  // namespace gatemoor
