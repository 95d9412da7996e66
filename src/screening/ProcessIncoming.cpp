#include "screening/ProcessIncoming.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <utility>

#include "foundation/SettingsCatalogue.h"
#include "foundation/Transcript.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "screening/AttachmentAnalysis.h"
#include "screening/EmailInfo.h"
#include "screening/HtmlSanitising.h"
#include "screening/PictureHandling.h"
#include "screening/ScreeningContext.h"
#include "screening/SecurityReport.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilHtml.h"

namespace gatemoor {

namespace {

// A Date value longer than this overflowed the date parser of a widespread mail program.
constexpr std::size_t kMaxDateLength = 60;
constexpr int kLongDatePoints = 90;
// An attachment-only message's subject longer than this is shortened to it.
constexpr std::size_t kMaxSubjectLength = 50;

std::string Escaped(std::string text) {
    (void)EscapeHtml(text);
    return text;
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

void CheckDate(TScreeningContext& ctx) {
    TEmailHeader& header = ctx.message->Header();
    std::string date;
    if (!header.GetField("Date", date) || date.size() <= kMaxDateLength) return;
    const std::string bulletin(kDateBulletinAddress);
    ctx.message->AddDangerReason("Date tag too long MS security hole (see " + bulletin + ")",
                                 kLongDatePoints);
    ctx.GeneralInfo().AddLine("Date tag too long. MS security hole (see <a href=" + bulletin + ">" +
                              bulletin + "</a>)");
    ctx.GeneralInfo().AddLine("Original date was:" + Escaped(date));
    (void)header.SetField("Date", "");
    ctx.SetBothFlags();
}

// A message with neither a text nor an HTML body gets a plain-text one; then an over-long
// subject, which some mail programs would write into a file of that name, is shortened.
// Answers the body parts as they are afterwards.
TBodyParts CheckSubject(TScreeningContext& ctx) {
    TBodyParts body = ctx.message->FindBodyParts();
    if (body.plain != nullptr || body.html != nullptr) return body;
    if (ctx.message->AddPlainTextPart() == nullptr) return body;
    body = ctx.message->FindBodyParts();
    TEmailHeader& header = ctx.message->Header();
    std::string subject;
    if (!header.GetField("Subject", subject) || subject.size() <= kMaxSubjectLength) return body;
    std::string shortened = subject;
    (void)ReplaceEvery("  ", " ", shortened);
    shortened.resize(std::min(shortened.size(), kMaxSubjectLength));
    ctx.GeneralInfo().AddLine("Gatemoor shortened the subject line from \"" + Escaped(subject) +
                              "\" to \"");
    ctx.GeneralInfo().AppendToLast(Escaped(shortened) + "\"");
    (void)header.SetField("Subject", shortened);
    ctx.GeneralInfo().AddLine(
        "This is to avoid an exploit known as \"HTML dropper\" which afflicts Microsoft products.");
    ctx.SetBothFlags();
    return body;
}

// A message/partial fragment is withheld and stored; the last one to arrive completes
// the message, which is kept as a backup. False when the fragment could not be stored:
// it is then screened like any other message.
bool WithholdFragment(TEmailMsg& message, TScreeningOutcome& outcome) {
    std::string type;
    if (!message.Header().GetFieldValue("Content-Type", type) ||
        !SameTextNoCase(type, "message/partial"))
        return false;
    const std::string folder = PartialsFolder();
    if (!SavePartial(folder, message)) return false;
    std::string id;
    (void)message.Header().GetParam("Content-Type", "id", id);
    if (const auto joined = ReassemblePartials(folder, id)) {
        const std::string backup = SaveBackup(*joined);
        if (!backup.empty()) {
            (void)DeletePartials(folder, id);
            outcome.joinedPath = BackupPath(backup);
        }
    }
    outcome.withheld = true;
    return true;
}

void Prepare(TEmailMsg& message) {
    for (TReportSection section : {TReportSection::GeneralInfo, TReportSection::AttachmentInfo,
                                   TReportSection::MessageInfo, TReportSection::BackupInfo})
        message.Section(section).Clear();
    message.AttachmentSections().Clear();
    (void)message.Parts();  // the structure, built once here
    (void)message.DoRemoveVornInfo();
}

void MainProcessing(TScreeningContext& ctx, std::vector<std::string>& lines) {
    TEmailMsg& message = *ctx.message;
    if (message.ExtractUuencodedAttachments()) ctx.modifiedFlag = true;
    FCheckAttachedFiles(ctx);
    if (message.UnfoldFileNames()) ctx.modifiedFlag = true;
    if (message.CleanFileNames()) ctx.modifiedFlag = true;
    if (message.TrimFileNameDots()) ctx.modifiedFlag = true;
    ScreenMessage(ctx);
    if (ctx.noticeFlag) message.InsertUserText(ctx.notice, true, false);
    if (ctx.noticeFlag || ctx.modifiedFlag) {
        // Written aside first: the received lines stay until the whole text exists.
        std::vector<std::string> written;
        (void)message.SaveToLines(written, true);
        lines = std::move(written);
    }
}

}  // namespace

void ScreenMessage(TScreeningContext& ctx) {
    CheckDate(ctx);
    const TBodyParts body = CheckSubject(ctx);
    if (ctx.message->Header().IsPlainText()) {
        CheckPlainTextMessage(ctx);
    } else {
        ctx.textPart = body.plain;
        ctx.htmlPart = body.html;
        ApplyWebContentChoice(ctx);
        (void)ApplyAttachmentBlocking(ctx);
        CheckHtmlBody(ctx);
        HandlePictures(ctx);
        (void)ApplyBlockAllAttachments(ctx);
    }
    FinishScreening(ctx);
    if (!ctx.noticeFlag) ctx.notice.Clear();
}

TScreeningOutcome ProcessIncomingEmail(std::vector<std::string>& lines,
                                       TFileExtensionList& extensions) {
    TScreeningOutcome outcome;
    const std::string backup = SaveBackup(lines);
    TEmailMsg message;
    // Passed through only: the message writes no file of its own and gets no body that
    // the received text did not have unless a stage adds one.
    message.SetSaveOnDestroy(false);
    message.SetEnsureTextBodyFlag(false);
    // The message is the backup's content: the received lines, which the backup holds
    // byte for byte. They are taken from memory rather than read back from the file, and
    // so also when no backup could be written.
    std::vector<std::string> copy = lines;
    (void)message.SetRawMail(copy);
    message.Info().SetBackupFile(backup);

    if (WithholdFragment(message, outcome)) {
        lines.clear();
        (void)message.Info().DeleteFile();
        if (!backup.empty()) outcome.backupPath = BackupPath(backup);
        return outcome;
    }

    TScreeningContext ctx;
    ctx.message = &message;
    ctx.extensions = &extensions;
    try {
        Prepare(message);
        MainProcessing(ctx, lines);
    } catch (const std::exception& error) {
        (void)Transcript("Screening", std::string("screening stopped: ") + error.what(), 1, true);
    } catch (...) {
        (void)Transcript("Screening", "screening stopped by an unknown error", 1, true);
    }

    outcome.changed = ctx.noticeFlag || ctx.modifiedFlag;
    outcome.noticed = ctx.noticeFlag;
    outcome.dangerLevel = message.TotalDangerPoints();
    if (ctx.noticeFlag) {
        const std::string report = message.ReportFileName();
        std::error_code error;
        if (std::filesystem::exists(report, error)) outcome.reportPath = report;
    }
    if (!backup.empty()) {
        std::error_code error;
        const std::string path = BackupPath(backup);
        if (std::filesystem::exists(path, error)) outcome.backupPath = path;
    }
    // The record is written afresh when the message releases it, so the file that
    // remains describes this screening.
    (void)message.Info().DeleteFile();
    return outcome;
}

}  // namespace gatemoor
