#include "screening/VornUtilProgress.h"

#include "foundation/VornThread.h"

namespace gatemoor {

bool ReportProgress(std::string_view, long long, long long) {
    try {
        if (TVornThread* worker = CurrentVornThread()) return CheckTerminated(worker);
    } catch (...) {
        // A progress report must never break the work that reports it.
    }
    return false;
}

}  // namespace gatemoor
