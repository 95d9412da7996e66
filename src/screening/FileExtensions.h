// The file extension risk database: one record per extension with its risk, an
// equivalent extension, descriptions and references; loaded from the built-in table or
// from FileExtensionsInfo.txt, searched while messages are screened.
#pragma once

#include <atomic>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "foundation/VornThread.h"

namespace gatemoor {

inline constexpr int kRiskNotSet = -1;
inline constexpr const char* kFileExtensionsFileName = "FileExtensionsInfo.txt";

// 0 "low", 1 "moderate", 2 "high", 3 "very high"; any other level "unknown".
[[nodiscard]] std::string RiskName(int level);

// Extension normalisation shared by the records and the lookups: blanks and control
// characters trimmed at both ends, then one leading "." removed.
[[nodiscard]] std::string NormaliseExtension(std::string_view text);

class TFileExtension {
public:
    TFileExtension() = default;

    [[nodiscard]] const std::string& Extension() const { return extension_; }
    void SetExtension(std::string_view text) { extension_ = NormaliseExtension(text); }
    [[nodiscard]] const std::string& SameAs() const { return sameAs_; }
    void SetSameAs(std::string_view text) { sameAs_ = NormaliseExtension(text); }
    [[nodiscard]] int Risk() const { return risk_; }
    void SetRisk(int level) { risk_ = level; }
    [[nodiscard]] std::vector<std::string>& Descriptions() { return descriptions_; }
    [[nodiscard]] const std::vector<std::string>& Descriptions() const { return descriptions_; }
    [[nodiscard]] std::vector<std::string>& References() { return references_; }
    [[nodiscard]] const std::vector<std::string>& References() const { return references_; }

    // The record line: comma text of "1=" extension, "2=" equivalent, "3=" risk (always),
    // "4=" and "5=" the comma text of the lists; empty values are left out. Never holds a
    // line break: one inside a text is written as a blank.
    [[nodiscard]] std::string ToLine() const;
    // Replaces every field from a record line; missing pairs give the defaults, a risk
    // that is not a decimal number gives -1. Never throws on bad input.
    void FromLine(std::string_view line);
    // The record line and CR LF.
    void WriteTo(std::ostream& stream) const;
    // False at the end of the stream (the record stays as it was); otherwise reads up to
    // and including the next CR LF and applies FromLine to the bytes before it.
    bool ReadFrom(std::istream& stream);
    // Copies all five fields; nothing happens for a null record.
    void Assign(const TFileExtension* other);
    // Empty: no extension, or nothing but an extension that is not a class id ("{").
    [[nodiscard]] bool IsEmpty() const;
    // True when the extension is a known class id; `name` is what the id stands for.
    bool LookUpClassId(std::string& name) const;

private:
    std::string extension_;
    std::string sameAs_;
    int risk_ = kRiskNotSet;
    std::vector<std::string> descriptions_;
    std::vector<std::string> references_;
};

// The record lines of the built-in default table, in order.
[[nodiscard]] const std::vector<std::string_view>& DefaultFileExtensionLines();

// The database: records sorted by extension ignoring case, owned by the list. Every
// public operation holds the lock "TFileExtensionList_CS" for its whole run; the lock is
// re-entrant, so operations may call each other. Records handed out stay owned by the
// list and are not locked themselves.
class TFileExtensionList {
public:
    TFileExtensionList();
    // Stops a loading thread that still runs, waits until it has left the list, then
    // frees the records.
    ~TFileExtensionList();
    TFileExtensionList(const TFileExtensionList&) = delete;
    TFileExtensionList& operator=(const TFileExtensionList&) = delete;

    // Appends the records of the built-in table.
    void LoadDefaults();
    // inThread false: appends one record per line of the file, in file order; a file
    // that cannot be read, or an error, ends the load and keeps what was read. inThread
    // true: does the same on a TLoadFileExtFromFileThread and returns at once.
    void LoadFromFile(const std::string& path, bool inThread);
    // From the stream's start, appends a record per CR LF line until the end.
    void LoadFromStream(std::istream& stream);
    // Writes every record that is not empty, in list order.
    void SaveToStream(std::ostream& stream);

    // Normalises the extension; found: `position` is its record's index; not found: the
    // index where it would be inserted (0 for an empty extension).
    bool Find(std::string_view extension, int& position);
    // The record of the extension, added empty at its sorted place when missing; null
    // for an empty extension.
    TFileExtension* FindOrAdd(std::string_view extension);
    // A caller-owned copy of FindOrAdd's record; empty for a blank extension.
    [[nodiscard]] std::unique_ptr<TFileExtension> CopyOf(std::string_view extension);
    // The record of the extension the file-type database gives for the MIME type, or
    // null. Adds nothing.
    TFileExtension* FindByMimeType(std::string_view mimeType);

    int IndexOf(const TFileExtension* record);
    // Removes and frees the record; a position outside the list changes nothing.
    void Delete(int position);
    int Count();
    // Null for a position outside the list.
    TFileExtension* Items(int position);

    // The handle of the loading thread started last; 0 when none was started.
    [[nodiscard]] ThreadHandle LoaderThread() const { return loaderHandle_; }
    // Waits until every loading thread started so far has finished; false on time-out.
    bool WaitForLoading(int timeoutMs);

private:
    struct LoaderState;
    class TLoadFileExtFromFileThread;

    // The file load, stopping early when `stop` becomes true (the list is going away).
    void LoadLinesOfFile(const std::string& path, const std::atomic<bool>* stop);
    void Append(std::unique_ptr<TFileExtension> record);
    // Loads append in the order read; a file that was edited by hand or holds junk lines
    // would break the binary search, so out-of-order results are put back in order.
    void RestoreOrder();

    TMutexCriticalSection lock_{"TFileExtensionList_CS"};
    std::vector<std::unique_ptr<TFileExtension>> records_;
    std::shared_ptr<LoaderState> loader_;
    ThreadHandle loaderHandle_ = 0;
};

}  // namespace gatemoor
