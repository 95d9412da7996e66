// One e-mail message as the system keeps it (TEmailMsg), the folder lists that hold
// messages as ".eml" files (TEmailMsgList), and the store of message/partial pieces.
//
// A message is loaded lazily from its file and parsed lazily into a main header and a
// part tree. Its file is the message text, optionally after a first line "X-SMTP: "
// holding the stored properties as comma text. On destruction a message saves or
// deletes its own file by fixed rules, so that nothing a user has not deleted is lost.
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsgPart.h"
#include "mail/HeaderOwner.h"
#include "mail/Html.h"

namespace gatemoor {

class TEmailInfo;
class TEmailMsgList;

// The identity a message gives the report service when the system runs for one user.
inline constexpr std::string_view kSingleUserId = "SingleUser";
// The reason a duplicate UIDL sends the older copy to the purgatory.
inline constexpr std::string_view kDuplicateUidlReason =
    "The server returned two messages with the same unique identifier.  To avoid "
    "duplicates this copy was sent to the Holdbay.";
// The preamble of a multipart body made from a single-part message.
inline constexpr std::string_view kAddedPreambleLine =
    "This is a multi-part message in MIME format added by Vornsmithy.";

// The report sections a screened message carries; the security report fills and reads
// them.
enum class TReportSection : int {
    MessageInfo = 0,
    GeneralInfo,
    BackupInfo,
    AttachmentInfo,
    HtmlInfo,
    PictureInfo,
    LinkInfo,
    HeaderInfo,
    SummaryInfo,
    Count
};

// The plain and HTML body parts of a message (either may be missing).
struct TBodyParts {
    TEmailMsgPart* plain = nullptr;
    TEmailMsgPart* html = nullptr;
};

class TEmailMsg final : public THeaderOwner {
public:
    // An empty message with a fresh information record; joins `list` when given.
    explicit TEmailMsg(TEmailMsgList* list = nullptr);
    // Leaves the list, then saves or deletes its file by the destruction rules.
    ~TEmailMsg() override;
    TEmailMsg(const TEmailMsg&) = delete;
    TEmailMsg& operator=(const TEmailMsg&) = delete;

    // THeaderOwner.
    [[nodiscard]] const TEmailHeader* MainHeader() const override { return mainHeader_; }
    void RegisterHeader(TEmailHeader& header) override;
    void UnregisterHeader(TEmailHeader& header) override;
    void MarkModified() override { modified_ = true; }
    [[nodiscard]] TAbstractCriticalSection& OwnerLock() const override { return lock_; }
    void WalkParts(const TPartVisitor& visit) const override;
    [[nodiscard]] int PartDepth(const TEmailMsgPart& part) const override;
    [[nodiscard]] const TEmailHeader* EnclosingHeader(const TEmailMsgPart& part) const override;
    [[nodiscard]] TEmailMsgPart* PartOfHeader(const TEmailHeader& header) const override;
    void PartHeaderChanged(TEmailMsgPart& part, const TEmailHeader* before,
                           const TEmailHeader* after) override;

    // The message lock "EmailMsg_CS"; every operation holds it.
    [[nodiscard]] TMutexCriticalSection& Lock() const { return lock_; }

    // Load and parse first when needed.
    TEmailHeader& Header();
    TEmailMsgPartCollection& Parts();
    // Loads first when needed; "name=value" lines. Change them through SetProperty.
    const std::vector<std::string>& Properties();
    // The value of a property; empty when absent.
    [[nodiscard]] std::string Property(std::string_view name);
    // Sets (empty value: removes) a property; marks the message modified.
    void SetProperty(std::string_view name, std::string_view value);

    // The raw lines are not empty or the message is parsed.
    [[nodiscard]] bool IsLoaded() const;
    [[nodiscard]] bool IsParsed() const { return parsed_; }
    [[nodiscard]] bool IsModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    [[nodiscard]] const std::vector<std::string>& RawLines() const { return rawLines_; }
    // The lines after the closing delimiter of a multipart message, written after the
    // last part.
    [[nodiscard]] const std::vector<std::string>& Epilogue() const { return epilogue_; }

    // Records the plain-text message flag from the main header.
    void UpdateBodyFlags();
    [[nodiscard]] bool IsPlainTextMessage() const { return plainTextMessage_; }

    // Remembers `path` and reads it; false when missing or unreadable. Never throws.
    bool ReadFromFile(const std::string& path);
    // Reads the file format (property line, message lines).
    bool LoadFromStream(std::istream& stream);
    // Writes the message file when loaded, naming it first when it has no name. False
    // on any error. Never throws.
    bool Save();
    // Writes the message file to `path`; the remembered file name stays.
    bool SaveToFile(const std::string& path);
    bool SaveToStream(std::ostream& stream);
    // The message as lines: the raw lines when never parsed and `full`, else the main
    // header, an empty line and every top-level part (short form when not `full`).
    bool SaveToLines(std::vector<std::string>& target, bool full);
    // Replaces the whole message text; `lines` is emptied. A new content id.
    bool SetRawMail(std::vector<std::string>& lines);
    // Builds the main header and the parts from `lines`, which are consumed.
    bool ParseRawLines(std::vector<std::string>& lines);
    // Discards headers, parts and raw lines; not parsed afterwards.
    void Reset();
    // Deletes the message file if it exists; true when no file is left.
    bool DiskDelete();

    [[nodiscard]] const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string path) { fileName_ = std::move(path); }
    [[nodiscard]] TEmailMsgList* List() const { return list_; }

    // The record's UIDL, generated when empty.
    std::string Uidl();
    // Moves other messages of the list with the same UIDL to the purgatory first.
    void SetUidl(std::string_view uidl);
    // "Vornsmithy" + 8 upper-case hex digits + ".yyyy.mm.dd.hh.nn.ss" (local time).
    [[nodiscard]] static std::string GenerateUidl();

    [[nodiscard]] bool IsFlaggedDeleted() const { return flaggedDeleted_; }
    void FlaggedDeleted(bool deleted) { flaggedDeleted_ = deleted; }
    [[nodiscard]] bool DeleteFileWhenFlagged() const { return deleteFileWhenFlagged_; }
    void SetDeleteFileWhenFlagged(bool on) { deleteFileWhenFlagged_ = on; }
    [[nodiscard]] bool SaveOnDestroy() const { return saveOnDestroy_; }
    void SetSaveOnDestroy(bool on) { saveOnDestroy_ = on; }
    [[nodiscard]] bool ParseOnLoad() const { return parseOnLoad_; }
    void SetParseOnLoad(bool on) { parseOnLoad_ = on; }
    [[nodiscard]] bool EnsureTextBodyFlag() const { return ensureTextBody_; }
    void SetEnsureTextBodyFlag(bool on) { ensureTextBody_ = on; }
    [[nodiscard]] bool ParseSubpartsFlag() const { return parseSubparts_; }
    void SetParseSubpartsFlag(bool on) { parseSubparts_ = on; }
    [[nodiscard]] bool InformationRemoved() const { return informationRemoved_; }
    [[nodiscard]] bool ConvertedToPlainText() const { return convertedToPlainText_; }

    // Delegated to the list; false without list.
    bool Obliterate();
    // kSingleUserId; a list's user id in multi-user operation.
    [[nodiscard]] std::string UserId() const;
    // Sets the property "SendTime" to the RFC 822 date text and the send time.
    void SendTime(double when);
    [[nodiscard]] double GetSendTime() const { return sendTime_; }
    // Decoded Subject, else decoded Message-ID, else "No subject".
    std::string GetSubjectOrId();

    // The report's path in the reports folder, named from the subject when the record
    // has no name yet.
    std::string ReportFileName();
    // Links to the report service; the backup link is empty without backup file name.
    std::string GetReportUrl();
    std::string GetBackupUrl(std::string_view fileExtension);

    // Adds the reason to the record when `points` is not 0.
    void AddDangerReason(std::string_view reason, int points);
    // The sum of the points of all danger reasons, limited to 0..100.
    [[nodiscard]] int TotalDangerPoints() const;

    bool UnfoldFileNames();
    bool TrimFileNameDots();
    bool CleanFileNames();
    // The Content-Location of every part, spaces and tabs removed.
    void GetContentLocations(std::vector<std::string>& target);
    TEmailMsgPart* FindPartByField(std::string_view name, std::string_view value);
    std::string ForEachPart(const TEmailMsgPartCollection::TPartFunction& fn);
    TEmailMsgPart* FindAlternative();
    // Once per message: RemoveVornInfo on every top-level part.
    bool DoRemoveVornInfo();

    // The information record (never null).
    [[nodiscard]] TEmailInfo& Info() const { return *info_; }
    [[nodiscard]] int ContentId() const;

    // The report sections and the per-attachment builders.
    [[nodiscard]] TSimpleHtml& Section(TReportSection section) {
        return sections_[static_cast<std::size_t>(section)];
    }
    [[nodiscard]] TSimpleHtmlList& AttachmentSections() { return attachmentSections_; }

    // Body editing: each works on the parsed message under the lock and marks the
    // message modified when it changes it.
    TBodyParts FindBodyParts();
    void GetPlainText(std::vector<std::string>& target, bool all);
    TEmailMsgPart* AddAttachment(const std::vector<std::string>& lines);
    TEmailMsgPart* AddAlternativeContainer();
    TEmailMsgPart* AddPlainTextPart();
    TEmailMsgPart* AddPlainTextAlternative();
    TEmailMsgPart* FAddHtmlTextPart();
    TEmailMsgPart* AddHtmlTextAlternative();
    TEmailMsgPart* EnsureTextBody();
    TEmailMsgPart* EnsureAlternatives();
    void InsertUserText(const TSimpleHtml& notice, bool atTop, bool boxed);
    bool ConvertToPlainText();
    bool ExtractUuencodedAttachments();

private:
    friend class TEmailMsgList;

    // Reads the file when not loaded; parses when `parse` and not parsed.
    void EnsureLoaded();
    void EnsureParsed();
    void FreeTree();
    void NewContentId();
    void ParseMultipartBody(TLineSource& source);
    void DestructionRules();

    mutable TMutexCriticalSection lock_;
    TEmailHeader* mainHeader_ = nullptr;
    TEmailMsgPartCollection* parts_ = nullptr;
    std::unordered_set<TEmailHeader*> headers_;
    bool freeingHeaders_ = false;
    // Which parts have which header: headers ask for their part on every query.
    std::unordered_map<const TEmailHeader*, std::vector<TEmailMsgPart*>> partsByHeader_;
    std::vector<std::string> rawLines_;
    std::vector<std::string> epilogue_;
    // The number of lines last parsed: the room a full write reserves, so that writing
    // a large message does not grow its target step by step.
    std::size_t parsedLineCount_ = 0;
    std::vector<std::string> properties_;
    double sendTime_ = 0;
    std::string fileName_;
    TEmailMsgList* list_ = nullptr;
    TEmailInfo* info_ = nullptr;
    std::array<TSimpleHtml, static_cast<std::size_t>(TReportSection::Count)> sections_;
    TSimpleHtmlList attachmentSections_;
    bool parsed_ = false;
    bool parseSubparts_ = true;
    bool modified_ = false;
    bool flaggedDeleted_ = false;
    bool deleteFileWhenFlagged_ = true;
    bool saveOnDestroy_ = true;
    bool parseOnLoad_ = false;
    bool ensureTextBody_ = true;
    bool informationRemoved_ = false;
    bool convertedToPlainText_ = false;
    bool plainTextMessage_ = false;
};

// What a folder list needs of the component that owns it: the message store answers
// where a duplicate goes.
class TEmailMsgListOwner {
public:
    virtual ~TEmailMsgListOwner() = default;
    // Moves `message` to the purgatory with `reason`; false when it could not.
    virtual bool MoveToPurgatory(TEmailMsg& message, std::string_view reason) = 0;
};

// The messages that live in one folder of ".eml" files. The list owns them.
class TEmailMsgList {
public:
    explicit TEmailMsgList(TEmailMsgListOwner* owner = nullptr);
    // Names every message that has no file yet, then destroys them last to first.
    ~TEmailMsgList();
    TEmailMsgList(const TEmailMsgList&) = delete;
    TEmailMsgList& operator=(const TEmailMsgList&) = delete;

    [[nodiscard]] TEmailMsgListOwner* Owner() const { return owner_; }
    [[nodiscard]] TMutexCriticalSection& Lock() const { return lock_; }

    // Stored without a trailing slash.
    void SetFolder(std::string_view path);
    [[nodiscard]] const std::string& Folder() const { return folder_; }
    [[nodiscard]] const std::string& UserId() const { return userId_; }
    void SetUserId(std::string userId) { userId_ = std::move(userId); }
    // One unread message per "*.eml" file (any case); true when the folder exists.
    bool LoadFolder(std::string_view path);

    [[nodiscard]] int Count() const;
    [[nodiscard]] TEmailMsg* Items(int i) const;
    [[nodiscard]] int IndexOf(const TEmailMsg* message) const;
    // Adopts the message, moving its file here; its index.
    int Add(TEmailMsg* message);
    // Removes and destroys message i.
    void DeleteAt(int i);
    // Removes without destroying; the former index or -1.
    int Remove(TEmailMsg* message);
    // A new unique path in the folder named from the subject; empty without folder.
    std::string NewFileName(TEmailMsg& message);
    bool Obliterate(TEmailMsg& message);
    // Flags message i deleted, deletes its file, destroys it. False for a bad index.
    bool DeleteMessage(int i);
    // Last to first.
    [[nodiscard]] TEmailMsg* FindByContentId(int id) const;

private:
    TEmailMsgListOwner* owner_;
    mutable TMutexCriticalSection lock_;
    std::vector<TEmailMsg*> messages_;
    std::string folder_;
    std::string userId_;
};

// The file name of one stored piece of a message/partial: the id with every character
// that cannot stand in a file name written as "=" + its decimal code, then
// "(nnnn)of(tttt).eml".
[[nodiscard]] std::string PartialFileName(std::string_view id, int number, int total);
// The id as it stands in piece file names.
[[nodiscard]] std::string EncodePartialId(std::string_view id);
// Stores a piece under its file name in `folder`; false when its Content-Type lacks
// Number, Total or Id, or the write fails.
bool SavePartial(std::string_view folder, TEmailMsg& message);
// The text of the whole message once every piece is stored; none otherwise.
std::optional<std::vector<std::string>> ReassemblePartials(std::string_view folder,
                                                           std::string_view id);
// Deletes every stored piece of the id; false when the folder is missing or a deletion
// fails.
bool DeletePartials(std::string_view folder, std::string_view id);

}  // namespace gatemoor
