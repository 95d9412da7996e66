#include "foundation/VornReg.h"

#include "platform/SettingsStore.h"
#include "platform/Version.h"

namespace gatemoor {
namespace {

// The application title, used when the version information names no product.
constexpr const char* kApplicationTitle = "Gatemoor";

}  // namespace

const std::string& SettingsBaseName() {
    static const std::string name = [] {
        std::string product = platform::kProductName;
        return product.empty() ? std::string(kApplicationTitle) : product;
    }();
    return name;
}

std::string SettingsKeyPath(const std::string& section) {
    std::string path = "\\software\\" + SettingsBaseName();
    if (!section.empty()) path += "\\" + section;
    return path;
}

SettingRead<std::int32_t> TryReadSettingInteger(const std::string& section,
                                                const std::string& name) {
    auto value = platform::ReadStoredInteger(SettingsBaseName(), section, name);
    if (!value) return {};
    return {true, *value};
}

std::int32_t ReadSettingInteger(const std::string& section, const std::string& name,
                                std::int32_t defaultValue) {
    auto read = TryReadSettingInteger(section, name);
    return read.found ? read.value : defaultValue;
}

void WriteSettingInteger(const std::string& section, const std::string& name, std::int32_t value) {
    (void)platform::WriteStoredInteger(SettingsBaseName(), section, name, value);
}

SettingRead<bool> TryReadSettingBool(const std::string& section, const std::string& name) {
    auto read = TryReadSettingInteger(section, name);
    return {read.found, read.found && read.value != 0};
}

bool ReadSettingBool(const std::string& section, const std::string& name, bool defaultValue) {
    auto read = TryReadSettingBool(section, name);
    return read.found ? read.value : defaultValue;
}

void WriteSettingBool(const std::string& section, const std::string& name, bool value) {
    WriteSettingInteger(section, name, value ? 1 : 0);
}

}  // namespace gatemoor
