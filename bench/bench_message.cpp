// What reading and writing whole messages costs, run on demand (bench/README.md):
//
//   bench_message [--corpus DIR] [--passes N]
//       every corpus message, held in memory, loaded into a TEmailMsg, parsed and
//       written back in full (SaveToLines); and, side by side in the same run, GMime 3
//       parsing the same bytes from memory and writing the message to a memory stream.
//       Prints both processor times, MB/s of processor time and the ratio.
//   bench_message --one-pass ours|gmime [--corpus DIR]
//       exactly one pass of one side, for counting instructions with callgrind.
//   bench_message --growth
//       parse and write a message of 1,000 parts and one of 10,000, alternating; prints
//       the ratio of the mean times (linear growth gives 10; target <= 12), GMime's,
//       and the time per part for sizes from 1,000 to 32,000 parts.
//   bench_message --growth-pass N
//       one parse and write of a message of N parts, for counting instructions.
//   bench_message --memory
//       writes a message with one 50 MiB Base64 attachment to a file; a child process
//       reads it, parses it and decodes the attachment to a file; prints the child's
//       peak resident size over the file size (target <= 3).
//
// GMime is linked into this program only, as the yardstick.
#include <gmime/gmime.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "platform/ProgramFolder.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr double kGrowthTarget = 12.0;
constexpr double kMemoryTarget = 3.0;
constexpr std::size_t kAttachmentBytes = 50u << 20;

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A private program folder and temporary folder, removed at the end: messages and
// records that save themselves must not land in the user's folders.
class TPrivateFolders {
public:
    TPrivateFolders() {
        std::string pattern = (fs::temp_directory_path() / "bench-message-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(2);
        }
        path_ = pattern;
        ::setenv("GATEMOOR_HOME", path_.c_str(), 1);
        ::setenv("TMPDIR", path_.c_str(), 1);
        gatemoor::platform::OverrideProgramFolder(path_);
    }
    ~TPrivateFolders() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// --- The two sides ---

struct TCorpus {
    std::vector<std::string> messages;
    std::size_t bytes = 0;
};

TCorpus LoadCorpus(const std::string& folder) {
    TCorpus corpus;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".eml") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        corpus.messages.push_back(ReadWhole(file));
        corpus.bytes += corpus.messages.back().size();
    }
    return corpus;
}

std::unique_ptr<gatemoor::TEmailMsg> NewMessage() {
    auto message = std::make_unique<gatemoor::TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(false);
    return message;
}

// Load from memory, parse, write the full form. Answers the lines written, so that the
// work cannot be optimised away.
[[gnu::noinline]] std::size_t OursPass(const TCorpus& corpus) {
    std::size_t lines = 0;
    for (const std::string& bytes : corpus.messages) {
        auto message = NewMessage();
        std::istringstream stream(bytes);
        (void)message->LoadFromStream(stream);
        (void)message->Parts();
        Lines written;
        (void)message->SaveToLines(written, true);
        lines += written.size();
    }
    return lines;
}

// Parse from memory, write to a memory stream. Answers the bytes written.
// GMime parses one message from memory and writes it to a memory stream; answers the
// bytes written.
std::size_t GmimeParseAndWriteBytes(const std::string& bytes) {
    std::size_t written = 0;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (message != nullptr) {
        GMimeStream* out = g_mime_stream_mem_new();
        const ssize_t n = g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out);
        if (n > 0) written = static_cast<std::size_t>(n);
        g_object_unref(out);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return written;
}

// Parse from memory, write to a memory stream. Answers the bytes written.
[[gnu::noinline]] std::size_t GmimePass(const TCorpus& corpus) {
    std::size_t written = 0;
    for (const std::string& bytes : corpus.messages)
        written += GmimeParseAndWriteBytes(bytes);
    return written;
}

int Compare(const std::string& corpusFolder, int passes) {
    const TCorpus corpus = LoadCorpus(corpusFolder);
    if (corpus.messages.empty()) {
        std::fprintf(stderr, "no .eml files below %s\n", corpusFolder.c_str());
        return 2;
    }
    // One warm-up pass each, so that neither side pays for first touches.
    std::size_t sink = OursPass(corpus) + GmimePass(corpus);
    double ours = 0;
    double gmime = 0;
    for (int pass = 0; pass < passes; ++pass) {
        // Alternating, so that a change of machine load hits both alike.
        double start = CpuSeconds();
        sink += OursPass(corpus);
        ours += CpuSeconds() - start;
        start = CpuSeconds();
        sink += GmimePass(corpus);
        gmime += CpuSeconds() - start;
    }
    const double megabytes = static_cast<double>(corpus.bytes) * passes / 1e6;
    std::printf("corpus: %zu messages, %zu bytes, %d passes\n", corpus.messages.size(),
                corpus.bytes, passes);
    std::printf("ours  (load, parse, SaveToLines full): %8.3f s CPU  %8.2f MB/s\n", ours,
                megabytes / ours);
    std::printf("GMime (parse, write to memory):        %8.3f s CPU  %8.2f MB/s\n", gmime,
                megabytes / gmime);
    std::printf("ratio ours / GMime: %.2f\n", ours / gmime);
    std::fprintf(stderr, "(%zu)\n", sink);
    return 0;
}

int OnePass(const std::string& side, const std::string& corpusFolder) {
    const TCorpus corpus = LoadCorpus(corpusFolder);
    if (side == "ours") {
        std::printf("ours: %zu lines written\n", OursPass(corpus));
    } else if (side == "gmime") {
        std::printf("gmime: %zu bytes written\n", GmimePass(corpus));
    } else {
        std::fprintf(stderr, "--one-pass takes ours or gmime\n");
        return 2;
    }
    return 0;
}

// --- Growth with the number of parts ---

Lines ManyParts(int parts) {
    Lines lines = {"From: bench@example.com", "Subject: many parts", "MIME-Version: 1.0",
                   "Content-Type: multipart/mixed; boundary=\"=_growth\"", "",
                   "This is a multi-part message."};
    for (int i = 0; i < parts; ++i) {
        lines.emplace_back("--=_growth");
        lines.emplace_back("Content-Type: text/plain; charset=us-ascii");
        lines.emplace_back("Content-Transfer-Encoding: 7bit");
        lines.emplace_back();
        lines.push_back("Part " + std::to_string(i) + " of the message, one line of text,");
        lines.emplace_back("and a second line that is a little longer than the first one.");
    }
    lines.emplace_back("--=_growth--");
    return lines;
}

// One parse and full write, in seconds of processor time.
double ParseAndWrite(const Lines& lines) {
    Lines copy = lines;
    const double start = CpuSeconds();
    auto message = NewMessage();
    (void)message->SetRawMail(copy);
    (void)message->Parts();
    Lines written;
    (void)message->SaveToLines(written, true);
    message.reset();
    return CpuSeconds() - start;
}

// The same for GMime, from the message's bytes in memory.
double GmimeParseAndWrite(const std::string& bytes) {
    const double start = CpuSeconds();
    (void)GmimeParseAndWriteBytes(bytes);
    return CpuSeconds() - start;
}

std::string Joined(const Lines& lines) {
    std::string bytes;
    for (const std::string& line : lines)
        bytes.append(line).append("\r\n");
    return bytes;
}

struct TMeanTimes {
    double small = 0;
    double large = 0;
};

// The mean time per message over the same number of parts on both sizes: rounds of
// ten small messages and one large one, alternating, so that a change of machine load
// or of the allocator's state hits both alike. A best-of-N of a 5 ms run on a shared
// machine mostly measures the luckiest moment of the small side.
template <class Message, class Run>
TMeanTimes MeanTimes(const Message& small, const Message& large, Run run) {
    constexpr int kRounds = 20;
    constexpr int kSmallPerRound = 10;
    (void)run(small);
    (void)run(large);
    TMeanTimes total;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kSmallPerRound; ++i)
            total.small += run(small);
        total.large += run(large);
    }
    return {total.small / (kRounds * kSmallPerRound), total.large / kRounds};
}

int Growth() {
    const Lines small = ManyParts(1000);
    const Lines large = ManyParts(10000);
    const TMeanTimes ours = MeanTimes(small, large, ParseAndWrite);
    const double ratio = ours.large / ours.small;
    std::printf("1,000 parts:  %.4f s CPU (mean of 200)\n10,000 parts: %.4f s CPU (mean of 20)\n",
                ours.small, ours.large);

    // GMime on the same messages, for what the machine's caches make of the larger one.
    const TMeanTimes gmime = MeanTimes(Joined(small), Joined(large), GmimeParseAndWrite);
    std::printf("GMime: 1,000 parts %.4f s, 10,000 parts %.4f s, ratio %.2f\n", gmime.small,
                gmime.large, gmime.large / gmime.small);
    std::printf("ratio: %.2f (linear: 10; target <= %.0f: %s)\n", ratio, kGrowthTarget,
                ratio <= kGrowthTarget ? "met" : "MISSED");

    // Time per part over a range of sizes: a step where the working set outgrows a
    // cache, flat where the work is linear.
    std::printf("per part:");
    for (const int parts : {1000, 2000, 4000, 8000, 16000, 32000}) {
        const Lines lines = ManyParts(parts);
        double total = 0;
        const int runs = std::max(2, 40000 / parts);
        for (int i = 0; i < runs; ++i)
            total += ParseAndWrite(lines);
        std::printf(" %d: %.2f us%s", parts, total / runs / parts * 1e6, parts == 32000 ? "\n" : ";");
    }
    return ratio <= kGrowthTarget ? 0 : 1;
}

// One parse and full write of a message of `parts` parts, for counting instructions.
int GrowthPass(int parts) {
    const Lines lines = ManyParts(parts);
    const double seconds = ParseAndWrite(lines);
    std::printf("%d parts: %.4f s CPU\n", parts, seconds);
    return 0;
}

// --- Peak memory of one large attachment ---

void WriteLargeMessage(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "From: bench@example.com\r\nSubject: one large attachment\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"=_large\"\r\n\r\n"
           "--=_large\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
           "The attachment follows.\r\n"
           "--=_large\r\nContent-Type: application/octet-stream; name=\"large.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"large.bin\"\r\n\r\n";
    // Pseudo-random bytes in chunks of 57, the 76-character lines that mailers write.
    constexpr std::size_t kChunk = 57 * 1024;
    std::string chunk(kChunk, '\0');
    unsigned state = 12345;
    for (std::size_t done = 0; done < kAttachmentBytes; done += kChunk) {
        for (char& c : chunk) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 23);
        }
        const std::size_t take = std::min(kChunk, kAttachmentBytes - done);
        for (const std::string& line :
             gatemoor::Base64EncodeLines(std::string_view(chunk).substr(0, take), 76))
            out << line << "\r\n";
    }
    out << "--=_large--\r\n";
}

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// In the child: read, parse, decode the attachment to a file.
int MemoryChild(const std::string& path) {
    const long before = MaxRssKiB();
    std::size_t decoded = 0;
    {
        auto message = NewMessage();
        if (!message->ReadFromFile(path)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        gatemoor::TEmailMsgPartCollection& parts = message->Parts();
        for (int i = 0; i < parts.Count(); ++i) {
            gatemoor::TEmailMsgPart* part = parts.Items(i);
            if (!part->Header()->IsAttachment()) continue;
            const std::string target = path + ".decoded";
            std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary |
                                         std::ios::trunc);
            (void)part->DecodeToStream(out, false);
            decoded += static_cast<std::size_t>(out.tellp());
        }
    }
    std::printf("child: resident before reading %ld KiB, %zu bytes decoded\n", before, decoded);
    return decoded == kAttachmentBytes ? 0 : 3;
}

int Memory(const std::string& folder) {
    const std::string path = folder + "/large.eml";
    WriteLargeMessage(path);
    const auto fileBytes = static_cast<double>(fs::file_size(path));
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        execl("/proc/self/exe", "bench_message", "--memory-child", path.c_str(),
              static_cast<char*>(nullptr));
        std::perror("exec");
        _exit(2);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the measuring process failed (status %d)\n", status);
        return 2;
    }
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    const double ratio = peak / fileBytes;
    std::printf("file: %.1f MiB; peak resident size: %.1f MiB\n", fileBytes / 1048576.0,
                peak / 1048576.0);
    std::printf("peak / file size: %.2f (target <= %.0f: %s)\n", ratio, kMemoryTarget,
                ratio <= kMemoryTarget ? "met" : "MISSED");
    return ratio <= kMemoryTarget ? 0 : 1;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: bench_message [--corpus DIR] [--passes N]\n"
                 "       bench_message --one-pass ours|gmime [--corpus DIR]\n"
                 "       bench_message --growth\n"
                 "       bench_message --growth-pass N\n"
                 "       bench_message --memory\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string corpus = GATEMOOR_BENCH_CORPUS_DIR;
    std::string mode = "compare";
    std::string argument;
    int passes = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--corpus" && hasValue) {
            corpus = argv[++i];
        } else if (arg == "--passes" && hasValue) {
            passes = std::max(1, std::atoi(argv[++i]));
        } else if ((arg == "--one-pass" || arg == "--memory-child" || arg == "--growth-pass") &&
                   hasValue) {
            mode = std::string(arg.substr(2));
            argument = argv[++i];
        } else if (arg == "--growth" || arg == "--memory") {
            mode = std::string(arg.substr(2));
        } else {
            Usage();
            return 2;
        }
    }

    const TPrivateFolders folders;
    if (mode == "memory-child") return MemoryChild(argument);
    if (mode == "growth") {
        g_mime_init();
        const int result = Growth();
        g_mime_shutdown();
        return result;
    }
    if (mode == "growth-pass") return GrowthPass(std::max(1, std::atoi(argument.c_str())));
    if (mode == "memory") return Memory(folders.Path());

    g_mime_init();
    const int result = mode == "one-pass" ? OnePass(argument, corpus) : Compare(corpus, passes);
    g_mime_shutdown();
    return result;
}
