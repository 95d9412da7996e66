// Screens arbitrary bytes as one retrieved message, under the default settings or with
// everything blocked (the input's length decides), as the POP3 proxy would hand it over.
// Checked: the pipeline never crashes or leaks, a message it does not withhold is
// delivered non-empty, and what it delivers parses and writes back.
// Files the screening leaves (backups, reports, pictures, records) go to a private
// program folder that is emptied after each input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "PrivateFolder.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "screening/FileExtensions.h"
#include "screening/ProcessIncoming.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr std::size_t kMaxInput = 256 * 1024;

std::string gHome;
gatemoor::TFileExtensionList* gExtensions = nullptr;

void Check(bool condition) {
    if (!condition) std::abort();
}

void Block(const gatemoor::SettingDef& setting, int value) {
    gatemoor::platform::SetIntegerOverride(std::string(setting.section), std::string(setting.name),
                                           value);
}

void EmptyHome() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(gHome, error))
        fs::remove_all(entry.path(), error);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gHome = fuzz::UsePrivateProgramFolder("screening");
    fs::create_directories(gHome + "/.settings");
    gatemoor::platform::SetSettingsFolder(gHome + "/.settings");
    gExtensions = new gatemoor::TFileExtensionList();
    gExtensions->LoadDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    gatemoor::platform::ClearIntegerOverrides();
    if (size % 2 == 1) {
        using namespace gatemoor::settings;
        Block(kAttachmentBlocking, 0);
        Block(kPictures, 0);
        Block(kWebContent, 0);
    }
    Lines lines = gatemoor::SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));
    const bool empty = lines.empty();
    const gatemoor::TScreeningOutcome outcome = gatemoor::ProcessIncomingEmail(lines, *gExtensions);
    if (!outcome.withheld && !empty) Check(!lines.empty());
    if (outcome.changed) {
        gatemoor::TEmailMsg delivered;
        delivered.SetSaveOnDestroy(false);
        delivered.SetEnsureTextBodyFlag(false);
        (void)delivered.SetRawMail(lines);
        Lines written;
        (void)delivered.SaveToLines(written, true);
        Check(!written.empty());
    }
    EmptyHome();
    return 0;
}
