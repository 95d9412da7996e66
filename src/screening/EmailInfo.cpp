#include "screening/EmailInfo.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>
#include <utility>

#include "foundation/CommaText.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilPack.h"

namespace gatemoor {

struct TEmailInfo::Field {
    std::string_view key;
    // Empty when the value is to be left out.
    std::string (*encode)(const TEmailInfo&);
    void (*decode)(TEmailInfo&, std::string&&);
};

namespace {

constexpr std::string_view kEscapedSuffix = ".Escaped";
constexpr int kPointsWhenNotANumber = 10;
constexpr int kLowestPoints = -99;  // the lowest that 3 characters hold
constexpr int kHighestPoints = 999;

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Strictly decimal: an optional "-" and digits, nothing else, within int.
std::optional<int> DecimalNumber(std::string_view text) {
    if (text.empty() || text == "-") return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string EscapeLineBreaks(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

// A backslash before anything else, or at the end, stays as it is.
std::string UnescapeLineBreaks(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (text[i] != '\\' || (next != '\\' && next != 'r' && next != 'n')) {
            plain += text[i];
            continue;
        }
        plain += next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
        ++i;
    }
    return plain;
}

std::mt19937& RandomEngine() {
    thread_local std::mt19937 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937(seed);
    }();
    return engine;
}

// The bytes of a file, at most `limit`; `whole` when the end was reached without error.
std::string ReadBytes(const std::string& path, std::size_t limit, bool& whole) {
    whole = false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) return {};
    std::string data;
    char buffer[64 * 1024];
    while (data.size() <= limit) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        data.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    whole = !std::ferror(file.get()) && data.size() <= limit;
    if (data.size() > limit) data.resize(limit);
    return data;
}

// Lines end at CR LF, CR or LF. The writer ends every line, so a last piece without
// an end is a cut-off line: it is dropped and `whole` becomes false.
std::vector<std::string_view> SplitLines(std::string_view data, bool& whole) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            whole = false;
            break;
        }
        lines.push_back(data.substr(start, end - start));
        start = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

std::mutex& LookupMutex() {
    static std::mutex mutex;
    return mutex;
}

TEmailInfoLookup& InstalledLookup() {
    static TEmailInfoLookup lookup;
    return lookup;
}

}  // namespace

int RandomEmailInfoId() {
    std::uniform_int_distribution<int> ids(0, kMaxEmailInfoId);
    return ids(RandomEngine());
}

std::string DangerEntry(const TDangerReason& reason) {
    const int points = std::clamp(reason.points, kLowestPoints, kHighestPoints);
    // "-5" padded on the left would read "0-5", which is not a number; the sign goes
    // first so that the points read back as they were.
    const std::string digits = std::to_string(points < 0 ? -points : points);
    const std::size_t width = points < 0 ? 2 : 3;
    std::string entry = points < 0 ? "-" : "";
    entry.append(width > digits.size() ? width - digits.size() : 0, '0');
    return entry + digits + reason.text;
}

TDangerReason ParseDangerEntry(std::string_view entry) {
    TDangerReason reason;
    reason.points = DecimalNumber(entry.substr(0, 3)).value_or(kPointsWhenNotANumber);
    if (entry.size() > 3) reason.text = std::string(entry.substr(3));
    return reason;
}

std::string EncodeStandardTests(const std::vector<TStandardTest>& tests) {
    if (tests.empty()) return {};
    std::string letters;
    for (TStandardTest test : tests)
        letters += test == TStandardTest::Yes ? 'y' : test == TStandardTest::No ? 'n' : 'u';
    while (letters.size() > 1 && letters.back() == 'u')
        letters.pop_back();
    return "!" + PackText(letters);
}

std::vector<TStandardTest> DecodeStandardTests(std::string_view text) {
    const std::string letters =
        !text.empty() && text[0] == '!' ? UnpackText(text.substr(1)) : std::string(text);
    std::vector<TStandardTest> tests;
    tests.reserve(letters.size());
    for (char c : letters)
        tests.push_back(c == 'y'   ? TStandardTest::Yes
                        : c == 'n' ? TStandardTest::No
                                   : TStandardTest::NotRun);
    return tests;
}

TEmailInfo::TEmailInfo() {
    Clear();
}

template <std::string TEmailInfo::*member>
TEmailInfo::Field TEmailInfo::TextField(std::string_view key) {
    return {key, [](const TEmailInfo& info) { return info.*member; },
            [](TEmailInfo& info, std::string&& value) { info.*member = std::move(value); }};
}

// The key order of the file.
const std::vector<TEmailInfo::Field>& TEmailInfo::Fields() {
    static const std::vector<Field> fields = {
        TextField<&TEmailInfo::mailBox_>("MailBox"),
        TextField<&TEmailInfo::uidl_>("UIDL"),
        TextField<&TEmailInfo::remoteAccountId_>("RemoteAccountId"),
        TextField<&TEmailInfo::purgatoryText_>("PurgatoryText"),
        TextField<&TEmailInfo::purgatoryCategory_>("PurgatoryCategory"),
        TextField<&TEmailInfo::categoryProbabilitiesStr_>("CategoryProbabilitiesStr"),
        TextField<&TEmailInfo::backupFile_>("BackupFile"),
        TextField<&TEmailInfo::userWanted_>("UserWanted"),
        TextField<&TEmailInfo::showExtRefs_>("ShowExtRefs"),
        TextField<&TEmailInfo::reportFile_>("ReportFile"),
        TextField<&TEmailInfo::summaryReport_>("SummaryReport"),
        TextField<&TEmailInfo::mailListId_>("MailListId"),
        TextField<&TEmailInfo::zelHasMsgText_>("ZELHasMsgText"),
        TextField<&TEmailInfo::sourceIP_>("SourceIP"),
        TextField<&TEmailInfo::dccBody_>("DccBody"),
        TextField<&TEmailInfo::dccFuz1_>("DccFuz1"),
        TextField<&TEmailInfo::dccFuz2_>("DccFuz2"),
        {"ZELMsgId",
         [](const TEmailInfo& info) {
             return info.zelMsgId_ == 0 ? std::string() : std::to_string(info.zelMsgId_);
         },
         [](TEmailInfo& info, std::string&& value) {
             info.zelMsgId_ = DecimalNumber(value).value_or(0);
         }},
        {"StandardTests",
         [](const TEmailInfo& info) { return EncodeStandardTests(info.standardTests_); },
         [](TEmailInfo& info, std::string&& value) {
             info.standardTests_ = DecodeStandardTests(value);
         }},
        {"Urls", [](const TEmailInfo& info) { return ToCommaText(info.urls_); },
         [](TEmailInfo& info, std::string&& value) { info.urls_ = FromCommaText(value); }},
        TextField<&TEmailInfo::statData_>("StatData"),
        TextField<&TEmailInfo::popDuplicate_>("POPDuplicate"),
        {"DangerLevel",
         [](const TEmailInfo& info) {
             std::vector<std::string> entries;
             for (const auto& reason : info.dangerReasons_)
                 entries.push_back(DangerEntry(reason));
             return ToCommaText(entries);
         },
         [](TEmailInfo& info, std::string&& value) {
             info.dangerReasons_.clear();
             for (const auto& entry : FromCommaText(value)) {
                 // An empty entry (a stray comma) names no reason and carries no points.
                 if (entry.empty()) continue;
                 const TDangerReason reason = ParseDangerEntry(entry);
                 info.AddDangerReason(reason.text, reason.points);
             }
         }},
        {"BannedPhrases", [](const TEmailInfo& info) { return ToCommaText(info.bannedPhrases_); },
         [](TEmailInfo& info, std::string&& value) { info.bannedPhrases_ = FromCommaText(value); }},
    };
    return fields;
}

void TEmailInfo::ClearValues() {
    for (const auto& field : Fields())
        field.decode(*this, std::string());
}

void TEmailInfo::Clear() {
    ClearValues();
    id_ = RandomEmailInfoId();
}

bool TEmailInfo::Load(int id) {
    if (id == id_) return true;
    return ReadFile(id);
}

bool TEmailInfo::ReadFile(int id) {
    ClearValues();
    id_ = id;
    try {
        bool whole = false;
        const std::string data = ReadBytes(FilePath(), kMaxEmailInfoFileBytes, whole);
        const std::vector<std::string_view> lines = SplitLines(data, whole);

        // Lower-case key to field index; an escaped key maps past the plain ones.
        const auto& fields = Fields();
        std::unordered_map<std::string, std::size_t> index;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            index.emplace(ToLower(fields[i].key), i);
            index.emplace(ToLower(std::string(fields[i].key) + std::string(kEscapedSuffix)),
                          fields.size() + i);
        }
        std::vector<std::optional<std::string_view>> found(2 * fields.size());
        for (std::string_view line : lines) {
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos) continue;
            const auto hit = index.find(ToLower(line.substr(0, equals)));
            if (hit != index.end() && !found[hit->second])
                found[hit->second] = line.substr(equals + 1);
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (found[i])
                fields[i].decode(*this, std::string(*found[i]));
            else if (found[fields.size() + i])
                fields[i].decode(*this, UnescapeLineBreaks(*found[fields.size() + i]));
        }
        return whole;
    } catch (...) {
        return false;
    }
}

bool TEmailInfo::Save() const {
    try {
        std::string text;
        for (const auto& field : Fields()) {
            const std::string value = field.encode(*this);
            if (value.empty()) continue;
            if (HasLineBreak(value))
                text.append(field.key)
                    .append(kEscapedSuffix)
                    .append("=")
                    .append(EscapeLineBreaks(value));
            else
                text.append(field.key).append("=").append(value);
            text += "\r\n";
        }
        if (text.empty()) return true;

        // Written beside the target and renamed over it, so that a reader never sees
        // half a record, and two holders saving the same id leave one whole file.
        const std::string path = FilePath();
        const std::string temporary = path + "." + std::to_string(RandomEmailInfoId()) + ".tmp";
        std::error_code error;
        if (WriteWhole(temporary, text)) {
            std::filesystem::rename(temporary, path, error);
            if (!error) return true;
        }
        std::filesystem::remove(temporary, error);
        return false;
    } catch (...) {
        return false;
    }
}

bool TEmailInfo::DeleteFile() const {
    std::error_code error;
    return std::filesystem::remove(FilePath(), error);
}

std::string TEmailInfo::FilePath() const {
    return EmailInfoFolder() + "/" + std::to_string(id_) + ".dat";
}

bool TEmailInfo::AddDangerReason(std::string_view text, int points) {
    const auto place = std::lower_bound(
        dangerReasons_.begin(), dangerReasons_.end(), text,
        [](const TDangerReason& reason, std::string_view key) { return reason.text < key; });
    if (place != dangerReasons_.end() && place->text == text) return false;
    dangerReasons_.insert(place, TDangerReason{std::string(text), points});
    return true;
}

void SetEmailInfoLookup(TEmailInfoLookup lookup) {
    std::lock_guard guard(LookupMutex());
    InstalledLookup() = std::move(lookup);
}

bool GetEmailInfo(int id, TEmailInfo*& record) {
    TEmailInfoLookup lookup;
    {
        // A copy, so that the lookup runs without this lock and may take its own.
        std::lock_guard guard(LookupMutex());
        lookup = InstalledLookup();
    }
    if (lookup) {
        if (TEmailInfo* shared = lookup(id)) {
            record = shared;
            return true;
        }
    }
    auto fresh = std::make_unique<TEmailInfo>();
    const bool found = fresh->ReadFile(id);
    fresh->id_ = id;
    fresh->references_.store(1);
    record = fresh.release();
    return found;
}

TEmailInfo* NewEmailInfo() {
    auto fresh = std::make_unique<TEmailInfo>();
    fresh->references_.store(1);
    return fresh.release();
}

bool RetainEmailInfo(TEmailInfo* record) {
    if (!record) return false;
    int count = record->references_.load();
    // Once the count reached 0 the last holder is saving and freeing the record.
    while (count > 0) {
        if (record->references_.compare_exchange_weak(count, count + 1)) return true;
    }
    return false;
}

void ReleaseEmailInfo(TEmailInfo*& record) {
    TEmailInfo* released = std::exchange(record, nullptr);
    if (!released) return;
    int count = released->references_.load();
    // A count already at 0 is a release too many; freeing again would be worse.
    while (count > 0 && !released->references_.compare_exchange_weak(count, count - 1)) {
    }
    if (count != 1) return;
    released->Save();
    delete released;
}

}  // namespace gatemoor
