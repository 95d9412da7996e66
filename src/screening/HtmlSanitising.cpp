#include "screening/HtmlSanitising.h"

#include <array>
#include <string>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/Html.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilRegex.h"

namespace gatemoor {
namespace {

// "Web Content" choices.
constexpr int kPlainTextOnly = 0;
constexpr int kSafeHtmlOnly = 1;
constexpr int kAdvanced = 3;

// The trimmed lengths of a plain-text body that may be a disguised script.
constexpr std::size_t kPlainScriptMinLength = 11;
constexpr std::size_t kPlainScriptMaxLength = 99;

constexpr std::string_view kPlainScriptNotice =
    "Suspicious script in plain text.  Possible Outlook Express exploit";
constexpr std::string_view kConvertedNotice = "Gatemoor converted this email to plain text.";

constexpr int kRegexFlags =
    regex_flags::kCaseInsensitive | regex_flags::kDotAll | regex_flags::kGreedy;

// What one finding records: the danger reason with its points, the points line of the
// report, and the notice added when the conversion changed the message.
struct TFinding {
    std::string_view reason;
    int points;
    std::string_view pointsLine;
    std::string_view notice;
};

// One row of the script check. A row applies when the text contains one of `contains`,
// or holds a tag with one of `inTag` (ContainsInTag), or matches `expression`; the
// substring tests are tried first because they are cheap. Empty entries are unused.
struct TScriptRow {
    std::array<std::string_view, 2> contains;
    std::array<std::string_view, 2> inTag;
    std::string_view expression;
    TFinding finding;
};

constexpr std::string_view kScriptsNotice =
    "Gatemoor converted this email to plain text because it contained scripts.";
constexpr std::string_view kEventNotice =
    "Gatemoor converted this email to plain text because it contained scripts set to execute "
    "when certian actions were detected.";

constexpr std::string_view kScriptSchemes =
    "(jscript|javascript|vbs|vbscript|perlscript|wmlscript):";
constexpr std::string_view kEventAttributes =
    "(onclick|ondblclick|onmousedown|onmouseup|onmouseover|onmousemove|onmouseout|onkeypress|"
    "onkeydown|onkeyup|onfocus|onblur|onsubmit|onload|onabort|onchange|ondragdrop|onerror|"
    "onmove|onreset|onresize|onselect|onunload)";

// In order; the first row that applies is the only one recorded.
constexpr std::array<TScriptRow, 9> kScriptRows{{
    {{"scriptlanguage=javascript", "scriptlanguage=jscript"},
     {"javascript:", "jscript:"},
     {},
     {"HTML Java script", 40, "40 danger points added to e-mail due to HTML Java script",
      "Gatemoor converted this email to plain text because it contained javascript."}},
    {{"<script"},
     {},
     {},
     {"HTML script", 40, "40 danger points added to e-mail due to HTML script", kScriptsNotice}},
    // Also covers "scriptlanguage=vbscript".
    {{"scriptlanguage=vbs"},
     {},
     {},
     {"HTML Visual Basic script", 60,
      "60 danger points added to e-mail due to HTML visual basic script",
      "Vornsmithy converted this email to plain text because it contained Visual Basic "
      "script."}},
    {{"scriptlanguage=perlscript"},
     {},
     {},
     {"HTML Perl script", 20, "20 danger points added to e-mail due to HTML Perl script",
      "Gatemoor converted this email to plain text because it contained Perl script."}},
    {{"scriptlanguage=wmlscript"},
     {},
     {},
     {"HTML WML script", 20, "20 danger points added to e-mail due to HTML WML script",
      "Gatemoor converted this email to plain text because it contained WML script."}},
    {{"scriptlanguage="},
     {kScriptSchemes},
     {},
     {"HTML script", 40, "40 danger points added to e-mail due to HTML script", kScriptsNotice}},
    {{},
     {},
     R"(<metahttp-equiv="?refresh)",
     {"Refresh redirection of input", 100,
      "100 danger points added to e-mail due to HTML Meta refresh. (Email contents to be "
      "automatically downloaded from another server)",
      "Gatemoor converted this email to plain text because it contained a command to download "
      "it's contents from a unknown server."}},
    {{},
     {kEventAttributes},
     {},
     {"event attribute", 40, "40 danger points added to email due to HTML event script",
      kEventNotice}},
    {{},
     {},
     R"(<metahttp-equiv="?content-script-type)",
     {"event attribute", 30, "30 danger points added to email due to HTML event script",
      kEventNotice}},
}};

constexpr TFinding kLinkFinding{
    "External \"Link\" reference.", 10,
    "10 danger points added to e-mail due to external \"link\" reference. (Email content to be "
    "automatically downloaded from another server)",
    "Gatemoor converted this email to plain text because it contained a command to download "
    "content from a unknown server."};
constexpr TFinding kFrameFinding{
    "Inline HTML Frame", 90, "90 danger points added to e-mail due to HTML embedded frame",
    "Gatemoor converted this email to plain text because it contained inline HTML frames."};
constexpr TFinding kObjectFinding{
    "Inline HTML Objects", 90, "90 danger points added to e-mail due to HTML embedded Objects",
    "Gatemoor converted this email to plain text because it contained inline HTML Objects."};

constexpr std::array<std::string_view, 4> kFrameTags{"<iframe", "<frameset>", "</frameset>",
                                                     "</iframe>"};
constexpr std::array<std::string_view, 6> kObjectTags{"<object",  "</object", "<applet",
                                                      "</applet", "<embed",   "</embed"};

[[nodiscard]] bool Contains(std::string_view text, std::string_view part) {
    return !part.empty() && text.find(part) != std::string_view::npos;
}

template <std::size_t N>
[[nodiscard]] bool ContainsAny(std::string_view text,
                               const std::array<std::string_view, N>& parts) {
    for (std::string_view part : parts) {
        if (Contains(text, part)) return true;
    }
    return false;
}

[[nodiscard]] bool RowApplies(const TScriptRow& row, std::string_view text) {
    if (ContainsAny(text, row.contains)) return true;
    for (std::string_view inner : row.inTag) {
        if (!inner.empty() && ContainsInTag(text, inner)) return true;
    }
    return !row.expression.empty() && RegexContains(row.expression, text, kRegexFlags);
}

// Trimmed as the framework's Trim does: bytes 0 to 32 (the blank) off both ends.
[[nodiscard]] std::string_view Trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// The lines joined with CR LF after each; every CR LF removed (one forward pass), then
// lower-cased, then every blank and double quote removed. Tabs stay: "<script\tsrc"
// keeps them apart.
[[nodiscard]] std::string NormalisedText(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) {
        joined += line;
        joined += "\r\n";
    }
    std::string text;
    text.reserve(joined.size());
    for (std::size_t i = 0; i < joined.size(); ++i) {
        const char c = joined[i];
        if (c == '\r' && i + 1 < joined.size() && joined[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (c == ' ' || c == '"') continue;
        text += AsciiLower(c);
    }
    return text;
}

// The decoded lines of a body part. A body that does not decode (text that merely looks
// uuencoded, say) is taken as it stands: that is how a mail program that does not decode
// it shows it, and stopping there would let such a body pass unchecked.
[[nodiscard]] std::vector<std::string> BodyLines(TEmailMsgPart& part) {
    std::vector<std::string> lines;
    if (!part.DecodeToStringList(lines, false)) lines = part.RawText();
    return lines;
}

// The message reduced to plain text; true when that changed it. A changed body no longer
// has the parts the stages held: the HTML part is forgotten and the text part looked up
// afresh, since the old one may have been destroyed with its siblings.
bool ConvertMessage(TScreeningContext& ctx) {
    if (!ctx.message->ConvertToPlainText()) return false;
    ctx.htmlPart = nullptr;
    ctx.textPart = ctx.message->FindBodyParts().plain;
    return true;
}

void Record(TScreeningContext& ctx, const TFinding& finding) {
    ctx.message->AddDangerReason(finding.reason, finding.points);
    ctx.GeneralInfo().AddLine(finding.pointsLine, -1, true, TSimpleHtmlMode::HtmlOnly);
    if (ConvertMessage(ctx)) {
        ctx.SetBothFlags();
        ctx.GeneralInfo().AddLine(finding.notice);
    }
}

}  // namespace

bool ContainsInTag(std::string_view text, std::string_view inner) {
    // Two rewrites that keep the answer and make it linear. The closing '>' may be any
    // '>' after the inner match, so only the text up to the last '>' can hold a match,
    // and there one always follows. And a match that starts at a '<' can start again at
    // the last '<' before its inner part, so the run after '<' may stop at the next '<':
    // the runs tried from different '<' then never overlap.
    const std::size_t lastClose = text.rfind('>');
    if (lastClose == std::string_view::npos) return false;
    std::string expression = "<[^<>]*";
    expression.append(inner);
    return RegexContains(expression, text.substr(0, lastClose + 1), kRegexFlags);
}

void CheckPlainTextMessage(TScreeningContext& ctx) {
    TEmailMsgPart* part =
        ctx.textPart != nullptr ? ctx.textPart : ctx.message->FindBodyParts().plain;
    if (part == nullptr) return;
    const std::vector<std::string> lines = BodyLines(*part);
    std::string joined;
    for (const std::string& line : lines) {
        joined += line;
        joined += "\r\n";
    }
    const std::string_view text = Trimmed(joined);
    if (text.size() < kPlainScriptMinLength || text.size() > kPlainScriptMaxLength) return;
    if (text.front() != '<' || AsciiLower(text).find("<script") == std::string::npos) return;
    ctx.GeneralInfo().AddLine(kPlainScriptNotice);
    ctx.SetBothFlags();
}

void ApplyWebContentChoice(TScreeningContext& ctx) {
    if (ReadSetting(settings::kWebContent) != kPlainTextOnly) return;
    ctx.htmlPart = nullptr;
    (void)ConvertMessage(ctx);
    ctx.GeneralInfo().AddLine(kConvertedNotice);
    ctx.SetBothFlags();
}

void CheckHtmlBody(TScreeningContext& ctx) {
    if (ctx.htmlPart == nullptr) return;
    const int webContent = ReadSetting(settings::kWebContent);
    if (webContent != kSafeHtmlOnly && webContent != kAdvanced) return;
    const bool safeHtml = webContent == kSafeHtmlOnly;

    // Built once; every check below reads this text, also after a conversion.
    const std::string text = NormalisedText(BodyLines(*ctx.htmlPart));

    if (safeHtml || ReadSettingFlag(settings::kBlockScripts)) {
        for (const TScriptRow& row : kScriptRows) {
            if (RowApplies(row, text)) {
                Record(ctx, row.finding);
                break;
            }
        }
    }

    if (Contains(text, "<link")) Record(ctx, kLinkFinding);

    // "Safe Html Only" stops at the first conversion; "Advanced" follows its switches.
    const auto blocked = [&](const SettingDef& flag) {
        return safeHtml ? ctx.htmlPart != nullptr : ReadSettingFlag(flag);
    };
    if (blocked(settings::kBlockFrames) && ContainsAny(text, kFrameTags)) {
        Record(ctx, kFrameFinding);
    }
    if (blocked(settings::kBlockObjects) && ContainsAny(text, kObjectTags)) {
        Record(ctx, kObjectFinding);
    }
}

}  // namespace gatemoor
