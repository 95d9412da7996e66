#include "screening/AttachmentAnalysis.h"

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "foundation/Transcript.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/Html.h"
#include "screening/FileExtLookup.h"
#include "screening/FileExtensions.h"
#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

constexpr std::string_view kService = "Attachments";

// The level of every line of an attachment's section; descriptions repeated for an
// extension already described in this message go one level deeper.
constexpr int kLevel = TSimpleHtml::kDefaultLevel;

// "Attachment Blocking" choices.
constexpr int kBlockAll = 0;
constexpr int kBlockSuspicious = 1;
constexpr int kBlockDangerous = 2;

// A risk level from which an extension is dangerous in the analysis.
constexpr int kRiskHigh = 2;
constexpr int kRiskVeryHigh = 3;
// A longest run of blanks beyond this hides the extension.
constexpr int kMaxHarmlessSpaceRun = 2;
// A subject with more blanks than this is an exploit attempt.
constexpr int kMaxSubjectBlanks = 10;

constexpr std::string_view kWarningLevelPlaceholder = "<!AttatchmentWarningLevel>";
constexpr std::string_view kInlineWarningPlaceholder = "<!InLineWarning>";
constexpr std::string_view kInlinePointsPlaceholder = "<!InLineWarningPoints>";
constexpr std::string_view kSenderMimeTypePlaceholder = "<!SenderMimeType>";

constexpr std::string_view kNoName = "<No name supplied>";
constexpr std::string_view kUnnamed = "Un-named Attachment";
constexpr std::string_view kDeletedPrefix = "Gatemoordeleted an attachment \"";

// --- section lines ------------------------------------------------------------------------

void AddText(TSimpleHtml& section, std::string_view text, int level = kLevel) {
    section.AddLine(text, level, true, TSimpleHtmlMode::Both);
}

void AddPoints(TSimpleHtml& section, std::string_view text, int level = kLevel) {
    section.AddLine(text, level, true, TSimpleHtmlMode::HtmlOnly);
}

void AddPlaceholder(TSimpleHtml& section, std::string_view placeholder) {
    section.AddLine(placeholder, kLevel, false, TSimpleHtmlMode::Both);
}

// Text from the message as it may stand in the report's HTML: a sender's value must not
// become markup in a page that the local report service serves. Only the characters that
// start markup or a reference change, so the plain rendering reads the same.
std::string Escaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '<') {
            escaped += "&lt;";
        } else if (c == '>') {
            escaped += "&gt;";
        } else if (c == '&') {
            escaped += "&amp;";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string Trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string WithoutBlanks(std::string_view text) {
    std::string result;
    for (char c : text)
        if (c != ' ' && c != '\t') result += c;
    return result;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return AsciiLower(text).find(part) != std::string::npos;
}

// The extension of a name with its dot: from the last '.' on, not looking past a '\' or
// ':'; empty when there is none. Trailing dots are not skipped: "a.exe." ends in ".".
std::string NameExtension(std::string_view name) {
    const std::size_t at = name.find_last_of(".\\:");
    if (at == std::string_view::npos || name[at] != '.') return {};
    return std::string(name.substr(at));
}

// The longest run of blanks that another character follows.
int LongestInnerBlankRun(std::string_view name) {
    int longest = 0;
    int run = 0;
    for (char c : name) {
        if (c == ' ') {
            ++run;
            continue;
        }
        longest = std::max(longest, run);
        run = 0;
    }
    return longest;
}

// --- the database and the header ----------------------------------------------------------

std::unique_ptr<TFileExtension> CopyOf(TScreeningContext& ctx, std::string_view extension) {
    if (ctx.extensions != nullptr) return ctx.extensions->CopyOf(extension);
    return std::make_unique<TFileExtension>();
}

const TFileExtension* FindByMimeType(TScreeningContext& ctx, std::string_view mimeType) {
    return ctx.extensions != nullptr ? ctx.extensions->FindByMimeType(mimeType) : nullptr;
}

bool IsAttachmentHeader(const TEmailHeader& header) {
    return header.IsAttachment() || header.IsInlineAttachment();
}

// The declared MIME type; none when the part has no Content-Type.
std::optional<std::string> DeclaredMimeType(const TEmailHeader& header) {
    std::string type;
    if (!header.GetContentType(type)) return std::nullopt;
    return type;
}

// The Content-Type as the part states it or as it is taken without one.
std::string MimeTypeOf(const TEmailHeader& header) {
    std::string type;
    (void)header.GetContentType(type);
    return type;
}

int CountAttachments(const TEmailMsgPartCollection& parts) {
    int count = 0;
    for (int i = 0; i < parts.Count(); ++i) {
        const TEmailMsgPart* part = parts.Items(i);
        if (part == nullptr) continue;
        if (part->Header() != nullptr && IsAttachmentHeader(*part->Header())) ++count;
        count += CountAttachments(part->Children());
    }
    return count;
}

int SubjectBlanks(TScreeningContext& ctx, const TEmailMsgPart& part) {
    TEmailMsg* message = part.Message() != nullptr ? part.Message() : ctx.message;
    std::string subject;
    if (message == nullptr || !message->Header().GetSubject(subject)) return 0;
    return static_cast<int>(std::count(subject.begin(), subject.end(), ' '));
}

std::string DangerLine(int points) {
    const std::string line = "  The danger level associated with this attachment is " +
                             std::to_string(points) + "%.<br>";
    if (points <= 0) return "<font color=green>" + line + "</font>";
    if (points <= 11) return "<font color=orange>" + line + "</font>";
    if (points <= 19) return "<font color=orange><b>" + line + "</b></font>";
    return "<font color=red><b>" + line + "</b></font>";
}

// --- one attachment -----------------------------------------------------------------------

// The names of an attachment that has a file name: N, and T, C and D, each N when its
// source is missing.
struct TNames {
    std::string file;         // N
    std::string type;         // T
    std::string contentId;    // C
    std::string disposition;  // D
};

std::optional<TNames> NamesOf(const TEmailHeader& header) {
    TNames names;
    if (!header.GetFileName(names.file)) return std::nullopt;
    if (!header.GetTypeFileName(names.type)) names.type = names.file;
    if (!header.GetContentIdFileName(names.contentId)) names.contentId = names.file;
    if (!header.GetDispositionFileName(names.disposition)) names.disposition = names.file;
    return names;
}

void AnalyseMultipleNames(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                          const TNames& names) {
    TPartScreening& found = part.Screening;
    const std::string& n = names.file;
    found.MultipleNames = true;
    AddText(section,
            "<font color=><b>  Warning:</b></font> More than one name was supplied for this file.");
    section.AppendToLast(
        "  This could be an attempt to confuse your security software.  The supplied names "
        "are: \"" +
        n + "\" and \"");
    section.AppendToLast((names.type != n ? names.type : names.disposition) + "\".");
    found.DangerPoints += 10;
    AddPoints(section, "10 danger points added to attachment due to multiple file names.");

    const std::string extension = AsciiLower(NameExtension(n));
    if (AsciiLower(NameExtension(names.type)) != extension ||
        AsciiLower(NameExtension(names.disposition)) != extension) {
        found.DifferentNameExtensions = true;
        found.DangerPoints += 20;
        AddPoints(section,
                  "20 danger points added to attachment due to different file ext on the diff "
                  "names.");
    }

    const std::array<const std::string*, 3> others{&names.type, &names.contentId,
                                                   &names.disposition};
    for (const std::string* other : others)
        if (*other != n) section.AppendToLast(", and \"" + *other + "\"");
    section.AppendToLast(".  The name your email program will probably recognize is \"" + n +
                         "\".");
    AddPlaceholder(section, kInlineWarningPlaceholder);
    AddPlaceholder(section, kInlinePointsPlaceholder);
    AddPlaceholder(section, kSenderMimeTypePlaceholder);

    AnalyseName(ctx, part, section, n);
    for (const std::string* other : others)
        if (*other != n) AnalyseName(ctx, part, section, *other);
}

void AnalyseNoName(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                   const TEmailHeader& header, const std::optional<std::string>& mimeType) {
    TPartScreening& found = part.Screening;
    found.Risk = kRiskNotSet;
    found.NoName = true;
    if (!ContainsNoCase(MimeTypeOf(header), "message/"))
        AddText(section,
                "  <font color=red>Attached file had no name specified.<br>This is "
                "suspicious</font>");
    if (SubjectBlanks(ctx, part) > kMaxSubjectBlanks) {
        found.DangerPoints = 90;
        AddText(section,
                "  <font color=red>Subject line indicates attempted security exploit.</font>");
    }
    AddPlaceholder(section, kSenderMimeTypePlaceholder);
    if (mimeType) {
        if (const TFileExtension* record = FindByMimeType(ctx, *mimeType)) {
            found.Risk = record->Risk();
            found.DangerPoints = std::max(found.DangerPoints, (record->Risk() + 2) * 20);
            AddText(section, "  The file extension for this MIME type is " + record->Extension());
        } else {
            AddText(section, "  There is no file extention mapped to this file type.");
            found.DangerPoints = std::max(found.DangerPoints, 20);
        }
    } else {
        AddText(section, "  There is no file type information at all supplied for this file.");
        found.DangerPoints = 50;
    }
}

// Builds the section of one attachment into `section` and hands its lines to the
// message's attachment section.
void AnalyseAttachment(TScreeningContext& ctx, TEmailMsgPart& part, const TEmailHeader& header,
                       TSimpleHtml& section) {
    TAttachmentAnalysisState& state = ctx.attachments;
    const int number = state.runningNumber;
    TPartScreening& found = part.Screening;

    AddText(section, kWarningLevelPlaceholder);
    const std::optional<std::string> mimeType = DeclaredMimeType(header);
    std::string name;
    if (const std::optional<TNames> names = NamesOf(header)) {
        name = names->file;
        const std::string bare = WithoutBlanks(name);
        if (WithoutBlanks(names->type) == bare && WithoutBlanks(names->disposition) == bare) {
            AddText(section, "  Full name of attachment is \"" + name + "\".");
            AddPlaceholder(section, kInlineWarningPlaceholder);
            AddPlaceholder(section, kInlinePointsPlaceholder);
            AddPlaceholder(section, kSenderMimeTypePlaceholder);
            AnalyseName(ctx, part, section, name);
        } else {
            AnalyseMultipleNames(ctx, part, section, *names);
        }
    } else {
        name = kNoName;
        AnalyseNoName(ctx, part, section, header, mimeType);
    }

    if (mimeType) {
        section.ReplaceAll(kSenderMimeTypePlaceholder,
                           "<br>  The sender of this attachment considered it to be:\"" +
                               Escaped(*mimeType) + "\" (MIME type).");
    }
    AddPoints(section, "Total danger level associated with this attachment is " +
                           std::to_string(found.DangerPoints) + ".");
    found.DangerPoints = std::clamp(found.DangerPoints, 0, 100);
    section.ReplaceAll(kWarningLevelPlaceholder, DangerLine(found.DangerPoints));

    if ((header.IsInline() || header.IsInlineAttachment()) && found.Risk > 1) {
        section.ReplaceAll(kInlineWarningPlaceholder,
                           "<br>  <font color=red><b>Warning:</b></font> Unsafe file asked to be "
                           "displayed inline, as opposed to as an attachment.");
        // After the clamp: an unsafe inline request always counts in full.
        found.DangerPoints += 50;
        section.ReplaceAll(kInlinePointsPlaceholder,
                           "<br>  50 danger points added to attachment due to unsafe inline "
                           "request.");
    }

    TSimpleHtml& attachmentInfo = ctx.AttachmentInfo();
    AddPoints(attachmentInfo, std::to_string(found.DangerPoints) +
                                  " danger points added to message due to attachment " + name);
    const std::string title =
        state.attachmentCount < 2
            ? "Information about attachment \"" + name + "\":"
            : "Information about attachment number " + std::to_string(number) + " of " +
                  std::to_string(state.attachmentCount) + " \"" + name + "\":";
    section.WrapInBox(title, {}, 0);
    attachmentInfo.CopyLines(section, TSimpleHtmlMode::Both, TSimpleHtml::kMaxLevel);
}

// --- removal ------------------------------------------------------------------------------

// What a pass does with one part: the notice of its removal, or none to keep it.
using TRemovalRule =
    std::function<std::optional<std::string>(TEmailMsgPart& part, const TEmailHeader& header)>;

bool Holds(const TEmailMsgPart& part, const TEmailMsgPart* target) {
    if (target == nullptr) return false;
    const TEmailMsgPartCollection& children = part.Children();
    for (int i = 0; i < children.Count(); ++i) {
        const TEmailMsgPart* child = children.Items(i);
        if (child == target || (child != nullptr && Holds(*child, target))) return true;
    }
    return false;
}

bool IsExempt(const TScreeningContext& ctx, const TEmailMsgPart& part, const TEmailHeader& header) {
    if (part.Screening.KeepAsPicture) return true;
    if (&part == ctx.textPart || &part == ctx.htmlPart) return true;
    // Deleting a part deletes its sub-tree: the body parts must not go with a container,
    // and the stages after this one still hold them.
    if (Holds(part, ctx.textPart) || Holds(part, ctx.htmlPart)) return true;
    // The first part of a multipart holds the preamble and the opening delimiter; without
    // it the first real part would read as preamble.
    if (part.IsPreamble()) return true;
    return header.IsRfc822();
}

bool RemovalPass(TScreeningContext& ctx, TEmailMsgPartCollection& parts, const TRemovalRule& rule) {
    bool removed = false;
    for (int i = parts.Count() - 1; i >= 0; --i) {
        TEmailMsgPart* part = parts.Items(i);
        if (part == nullptr) continue;
        if (RemovalPass(ctx, part->Children(), rule)) removed = true;
        const TEmailHeader* header = part->Header();
        if (header == nullptr || IsExempt(ctx, *part, *header)) continue;
        const std::optional<std::string> notice = rule(*part, *header);
        if (!notice || !parts.Remove(part)) continue;
        (void)parts.KeepOneBodyPart();
        ctx.GeneralInfo().AddLine(*notice, kLevel, true, TSimpleHtmlMode::Both);
        removed = true;
    }
    if (removed) ctx.SetBothFlags();
    return removed;
}

// The `name` parameter of Content-Type, else the `filename` parameter of
// Content-Disposition; none when neither is there.
std::optional<std::string> ParameterName(const TEmailHeader& header) {
    std::string name;
    if (header.GetDecodedParam("Content-Type", "name", name)) return name;
    if (header.GetDecodedParam("Content-Disposition", "filename", name)) return name;
    return std::nullopt;
}

std::string Deleted(const TEmailHeader& header, std::string_view ending) {
    return std::string(kDeletedPrefix) +
           Escaped(ParameterName(header).value_or(std::string(kUnnamed))) + std::string(ending);
}

std::string DangerLevelEnding(int risk) {
    return "\" from this e-mail because it's danger level was " + RiskName(risk);
}

std::string OpenOnViewingEnding(int risk) {
    return DangerLevelEnding(risk) + " and it was set to be open upon viewing the email.";
}

}  // namespace

void FCheckAttachedFiles(TScreeningContext& ctx) {
    if (ctx.message == nullptr) return;
    try {
        ctx.attachments = TAttachmentAnalysisState{};
        ctx.message->AttachmentSections().Clear();
        TEmailMsgPartCollection& parts = ctx.message->Parts();
        ctx.attachments.attachmentCount = CountAttachments(parts);
        if (ctx.attachments.attachmentCount == 0) {
            AddText(ctx.AttachmentInfo(), "  No attachments found.");
            return;
        }
        for (int i = 0; i < parts.Count(); ++i) {
            TEmailMsgPart* part = parts.Items(i);
            if (part == nullptr) continue;
            AnalysePart(ctx, *part);
            ctx.message->AddDangerReason(kAttachmentReason, part->Screening.DangerPoints);
        }
    } catch (const std::exception& error) {
        Transcript(kService, std::string("Attachment analysis ended: ") + error.what(), 10, true);
    }
}

void AnalysePart(TScreeningContext& ctx, TEmailMsgPart& part) {
    TEmailMsgPartCollection& children = part.Children();
    for (int i = 0; i < children.Count(); ++i) {
        TEmailMsgPart* sub = children.Items(i);
        if (sub == nullptr) continue;
        AnalysePart(ctx, *sub);
        ctx.message->AddDangerReason(kEmailAttachmentReason, sub->Screening.DangerPoints);
    }

    const TEmailHeader* header = part.Header();
    TSimpleHtmlList& sections = ctx.message->AttachmentSections();
    std::optional<std::size_t> sectionIndex;
    try {
        if (header == nullptr || !IsAttachmentHeader(*header)) return;
        ++ctx.attachments.runningNumber;
        // A fresh judgement each time; only picture handling's mark outlives it.
        const bool keepAsPicture = part.Screening.KeepAsPicture;
        part.Screening = TPartScreening{};
        part.Screening.KeepAsPicture = keepAsPicture;
        TSimpleHtml& section = sections.Add();
        sectionIndex = sections.Count() - 1;
        AnalyseAttachment(ctx, part, *header, section);
    } catch (const std::exception& error) {
        if (sectionIndex && *sectionIndex < sections.Count()) sections.Delete(*sectionIndex);
        Transcript(kService, std::string("Analysis of an attachment ended: ") + error.what(), 10,
                   true);
    }
}

void AnalyseName(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                 std::string_view name) {
    TPartScreening& found = part.Screening;

    const int run = LongestInnerBlankRun(name);
    if (run > kMaxHarmlessSpaceRun) {
        found.ExcessiveSpaces = true;
        AddText(section, "<font color=red><b>  Warning:</b></font> " + std::to_string(run));
        section.AppendToLast(" consecutive spaces found in attached file name.");
        section.AppendToLast(
            " Excessive spaces are often used by virus writers to hide the true nature of the "
            "sent file by causing the file extension not to be displayed.");
        found.DangerPoints += 4 * run;
        found.MaxSpaceRun = run;
        AddPoints(section, std::to_string(4 * run) +
                               " danger points added to attachment due to consecutive space "
                               "characters in name.");
    }

    const std::string rawLast = NameExtension(name);
    const std::string last = AsciiLower(Trimmed(rawLast));
    const std::string first =
        AsciiLower(Trimmed(NameExtension(name.substr(0, name.size() - rawLast.size()))));
    const std::unique_ptr<TFileExtension> firstRecord = CopyOf(ctx, first);
    const std::unique_ptr<TFileExtension> lastRecord = CopyOf(ctx, last);

    if (firstRecord->IsEmpty()) {
        const bool described =
            ctx.attachments.describedExtensions.contains(AsciiLower(lastRecord->Extension()));
        DescribeExtension(ctx, part, section, *lastRecord, described ? kLevel + 1 : kLevel);
        found.Risk = std::max(found.Risk, lastRecord->Risk());
        return;
    }

    // The larger risk, as for a single extension: a later decoy name of the same part
    // must not lower the risk that an earlier name showed.
    found.Risk = std::max(found.Risk, lastRecord->Risk());
    found.MultipleExtensions = true;
    AddText(section, " <font color=Red><b>  Warning:</b></font> Two file extensions found.");
    section.AppendToLast(
        "  Multiple file extensions are some times used by virus writers to hide the true nature "
        "of the sent file.");
    found.DangerPoints += 10;
    AddPoints(section,
              "10 danger points added to attachment due to multiple file extensions in name.");
    if (firstRecord->Risk() < kRiskHigh && lastRecord->Risk() >= kRiskHigh) {
        section.AppendToLast(" In addition, in this case a relatively risky file type (" +
                             lastRecord->Extension());
        section.AppendToLast(") may appear to be a relatively benign file type(" +
                             firstRecord->Extension() + ").");
        found.DangerPoints += 50;
        AddPoints(section,
                  "50 danger points added to attachment due to benign file extension hiding "
                  "dangerous file extension.");
        found.BenignHidesDangerous = true;
    }
    AddText(section, "");
    AddText(section, "  Information on the second file extension is as follows:");
    DescribeExtension(ctx, part, section, *lastRecord, kLevel);
    AddText(section, "");
    AddText(section, "  Information on the first file extension is as follows:");
    DescribeExtension(ctx, part, section, *firstRecord, kLevel);
}

void DescribeExtension(TScreeningContext& ctx, TEmailMsgPart& part, TSimpleHtml& section,
                       const TFileExtension& record, int level) {
    if (record.IsEmpty()) return;
    TPartScreening& found = part.Screening;
    const std::string& extension = record.Extension();
    ctx.attachments.describedExtensions.insert(AsciiLower(extension));

    // A class id found for one name stays found when a later extension is described.
    std::string className;
    if (record.LookUpClassId(className)) {
        found.ClassIdName = className;
        AddText(section,
                "<font color=Red>  Warning: </font>The file type of this attachment was set useing "
                "the class id instead of a file extension.  The actual file type may be different "
                "from what it appears to be.",
                level);
        AddText(section, "  The file type indicated by the class id is: \"" + className + "\"",
                level);
        found.DangerPoints += 100;
        AddPoints(section,
                  "100 danger points added to attachment due to class id being used as the file "
                  "extension. (" +
                      extension + ")",
                  level);
        return;
    }

    const int risk = record.Risk();
    if (risk < kRiskHigh) {
        AddText(section, "  Overall risk inherent in opening files with extension\".", level);
        section.AppendToLast(extension + "\" is ");
        section.AppendToLast(RiskName(risk) + ".");
    } else {
        AddText(section,
                "<font color=Red>  Overall risk inherent in opening files with extension\".",
                level);
        section.AppendToLast(extension + "\" is ");
        section.AppendToLast(RiskName(risk) + ".</font>");
    }
    if (risk == kRiskVeryHigh) {
        found.DangerPoints += 50;
        AddPoints(section,
                  "50 danger points added to attachment due to high risk file extension " +
                      extension + ".",
                  level);
    } else {
        found.DangerPoints += 10 * risk;
        AddPoints(section,
                  std::to_string(10 * risk) +
                      " danger points added to attachment due to file extension risk " + extension +
                      ".",
                  level);
    }

    const std::vector<std::string>& descriptions = record.Descriptions();
    if (descriptions.size() == 1) {
        AddText(section, "  A file with a \"." + extension, level);
        section.AppendToLast("\" extension is usually a: " + descriptions.front() + ".");
    } else if (descriptions.size() > 1) {
        AddText(section, "  Files with a \"." + extension + "\" extension are usually:", level);
        for (const std::string& description : descriptions)
            AddText(section, " -   " + description, level);
    }
    if (!record.References().empty()) {
        AddText(section, "  For more information please see:", level);
        for (const std::string& reference : record.References())
            AddText(section, "  " + reference, level);
    }
    if (!record.SameAs().empty()) {
        AddText(section,
                "  This file extension is equivalent to the file extension \"" + record.SameAs() +
                    "\".",
                level);
    }
    if (std::string program; AssociatedProgram(extension, program) && !program.empty()) {
        AddText(section,
                "  Application associated with this file extension on this computer is " + program,
                level);
    }

    std::string computerType;
    if (!MimeTypeOfExtension(extension, computerType)) return;
    const std::optional<std::string> declared =
        part.Header() != nullptr ? DeclaredMimeType(*part.Header()) : std::nullopt;
    AddText(section, "  This computer considers this attachment to be:\"" + computerType + "\".",
            level);
    if (!declared || AsciiLower(computerType) == AsciiLower(*declared)) return;
    AddText(section, "  This is not the same type as the sender claims it is.", level);
    const TFileExtension* claimed = FindByMimeType(ctx, *declared);
    if (claimed == nullptr) return;
    if (claimed->Extension() != extension) {
        AddText(section, "  The file extension for this MIME type is " + claimed->Extension(),
                level);
    }
    if (claimed->Risk() < risk) {
        AddText(section,
                "  The risk associated with this MIME type is lower than the file type indicates.  "
                "This could be an attempt to fool your e-mail program into opening a dangerous "
                "file.",
                level);
        found.DangerPoints += 30;
        AddPoints(section,
                  "30 danger points added to attachment due to deceptive low risk MIME type.",
                  level);
        found.DeceptiveMimeType = true;
    }
}

bool RemoveDangerousAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts) {
    return RemovalPass(
        ctx, parts,
        [](TEmailMsgPart& part, const TEmailHeader& header) -> std::optional<std::string> {
            if (!IsAttachmentHeader(header)) return std::nullopt;
            const TPartScreening& found = part.Screening;
            if (!found.ClassIdName.empty()) {
                return Deleted(header,
                               "\" from this e-mail because it's file type was hidden "
                               "using a Class id file extenstion.");
            }
            if (found.Risk > kRiskHigh && header.IsInlineAttachment())
                return Deleted(header, OpenOnViewingEnding(found.Risk));
            if (found.Risk > kRiskHigh) return Deleted(header, DangerLevelEnding(found.Risk));
            return std::nullopt;
        });
}

bool RemoveSuspiciousAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts) {
    return RemovalPass(
        ctx, parts,
        [](TEmailMsgPart& part, const TEmailHeader& header) -> std::optional<std::string> {
            if (!IsAttachmentHeader(header)) return std::nullopt;
            const TPartScreening& found = part.Screening;
            if (found.Risk > 0 && header.IsInlineAttachment())
                return Deleted(header, OpenOnViewingEnding(found.Risk));
            if (found.Risk >= kRiskHigh) return Deleted(header, DangerLevelEnding(found.Risk));
            if (found.BenignHidesDangerous) {
                return Deleted(
                    header,
                    "\" from this e-mail because it had a benign file extension hiding a "
                    "dangerous file extension.");
            }
            if (found.DifferentNameExtensions) {
                return Deleted(header,
                               "\" from this e-mail because it had more than one name with "
                               "different file extensions.");
            }
            if (found.DeceptiveMimeType) {
                return Deleted(header,
                               "\" from this e-mail because it's danger level was unclear.(It's "
                               "MIME type risk was lower than file extension risk.)");
            }
            if (found.MultipleNames)
                return Deleted(header, "\" from this e-mail because it had more than one name.");
            if (found.ExcessiveSpaces && found.MultipleExtensions) {
                return Deleted(header,
                               "\" from this e-mail because it had more than one file extension "
                               "and multiple spaces in the file name.");
            }
            if (found.MultipleExtensions)
                return Deleted(header,
                               "\" from this e-mail because it had more than one file extension.");
            if (found.NoName && !ContainsNoCase(MimeTypeOf(header), "message/"))
                return Deleted(header, "\" from this e-mail because it had no file name.");
            return std::nullopt;
        });
}

bool RemoveAllAttachments(TScreeningContext& ctx, TEmailMsgPartCollection& parts) {
    return RemovalPass(
        ctx, parts, [](TEmailMsgPart&, const TEmailHeader& header) -> std::optional<std::string> {
            if (ParameterName(header)) return Deleted(header, "\" from this e-mail.");
            if (header.IsAttachment())
                return std::string("Gatemoordeleted an un-named attachment from this e-mail.");
            if (header.IsInlineAttachment()) {
                return std::string(
                    "Gatemoor deleted an un-named inline attachment from this e-mail.");
            }
            return std::nullopt;
        });
}

bool ApplyAttachmentBlocking(TScreeningContext& ctx) {
    if (ctx.message == nullptr) return false;
    const int blocking = ReadSetting(settings::kAttachmentBlocking);
    if (blocking != kBlockSuspicious && blocking != kBlockDangerous) return false;
    if (RemoveDangerousAttachments(ctx, ctx.message->Parts())) return true;
    return blocking == kBlockSuspicious && RemoveSuspiciousAttachments(ctx, ctx.message->Parts());
}

bool ApplyBlockAllAttachments(TScreeningContext& ctx) {
    if (ctx.message == nullptr) return false;
    if (ReadSetting(settings::kAttachmentBlocking) != kBlockAll) return false;
    return RemoveAllAttachments(ctx, ctx.message->Parts());
}

}  // namespace gatemoor
