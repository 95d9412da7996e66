// The information record of one message, kept as EmailInfo/<id>.dat in the program
// folder: what the report web service needs to find a message's backup and report again
// from the id in a link, the danger reasons, and values the screening carries unchanged.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

// Record ids run from 0 to kMaxEmailInfoId.
inline constexpr int kMaxEmailInfoId = 2147483646;
// A .dat file is a few lines; reading stops here so a junk file cannot exhaust memory.
inline constexpr std::size_t kMaxEmailInfoFileBytes = 16 * 1024 * 1024;

// A random id from 0 to kMaxEmailInfoId. Thread-safe.
[[nodiscard]] int RandomEmailInfoId();

// The result of one standard test; in the file "y", "n" and "u".
enum class TStandardTest { NotRun, Yes, No };

struct TDangerReason {
    std::string text;
    int points = 0;
    friend bool operator==(const TDangerReason&, const TDangerReason&) = default;
};

class TEmailInfo {
public:
    // A cleared record with a random id.
    TEmailInfo();
    TEmailInfo(const TEmailInfo&) = delete;
    TEmailInfo& operator=(const TEmailInfo&) = delete;

    // Empties every text and list, sets a new random id and 0 for ZELMsgId. The
    // references count stays.
    void Clear();
    // Does nothing and answers true when `id` is already the record's id. Otherwise the
    // record becomes that id's, its values are emptied and read from the id's file;
    // true when the file existed and was read whole. A file that ends inside a line, is
    // longer than kMaxEmailInfoFileBytes or cannot be read to its end keeps the values
    // of the whole lines read before and answers false. Never throws.
    bool Load(int id);
    // Writes the file: one "key=value" line per value that is not empty, CR LF after
    // each, in the fixed key order; a record without values writes no file. A value
    // holding CR or LF would split its line, so it goes under "<key>.Escaped" with "\"
    // as "\\", CR as "\r" and LF as "\n". The file is replaced whole or not at all.
    // False when it could not be written. Never throws.
    bool Save() const;
    // Deletes the record's file; true when a file was deleted.
    bool DeleteFile() const;
    // EmailInfoFolder() + "/" + the id in decimal + ".dat"; creates the folder.
    [[nodiscard]] std::string FilePath() const;

    [[nodiscard]] int Id() const { return id_; }
    void SetId(int id) { id_ = id; }
    // The number of holders; see GetEmailInfo and ReleaseEmailInfo.
    [[nodiscard]] int References() const { return references_.load(); }

    // Texts stored under the key of their own name.
    [[nodiscard]] const std::string& MailBox() const { return mailBox_; }
    void SetMailBox(std::string value) { mailBox_ = std::move(value); }
    [[nodiscard]] const std::string& UIDL() const { return uidl_; }
    void SetUIDL(std::string value) { uidl_ = std::move(value); }
    [[nodiscard]] const std::string& RemoteAccountId() const { return remoteAccountId_; }
    void SetRemoteAccountId(std::string value) { remoteAccountId_ = std::move(value); }
    // Comma text of the reasons for holding the message.
    [[nodiscard]] const std::string& PurgatoryText() const { return purgatoryText_; }
    void SetPurgatoryText(std::string value) { purgatoryText_ = std::move(value); }
    [[nodiscard]] const std::string& PurgatoryCategory() const { return purgatoryCategory_; }
    void SetPurgatoryCategory(std::string value) { purgatoryCategory_ = std::move(value); }
    [[nodiscard]] const std::string& CategoryProbabilitiesStr() const {
        return categoryProbabilitiesStr_;
    }
    void SetCategoryProbabilitiesStr(std::string value) {
        categoryProbabilitiesStr_ = std::move(value);
    }
    // File name of the message's backup, without folder.
    [[nodiscard]] const std::string& BackupFile() const { return backupFile_; }
    void SetBackupFile(std::string value) { backupFile_ = std::move(value); }
    [[nodiscard]] const std::string& UserWanted() const { return userWanted_; }
    void SetUserWanted(std::string value) { userWanted_ = std::move(value); }
    [[nodiscard]] const std::string& ShowExtRefs() const { return showExtRefs_; }
    void SetShowExtRefs(std::string value) { showExtRefs_ = std::move(value); }
    // File name of the message's report, without folder.
    [[nodiscard]] const std::string& ReportFile() const { return reportFile_; }
    void SetReportFile(std::string value) { reportFile_ = std::move(value); }
    [[nodiscard]] const std::string& SummaryReport() const { return summaryReport_; }
    void SetSummaryReport(std::string value) { summaryReport_ = std::move(value); }
    [[nodiscard]] const std::string& MailListId() const { return mailListId_; }
    void SetMailListId(std::string value) { mailListId_ = std::move(value); }
    [[nodiscard]] const std::string& ZELHasMsgText() const { return zelHasMsgText_; }
    void SetZELHasMsgText(std::string value) { zelHasMsgText_ = std::move(value); }
    [[nodiscard]] const std::string& SourceIP() const { return sourceIP_; }
    void SetSourceIP(std::string value) { sourceIP_ = std::move(value); }
    [[nodiscard]] const std::string& DccBody() const { return dccBody_; }
    void SetDccBody(std::string value) { dccBody_ = std::move(value); }
    [[nodiscard]] const std::string& DccFuz1() const { return dccFuz1_; }
    void SetDccFuz1(std::string value) { dccFuz1_ = std::move(value); }
    [[nodiscard]] const std::string& DccFuz2() const { return dccFuz2_; }
    void SetDccFuz2(std::string value) { dccFuz2_ = std::move(value); }
    [[nodiscard]] const std::string& StatData() const { return statData_; }
    void SetStatData(std::string value) { statData_ = std::move(value); }
    [[nodiscard]] const std::string& POPDuplicate() const { return popDuplicate_; }
    void SetPOPDuplicate(std::string value) { popDuplicate_ = std::move(value); }

    // 0 when none.
    [[nodiscard]] int ZELMsgId() const { return zelMsgId_; }
    void SetZELMsgId(int value) { zelMsgId_ = value; }

    // A test beyond the end of the list has not run.
    [[nodiscard]] const std::vector<TStandardTest>& StandardTests() const { return standardTests_; }
    void SetStandardTests(std::vector<TStandardTest> value) { standardTests_ = std::move(value); }
    [[nodiscard]] const std::vector<std::string>& Urls() const { return urls_; }
    void SetUrls(std::vector<std::string> value) { urls_ = std::move(value); }
    [[nodiscard]] const std::vector<std::string>& BannedPhrases() const { return bannedPhrases_; }
    void SetBannedPhrases(std::vector<std::string> value) { bannedPhrases_ = std::move(value); }

    // The danger reasons (key DangerLevel), sorted by text in byte order; a text occurs
    // once.
    [[nodiscard]] const std::vector<TDangerReason>& DangerReasons() const { return dangerReasons_; }
    // Adds the reason at its sorted place unless its text is present already, whose
    // points then stay. True when added.
    bool AddDangerReason(std::string_view text, int points);
    void ClearDangerReasons() { dangerReasons_.clear(); }

private:
    friend bool RetainEmailInfo(TEmailInfo* record);
    friend void ReleaseEmailInfo(TEmailInfo*& record);
    friend bool GetEmailInfo(int id, TEmailInfo*& record);
    friend TEmailInfo* NewEmailInfo();
    struct Field;
    [[nodiscard]] static const std::vector<Field>& Fields();
    template <std::string TEmailInfo::*member>
    [[nodiscard]] static Field TextField(std::string_view key);

    void ClearValues();
    // Load without the same-id shortcut.
    bool ReadFile(int id);

    int id_ = 0;
    std::atomic<int> references_{0};
    std::string mailBox_;
    std::string uidl_;
    std::string remoteAccountId_;
    std::string purgatoryText_;
    std::string purgatoryCategory_;
    std::string categoryProbabilitiesStr_;
    std::string backupFile_;
    std::string userWanted_;
    std::string showExtRefs_;
    std::string reportFile_;
    std::string summaryReport_;
    std::string mailListId_;
    std::string zelHasMsgText_;
    std::string sourceIP_;
    std::string dccBody_;
    std::string dccFuz1_;
    std::string dccFuz2_;
    std::string statData_;
    std::string popDuplicate_;
    int zelMsgId_ = 0;
    std::vector<TStandardTest> standardTests_;
    std::vector<std::string> urls_;
    std::vector<TDangerReason> dangerReasons_;
    std::vector<std::string> bannedPhrases_;
};

// The DangerLevel entry of a reason: the points padded with "0" to 3 characters
// ("040", "-05"), clamped to -99..999 so that they always fit, then the text.
[[nodiscard]] std::string DangerEntry(const TDangerReason& reason);
// Points from the first 3 characters (10 when they are not a decimal number), the text
// from the 4th character on.
[[nodiscard]] TDangerReason ParseDangerEntry(std::string_view entry);

// The StandardTests value: "y", "n" and "u" letters with trailing "u" dropped (one
// letter stays), packed with PackText after "!"; empty for an empty list.
[[nodiscard]] std::string EncodeStandardTests(const std::vector<TStandardTest>& tests);
// Unpacks a value starting with "!"; then "y" is yes, "n" no, every other byte not run.
[[nodiscard]] std::vector<TStandardTest> DecodeStandardTests(std::string_view text);

// Answers the record that a held message keeps for `id`, with one reference already
// taken for the caller through RetainEmailInfo while the record is known to be alive,
// or null. The message repository installs one; none is installed at first.
using TEmailInfoLookup = std::function<TEmailInfo*(int id)>;
// Installs the lookup; an empty function removes it. Thread-safe.
void SetEmailInfoLookup(TEmailInfoLookup lookup);

// The record for `id`: the shared one that the lookup answers (result true), else a new
// record that Load(id) was tried on, with that id and 1 reference; the result is then
// whether its file was read whole. Thread-safe.
bool GetEmailInfo(int id, TEmailInfo*& record);
// A new empty record with a random id and 1 reference, for a new message: nothing is
// read, since no file can belong to an id just drawn. Release it like the others.
[[nodiscard]] TEmailInfo* NewEmailInfo();
// Adds a reference to a record from GetEmailInfo unless its count already reached 0
// (it is being freed). True when added. Thread-safe.
bool RetainEmailInfo(TEmailInfo* record);
// Drops one reference of a record from GetEmailInfo and sets `record` to null; the last
// release saves the record and frees it. Null does nothing. Thread-safe.
void ReleaseEmailInfo(TEmailInfo*& record);

}  // namespace gatemoor
