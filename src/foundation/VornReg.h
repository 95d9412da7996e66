// Reading and writing the program's persisted integers and booleans, one section each,
// below the program's own key "\software\Gatemoor". Nothing is cached but the base name.
#pragma once

#include <cstdint>
#include <string>

namespace gatemoor {

template <class T>
struct SettingRead {
    bool found = false;
    T value{};
};

// The program's base name: the product name of the version information, else the
// application title. Computed on first use, then kept.
[[nodiscard]] const std::string& SettingsBaseName();

// "\software\" + base name [+ "\" + section].
[[nodiscard]] std::string SettingsKeyPath(const std::string& section);

[[nodiscard]] SettingRead<std::int32_t> TryReadSettingInteger(const std::string& section,
                                                              const std::string& name);
[[nodiscard]] std::int32_t ReadSettingInteger(const std::string& section, const std::string& name,
                                              std::int32_t defaultValue);
void WriteSettingInteger(const std::string& section, const std::string& name, std::int32_t value);

// Booleans are stored as 0 or 1 and read as true for any value but 0.
[[nodiscard]] SettingRead<bool> TryReadSettingBool(const std::string& section,
                                                   const std::string& name);
[[nodiscard]] bool ReadSettingBool(const std::string& section, const std::string& name,
                                   bool defaultValue);
void WriteSettingBool(const std::string& section, const std::string& name, bool value);

}  // namespace gatemoor
