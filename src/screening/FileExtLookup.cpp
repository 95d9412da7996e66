#include "screening/FileExtLookup.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/QtText.h"
#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

struct TypeOfExtension {
    std::string_view extension;  // lower case, without the dot
    std::string_view mimeType;
};

// Answers that the screening compares with what a message claims. They follow what a
// Windows computer says, so that a program or script sent under a harmless type is
// recognised the same way on every machine (see docs/file-types.md).
constexpr std::array kTypeOfExtension = {
    TypeOfExtension{"exe", "application/x-msdownload"},
    TypeOfExtension{"com", "application/x-msdownload"},
    TypeOfExtension{"scr", "application/x-msdownload"},
    TypeOfExtension{"pif", "application/x-msdownload"},
    TypeOfExtension{"cpl", "application/x-msdownload"},
    TypeOfExtension{"dll", "application/x-msdownload"},
    TypeOfExtension{"ocx", "application/x-msdownload"},
    TypeOfExtension{"bat", "application/x-msdos-program"},
    TypeOfExtension{"cmd", "application/x-msdos-program"},
    TypeOfExtension{"vbs", "text/vbscript"},
    TypeOfExtension{"vbe", "text/vbscript"},
    TypeOfExtension{"js", "application/javascript"},
    TypeOfExtension{"jse", "application/javascript"},
    TypeOfExtension{"hta", "application/hta"},
    TypeOfExtension{"doc", "application/msword"},
    TypeOfExtension{"dot", "application/msword"},
    TypeOfExtension{"xls", "application/vnd.ms-excel"},
    TypeOfExtension{"ppt", "application/vnd.ms-powerpoint"},
    TypeOfExtension{"jpg", "image/jpeg"},
    TypeOfExtension{"jpeg", "image/jpeg"},
    TypeOfExtension{"jpe", "image/jpeg"},
    TypeOfExtension{"gif", "image/gif"},
    TypeOfExtension{"png", "image/png"},
    TypeOfExtension{"bmp", "image/bmp"},
    TypeOfExtension{"tif", "image/tiff"},
    TypeOfExtension{"tiff", "image/tiff"},
    TypeOfExtension{"htm", "text/html"},
    TypeOfExtension{"html", "text/html"},
    TypeOfExtension{"txt", "text/plain"},
    TypeOfExtension{"eml", "message/rfc822"},
};

struct ExtensionOfType {
    std::string_view mimeType;   // lower case
    std::string_view extension;  // with its dot
};

constexpr std::array kExtensionOfType = {
    ExtensionOfType{"application/x-msdownload", ".exe"},
    ExtensionOfType{"application/x-msdos-program", ".exe"},
    ExtensionOfType{"application/x-ms-dos-executable", ".exe"},
    ExtensionOfType{"application/x-dosexec", ".exe"},
    ExtensionOfType{"text/vbscript", ".vbs"},
    ExtensionOfType{"application/javascript", ".js"},
    ExtensionOfType{"application/x-javascript", ".js"},
    ExtensionOfType{"text/javascript", ".js"},
    ExtensionOfType{"application/hta", ".hta"},
    ExtensionOfType{"application/msword", ".doc"},
    ExtensionOfType{"application/vnd.ms-excel", ".xls"},
    ExtensionOfType{"application/vnd.ms-powerpoint", ".ppt"},
    ExtensionOfType{"image/jpeg", ".jpg"},
    ExtensionOfType{"image/pjpeg", ".jpg"},
    ExtensionOfType{"image/jpg", ".jpg"},
    ExtensionOfType{"image/gif", ".gif"},
    ExtensionOfType{"image/png", ".png"},
    ExtensionOfType{"image/x-png", ".png"},
    ExtensionOfType{"image/bmp", ".bmp"},
    ExtensionOfType{"image/tiff", ".tif"},
    ExtensionOfType{"text/html", ".htm"},
    ExtensionOfType{"text/plain", ".txt"},
    ExtensionOfType{"message/rfc822", ".eml"},
};

struct ClassId {
    std::string_view id;  // upper case, in braces
    std::string_view name;
};

// Well-known class ids of Windows shell folders, Office documents, script engines and
// controls. A file named after one opens as that object on a Windows reader of the mail,
// whatever this computer does with it.
constexpr std::array kClassIds = {
    ClassId{"{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "My Computer"},
    ClassId{"{450D8FBA-AD25-11D0-98A8-0800361B1103}", "My Documents"},
    ClassId{"{645FF040-5081-101B-9F08-00AA002F954E}", "Recycle Bin"},
    ClassId{"{208D2C60-3AEA-1069-A2D7-08002B30309D}", "My Network Places"},
    ClassId{"{21EC2020-3AEA-1069-A2DD-08002B30309D}", "Control Panel"},
    ClassId{"{2227A280-3AEA-1069-A2DE-08002B30309D}", "Printers and Faxes"},
    ClassId{"{D6277990-4C6A-11CF-8D87-00AA0060F5BF}", "Scheduled Tasks"},
    ClassId{"{871C5380-42A0-1069-A2EA-08002B30309D}", "Internet Explorer"},
    ClassId{"{0002DF01-0000-0000-C000-000000000046}", "Internet Explorer(Ver 1.0)"},
    ClassId{"{8856F961-340A-11D0-A96B-00C04FD705A2}", "Microsoft Web Browser"},
    ClassId{"{25336920-03F9-11CF-8FD0-00AA00686F13}", "HTML Document"},
    ClassId{"{3050F4D8-98B5-11CF-BB82-00AA00BDCE0B}", "Microsoft HTA Document 6.0"},
    ClassId{"{00021401-0000-0000-C000-000000000046}", "Shortcut"},
    ClassId{"{FBF23B40-E3F0-101B-8488-00AA003E56F8}", "InternetShortcut"},
    ClassId{"{00020906-0000-0000-C000-000000000046}", "Microsoft Word Document"},
    ClassId{"{00020820-0000-0000-C000-000000000046}", "Microsoft Excel Worksheet"},
    ClassId{"{64818D10-4F9B-11CF-86EA-00AA00B929E8}", "Microsoft PowerPoint Presentation"},
    ClassId{"{B54F3741-5B07-11CF-A4B0-00AA004A55E8}", "VB Script Language"},
    ClassId{"{F414C260-6AC0-11CF-B6D1-00AA00BBBB58}", "JScript Language"},
    ClassId{"{0D43FE01-F093-11CF-8940-00A0C9054228}", "FileSystem Object"},
    ClassId{"{72C24DD5-D70A-438B-8A42-98424B88AFB8}", "Windows Script Host Shell Object"},
    ClassId{"{D27CDB6E-AE6D-11CF-96B8-444553540000}", "Shockwave Flash Object"},
};

constexpr std::string_view kUnknownType = "application/octet-stream";
constexpr std::string_view kUnknownExtension = ".txt";

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

// The extension in lower case without its dot; empty when it cannot name a file type.
std::string ExtensionKey(std::string_view extension) {
    extension = Trimmed(extension);
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) return {};
    return AsciiLower(extension);
}

// The types this machine's MIME database gives for the extension, the preferred one
// first, followed by its aliases.
std::vector<std::string> MachineTypesOfExtensionUncached(const std::string& key) {
    std::vector<std::string> types;
    if (key.empty()) return types;
    QMimeDatabase database;
    QMimeType type = database.mimeTypeForFile(QStringLiteral("x.") + platform::ToQString(key),
                                              QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) return types;
    types.push_back(platform::FromQString(type.name()));
    for (const QString& alias : type.aliases())
        types.push_back(platform::FromQString(alias));
    return types;
}

// The machine's type database does not change while the program runs, and the
// screening asks it about the same few extensions for every attachment.
std::vector<std::string> MachineTypesOfExtension(const std::string& key) {
    static std::mutex mutex;
    static std::unordered_map<std::string, std::vector<std::string>> answers;
    {
        std::lock_guard lock(mutex);
        if (const auto found = answers.find(key); found != answers.end()) return found->second;
    }
    std::vector<std::string> types = MachineTypesOfExtensionUncached(key);
    std::lock_guard lock(mutex);
    if (answers.size() >= 4096) answers.clear();
    answers.emplace(key, types);
    return types;
}

std::optional<std::string> OverrideTypeOf(const std::string& key) {
    for (const auto& entry : kTypeOfExtension)
        if (entry.extension == key) return std::string(entry.mimeType);
    return std::nullopt;
}

// --- XDG default applications ------------------------------------------------------------

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

std::vector<std::string> SplitList(std::string_view text, char separator) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view item = Trimmed(text.substr(start, end - start));
        if (!item.empty()) items.emplace_back(item);
        start = end + 1;
    }
    return items;
}

std::string Home() {
    return EnvOr("HOME", "");
}

std::vector<std::string> ConfigDirs() {
    std::vector<std::string> dirs{EnvOr("XDG_CONFIG_HOME", Home() + "/.config")};
    for (auto& dir : SplitList(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"), ':'))
        dirs.push_back(dir);
    return dirs;
}

std::vector<std::string> ApplicationDirs() {
    std::vector<std::string> dirs{EnvOr("XDG_DATA_HOME", Home() + "/.local/share") +
                                  "/applications"};
    for (auto& dir : SplitList(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':'))
        dirs.push_back(dir + "/applications");
    return dirs;
}

// The association files in the order the desktop consults them: the desktop-specific
// file before the general one in each folder, configuration folders before data folders.
std::vector<std::string> MimeAppsFiles() {
    std::vector<std::string> desktops;
    for (auto& desktop : SplitList(EnvOr("XDG_CURRENT_DESKTOP", ""), ':'))
        desktops.push_back(AsciiLower(desktop));
    std::vector<std::string> folders = ConfigDirs();
    for (auto& dir : ApplicationDirs())
        folders.push_back(dir);
    std::vector<std::string> files;
    for (const auto& folder : folders) {
        for (const auto& desktop : desktops)
            files.push_back(folder + "/" + desktop + "-mimeapps.list");
        files.push_back(folder + "/mimeapps.list");
    }
    return files;
}

// The value of `key` in group `group` of a desktop-entry style file.
std::optional<std::string> IniValue(const std::string& path, std::string_view group,
                                    std::string_view key) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string line;
    bool inGroup = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            inGroup = text.size() == group.size() + 2 && text.substr(1, group.size()) == group &&
                      text.back() == ']';
            continue;
        }
        if (!inGroup) continue;
        std::size_t eq = text.find('=');
        if (eq == std::string_view::npos || Trimmed(text.substr(0, eq)) != key) continue;
        return std::string(Trimmed(text.substr(eq + 1)));
    }
    return std::nullopt;
}

// Desktop-entry escapes of string values: \s \n \t \r \\.
std::string Unescaped(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        char next = value[++i];
        switch (next) {
            case 's':
                text += ' ';
                break;
            case 'n':
                text += '\n';
                break;
            case 't':
                text += '\t';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                text += next;
        }
    }
    return text;
}

// The Exec= command of a desktop file id; a "-" in the id may stand for a subfolder.
std::optional<std::string> ExecOfDesktopId(const std::string& id) {
    if (id.find('/') != std::string::npos || id.find("..") != std::string::npos) return {};
    std::vector<std::string> names{id};
    if (std::size_t dash = id.find('-'); dash != std::string::npos)
        names.push_back(id.substr(0, dash) + "/" + id.substr(dash + 1));
    for (const auto& dir : ApplicationDirs()) {
        for (const auto& name : names) {
            std::error_code error;
            std::string path = dir + "/" + name;
            if (!std::filesystem::is_regular_file(path, error)) continue;
            auto exec = IniValue(path, "Desktop Entry", "Exec");
            if (exec && !exec->empty()) return Unescaped(*exec);
        }
    }
    return std::nullopt;
}

std::optional<std::string> ExecFromGroup(const std::vector<std::string>& files,
                                         std::string_view group, const std::string& type) {
    for (const auto& file : files) {
        auto ids = IniValue(file, group, type);
        if (!ids) continue;
        for (const auto& id : SplitList(*ids, ';'))
            if (auto exec = ExecOfDesktopId(id)) return exec;
    }
    return std::nullopt;
}

std::optional<std::string> DefaultApplicationCommand(const std::vector<std::string>& lists,
                                                     const std::vector<std::string>& appDirs,
                                                     const std::vector<std::string>& types) {
    std::vector<std::string> caches;
    for (const auto& dir : appDirs)
        caches.push_back(dir + "/mimeinfo.cache");
    for (const auto& type : types)
        if (auto exec = ExecFromGroup(lists, "Default Applications", type)) return exec;
    for (const auto& type : types)
        if (auto exec = ExecFromGroup(lists, "Added Associations", type)) return exec;
    for (const auto& type : types)
        if (auto exec = ExecFromGroup(caches, "MIME Cache", type)) return exec;
    return std::nullopt;
}

// The screening asks for the program of every attachment's type, and each question
// reads every association file of the desktop: answers are kept for a few seconds, by
// the files consulted and the types, so that a burst of messages reads them once and a
// newly installed program is still seen soon after.
std::optional<std::string> RecentDefaultApplicationCommand(const std::vector<std::string>& types) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kKeptFor = std::chrono::seconds(5);
    struct TAnswer {
        Clock::time_point at;
        std::optional<std::string> command;
    };
    static std::mutex mutex;
    static std::unordered_map<std::string, TAnswer> answers;

    const std::vector<std::string> lists = MimeAppsFiles();
    const std::vector<std::string> appDirs = ApplicationDirs();
    std::string key;
    for (const auto& file : lists)
        key.append(file).push_back('\n');
    for (const auto& dir : appDirs)
        key.append(dir).push_back('\n');
    key.push_back('\n');
    for (const auto& type : types)
        key.append(type).push_back('\n');

    const Clock::time_point now = Clock::now();
    {
        std::lock_guard lock(mutex);
        if (const auto found = answers.find(key); found != answers.end() && now - found->second.at < kKeptFor)
            return found->second.command;
    }
    std::optional<std::string> command = DefaultApplicationCommand(lists, appDirs, types);
    std::lock_guard lock(mutex);
    if (answers.size() >= 1024) answers.clear();
    answers[key] = {now, command};
    return command;
}

// The command as the screening shows it: nothing after the first ".exe", no quotes, no
// arguments from the first "%" on.
std::string CleanedCommand(std::string command) {
    if (std::size_t exe = command.find(".exe"); exe != std::string::npos) command.erase(exe + 4);
    command.erase(std::remove(command.begin(), command.end(), '"'), command.end());
    if (std::size_t percent = command.find('%'); percent != std::string::npos)
        command.erase(percent);
    return std::string(Trimmed(command));
}

}  // namespace

std::string FileExtOf(std::string_view name) {
    while (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    std::size_t dot = name.find_last_of(".\\/:");
    if (dot == std::string_view::npos || name[dot] != '.') return {};
    return std::string(name.substr(dot));
}

bool MimeTypeOfExtension(std::string_view extension, std::string& type) {
    type.clear();
    if (extension.empty()) return false;
    const std::string key = ExtensionKey(extension);
    if (auto fixed = OverrideTypeOf(key)) {
        type = *fixed;
        return true;
    }
    std::vector<std::string> types = MachineTypesOfExtension(key);
    if (types.empty()) {
        type = kUnknownType;
        return false;
    }
    type = types.front();
    return true;
}

bool MimeTypeOfFileName(std::string_view name, std::string& type) {
    return MimeTypeOfExtension(FileExtOf(name), type);
}

bool ExtensionOfMimeType(std::string_view mimeType, std::string& extension) {
    const std::string key = AsciiLower(Trimmed(mimeType));
    for (const auto& entry : kExtensionOfType) {
        if (entry.mimeType == key) {
            extension = entry.extension;
            return true;
        }
    }
    extension = kUnknownExtension;
    if (key.empty()) return false;
    QMimeDatabase database;
    QMimeType type = database.mimeTypeForName(platform::ToQString(key));
    if (!type.isValid()) return false;
    // A type the database knows but cannot name a file extension for is as good as
    // unknown here: answering ".txt" would make it look like plain text.
    const std::string suffix = platform::FromQString(type.preferredSuffix());
    if (suffix.empty()) return false;
    extension = "." + suffix;
    return true;
}

bool AssociatedProgram(std::string_view extension, std::string& program) {
    program.clear();
    const std::string key = ExtensionKey(extension);
    if (key.empty()) return false;
    std::vector<std::string> types;
    if (auto fixed = OverrideTypeOf(key)) types.push_back(*fixed);
    for (auto& type : MachineTypesOfExtension(key))
        if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    if (auto command = RecentDefaultApplicationCommand(types)) program = CleanedCommand(*command);
    return !program.empty();
}

bool LookUpClassId(std::string_view classId, std::string& name) {
    name.clear();
    std::string key(Trimmed(classId));
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& entry : kClassIds) {
        if (entry.id == key) {
            name = entry.name;
            return true;
        }
    }
    return false;
}

}  // namespace gatemoor
