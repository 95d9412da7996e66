// TEmailMsg: loading, parsing, saving and the destruction rules of one message, its
// header registry and the index of which part has which header. Body editing lives in
// EmailMsgBody.cpp, the folder lists in EmailMsgList.cpp.
#include "mail/EmailMsg.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <system_error>
#include <utility>

#include "foundation/CommaText.h"
#include "foundation/Time.h"
#include "mail/EmailDecoders.h"
#include "mail/VornUrl.h"
#include "screening/EmailInfo.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilFiles.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilProgress.h"

namespace gatemoor {

namespace {

constexpr std::string_view kPropertyLinePrefix = "X-SMTP: ";
constexpr std::string_view kContentIdProperty = "ContentId";
constexpr std::string_view kSendTimeProperty = "SendTime";
constexpr std::string_view kFailureNoticeProperty = "FailureNotice";
// How many body lines the search for a missing delimiter looks at.
constexpr std::size_t kDelimiterSearchLines = 11;
constexpr std::size_t kReadBlockSize = 64 * 1024;

std::uint32_t RandomUInt32() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<std::uint32_t>(generator());
}

std::string PropertyName(std::string_view item) {
    return std::string(item.substr(0, item.find('=')));
}

bool SameNameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Splits a stream into lines at CR LF, LF or CR, as every line list of the system is
// split, reading in blocks so that a large message is never held twice.
void ReadLines(std::istream& stream, std::vector<std::string>& lines) {
    // Not zero-filled: every message read would pay for clearing the whole block.
    const std::unique_ptr<char[]> buffer(new char[kReadBlockSize]);
    const std::string_view block(buffer.get(), kReadBlockSize);
    std::string current;
    bool pendingCr = false;  // the block ended in CR: a following LF belongs to it
    bool any = false;
    while (stream) {
        stream.read(buffer.get(), static_cast<std::streamsize>(kReadBlockSize));
        const auto got = static_cast<std::size_t>(stream.gcount());
        if (got == 0) break;
        any = true;
        std::size_t start = 0;
        if (pendingCr && block[0] == '\n') start = 1;
        pendingCr = false;
        TLineBreaks breaks(block.substr(0, got));
        for (std::size_t i = breaks.Next(start); i != std::string_view::npos; i = breaks.Next(start)) {
            const char c = block[i];
            current.append(block, start, i - start);
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r') {
                if (i + 1 < got) {
                    if (block[i + 1] == '\n') ++i;
                } else {
                    pendingCr = true;
                }
            }
            start = i + 1;
        }
        current.append(block, start, got - start);
    }
    // A final terminator adds no empty line.
    if (any && !current.empty()) lines.push_back(std::move(current));
}

}  // namespace

// --- Creation and destruction ---------------------------------------------------------

TEmailMsg::TEmailMsg(TEmailMsgList* list) : lock_("EmailMsg_CS") {
    info_ = NewEmailInfo();
    mainHeader_ = new TEmailHeader(this);
    parts_ = new TEmailMsgPartCollection(0);
    if (list != nullptr) list->Add(this);
}

TEmailMsg::~TEmailMsg() {
    try {
        if (list_ != nullptr) list_->Remove(this);
        DestructionRules();
    } catch (...) {
        // A destructor must not throw; whatever could not be saved stays as it was.
    }
    FreeTree();
    ReleaseEmailInfo(info_);
}

void TEmailMsg::DestructionRules() {
    if (flaggedDeleted_) {
        if (deleteFileWhenFlagged_) (void)DiskDelete();
        return;
    }
    if (!saveOnDestroy_) {
        // Messages that are only passed through (save on destroy off) never write a
        // file of their own, not even when they have none yet.
        if (!Property(kFailureNoticeProperty).empty()) (void)DiskDelete();
        return;
    }
    std::error_code error;
    if (modified_ || (IsLoaded() && (fileName_.empty() || !std::filesystem::exists(fileName_, error))))
        (void)Save();
}

void TEmailMsg::FreeTree() {
    // Parts first: they report their headers to the index while those still live.
    delete parts_;
    parts_ = nullptr;
    freeingHeaders_ = true;
    for (TEmailHeader* header : headers_)
        delete header;
    headers_.clear();
    freeingHeaders_ = false;
    partsByHeader_.clear();
    mainHeader_ = nullptr;
}

// --- THeaderOwner ---------------------------------------------------------------------

void TEmailMsg::RegisterHeader(TEmailHeader& header) {
    headers_.insert(&header);
}

void TEmailMsg::UnregisterHeader(TEmailHeader& header) {
    if (freeingHeaders_) return;
    headers_.erase(&header);
    partsByHeader_.erase(&header);
}

void TEmailMsg::WalkParts(const TPartVisitor& visit) const {
    if (parts_ == nullptr) return;
    bool go = true;
    std::function<void(const TEmailMsgPartCollection&)> walk = [&](const TEmailMsgPartCollection& parts) {
        for (int i = 0; go && i < parts.Count(); ++i) {
            TEmailMsgPart* part = parts.Items(i);
            if (!visit(*part, part->Header())) {
                go = false;
                return;
            }
            walk(part->Children());
        }
    };
    walk(*parts_);
}

int TEmailMsg::PartDepth(const TEmailMsgPart& part) const {
    return part.Depth();
}

const TEmailHeader* TEmailMsg::EnclosingHeader(const TEmailMsgPart& part) const {
    if (part.Parent() == nullptr) return nullptr;
    const TEmailMsgPart* container = part.Parent()->OwnerPart();
    return container != nullptr ? container->Header() : mainHeader_;
}

void TEmailMsg::PartHeaderChanged(TEmailMsgPart& part, const TEmailHeader* before,
                                  const TEmailHeader* after) {
    if (before != nullptr) {
        const auto it = partsByHeader_.find(before);
        if (it != partsByHeader_.end()) {
            std::erase(it->second, &part);
            if (it->second.empty()) partsByHeader_.erase(it);
        }
    }
    if (after != nullptr) partsByHeader_[after].push_back(&part);
}

TEmailMsgPart* TEmailMsg::PartOfHeader(const TEmailHeader& header) const {
    CriticalSectionGuard guard(lock_);
    const auto it = partsByHeader_.find(&header);
    if (it == partsByHeader_.end()) return nullptr;
    // Only parts that hang in this message's tree count.
    const auto inTree = [this](const TEmailMsgPart* part) {
        const TEmailMsgPartCollection* parent = part->Parent();
        while (parent != nullptr && parent != parts_) {
            const TEmailMsgPart* above = parent->OwnerPart();
            if (above == nullptr) return false;
            parent = above->Parent();
        }
        return parent == parts_;
    };
    std::vector<TEmailMsgPart*> candidates;
    for (TEmailMsgPart* part : it->second)
        if (inTree(part)) candidates.push_back(part);
    if (candidates.empty()) return nullptr;
    if (candidates.size() == 1) return candidates.front();
    // A header is shared by a part and its first child: the part comes first in the
    // walk. Anything less regular is answered by the walk itself.
    if (candidates.size() == 2) {
        for (int k = 0; k < 2; ++k) {
            TEmailMsgPart* outer = candidates[static_cast<std::size_t>(k)];
            TEmailMsgPart* inner = candidates[static_cast<std::size_t>(1 - k)];
            if (inner->Parent() != nullptr && inner->Parent()->OwnerPart() == outer) return outer;
        }
    }
    return THeaderOwner::PartOfHeader(header);
}

// --- Access with lazy loading ---------------------------------------------------------

bool TEmailMsg::IsLoaded() const {
    CriticalSectionGuard guard(lock_);
    return !rawLines_.empty() || parsed_;
}

void TEmailMsg::EnsureLoaded() {
    if (!IsLoaded() && !fileName_.empty()) (void)ReadFromFile(fileName_);
}

void TEmailMsg::EnsureParsed() {
    EnsureLoaded();
    if (!parsed_) {
        std::vector<std::string> lines = std::move(rawLines_);
        rawLines_.clear();
        (void)ParseRawLines(lines);
    }
}

TEmailHeader& TEmailMsg::Header() {
    CriticalSectionGuard guard(lock_);
    EnsureParsed();
    return *mainHeader_;
}

TEmailMsgPartCollection& TEmailMsg::Parts() {
    CriticalSectionGuard guard(lock_);
    EnsureParsed();
    return *parts_;
}

const std::vector<std::string>& TEmailMsg::Properties() {
    CriticalSectionGuard guard(lock_);
    EnsureLoaded();
    return properties_;
}

std::string TEmailMsg::Property(std::string_view name) {
    CriticalSectionGuard guard(lock_);
    return ValueOfName(Properties(), name).value_or(std::string());
}

void TEmailMsg::SetProperty(std::string_view name, std::string_view value) {
    CriticalSectionGuard guard(lock_);
    EnsureLoaded();
    const auto it = std::find_if(properties_.begin(), properties_.end(), [&](const std::string& item) {
        return SameNameNoCase(PropertyName(item), name);
    });
    if (value.empty()) {
        if (it == properties_.end()) return;
        properties_.erase(it);
    } else {
        std::string item = std::string(name) + "=" + std::string(value);
        if (it != properties_.end()) {
            if (*it == item) return;
            *it = std::move(item);
        } else {
            properties_.push_back(std::move(item));
        }
    }
    modified_ = true;
}

void TEmailMsg::UpdateBodyFlags() {
    CriticalSectionGuard guard(lock_);
    plainTextMessage_ = mainHeader_ != nullptr && mainHeader_->IsPlainText();
}

// --- Reading --------------------------------------------------------------------------

bool TEmailMsg::ReadFromFile(const std::string& path) {
    CriticalSectionGuard guard(lock_);
    fileName_ = path;
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file) return false;
        return LoadFromStream(file);
    } catch (...) {
        return false;
    }
}

bool TEmailMsg::LoadFromStream(std::istream& stream) {
    CriticalSectionGuard guard(lock_);
    (void)ReportProgress();
    if (parsed_) Reset();
    rawLines_.clear();
    ReadLines(stream, rawLines_);
    if (stream.bad()) {
        rawLines_.clear();
        return false;
    }
    properties_.clear();
    if (!rawLines_.empty() && rawLines_.front().find(kPropertyLinePrefix) != std::string::npos) {
        const std::string& line = rawLines_.front();
        // From the eighth character: the comma text reader skips the blank before it.
        properties_ = FromCommaText(std::string_view(line).substr(kPropertyLinePrefix.size() - 1));
        rawLines_.erase(rawLines_.begin());
    }
    int id = info_->Id();
    if (const auto value = ValueOfName(properties_, kContentIdProperty)) {
        try {
            std::size_t used = 0;
            const long number = std::stol(*value, &used);
            if (used == value->size() && number >= 0 && number <= kMaxEmailInfoId)
                id = static_cast<int>(number);
        } catch (...) {
            // not a number: the record keeps its id
        }
    }
    if (const auto sent = ValueOfName(properties_, kSendTimeProperty)) {
        const Rfc822DateParse date = ParseRfc822Date(*sent);
        sendTime_ = date.date;
    }
    (void)info_->Load(id);
    bool result = true;
    if (parseOnLoad_) {
        std::vector<std::string> lines = std::move(rawLines_);
        rawLines_.clear();
        result = ParseRawLines(lines);
    }
    modified_ = false;
    return result;
}

// --- Writing --------------------------------------------------------------------------

bool TEmailMsg::SaveToStream(std::ostream& stream) {
    CriticalSectionGuard guard(lock_);
    EnsureLoaded();
    SetProperty(kContentIdProperty, std::to_string(info_->Id()));
    modified_ = false;
    (void)info_->Save();
    if (!properties_.empty()) stream << kPropertyLinePrefix << ToCommaText(properties_) << "\r\n";
    const auto writeLines = [&stream](const std::vector<std::string>& lines) {
        for (const std::string& line : lines)
            stream << line << "\r\n";
    };
    if (parsed_) {
        std::vector<std::string> lines;
        (void)SaveToLines(lines, true);
        writeLines(lines);
    } else {
        writeLines(rawLines_);
    }
    stream.flush();
    return static_cast<bool>(stream);
}

bool TEmailMsg::SaveToFile(const std::string& path) {
    CriticalSectionGuard guard(lock_);
    try {
        // Written beside the target and renamed over it, so that a failed write never
        // leaves half a message where a whole one stood.
        const std::string temporary = path + ".part";
        {
            std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
            if (!file) return false;
            if (!SaveToStream(file)) {
                file.close();
                std::remove(temporary.c_str());
                return false;
            }
        }
        std::error_code error;
        std::filesystem::rename(temporary, path, error);
        if (error) {
            std::filesystem::remove(temporary, error);
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool TEmailMsg::Save() {
    CriticalSectionGuard guard(lock_);
    try {
        if (!IsLoaded()) return true;
        if (fileName_.empty()) {
            std::string path;
            if (list_ != nullptr) {
                path = list_->NewFileName(*this);
            } else {
                (void)GetUniquePath(TempFolder(), "Temp", ".eml", path);
            }
            if (path.empty()) return false;
            fileName_ = path;
        }
        return SaveToFile(fileName_);
    } catch (...) {
        return false;
    }
}

bool TEmailMsg::SaveToLines(std::vector<std::string>& target, bool full) {
    CriticalSectionGuard guard(lock_);
    target.clear();
    EnsureLoaded();
    if (!parsed_ && full) {
        target = rawLines_;
        return true;
    }
    EnsureParsed();
    if (full) target.reserve(parsedLineCount_ + 8);
    mainHeader_->SaveToLines(target);
    target.emplace_back();
    bool result = true;
    for (int i = 0; i < parts_->Count(); ++i)
        if (!parts_->Items(i)->WriteTo(target, full)) result = false;
    // The epilogue follows the closing delimiter; a body reduced to one part that no
    // delimiter follows (plain-text conversion) has none, or it would join the text.
    if (!parts_->Empty() && !parts_->Items(parts_->Count() - 1)->BoundaryLine().empty())
        target.insert(target.end(), epilogue_.begin(), epilogue_.end());
    return result;
}

// --- Parsing --------------------------------------------------------------------------

bool TEmailMsg::SetRawMail(std::vector<std::string>& lines) {
    CriticalSectionGuard guard(lock_);
    if (parsed_) Reset();
    bool result = true;
    if (parseOnLoad_) {
        result = ParseRawLines(lines);
    } else {
        rawLines_ = std::move(lines);
    }
    lines.clear();
    NewContentId();
    modified_ = true;
    return result;
}

void TEmailMsg::ParseMultipartBody(TLineSource& source) {
    std::string delimiter = mainHeader_->GetBoundary();
    if (delimiter.empty()) {
        // A boundary parameter that went missing is looked for in the body itself.
        const std::size_t remaining = source.Remaining();
        if (remaining > 0 && source.lines.back().find("--") != std::string::npos) {
            const std::string& last = source.lines.back();
            delimiter = last.substr(0, last.size() - 2);
        } else {
            const std::size_t end = source.pos + std::min(remaining, kDelimiterSearchLines);
            for (std::size_t i = source.pos; i < end; ++i) {
                if (source.lines[i].starts_with("--")) {
                    delimiter = source.lines[i];
                    break;
                }
            }
        }
        if (delimiter.size() > 2) {
            // The parameter must read back as the delimiter that splits this body, or
            // the written message would be split elsewhere the next time: blanks need
            // quotes. A delimiter that no parameter can name does not split the body,
            // as no reader of the written message could split it there either.
            std::string type;
            (void)mainHeader_->GetField("Content-Type", type);
            const std::string boundary = delimiter.substr(2);
            (void)mainHeader_->SetBoundary(boundary);
            if (mainHeader_->GetBoundary() != delimiter)
                (void)mainHeader_->SetBoundary("\"" + boundary + "\"");
            if (mainHeader_->GetBoundary() != delimiter) {
                (void)mainHeader_->SetField("Content-Type", type);
                delimiter.clear();
            }
        } else {
            delimiter.clear();
        }
    }
    auto* current = new TEmailMsgPart(parts_);
    current->SetParseSubpartsFlag(parseSubparts_);
    current->SetHeader(mainHeader_);
    if (delimiter.empty()) {
        current->ParseBody(source, {}, false);
        return;
    }
    while (!current->ParseBody(source, delimiter, false)) {
        auto* next = new TEmailMsgPart(parts_);
        next->SetParseSubpartsFlag(parseSubparts_);
        auto* header = new TEmailHeader(this);
        (void)LoadHeaderBlock(*header, source, false, delimiter);
        next->SetHeader(header);
        current = next;
    }
    // What follows the closing delimiter is kept and written back after it.
    epilogue_ = source.TakeRest();
}

bool TEmailMsg::ParseRawLines(std::vector<std::string>& lines) {
    CriticalSectionGuard guard(lock_);
    if (parsed_) Reset();
    parsed_ = true;
    const bool wasModified = modified_;
    bool result = false;
    try {
        TLineSource source{std::move(lines), 0};
        lines.clear();
        parsedLineCount_ = source.lines.size();
        result = LoadHeaderBlock(*mainHeader_, source, true, {});
        if (mainHeader_->IsMultipart()) {
            const bool named = !mainHeader_->GetBoundary().empty();
            ParseMultipartBody(source);
            if (!named && !mainHeader_->GetBoundary().empty()) {
                // The boundary found in the body now stands in the header, where it ends
                // a header that ran into a delimiter: read the message as it is written,
                // or reading the written message would give another tree.
                std::vector<std::string> written;
                (void)SaveToLines(written, true);
                modified_ = wasModified;
                (void)ParseRawLines(written);
                return result;
            }
        } else if (mainHeader_->IsRfc822() && parseSubparts_ && !mainHeader_->IsEncoded()) {
            auto* part = new TEmailMsgPart(parts_);
            part->SetParseSubpartsFlag(parseSubparts_);
            auto* header = new TEmailHeader(this);
            (void)LoadHeaderBlock(*header, source, true, {});
            part->SetHeader(header);
            // The attached message's body is split at the top level, as that of one inside
            // a multipart is split among its parent's children: this part holds its header
            // and preamble. Being first with a multipart header it counts as a preamble,
            // so it would never parse that body itself.
            const std::string delimiter = header->GetBoundary();
            TEmailMsgPart* current = part;
            while (!current->ParseBody(source, delimiter, false)) {
                auto* next = new TEmailMsgPart(parts_);
                next->SetParseSubpartsFlag(parseSubparts_);
                auto* nextHeader = new TEmailHeader(this);
                (void)LoadHeaderBlock(*nextHeader, source, false, delimiter);
                next->SetHeader(nextHeader);
                current = next;
            }
            epilogue_ = source.TakeRest();
        } else {
            // Also an attached message in base64 or quoted-printable: its one part parses
            // the decoded text into the attached message's parts and encodes them again
            // when written, where a header read from the encoded lines would hold it all.
            auto* part = new TEmailMsgPart(parts_);
            part->SetParseSubpartsFlag(parseSubparts_);
            part->SetHeader(mainHeader_);
            part->ParseBody(source, {}, false);
        }
        // Building the tree from the lines changes nothing of the message.
        modified_ = wasModified;
        if (ensureTextBody_) (void)EnsureTextBody();
    } catch (...) {
        UpdateBodyFlags();
        throw;
    }
    UpdateBodyFlags();
    return result;
}

void TEmailMsg::Reset() {
    CriticalSectionGuard guard(lock_);
    FreeTree();
    mainHeader_ = new TEmailHeader(this);
    parts_ = new TEmailMsgPartCollection(0);
    rawLines_.clear();
    epilogue_.clear();
    parsed_ = false;
}

bool TEmailMsg::DiskDelete() {
    CriticalSectionGuard guard(lock_);
    if (fileName_.empty()) return true;
    std::error_code error;
    if (!std::filesystem::exists(fileName_, error)) return true;
    return std::filesystem::remove(fileName_, error) && !error;
}

void TEmailMsg::NewContentId() {
    info_->SetId(RandomEmailInfoId());
}

int TEmailMsg::ContentId() const {
    return info_->Id();
}

// --- Identity -------------------------------------------------------------------------

std::string TEmailMsg::GenerateUidl() {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", RandomUInt32());
    return "Vornsmithy" + std::string(digits) + FormatDateTime(".yyyy.mm.dd.hh.nn.ss", Now());
}

std::string TEmailMsg::Uidl() {
    CriticalSectionGuard guard(lock_);
    EnsureLoaded();
    if (info_->UIDL().empty()) SetUidl(GenerateUidl());
    return info_->UIDL();
}

void TEmailMsg::SetUidl(std::string_view uidl) {
    CriticalSectionGuard guard(lock_);
    if (uidl == info_->UIDL()) return;
    if (list_ != nullptr) {
        CriticalSectionGuard listGuard(list_->Lock());
        for (int i = list_->Count() - 1; i >= 0; --i) {
            TEmailMsg* other = list_->Items(i);
            if (other == nullptr || other == this || other->Lock().IsBusy()) continue;
            // The record as stored: asking for Uidl() would generate one for a message
            // without, and set it through this same walk.
            other->EnsureLoaded();
            if (other->info_->UIDL() != uidl) continue;
            if (list_->Owner() != nullptr) (void)list_->Owner()->MoveToPurgatory(*other, kDuplicateUidlReason);
        }
    }
    info_->SetUIDL(std::string(uidl));
}

bool TEmailMsg::Obliterate() {
    TEmailMsgList* list = nullptr;
    {
        CriticalSectionGuard guard(lock_);
        list = list_;
    }
    // Not under the own lock: the list destroys this message.
    return list != nullptr && list->Obliterate(*this);
}

std::string TEmailMsg::UserId() const {
    // Single-user operation: every message belongs to the one user.
    return std::string(kSingleUserId);
}

void TEmailMsg::SendTime(double when) {
    CriticalSectionGuard guard(lock_);
    sendTime_ = when;
    SetProperty(kSendTimeProperty, FormatRfc822Date(when, LocalZoneOffset()));
}

std::string TEmailMsg::GetSubjectOrId() {
    CriticalSectionGuard guard(lock_);
    std::string text;
    if (Header().GetDecodedField("Subject", text) && !text.empty()) return text;
    if (Header().GetDecodedField("Message-ID", text) && !text.empty()) return text;
    return "No subject";
}

// --- Report and backup links ----------------------------------------------------------

std::string TEmailMsg::ReportFileName() {
    CriticalSectionGuard guard(lock_);
    const std::string folder = ReportsFolder(UserId());
    if (!info_->ReportFile().empty()) return folder + "/" + info_->ReportFile();
    std::string subject;
    (void)Header().GetDecodedField("Subject", subject);
    std::string path;
    (void)GetUniquePath(folder, "Full_Report " + subject.substr(0, 25), ".htm", path);
    info_->SetReportFile(std::filesystem::path(path).filename().string());
    return path;
}

std::string TEmailMsg::GetReportUrl() {
    CriticalSectionGuard guard(lock_);
    (void)ReportFileName();
    TVornUrl url;
    url.SetCommand("GetReport");
    url.SetValue("UserId", UserId());
    url.SetValue("File", info_->ReportFile());
    return url.ToString();
}

std::string TEmailMsg::GetBackupUrl(std::string_view fileExtension) {
    CriticalSectionGuard guard(lock_);
    if (info_->BackupFile().empty()) return {};
    TVornUrl url;
    url.SetCommand("GetBackup");
    url.SetValue("UserId", UserId());
    url.SetValue("File", info_->BackupFile());
    url.SetValue("FileExt", fileExtension);
    return url.ToString();
}

// --- Danger points --------------------------------------------------------------------

void TEmailMsg::AddDangerReason(std::string_view reason, int points) {
    CriticalSectionGuard guard(lock_);
    if (points != 0) (void)info_->AddDangerReason(reason, points);
}

int TEmailMsg::TotalDangerPoints() const {
    CriticalSectionGuard guard(lock_);
    long long total = 0;
    for (const TDangerReason& reason : info_->DangerReasons())
        total += reason.points;
    return static_cast<int>(std::clamp<long long>(total, 0, 100));
}

// --- Tree-wide operations -------------------------------------------------------------

bool TEmailMsg::UnfoldFileNames() {
    CriticalSectionGuard guard(lock_);
    const bool header = Header().UnfoldFileNames();
    return Parts().UnfoldFileNames() || header;
}

bool TEmailMsg::TrimFileNameDots() {
    CriticalSectionGuard guard(lock_);
    const bool header = Header().TrimFileNameDots();
    return Parts().TrimFileNameDots() || header;
}

bool TEmailMsg::CleanFileNames() {
    CriticalSectionGuard guard(lock_);
    const bool header = Header().CleanFileNames();
    return Parts().CleanFileNames() || header;
}

void TEmailMsg::GetContentLocations(std::vector<std::string>& target) {
    CriticalSectionGuard guard(lock_);
    target.clear();
    Parts().ForEach([&target](TEmailMsgPart& part) {
        std::string location;
        if (part.Header() != nullptr && part.Header()->GetDecodedField("Content-Location", location)) {
            std::erase_if(location, [](char c) { return c == ' ' || c == '\t'; });
            if (!location.empty()) target.push_back(std::move(location));
        }
        return std::string();
    });
}

TEmailMsgPart* TEmailMsg::FindPartByField(std::string_view name, std::string_view value) {
    CriticalSectionGuard guard(lock_);
    return Parts().FindByField(name, value);
}

std::string TEmailMsg::ForEachPart(const TEmailMsgPartCollection::TPartFunction& fn) {
    CriticalSectionGuard guard(lock_);
    return Parts().ForEach(fn);
}

TEmailMsgPart* TEmailMsg::FindAlternative() {
    CriticalSectionGuard guard(lock_);
    return Parts().FindAlternative();
}

bool TEmailMsg::DoRemoveVornInfo() {
    CriticalSectionGuard guard(lock_);
    if (informationRemoved_) return false;
    informationRemoved_ = true;
    bool found = false;
    TEmailMsgPartCollection& parts = Parts();
    for (int i = 0; i < parts.Count(); ++i)
        if (parts.Items(i)->RemoveVornInfo()) found = true;
    return found;
}

}  // namespace gatemoor
