#include "platform/SettingsStore.h"

#include <QSettings>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/QtText.h"

namespace gatemoor::platform {
namespace {

std::mutex gFolderMutex;
std::optional<std::string> gFolder;
bool gEnvironmentRead = false;

std::optional<std::string> OverrideFolder() {
    std::lock_guard lock(gFolderMutex);
    if (!gEnvironmentRead) {
        gEnvironmentRead = true;
        const char* env = std::getenv("GATEMOOR_SETTINGS_DIR");
        if (!gFolder && env && *env) gFolder = std::string(env);
    }
    return gFolder;
}

std::unique_ptr<QSettings> OpenStore(const std::string& program) {
    if (auto folder = OverrideFolder())
        return std::make_unique<QSettings>(ToQString(*folder + "/" + program + ".conf"),
                                           QSettings::IniFormat);
    // Native format: an INI file under the user's config folder here, the user's
    // registry branch \Software\<program> on Windows.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       ToQString(program));
}

std::mutex gOverrideMutex;
std::map<std::string, std::int32_t> gOverrides;

std::string OverrideKey(const std::string& section, const std::string& name) {
    std::string key = section + "/" + name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

std::optional<std::int32_t> FindOverride(const std::string& section, const std::string& name) {
    std::lock_guard lock(gOverrideMutex);
    if (gOverrides.empty()) return std::nullopt;
    auto found = gOverrides.find(OverrideKey(section, name));
    if (found == gOverrides.end()) return std::nullopt;
    return found->second;
}

QString KeyOf(const std::string& section, const std::string& name) {
    if (section.empty()) return ToQString(name);
    return ToQString(section + "/" + name);
}

}  // namespace

std::optional<std::int32_t> ReadStoredInteger(const std::string& program,
                                              const std::string& section, const std::string& name) {
    if (auto value = FindOverride(section, name)) return value;
    auto store = OpenStore(program);
    if (store->status() != QSettings::NoError) return std::nullopt;
    QVariant value = store->value(KeyOf(section, name));
    if (!value.isValid()) return std::nullopt;
    if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::Int &&
        value.typeId() != QMetaType::LongLong)
        return std::nullopt;
    bool ok = false;
    int result = value.toString().trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return static_cast<std::int32_t>(result);
}

void SetIntegerOverride(const std::string& section, const std::string& name, std::int32_t value) {
    std::lock_guard lock(gOverrideMutex);
    gOverrides[OverrideKey(section, name)] = value;
}

void ClearIntegerOverrides() {
    std::lock_guard lock(gOverrideMutex);
    gOverrides.clear();
}

bool WriteStoredInteger(const std::string& program, const std::string& section,
                        const std::string& name, std::int32_t value) {
    auto store = OpenStore(program);
    store->setValue(KeyOf(section, name), static_cast<int>(value));
    store->sync();
    return store->status() == QSettings::NoError;
}

bool WriteStoredText(const std::string& program, const std::string& section,
                     const std::string& name, const std::string& value) {
    auto store = OpenStore(program);
    store->setValue(KeyOf(section, name), ToQString(value));
    store->sync();
    return store->status() == QSettings::NoError;
}

void RemoveStoredValue(const std::string& program, const std::string& section,
                       const std::string& name) {
    auto store = OpenStore(program);
    store->remove(name.empty() ? ToQString(section) : KeyOf(section, name));
    store->sync();
}

void SetSettingsFolder(const std::string& folder) {
    std::lock_guard lock(gFolderMutex);
    gEnvironmentRead = true;
    if (folder.empty())
        gFolder.reset();
    else
        gFolder = folder;
}

std::string SettingsFilePath(const std::string& program) {
    return FromQString(OpenStore(program)->fileName());
}

}  // namespace gatemoor::platform
