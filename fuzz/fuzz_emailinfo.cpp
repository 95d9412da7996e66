// Reads arbitrary bytes as an information record's .dat file, writes the record back
// and reads it again: every value read survives the round trip, and writing the
// reloaded record gives the same file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "PrivateFolder.h"
#include "screening/EmailInfo.h"

namespace {

using gatemoor::TEmailInfo;
using gatemoor::TStandardTest;

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr int kId = 4711;

std::string FileOf(int id) {
    TEmailInfo record;
    record.SetId(id);
    return record.FilePath();
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out));
}

// A record that is not yet the id's, so that Load really reads.
void LoadFresh(TEmailInfo& record, int id) {
    if (record.Id() == id) record.SetId(id + 1);
    (void)record.Load(id);
    Check(record.Id() == id);
}

// Trailing tests that have not run are not written: the list means the same without
// them.
std::vector<TStandardTest> Meaning(std::vector<TStandardTest> tests) {
    while (!tests.empty() && tests.back() == TStandardTest::NotRun) tests.pop_back();
    return tests;
}

void CheckSameValues(const TEmailInfo& a, const TEmailInfo& b) {
    Check(a.MailBox() == b.MailBox());
    Check(a.UIDL() == b.UIDL());
    Check(a.RemoteAccountId() == b.RemoteAccountId());
    Check(a.PurgatoryText() == b.PurgatoryText());
    Check(a.PurgatoryCategory() == b.PurgatoryCategory());
    Check(a.CategoryProbabilitiesStr() == b.CategoryProbabilitiesStr());
    Check(a.BackupFile() == b.BackupFile());
    Check(a.UserWanted() == b.UserWanted());
    Check(a.ShowExtRefs() == b.ShowExtRefs());
    Check(a.ReportFile() == b.ReportFile());
    Check(a.SummaryReport() == b.SummaryReport());
    Check(a.MailListId() == b.MailListId());
    Check(a.ZELHasMsgText() == b.ZELHasMsgText());
    Check(a.SourceIP() == b.SourceIP());
    Check(a.DccBody() == b.DccBody());
    Check(a.DccFuz1() == b.DccFuz1());
    Check(a.DccFuz2() == b.DccFuz2());
    Check(a.StatData() == b.StatData());
    Check(a.POPDuplicate() == b.POPDuplicate());
    Check(a.ZELMsgId() == b.ZELMsgId());
    Check(Meaning(a.StandardTests()) == Meaning(b.StandardTests()));
    Check(a.Urls() == b.Urls());
    Check(a.BannedPhrases() == b.BannedPhrases());
    Check(a.DangerReasons() == b.DangerReasons());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz::UsePrivateProgramFolder("emailinfo");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > gatemoor::kMaxEmailInfoFileBytes) return 0;
    const std::string path = FileOf(kId);
    Write(path, data, size);

    TEmailInfo read;
    LoadFresh(read, kId);

    // A record without values writes no file: remove the input so that it cannot be
    // read again in place of what was written.
    std::error_code error;
    std::filesystem::remove(path, error);
    Check(read.Save());
    const std::string written = Read(path);

    TEmailInfo again;
    LoadFresh(again, kId);
    CheckSameValues(read, again);

    std::filesystem::remove(path, error);
    Check(again.Save());
    Check(Read(path) == written);
    std::filesystem::remove(path, error);
    return 0;
}
