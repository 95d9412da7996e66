// The per-user settings store: one group per section below the program's key, integer
// values only. Each call opens the store, does its one read or write, and closes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gatemoor::platform {

// Reads an integer value. Missing, unreadable or of another type (text that is not a
// 32-bit decimal integer) = not found.
[[nodiscard]] std::optional<std::int32_t> ReadStoredInteger(const std::string& program,
                                                            const std::string& section,
                                                            const std::string& name);

// Run-only values: an overridden value is what every read answers, for every program,
// until the overrides are cleared; the store itself is never written. Section and name
// match without regard to ASCII case. For command-line runs that try a policy without
// changing the user's settings.
void SetIntegerOverride(const std::string& section, const std::string& name, std::int32_t value);
void ClearIntegerOverrides();

// Writes an integer value, creating the section when needed. False when the store
// cannot be written (callers ignore it, but tests look).
bool WriteStoredInteger(const std::string& program, const std::string& section,
                        const std::string& name, std::int32_t value);

// Writes a text value; only tests use it, to store a value of the wrong type.
bool WriteStoredText(const std::string& program, const std::string& section,
                     const std::string& name, const std::string& value);

// Removes one value, or a whole section when name is empty.
void RemoveStoredValue(const std::string& program, const std::string& section,
                       const std::string& name);

// Points the store at an INI file inside `folder` (tests, and runs that must not touch
// the user's settings). An empty folder restores the user's own store. The environment
// variable GATEMOOR_SETTINGS_DIR does the same at start-up.
void SetSettingsFolder(const std::string& folder);

// The file that holds the settings of `program` (for messages and tests).
[[nodiscard]] std::string SettingsFilePath(const std::string& program);

}  // namespace gatemoor::platform
