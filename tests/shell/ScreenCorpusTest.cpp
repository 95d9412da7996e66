// Every message of the corpus through `gatemoor --screen` under four policies: nothing
// crashes, every message is delivered, an unchanged message comes back byte for byte, a
// changed one is no worse a message to Python's email package than the original, and
// the report and backup files exist exactly for the messages that got a notice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;

struct Policy {
    const char* name;
    std::vector<std::string> settings;  // "Section/Name=value"
};

const Policy kPolicies[] = {
    {"defaults", {}},
    {"everything blocked",
     {"Security Settings/Attachment Blocking=0", "Security Settings/Pictures=0",
      "Security Settings/Web Content=0"}},
    {"everything ignored",
     {"Security Settings/Attachment Blocking=3", "Security Settings/Pictures=1",
      "Security Settings/Web Content=2"}},
    {"advanced with more picture options",
     {"Security Settings/Web Content=3", "Security Settings/Pictures=3"}},
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(GATEMOOR_CORPUS_DIR))
        if (entry.is_regular_file() && entry.path().extension() == ".eml")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

struct Status {
    std::string state;  // unchanged, changed, withheld
    std::string report;
    std::string backup;
    std::string joined;
};

// "<file>: <state>[, danger level N%][, report PATH][, backup PATH]"
std::map<std::string, Status> ReadStatus(const std::string& path) {
    std::map<std::string, Status> result;
    std::stringstream lines(test::ReadFile(path));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        Status status;
        std::string rest = line.substr(colon + 2);
        status.state = rest.substr(0, rest.find_first_of(", ("));
        const auto field = [&rest](const std::string& key) {
            const std::size_t at = rest.find(", " + key + " ");
            if (at == std::string::npos) return std::string();
            const std::size_t from = at + key.size() + 3;
            const std::size_t end = rest.find(", ", from);
            return rest.substr(from, end == std::string::npos ? std::string::npos : end - from);
        };
        status.report = field("report");
        status.backup = field("backup");
        status.joined = field("joined message");
        result[line.substr(0, colon)] = status;
    }
    return result;
}

int CountFiles(const std::string& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return 0;
    return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(ScreenCorpus, EveryMessageUnderEveryPolicy) {
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_FALSE(files.empty());
    const bool python = std::system("command -v python3 >/dev/null 2>&1") == 0;
    for (const Policy& policy : kPolicies) {
        SCOPED_TRACE(policy.name);
        const test::TempFolder folder;
        std::map<std::string, std::string> deliveredPath;
        const std::string home = folder.File("home");
        const std::string out = folder.File("out");
        fs::create_directories(home);
        // One run per corpus folder: names are unique within a folder only.
        std::map<std::string, std::vector<std::string>> byFolder;
        for (const std::string& file : files) byFolder[fs::path(file).parent_path().string()].push_back(file);
        std::string statusText;
        int run = 0;
        for (const auto& [source, group] : byFolder) {
            const std::string target = out + "/" + std::to_string(run++);
            std::string command = "GATEMOOR_HOME=" + Quoted(home) + " " + Quoted(GATEMOOR_PROGRAM) +
                                  " --screen";
            for (const std::string& file : group) command += " " + Quoted(file);
            command += " --out " + Quoted(target);
            for (const std::string& setting : policy.settings) command += " --set " + Quoted(setting);
            command += " > " + Quoted(folder.File("status.txt")) + " 2> " + Quoted(folder.File("errors.txt"));
            ASSERT_EQ(std::system(command.c_str()), 0) << source << ": " << test::ReadFile(folder.File("errors.txt"));
            statusText += test::ReadFile(folder.File("status.txt"));
            for (const std::string& file : group) deliveredPath[file] = target + "/" + fs::path(file).filename().string();
        }
        test::WriteFile(folder.File("status.txt"), statusText);

        const std::map<std::string, Status> statuses = ReadStatus(folder.File("status.txt"));
        std::string pairs;
        int kept = 0;
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            const auto found = statuses.find(file);
            ASSERT_NE(found, statuses.end()) << "no status line";
            const Status& status = found->second;
            const std::string& delivered = deliveredPath[file];
            ASSERT_TRUE(fs::exists(delivered));
            const std::string bytes = test::ReadFile(delivered);
            if (status.state == "withheld") {
                EXPECT_TRUE(bytes.empty());
                // A fragment keeps the backup of itself; the last one also the joined message.
                if (!status.backup.empty()) ++kept;
                if (!status.joined.empty()) ++kept;
                continue;
            }
            EXPECT_FALSE(bytes.empty()) << "delivered empty";
            if (status.state == "unchanged") {
                EXPECT_EQ(bytes, test::ReadFile(file)) << "unchanged yet not byte for byte";
                EXPECT_EQ(status.report, "");
                EXPECT_EQ(status.backup, "");
            } else {
                ASSERT_EQ(status.state, "changed");
                pairs += file + "\t" + delivered + "\n";
            }
            if (!status.report.empty()) {
                EXPECT_TRUE(fs::exists(status.report)) << status.report;
                EXPECT_FALSE(status.backup.empty()) << "a noticed message keeps its backup";
            }
            if (!status.backup.empty()) {
                EXPECT_TRUE(fs::exists(status.backup)) << status.backup;
                ++kept;
            }
        }
        // No backup is left behind for a message without notice.
        EXPECT_EQ(CountFiles(home + "/Users/SingleUser/Messages/Backups"), kept);

        if (!python || pairs.empty()) continue;
        test::WriteFile(folder.File("pairs.tsv"), pairs);
        const std::string oracle = "python3 " + Quoted(std::string(GATEMOOR_TEST_SOURCE_DIR) + "/shell/defects_oracle.py") +
                                   " " + Quoted(folder.File("pairs.tsv")) + " " + Quoted(folder.File("defects.tsv"));
        ASSERT_EQ(std::system(oracle.c_str()), 0);
        std::stringstream rows(test::ReadFile(folder.File("defects.tsv")));
        for (std::string row; std::getline(rows, row);) {
            const std::size_t tab1 = row.find('\t');
            const std::size_t tab2 = row.find('\t', tab1 + 1);
            const int before = std::stoi(row.substr(tab1 + 1, tab2 - tab1 - 1));
            const int after = std::stoi(row.substr(tab2 + 1));
            if (before < 0) continue;  // Python cannot read the original either
            EXPECT_GE(after, 0) << row.substr(0, tab1) << ": Python cannot read the screened message";
            EXPECT_LE(after, before) << row.substr(0, tab1) << ": the screened message has more defects";
        }
    }
}

}  // namespace
}  // namespace gatemoor
