// The processing options: one global record, created at start with its defaults and
// guarded by "ProcessingOptions_CS". Readers take a copy rather than hold the lock.
#pragma once

namespace gatemoor {

struct TProcessingOptions {
    // How long a message held in the purgatory waits before it is sent on, in days.
    double PurgatoryHoldDays = 10.0;
};

// A caller-owned copy of the global options, made under their lock.
[[nodiscard]] TProcessingOptions CopyProcessingOptions();

// Replaces the global options under their lock (start-up and tests).
void SetProcessingOptions(const TProcessingOptions& options);

}  // namespace gatemoor
