#include "screening/SecurityReport.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Time.h"
#include "foundation/Transcript.h"
#include "mail/EmailMsg.h"
#include "mail/Html.h"
#include "mail/VornUrl.h"
#include "screening/EmailInfo.h"
#include "screening/VornUtilFiles.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilHtml.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kService = "SecurityReport";
// What the message file format takes for its property line (checked the same way).
constexpr std::string_view kPropertyLineMark = "X-SMTP: ";
constexpr std::string_view kBounceType = "multipart/report";
constexpr std::string_view kLogoName = "Vorn.jpg";
// How report dates are shown, local and sender's.
constexpr std::string_view kReportDatePicture = "ddd, d mmm yyyy hh:mm:ss ";
// Days from the start of the date values to 1 January 1970.
constexpr double kUnixEpochDays = 25569.0;

// Date flags that leave no time or no sender's zone to show.
constexpr std::uint16_t kNoReportDate = 0x0002 | 0x0020 | 0x0040 | 0x0800 | 0x1000;

constexpr std::string_view kReportTemplate =
    R"html(<!doctype html public "-//w3c//dtd html 4.0 transitional//en"><html><head>   <meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">   <meta name="GENERATOR" content="Vornsmithy">   <title>!title</title></head><body><center><img SRC="VornLogoSm.jpg"> </center><b>Information for message:</b><br><br><!MessageInfo><p><hr WIDTH="100%"><br><!GeneralInfo></p><p><hr WIDTH="100%"><!Backup></p><p><hr WIDTH="100%"><b>Full information on attatchments is as follows:</b><!attatch></p><p><hr WIDTH="100%"><br><b>Raw text of message:</b><p><pre><tt><blockquote><!RawText></blockquote></tt></pre><hr WIDTH="100%"></p></body></html>)html";

std::string Escaped(std::string text) {
    (void)EscapeHtml(text);
    return text;
}

std::string DecodedField(TEmailMsg& message, std::string_view name) {
    std::string value;
    (void)message.Header().GetDecodedField(name, value);
    return value;
}

// Creates `path` only when nothing is there yet and writes `bytes` to it; a file that
// could not be written whole is removed again, so no half file stands under the name.
bool WriteNewFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    std::error_code error;
    fs::remove(path, error);
    return false;
}

// Each line of `text` (split at CR LF, LF or CR) followed by CR LF.
std::string AsCrLfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    out += "\r\n";
    return out;
}

// The lines of a report section that an HTML page shows, CR LF after each.
std::string RenderForHtml(const TSimpleHtml& section) {
    std::string out;
    for (std::size_t i = 0; i < section.Count(); ++i) {
        if (section.ModeOf(i) == TSimpleHtmlMode::TextOnly) continue;
        out += section.Line(i);
        out += "\r\n";
    }
    return out;
}

// Puts each replacement in place of its placeholder in one pass over the template
// only: text that came from the message is never searched for placeholders, so a
// subject holding "<!RawText>" or the logo's name stays what it was.
std::string FillTemplate(std::string_view templ,
                         const std::vector<std::pair<std::string_view, std::string>>& fills) {
    std::string out;
    std::size_t i = 0;
    while (i < templ.size()) {
        bool replaced = false;
        for (const auto& [placeholder, text] : fills) {
            if (templ.substr(i, placeholder.size()) == placeholder) {
                out += text;
                i += placeholder.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out.push_back(templ[i++]);
    }
    return out;
}

std::string LogoUrl() {
    TVornUrl url;
    url.SetCommand("Image");
    url.SetValue("Name", kLogoName);
    return url.ToString();
}

// The "Date Sent" line, or empty when the Date header gives no time with a known zone.
std::string DateSentLine(TEmailMsg& message) {
    const std::string value = DecodedField(message, "Date");
    if (value.empty()) return {};
    const Rfc822DateParse parsed = ParseRfc822Date(value);
    if ((parsed.flags & kNoReportDate) != 0) return {};
    const double universal = parsed.date - parsed.zoneOffset;
    const double seconds = std::round((universal - kUnixEpochDays) * 86400.0);
    if (!std::isfinite(seconds)) return {};
    const TDateTime local = LocalDateTimeFromUnix(static_cast<std::time_t>(seconds));
    if (local == 0) return {};
    const std::string localText = FormatDateTime(kReportDatePicture, local);
    const std::string senderText = FormatDateTime(kReportDatePicture, parsed.date);
    std::string line = "<b>Date Sent:</b> " + localText + " local time zone";
    if (localText != senderText) line += " (" + senderText + " sender's time zone.)";
    return line;
}

void BuildMessageInfo(TEmailMsg& message) {
    TSimpleHtml& info = message.Section(TReportSection::MessageInfo);
    info.Clear();
    info.AddLine("<b>Sent From:</b> " + Escaped(DecodedField(message, "From")));
    info.AddLine("<b>Sent To:</b> " + Escaped(DecodedField(message, "To")));
    info.AddLine("<b>Carbon Copied to:</b> " + Escaped(DecodedField(message, "CC")));
    info.AddLine("<b>Subject:</b> " + Escaped(message.GetSubjectOrId()));
    const std::string dateSent = DateSentLine(message);
    if (!dateSent.empty()) info.AddLine(dateSent);
}

// The message as received, from its backup; the screened message when the backup
// cannot be read. Short form: attachment bodies are left out.
std::vector<std::string> RawTextLines(TEmailMsg& message) {
    std::vector<std::string> lines;
    const std::string& backupFile = message.Info().BackupFile();
    if (!backupFile.empty()) {
        try {
            TEmailMsg backup;
            // The backup is only read: whatever happens, its file stays as it is.
            backup.FlaggedDeleted(true);
            backup.SetDeleteFileWhenFlagged(false);
            backup.SetSaveOnDestroy(false);
            backup.SetEnsureTextBodyFlag(false);
            if (backup.ReadFromFile(BackupPath(backupFile))) (void)backup.SaveToLines(lines, false);
        } catch (const std::exception& e) {
            Transcript(kService, std::string("Backup unreadable for the report: ") + e.what(), 5,
                       false);
            lines.clear();
        }
    }
    if (lines.empty()) (void)message.SaveToLines(lines, false);
    return lines;
}

std::string RawText(TEmailMsg& message) {
    std::string out;
    for (std::string& line : RawTextLines(message)) {
        (void)EscapeHtml(line);
        out += line;
        out += "\r\n";
    }
    return out;
}

void AddBackupInfo(TEmailMsg& message) {
    const std::string& backupFile = message.Info().BackupFile();
    if (backupFile.empty()) return;
    const std::string link = message.GetBackupUrl({});
    TSimpleHtml& backup = message.Section(TReportSection::BackupInfo);
    backup.AddLine("A backup of the original unmodified message can be viewed <a href=", -1, true,
                   TSimpleHtmlMode::HtmlOnly);
    backup.AppendToLast(link + ">here</a>.");
    backup.AddLine(" A backup of the original unmodified message can be viewed here: " + link, -1,
                   true, TSimpleHtmlMode::TextOnly);
    backup.AddLine("  The message is stored locally at: " + BackupPath(backupFile));
}

void AddDangerLines(TScreeningContext& ctx) {
    TSimpleHtml& general = ctx.GeneralInfo();
    general.InsertLine(0, DangerLevelLine(ctx.message->TotalDangerPoints()));
    // Each goes in right below the level line, so the last in sorted order ends on top.
    for (const TDangerReason& reason : ctx.message->Info().DangerReasons()) {
        general.InsertLine(
            1, std::to_string(reason.points) + " danger points added due to " + reason.text + ".");
    }
}

void AddBounceLines(TSimpleHtml& notice) {
    const std::string address(kBounceExplanationAddress);
    notice.AddLine(" ", -1, true, TSimpleHtmlMode::TextOnly);
    notice.AddLine(
        "Didn't send this e-mail? Click <a href=\"" + address + "\">Here</a> for an explanation.",
        -1, true, TSimpleHtmlMode::HtmlOnly);
    notice.AddLine("Didn't send this e-mail?", -1, true, TSimpleHtmlMode::TextOnly);
    notice.AddLine("See " + address + " for an explanation.", -1, true, TSimpleHtmlMode::TextOnly);
    notice.AddLine(" ", -1, true, TSimpleHtmlMode::TextOnly);
}

void BuildReportNotice(TScreeningContext& ctx) {
    const std::string reportLink = ctx.message->GetReportUrl();
    TSimpleHtml& notice = ctx.notice;
    notice.Clear();
    notice.AddLine(
        "<Table border=\"1\"><tr><td>This e-mail was modified by Gatemoor for security reasons.");
    notice.AddLine("See <a href=\"" + reportLink + "\">Report</a> for details.", -1, true,
                   TSimpleHtmlMode::HtmlOnly);
    notice.AddLine("See Report for details: " + reportLink, -1, true, TSimpleHtmlMode::TextOnly);
    if (IsBounce(*ctx.message)) AddBounceLines(notice);
    notice.AddLine("</td></tr></Table>", -1, true, TSimpleHtmlMode::HtmlOnly);
}

void BuildBounceNotice(TScreeningContext& ctx) {
    TSimpleHtml& notice = ctx.notice;
    notice.Clear();
    notice.AddLine("<Table border=\"1\"><tr align=\"Center\"><td>", -1, true,
                   TSimpleHtmlMode::HtmlOnly);
    notice.AppendToLast("<font size=-1>Gatemoor</font></td></tr><tr><td>");
    notice.AppendToLast("<tr><td>Didn't send this e-mail? Click <a href=\"" +
                        std::string(kBounceExplanationAddress) + "\">Here</a> for an explanation.");
    notice.AddLine("</td></tr></Table>", -1, true, TSimpleHtmlMode::HtmlOnly);
    notice.AddLine("");
}

void DeleteBackup(TEmailMsg& message) {
    const std::string& backupFile = message.Info().BackupFile();
    if (backupFile.empty()) return;
    std::error_code error;
    fs::remove(BackupPath(backupFile), error);
}

}  // namespace

std::string BackupPath(std::string_view fileName) {
    return BackupsFolder() + "/" + std::string(fileName);
}

std::string SaveBackup(const std::vector<std::string>& lines) {
    std::string path;
    if (!GetUniquePath(BackupsFolder(), "Backup", ".eml", path)) return {};
    std::string bytes;
    if (!lines.empty() && lines.front().find(kPropertyLineMark) != std::string::npos) {
        bytes += kPropertyLineMark;
        bytes += "\r\n";
    }
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    if (!WriteNewFile(path, bytes)) {
        Transcript(kService, "Could not write the backup " + path, 8, true);
        return {};
    }
    return fs::path(path).filename().string();
}

bool IsBounce(TEmailMsg& message) {
    std::string type;
    (void)message.Header().GetDecodedFieldValue("Content-Type", type);
    return type == kBounceType;
}

std::string DangerLevelLine(int level) {
    const std::string text =
        "  The danger level associated with the original e-mail as a whole is " +
        std::to_string(level) + "%.";
    if (level <= 0) return "<font color=green>" + text + "</font>";
    if (level < 10) return "<font color=orange>" + text + "</font>";
    if (level < 20) return "<font color=orange><b>" + text + "</b></font>";
    return "<font color=red><b>" + text + "</b></font>";
}

void FinishScreening(TScreeningContext& ctx) {
    TEmailMsg& message = *ctx.message;
    if (ctx.noticeFlag) {
        (void)message.EnsureTextBody();
        AddBackupInfo(message);
        AddDangerLines(ctx);
        BuildReportNotice(ctx);
        (void)WriteReport(message);
        return;
    }
    DeleteBackup(message);
    if (IsBounce(message)) {
        ctx.SetBothFlags();
        (void)message.EnsureTextBody();
        BuildBounceNotice(ctx);
        return;
    }
    ctx.notice.Clear();
}

bool WriteReport(TEmailMsg& message) {
    std::string path;
    try {
        CriticalSectionGuard guard(message.Lock());
        path = message.ReportFileName();
        if (path.empty()) return false;
        std::error_code error;
        if (fs::exists(fs::symlink_status(path, error))) return false;

        BuildMessageInfo(message);
        const std::string report = FillTemplate(
            kReportTemplate,
            {
                {"!title",
                 "Vornsmithy Email Report - " + Escaped(DecodedField(message, "Subject"))},
                {"VornLogoSm.jpg", LogoUrl()},
                {"<!MessageInfo>", RenderForHtml(message.Section(TReportSection::MessageInfo))},
                {"<!GeneralInfo>", RenderForHtml(message.Section(TReportSection::GeneralInfo))},
                {"<!Backup>", RenderForHtml(message.Section(TReportSection::BackupInfo))},
                {"<!attatch>", RenderForHtml(message.Section(TReportSection::AttachmentInfo))},
                {"<!RawText>", RawText(message)},
            });
        if (WriteNewFile(path, AsCrLfLines(report))) return true;
        Transcript(kService, "Could not write the report " + path, 8, true);
    } catch (const std::exception& e) {
        Transcript(kService, "Report " + path + " not written: " + e.what(), 8, true);
    }
    return false;
}

}  // namespace gatemoor
