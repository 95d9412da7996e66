#include "foundation/SettingsCatalogue.h"

#include <array>
#include <cstring>

#include "foundation/VornReg.h"

namespace gatemoor {
namespace settings {
namespace {

constexpr std::array kAll{
    kAttachmentBlocking, kPictures,      kDownloadImages,   kEmbeddedImages,
    kImageAttachments,   kWebContent,    kBlockScripts,     kBlockFrames,
    kBlockObjects,       kLogDetail,     kDelLogs,          kCloseToTray,
    kCloseNoPrompt,      kMinimizeToTray, kTransSendAnything, kTransSendErrorsOnly,
    kMinimumTranscriptLevel, kTransBeepOnErrorLevel, kTransSendMemory, kTransSendUDP,
    kTransCompressUDP,   kTransUDPPacketSize,
};

bool Same(const SettingDef& a, const SettingDef& b) {
    return std::strcmp(a.section, b.section) == 0 && std::strcmp(a.name, b.name) == 0;
}

}  // namespace

std::span<const SettingDef> All() { return kAll; }

std::vector<std::string> ChoiceCaptions(const SettingDef& def) {
    if (Same(def, kAttachmentBlocking))
        return {"Block All Attach&ments", "Block &Suspicious Attachments",
                "Block &Dangerous Attachments", "Block &No Attachments"};
    if (Same(def, kPictures)) return {"&Block Pictures", "&Allow All", "Pr&ompt", "&More Options"};
    if (Same(def, kDownloadImages) || Same(def, kEmbeddedImages))
        return {"Block", "Prompt", "Ignore"};
    if (Same(def, kImageAttachments)) return {"Block", "Ignore"};
    if (Same(def, kWebContent))
        return {"Plain &Text Only", "Safe &Html Only", "&Ignore", "Ad&vanced"};
    return {};
}

}  // namespace settings

std::int32_t ReadSetting(const SettingDef& def) {
    if (def.type == SettingType::Boolean)
        return ReadSettingBool(def.section, def.name, def.defaultValue != 0) ? 1 : 0;
    return ReadSettingInteger(def.section, def.name, def.defaultValue);
}

bool ReadSettingFlag(const SettingDef& def) { return ReadSetting(def) != 0; }

void WriteSetting(const SettingDef& def, std::int32_t value) {
    if (def.type == SettingType::Boolean)
        WriteSettingBool(def.section, def.name, value != 0);
    else
        WriteSettingInteger(def.section, def.name, value);
}

}  // namespace gatemoor
