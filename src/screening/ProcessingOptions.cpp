#include "screening/ProcessingOptions.h"

#include "foundation/VornCriticalSections.h"

namespace gatemoor {
namespace {

struct GlobalOptions {
    TMutexCriticalSection lock{"ProcessingOptions_CS"};
    TProcessingOptions options;
};

// Created on first use, so it exists before any module start asks for it.
GlobalOptions& Global() {
    static GlobalOptions global;
    return global;
}

}  // namespace

TProcessingOptions CopyProcessingOptions() {
    GlobalOptions& global = Global();
    CriticalSectionGuard guard(global.lock);
    return global.options;
}

void SetProcessingOptions(const TProcessingOptions& options) {
    GlobalOptions& global = Global();
    CriticalSectionGuard guard(global.lock);
    global.options = options;
}

}  // namespace gatemoor
