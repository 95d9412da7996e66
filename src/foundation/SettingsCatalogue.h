// Every value the program keeps between runs: section, value name, type, default and
// range, in one table that every reader uses. Readers that need a default of their own
// pass it to the reads of VornReg.h with the names from here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gatemoor {

enum class SettingType { Integer, Boolean };

struct SettingDef {
    const char* section;
    const char* name;
    SettingType type;
    std::int32_t defaultValue;  // booleans: 0 or 1
    std::int32_t minimum;       // integers only: the range the main window offers
    std::int32_t maximum;
};

namespace settings {

inline constexpr const char* kSecuritySection = "Security Settings";
inline constexpr const char* kTranscriptSection = "Transcript";

using enum SettingType;
// clang-format off
inline constexpr SettingDef kAttachmentBlocking{kSecuritySection, "Attachment Blocking", Integer, 1, 0, 3};
inline constexpr SettingDef kPictures          {kSecuritySection, "Pictures",            Integer, 2, 0, 3};
inline constexpr SettingDef kDownloadImages    {kSecuritySection, "Download Images",     Integer, 1, 0, 2};
inline constexpr SettingDef kEmbeddedImages    {kSecuritySection, "Embedded Images",     Integer, 1, 0, 2};
inline constexpr SettingDef kImageAttachments  {kSecuritySection, "Image Attachments",   Integer, 1, 0, 1};
inline constexpr SettingDef kWebContent        {kSecuritySection, "Web Content",         Integer, 1, 0, 3};
inline constexpr SettingDef kBlockScripts      {kSecuritySection, "Block Scripts",       Boolean, 1, 0, 1};
inline constexpr SettingDef kBlockFrames       {kSecuritySection, "Block Frames",        Boolean, 1, 0, 1};
inline constexpr SettingDef kBlockObjects      {kSecuritySection, "Block Objects",       Boolean, 1, 0, 1};
inline constexpr SettingDef kLogDetail         {kSecuritySection, "Log Detail",          Integer, 0, 0, 10};
inline constexpr SettingDef kDelLogs           {kSecuritySection, "Del Logs",            Integer, 30, 1, 9999};
inline constexpr SettingDef kCloseToTray       {kSecuritySection, "Close To Tray",       Boolean, 1, 0, 1};
inline constexpr SettingDef kCloseNoPrompt     {kSecuritySection, "CloseNoPrompt",       Boolean, 0, 0, 1};
inline constexpr SettingDef kMinimizeToTray    {kSecuritySection, "Minimize To Tray",    Boolean, 1, 0, 1};

inline constexpr SettingDef kTransSendAnything     {kTranscriptSection, "TransSendAnything",      Boolean, 1, 0, 1};
inline constexpr SettingDef kTransSendErrorsOnly   {kTranscriptSection, "TransSendErrorsOnly",    Boolean, 0, 0, 1};
inline constexpr SettingDef kMinimumTranscriptLevel{kTranscriptSection, "MinimumTranscriptLevel", Integer, 1, 0, 255};
inline constexpr SettingDef kTransBeepOnErrorLevel {kTranscriptSection, "TransBeepOnErrorLevel",  Integer, 0, 0, 255};
inline constexpr SettingDef kTransSendMemory       {kTranscriptSection, "TransSendMemory",        Boolean, 0, 0, 1};
inline constexpr SettingDef kTransSendUDP          {kTranscriptSection, "TransSendUDP",           Boolean, 1, 0, 1};
inline constexpr SettingDef kTransCompressUDP      {kTranscriptSection, "TransCompressUDP",       Integer, 0, INT32_MIN, INT32_MAX};
inline constexpr SettingDef kTransUDPPacketSize    {kTranscriptSection, "TransUDPPacketSize",     Integer, 512, INT32_MIN, INT32_MAX};
// clang-format on

// Every value above, in this order.
[[nodiscard]] std::span<const SettingDef> All();

// Captions of the main window's choices for a radio-choice value, in item order (the
// stored value is the item's position); empty for other values.
[[nodiscard]] std::vector<std::string> ChoiceCaptions(const SettingDef& def);

}  // namespace settings

// Reads a value with the catalogue's default (a boolean answers 0 or 1).
[[nodiscard]] std::int32_t ReadSetting(const SettingDef& def);
[[nodiscard]] bool ReadSettingFlag(const SettingDef& def);
void WriteSetting(const SettingDef& def, std::int32_t value);

}  // namespace gatemoor
