#include "shell/ScreenCommand.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <sstream>

#include "mail/EmailDecoders.h"
#include "platform/SettingsStore.h"
#include "screening/FileExtensions.h"
#include "screening/ProcessIncoming.h"
#include "screening/VornUtilFolders.h"

namespace gatemoor {

namespace fs = std::filesystem;

namespace {

bool ParseOverride(const std::string& text, TScreenCommand::Override& item, std::string& error) {
    const std::size_t slash = text.find('/');
    const std::size_t equals = text.find('=', slash == std::string::npos ? 0 : slash);
    if (slash == std::string::npos || equals == std::string::npos || slash == 0 ||
        equals == slash + 1) {
        error = "--set needs \"Section/Name=value\", not \"" + text + "\"";
        return false;
    }
    item.section = text.substr(0, slash);
    item.name = text.substr(slash + 1, equals - slash - 1);
    const std::string value = text.substr(equals + 1);
    const auto [end, problem] = std::from_chars(value.data(), value.data() + value.size(), item.value);
    if (problem != std::errc() || end != value.data() + value.size() || value.empty()) {
        error = "--set " + item.section + "/" + item.name + " needs a whole number, not \"" + value + "\"";
        return false;
    }
    return true;
}

bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    file.close();
    return static_cast<bool>(file);
}

void LoadRiskDatabase(TFileExtensionList& extensions) {
    const std::string path = RiskDatabasePath("Global");
    std::error_code error;
    if (fs::exists(path, error)) {
        extensions.LoadFromFile(path, false);
        if (extensions.Count() > 0) return;
    }
    extensions.LoadDefaults();
}

std::string StatusLine(const std::string& file, const TScreeningOutcome& outcome) {
    std::string line = file + ": ";
    if (outcome.withheld) {
        line += "withheld (part of a message/partial)";
        if (!outcome.joinedPath.empty()) line += ", joined message " + outcome.joinedPath;
    } else {
        line += outcome.changed ? "changed" : "unchanged";
    }
    if (!outcome.withheld) line += ", danger level " + std::to_string(outcome.dangerLevel) + "%";
    if (!outcome.reportPath.empty()) line += ", report " + outcome.reportPath;
    if (!outcome.backupPath.empty()) line += ", backup " + outcome.backupPath;
    return line;
}

}  // namespace

bool ParseScreenCommand(const std::vector<std::string>& args, TScreenCommand& command,
                        std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--out" || arg == "--set") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--out") {
                command.outFolder = value;
            } else {
                TScreenCommand::Override item;
                if (!ParseOverride(value, item, error)) return false;
                command.overrides.push_back(item);
            }
        } else if (arg.starts_with("--")) {
            error = "unknown option " + arg;
            return false;
        } else {
            command.files.push_back(arg);
        }
    }
    if (command.files.empty()) {
        error = "--screen needs at least one message file";
        return false;
    }
    if (command.outFolder.empty() && command.files.size() > 1) {
        error = "several files need --out DIR";
        return false;
    }
    return true;
}

int RunScreenCommand(const TScreenCommand& command, std::ostream& out, std::ostream& status,
                     std::ostream& errors) {
    if (!command.outFolder.empty()) {
        std::error_code error;
        fs::create_directories(command.outFolder, error);
        if (!fs::is_directory(command.outFolder, error)) {
            errors << "gatemoor: cannot create the folder " << command.outFolder << "\n";
            return 1;
        }
    }
    for (const TScreenCommand::Override& item : command.overrides)
        platform::SetIntegerOverride(item.section, item.name, item.value);

    TFileExtensionList extensions;
    LoadRiskDatabase(extensions);

    int result = 0;
    std::set<std::string> written;
    for (const std::string& file : command.files) {
        std::string bytes;
        if (!ReadWhole(file, bytes) || fs::is_directory(file)) {
            errors << "gatemoor: cannot read " << file << "\n";
            result = 1;
            continue;
        }
        std::string target;
        if (!command.outFolder.empty()) {
            const std::string name = fs::path(file).filename().string();
            if (!written.insert(name).second) {
                errors << "gatemoor: " << file << " has the same name as an earlier file; skipped\n";
                result = 1;
                continue;
            }
            target = (fs::path(command.outFolder) / name).string();
        }
        std::vector<std::string> lines = SplitLines(bytes);
        const TScreeningOutcome outcome = ProcessIncomingEmail(lines, extensions);
        // What the mail program receives: the message as it came when nothing changed.
        const std::string delivered = outcome.changed ? TextOfLines(lines) : outcome.withheld ? "" : bytes;
        if (target.empty()) {
            out << delivered;
            out.flush();
        } else if (!WriteWhole(target, delivered)) {
            errors << "gatemoor: cannot write " << target << "\n";
            result = 1;
            continue;
        }
        status << StatusLine(file, outcome) << "\n";
        status.flush();
    }
    platform::ClearIntegerOverrides();
    return result;
}

}  // namespace gatemoor
