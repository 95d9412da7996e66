// gatemoor-transcript: a developer's viewer for the diagnostic transcript. It registers
// on the window bus as "TTranscriptClient" and prints every reassembled line.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TranscriptAssembler.h"
#include "foundation/Transcript.h"
#include "platform/BusEndpoint.h"

namespace {

void PrintUsage() {
    std::puts(
        "usage: gatemoor-transcript [--count N] [--seconds S]\n"
        "Prints the transcript lines of Gatemoor's processes as they arrive.\n"
        "  --count N    end after N lines\n"
        "  --seconds S  end after S seconds");
}

bool ParsePositive(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end && *end == '\0' && out > 0;
}

}  // namespace

int main(int argc, char** argv) {
    long count = 0;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--count" || arg == "--seconds") && i + 1 < argc) {
            if (!ParsePositive(argv[++i], arg == "--count" ? count : seconds)) {
                std::fprintf(stderr, "gatemoor-transcript: %s needs a positive number\n",
                             arg.c_str());
                return 2;
            }
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        } else {
            std::fprintf(stderr, "gatemoor-transcript: unknown argument %s\n", arg.c_str());
            PrintUsage();
            return 2;
        }
    }

    QCoreApplication app(argc, argv);
    gatemoor::tools::TranscriptAssembler assembler;
    long printed = 0;
    gatemoor::platform::BusEndpoint endpoint(
        gatemoor::transcript_protocol::kViewerClass, "Gatemoor Transcript",
        [&](const gatemoor::platform::BusMessage& message) -> std::int64_t {
            if (auto line = assembler.Feed(message)) {
                std::printf("%s\n", gatemoor::tools::TranscriptAssembler::Format(*line).c_str());
                std::fflush(stdout);
                if (count > 0 && ++printed >= count) QCoreApplication::quit();
            }
            return 0;
        });
    if (!endpoint.IsRegistered()) {
        std::fprintf(stderr, "gatemoor-transcript: cannot register: %s\n",
                     endpoint.ErrorText().c_str());
        return 1;
    }
    std::fprintf(stderr, "gatemoor-transcript: listening as %s\n",
                 endpoint.Window().endpointPath.c_str());
    if (seconds > 0) QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
    return app.exec();
}
