// Screening throughput: every corpus message through the whole pipeline under the
// default settings, in one process, beside the message model's own load, parse and
// full write of the same messages. Prints messages and megabytes per second of
// processor time for both and their ratio (the screening may take at most three times
// as long). Files the screening writes go to a private program folder.
//
// Usage: bench_screening [ROUNDS] [CORPUS_DIR] [model|screening|neither]   (best of
// ROUNDS, default 3; naming one side runs only that one, for instruction counts under
// valgrind --tool=callgrind, which a shared machine's timings cannot replace; "neither"
// measures what both share: start, corpus, risk database)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/VornThread.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "screening/FileExtensions.h"
#include "screening/ProcessIncoming.h"

namespace {

namespace fs = std::filesystem;

struct Sample {
    std::string path;
    std::string bytes;
};

// Processor time of this process: user and system (file creation is system time, and
// the screening creates a backup and an information record for every message).
struct TCpu {
    double user = 0;
    double system = 0;
    [[nodiscard]] double Total() const { return user + system; }
};

TCpu CpuNow() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

TCpu operator-(const TCpu& a, const TCpu& b) {
    return {a.user - b.user, a.system - b.system};
}

TCpu Best(const TCpu& a, const TCpu& b) {
    return a.Total() <= b.Total() ? a : b;
}

std::vector<Sample> LoadCorpus(const std::string& root) {
    std::vector<Sample> samples;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".eml") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        samples.push_back({entry.path().string(),
                           std::string(std::istreambuf_iterator<char>(file), {})});
    }
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.path < b.path; });
    return samples;
}

void EmptyFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename() != ".settings") fs::remove_all(entry.path(), error);
}

// The message model alone: read the file, parse it, write the full form.
TCpu ModelPass(const std::vector<Sample>& samples) {
    const TCpu start = CpuNow();
    for (const Sample& sample : samples) {
        gatemoor::TEmailMsg message;
        message.SetSaveOnDestroy(false);
        message.SetEnsureTextBodyFlag(false);
        (void)message.ReadFromFile(sample.path);
        (void)message.Parts();
        std::vector<std::string> lines;
        (void)message.SaveToLines(lines, true);
    }
    return CpuNow() - start;
}

TCpu ScreeningPass(const std::vector<Sample>& samples, gatemoor::TFileExtensionList& extensions,
                   int& changed) {
    changed = 0;
    const TCpu start = CpuNow();
    for (const Sample& sample : samples) {
        std::vector<std::string> lines = gatemoor::SplitLines(sample.bytes);
        if (gatemoor::ProcessIncomingEmail(lines, extensions).changed) ++changed;
    }
    return CpuNow() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string corpus = argc > 2 ? argv[2] : GATEMOOR_BENCH_CORPUS_DIR;
    const std::string only = argc > 3 ? argv[3] : "";

    // The program folder goes below TMPDIR, so that the file system the screening writes
    // its backups and records to can be chosen (a disk, or tmpfs to see the processor
    // time alone).
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary != nullptr && *temporary ? temporary : "/tmp") +
                          "/bench-screening-XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string home = folder.data();
    ::setenv("GATEMOOR_HOME", home.c_str(), 1);
    gatemoor::platform::OverrideProgramFolder(home);
    fs::create_directories(home + "/.settings");
    gatemoor::platform::SetSettingsFolder(home + "/.settings");
    gatemoor::VornThreadModuleStart();

    const std::vector<Sample> samples = LoadCorpus(corpus);
    double megabytes = 0;
    for (const Sample& sample : samples) megabytes += static_cast<double>(sample.bytes.size());
    megabytes /= 1024.0 * 1024.0;
    if (samples.empty()) {
        std::fprintf(stderr, "bench_screening: no messages in %s\n", corpus.c_str());
        return 1;
    }

    gatemoor::TFileExtensionList extensions;
    extensions.LoadDefaults();
    TCpu model{1e300, 0};
    TCpu screening{1e300, 0};
    int changed = 0;
    for (int round = 0; round < rounds; ++round) {
        if (only != "screening" && only != "neither") model = Best(model, ModelPass(samples));
        if (only != "model" && only != "neither")
            screening = Best(screening, ScreeningPass(samples, extensions, changed));
        EmptyFolder(home);
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
    const auto line = [&](const char* name, const TCpu& cpu) {
        const double seconds = cpu.Total();
        std::printf("%-28s %7.3f s (user %.3f, system %.3f)  %8.0f messages/s  %6.1f MB/s\n",
                    name, seconds, cpu.user, cpu.system,
                    static_cast<double>(samples.size()) / seconds, megabytes / seconds);
    };
    std::printf("%zu messages, %.1f MB, best of %d rounds, processor time\n", samples.size(),
                megabytes, rounds);
    line("load, parse, write (model)", model);
    line("screening (defaults)", screening);
    std::printf("screening / model: %.2f in all, %.2f in user time (target at most 3.00); "
                "%d messages changed\n",
                screening.Total() / model.Total(), screening.user / model.user, changed);
    gatemoor::VornThreadModuleEnd();
    std::error_code error;
    fs::remove_all(home, error);
    return 0;
}
