#include "screening/VornUtilFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/ProgramFolder.h"
#include "screening/VornUtil.h"

namespace gatemoor {

namespace fs = std::filesystem;

namespace {

constexpr int kUniqueSuffixLength = 5;

// Wildcard match with backtracking to the last `*` only, so it stays linear-ish.
bool MaskMatches(std::string_view mask, std::string_view name) {
    std::size_t m = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == '*') {
            star = m++;
            resume = n;
        } else if (star != std::string_view::npos) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

void FindIn(const std::string& folder, std::string_view mask, bool recurse, int limit,
            std::vector<std::string>& list, int& added) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        const std::string name = it->path().filename().string();
        // Subfolders reached through links are not entered: a link may point back up.
        if (recurse && it->is_directory(typeError) && !it->is_symlink(typeError)) {
            folders.push_back(name);
        } else if (it->is_regular_file(typeError) && MaskMatches(mask, name)) {
            files.push_back(name);
        }
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const auto& name : files) {
        if (limit > 0 && added >= limit) return;
        list.push_back(JoinPath(folder, name));
        ++added;
    }
    for (const auto& name : folders) {
        if (limit > 0 && added >= limit) return;
        FindIn(JoinPath(folder, name), mask, recurse, limit, list, added);
    }
}

}  // namespace

std::string TempFolder() {
    std::error_code error;
    std::string folder = fs::temp_directory_path(error).string();
    if (error || folder.empty()) folder = "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool GetUniquePath(std::string_view folder, std::string_view name, std::string_view extension,
                   std::string& path, bool keepBlanks) {
    std::string base(name);
    if (!keepBlanks) std::replace(base.begin(), base.end(), ' ', '_');
    KeepOnlyChars(base, TCharClass::FileNameChar);

    std::string dir = folder.empty() ? TempFolder() : std::string(folder);
    if (dir.back() != '/') dir.push_back('/');

    std::error_code error;
    if (!fs::is_directory(dir, error)) {
        path = dir + base + std::string(extension);
        return platform::EnsureFolder(dir);
    }
    do {
        path = dir + base + "(" + RandomAlphanumeric(kUniqueSuffixLength) + ")" +
               std::string(extension);
        // An entry that cannot even be looked at counts as free; creating it will tell.
    } while (fs::exists(fs::symlink_status(path, error)));
    return true;
}

int FindFiles(std::string_view folder, std::string_view mask, bool recurse, int limit,
              std::vector<std::string>& list) {
    const std::string_view effective = mask == "*.*" ? std::string_view("*") : mask;
    int added = 0;
    std::string start(folder);
    while (start.size() > 1 && start.back() == '/')
        start.pop_back();
    FindIn(start, effective, recurse, limit, list, added);
    return added;
}

}  // namespace gatemoor
