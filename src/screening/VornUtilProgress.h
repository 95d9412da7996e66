// The progress hook that long operations call to learn whether their worker must stop.
#pragma once

#include <string_view>

namespace gatemoor {

// On a registered worker thread: notes it alive and answers its termination check
// (true = stop the work). On any other thread: false. Never throws.
bool ReportProgress(std::string_view text = {}, long long position = -1, long long total = -1);

}  // namespace gatemoor
