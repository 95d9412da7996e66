#include "screening/PictureHandling.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <sstream>

#include "foundation/SettingsCatalogue.h"
#include "foundation/VornReg.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/VornUrl.h"
#include "screening/EmailInfo.h"
#include "screening/FileExtLookup.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilSystem.h"

namespace gatemoor {
namespace {

// "Pictures" choices, and the values of the three "More Options" settings.
constexpr int kPicturesBlock = 0;
constexpr int kPicturesPrompt = 2;
constexpr int kPicturesMoreOptions = 3;
constexpr int kOptionBlock = 0;
constexpr int kOptionPrompt = 1;
// Pictures from the internet are left alone unless the user chose otherwise.
constexpr int kDownloadImagesDefault = 2;

constexpr std::string_view kPlaceholderName = "DotClear.gif";
constexpr std::string_view kUnnamedPicture = "Unnamed Picture";
constexpr std::string_view kDefaultPictureExtension = ".jpg";
// Links to the report service itself are never pictures from elsewhere.
constexpr std::string_view kLocalServicePrefix = "http://LocalHost";
constexpr std::array<std::string_view, 7> kPictureExtensions{".jpg", ".jpeg", ".gif", ".png",
                                                             ".tiff", ".tif", ".bmp"};
// Saved names are cut to these lengths: a sender's name that no file system takes would
// end the screening of the message.
constexpr std::size_t kMaxSavedBaseLength = 100;
constexpr std::size_t kMaxSavedExtensionLength = 16;
// Random names of saved pictures run from 0 to this.
constexpr int kMaxRandomPictureNumber = 2147483646;

[[nodiscard]] bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

[[nodiscard]] bool ContainsNoCase(std::string_view text, std::string_view part) {
    return AsciiLower(text).find(AsciiLower(part)) != std::string::npos;
}

[[nodiscard]] bool IsEmbeddedKind(const TImageRef& ref) {
    return ref.kind == TImageRefKind::ContentId || ref.kind == TImageRefKind::ContentLocation;
}

// Text from the message as it may stand in a report line.
[[nodiscard]] std::string Escaped(std::string_view text) {
    std::string escaped(text);
    (void)EscapeHtml(escaped);
    return escaped;
}

void AddNotice(TScreeningContext& ctx, std::string_view text) {
    ctx.GeneralInfo().AddLine(text, TSimpleHtml::kDefaultLevel, true, TSimpleHtmlMode::Both);
}

[[nodiscard]] std::string ExternalNotice(int count) {
    if (count == 1) return "Gatemoor removed a reference to external picture from this e-mail.";
    return "Gatemoor removed " + std::to_string(count) + " references to external pictures from this e-mail.";
}

// The HTML text of a part as the stages edit it: its decoded lines joined with CR LF.
[[nodiscard]] std::string HtmlTextOf(TEmailMsgPart& part) {
    std::vector<std::string> lines;
    (void)part.DecodeToStringList(lines, false);
    return TextOfLines(lines);
}

void StoreHtmlText(TEmailMsgPart& part, std::string_view text) {
    (void)part.EncodeFromStringList(SplitLines(text), false);
}

// The distinct reference texts, sorted: the texts that begin with a given text follow it
// directly, so the longer references that share a start are found without a full scan.
class TReferenceTexts {
public:
    explicit TReferenceTexts(const TImageRefList& refs) {
        for (const TImageRef& ref : refs)
            texts_.push_back(ref.url);
        std::sort(texts_.begin(), texts_.end());
        texts_.erase(std::unique(texts_.begin(), texts_.end()), texts_.end());
    }

    // The length of the longest reference longer than `ref` that starts at `pos` of
    // `text`; 0 when there is none.
    [[nodiscard]] std::size_t LongerAt(std::string_view text, std::size_t pos, std::string_view ref) const {
        std::size_t longest = 0;
        auto it = std::upper_bound(texts_.begin(), texts_.end(), ref);
        for (; it != texts_.end() && it->starts_with(ref); ++it) {
            if (it->size() > longest && text.substr(pos).starts_with(*it)) longest = it->size();
        }
        return longest;
    }

private:
    std::vector<std::string> texts_;
};

// Replaces the occurrences of `ref` in one forward pass and answers how many. An
// occurrence that begins a longer reference is that reference's: replaced here, its
// tail would be left behind the link. Nothing is replaced when the link holds `ref`.
int ReplaceReference(std::string& text, std::string_view ref, std::string_view link,
                     const TReferenceTexts& texts) {
    if (ref.empty() || link.find(ref) != std::string_view::npos) return 0;
    std::string result;
    int count = 0;
    std::size_t copied = 0;
    std::size_t pos = text.find(ref);
    while (pos != std::string::npos) {
        if (const std::size_t longer = texts.LongerAt(text, pos, ref); longer > 0) {
            pos = text.find(ref, pos + longer);
            continue;
        }
        result.append(text, copied, pos - copied);
        result.append(link);
        copied = pos + ref.size();
        ++count;
        pos = text.find(ref, copied);
    }
    if (count > 0) {
        result.append(text, copied);
        text = std::move(result);
    }
    return count;
}

// The part a cid: or location reference names, anywhere in the message.
[[nodiscard]] TEmailMsgPart* ReferencedPart(TScreeningContext& ctx, const TImageRef& ref) {
    if (ref.kind == TImageRefKind::ContentId) {
        const std::string id = ref.url.substr(std::min<std::size_t>(4, ref.url.size()));
        if (TEmailMsgPart* part = ctx.message->FindPartByField("Content-id", id)) return part;
        return ctx.message->FindPartByField("Content-id", "<" + id + ">");
    }
    return ctx.message->FindPartByField("Content-Location", ref.url);
}

// The `name` parameter of Content-Type, else the `filename` parameter of
// Content-Disposition.
[[nodiscard]] std::optional<std::string> PartName(const TEmailMsgPart& part) {
    const TEmailHeader* header = part.Header();
    if (header == nullptr) return std::nullopt;
    std::string name;
    if (header->GetDecodedParam("Content-Type", "name", name)) return name;
    if (header->GetDecodedParam("Content-Disposition", "filename", name)) return name;
    return std::nullopt;
}

[[nodiscard]] bool Holds(const TEmailMsgPart& part, const TEmailMsgPart* target) {
    if (target == nullptr) return false;
    const TEmailMsgPartCollection& children = part.Children();
    for (int i = 0; i < children.Count(); ++i) {
        const TEmailMsgPart* child = children.Items(i);
        if (child == target || (child != nullptr && Holds(*child, target))) return true;
    }
    return false;
}

// Deletes the part with its sub-parts; false when it must stay. The body parts that
// the stages hold stay, with what contains them (a sender can give the HTML part the
// Content-id its own picture names), and so does the first part of a multipart, which
// carries the opening delimiter.
bool RemovePart(TScreeningContext& ctx, TEmailMsgPart& part) {
    if (&part == ctx.htmlPart || &part == ctx.textPart) return false;
    if (Holds(part, ctx.htmlPart) || Holds(part, ctx.textPart)) return false;
    if (part.IsPreamble()) return false;
    TEmailMsgPartCollection* parent = part.Parent();
    if (parent == nullptr) return false;
    const int index = parent->IndexOf(&part);
    if (index < 0) return false;
    parent->Delete(index);
    (void)parent->KeepOneBodyPart();
    return true;
}

// A name for a part without one: a random number with the extension of the declared
// content type.
[[nodiscard]] std::string GeneratedPictureName(const TEmailMsgPart& part) {
    std::string name = std::to_string(RandomNumber(kMaxRandomPictureNumber + 1));
    std::string type;
    std::string extension;
    const TEmailHeader* header = part.Header();
    if (header != nullptr && header->GetFieldValue("Content-Type", type, true) && !type.empty() &&
        ExtensionOfMimeType(type, extension)) {
        return name + extension;
    }
    return name + std::string(kDefaultPictureExtension);
}

// A name's own file part without its extension, and the extension with its dot.
struct TNameParts {
    std::string base;
    std::string extension;
};

[[nodiscard]] TNameParts SplitName(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\:");
    if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
    while (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    TNameParts parts;
    const std::size_t dot = name.rfind('.');
    parts.base = name.substr(0, dot);
    if (dot != std::string_view::npos) parts.extension = name.substr(dot);
    // A quote in a link that lands in a single-quoted attribute would end it, and what
    // follows would become an attribute of the sender's choosing.
    for (std::string* piece : {&parts.base, &parts.extension}) {
        KeepOnlyChars(*piece, TCharClass::FileNameChar);
        std::erase_if(*piece, [](char c) { return c == '\'' || c == '`'; });
    }
    if (parts.base.size() > kMaxSavedBaseLength) parts.base.resize(kMaxSavedBaseLength);
    if (parts.extension.size() > kMaxSavedExtensionLength) parts.extension.resize(kMaxSavedExtensionLength);
    return parts;
}

// Saves the part's decoded content as a new file in the Images folder; its file name.
std::string SavePicture(TEmailMsgPart& part, std::string_view name) {
    const TNameParts parts = SplitName(name);
    std::string path;
    if (!GetUniquePath(ImagesFolder(), parts.base, parts.extension, path))
        throw EPictureFileError("The pictures folder could not be created for " + path);
    std::stringstream content;
    (void)part.DecodeToStream(content, false);
    const std::string bytes = content.str();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw EPictureFileError("The picture file " + path + " could not be written");
    return LastPathSegment(path);
}

[[nodiscard]] bool HtmlStageApplies(const TScreeningContext& ctx, const TImageRefList& refs) {
    return ctx.message != nullptr && ctx.htmlPart != nullptr && !refs.empty();
}

[[nodiscard]] bool IsPicture(const TEmailMsgPart& part, const std::optional<std::string>& name) {
    if (name) {
        const std::string extension = AsciiLower(FileExtOf(*name));
        if (!part.Screening.MultipleExtensions &&
            std::find(kPictureExtensions.begin(), kPictureExtensions.end(), extension) !=
                kPictureExtensions.end()) {
            return true;
        }
        std::string type;
        if (MimeTypeOfFileName(*name, type) && ContainsNoCase(type, "image/")) return true;
    }
    std::string declared;
    return part.Header()->GetFieldValue("Content-Type", declared, true) && ContainsNoCase(declared, "image/");
}

struct TAttachmentCheck {
    TPictureDecisions decisions;
    bool mayBeEmbedded = false;  // the HTML part is known and refers to pictures
};

bool CheckCollection(TScreeningContext& ctx, TEmailMsgPartCollection& parts, const TAttachmentCheck& check) {
    bool removed = false;
    for (int i = parts.Count() - 1; i >= 0; --i) {
        TEmailMsgPart* part = parts.Items(i);
        if (part == nullptr) continue;
        if (CheckCollection(ctx, part->Children(), check)) removed = true;
        const TEmailHeader* header = part->Header();
        if (header == nullptr) continue;
        const std::optional<std::string> name = PartName(*part);
        if (!IsPicture(*part, name)) continue;
        const std::string shown = Escaped(name.value_or(std::string(kUnnamedPicture)));
        const bool embedded = check.mayBeEmbedded && (header->IndexOfField("Content-id") >= 0 ||
                                                      header->IndexOfField("Content-Location") >= 0);
        if (!embedded && check.decisions.blockAttached) {
            if (RemovePart(ctx, *part)) {
                AddNotice(ctx, "Gatemoor removed the picture \"" + shown + "\" that was attached to this e-mail.");
                removed = true;
            }
            continue;
        }
        if (embedded && check.decisions.blockEmbedded) {
            if (RemovePart(ctx, *part)) {
                AddNotice(ctx, "Gatemoor removed the picture \"" + shown + "\" that was embedded in this e-mail.");
                removed = true;
            }
            continue;
        }
        part->Screening.KeepAsPicture = true;
    }
    return removed;
}

// The walk of both external stages; the link is made for each reference. Answers the
// number of references replaced.
template <class LinkFor>
int ReplaceExternalReferences(TScreeningContext& ctx, const TImageRefList& refs, LinkFor linkFor) {
    std::string text = HtmlTextOf(*ctx.htmlPart);
    const TReferenceTexts texts(refs);
    int count = 0;
    for (auto ref = refs.rbegin(); ref != refs.rend(); ++ref) {
        if (IsEmbeddedKind(*ref) || StartsWithNoCase(ref->url, kLocalServicePrefix)) continue;
        if (ReplaceReference(text, ref->url, linkFor(ref->url), texts) > 0) ++count;
    }
    if (count > 0) StoreHtmlText(*ctx.htmlPart, text);
    return count;
}

}  // namespace

TPictureDecisions ReadPictureDecisions() {
    const int pictures = ReadSetting(settings::kPictures);
    const bool more = pictures == kPicturesMoreOptions;
    const auto option = [more](const SettingDef& def, int defaultValue) {
        return more ? ReadSettingInteger(def.section, def.name, defaultValue) : -1;
    };
    const int embedded = option(settings::kEmbeddedImages, settings::kEmbeddedImages.defaultValue);
    const int download = option(settings::kDownloadImages, kDownloadImagesDefault);
    const int attachments = option(settings::kImageAttachments, settings::kImageAttachments.defaultValue);

    TPictureDecisions decisions;
    decisions.blockEmbedded = pictures == kPicturesBlock || embedded == kOptionBlock;
    decisions.promptEmbedded = pictures == kPicturesPrompt || embedded == kOptionPrompt;
    decisions.blockAttached = pictures == kPicturesBlock || attachments == kOptionBlock;
    decisions.blockExternal = pictures == kPicturesBlock || download == kOptionBlock;
    decisions.promptExternal = pictures == kPicturesPrompt || download == kOptionPrompt;
    return decisions;
}

TImageRefList PictureReferences(TScreeningContext& ctx) {
    TImageRefList refs;
    if (ctx.htmlPart != nullptr) ctx.htmlPart->GetExtImageRefUrls(refs);
    return refs;
}

std::string BlockedPictureLink() {
    TVornUrl url;
    url.SetCommand("Image");
    url.SetValue("Name", kPlaceholderName);
    return url.ToString();
}

std::string DeferredEmbeddedPictureLink(std::string_view name, int recordId) {
    TVornUrl url;
    url.SetCommand("EmbeddedImage");
    url.SetValue("Name", name);
    url.SetValue("CId", std::to_string(recordId));
    return url.ToString();
}

std::string DeferredExternalPictureLink(int recordId, std::string_view reference) {
    TVornUrl url;
    url.SetCommand("ImagePrompt");
    url.SetValue("CId", std::to_string(recordId));
    url.SetValue("EncUrl", PackText(reference));
    return url.ToString();
}

void BlockEmbeddedPictures(TScreeningContext& ctx, const TImageRefList& refs) {
    if (!HtmlStageApplies(ctx, refs) || !ReadPictureDecisions().blockEmbedded) return;
    std::string text = HtmlTextOf(*ctx.htmlPart);
    const TReferenceTexts texts(refs);
    const std::string link = BlockedPictureLink();
    bool replaced = false;
    bool removed = false;
    for (auto ref = refs.rbegin(); ref != refs.rend(); ++ref) {
        if (!IsEmbeddedKind(*ref)) continue;
        if (ReplaceReference(text, ref->url, link, texts) > 0) replaced = true;
        TEmailMsgPart* part = ReferencedPart(ctx, *ref);
        if (part == nullptr) continue;
        const std::optional<std::string> name = PartName(*part);
        if (!RemovePart(ctx, *part)) continue;
        removed = true;
        AddNotice(ctx, name ? "Gatemoor removed the picture \"" + Escaped(*name) + "\" that was embedded in this e-mail."
                            : std::string("Gatemoor removed a picture that was embedded in this e-mail."));
    }
    if (replaced) StoreHtmlText(*ctx.htmlPart, text);
    if (replaced || removed) ctx.SetBothFlags();
}

void PromptEmbeddedPictures(TScreeningContext& ctx, const TImageRefList& refs) {
    if (!HtmlStageApplies(ctx, refs) || !ReadPictureDecisions().promptEmbedded) return;
    std::string text = HtmlTextOf(*ctx.htmlPart);
    const TReferenceTexts texts(refs);
    const int recordId = ctx.message->Info().Id();
    std::string savedName;
    bool replaced = false;
    bool removed = false;
    for (auto ref = refs.rbegin(); ref != refs.rend(); ++ref) {
        if (!IsEmbeddedKind(*ref)) continue;
        if (TEmailMsgPart* part = ReferencedPart(ctx, *ref)) {
            const std::optional<std::string> name = PartName(*part);
            savedName = SavePicture(*part, name ? *name : GeneratedPictureName(*part));
            if (RemovePart(ctx, *part)) removed = true;
        }
        if (ReplaceReference(text, ref->url, DeferredEmbeddedPictureLink(savedName, recordId), texts) > 0)
            replaced = true;
    }
    if (replaced) StoreHtmlText(*ctx.htmlPart, text);
    // Deferring alone gives the message no notice and no report.
    if (replaced || removed) ctx.modifiedFlag = true;
}

bool CheckPictureAttachments(TScreeningContext& ctx, const TImageRefList& refs,
                             TEmailMsgPartCollection& parts) {
    if (ctx.message == nullptr) return false;
    TAttachmentCheck check;
    check.decisions = ReadPictureDecisions();
    check.mayBeEmbedded = ctx.htmlPart != nullptr && !refs.empty();
    const bool removed = CheckCollection(ctx, parts, check);
    if (removed) ctx.SetBothFlags();
    return removed;
}

void BlockExternalPictures(TScreeningContext& ctx, const TImageRefList& refs) {
    if (!HtmlStageApplies(ctx, refs) || !ReadPictureDecisions().blockExternal) return;
    const std::string link = BlockedPictureLink();
    const int count = ReplaceExternalReferences(ctx, refs, [&link](std::string_view) { return link; });
    if (count == 0) return;
    ctx.SetBothFlags();
    AddNotice(ctx, ExternalNotice(count));
}

void PromptExternalPictures(TScreeningContext& ctx, const TImageRefList& refs) {
    if (!HtmlStageApplies(ctx, refs) || !ReadPictureDecisions().promptExternal) return;
    const int recordId = ctx.message->Info().Id();
    const int count = ReplaceExternalReferences(ctx, refs, [recordId](std::string_view reference) {
        return DeferredExternalPictureLink(recordId, reference);
    });
    if (count == 0) return;
    ctx.modifiedFlag = true;
    AddNotice(ctx, ExternalNotice(count));
}

void HandlePictures(TScreeningContext& ctx) {
    if (ctx.message == nullptr) return;
    const TImageRefList refs = PictureReferences(ctx);
    BlockEmbeddedPictures(ctx, refs);
    PromptEmbeddedPictures(ctx, refs);
    (void)CheckPictureAttachments(ctx, refs, ctx.message->Parts());
    BlockExternalPictures(ctx, refs);
    PromptExternalPictures(ctx, refs);
}

}  // namespace gatemoor
