// The process-wide hook for a stack overflow, which no handler in the program can catch:
// a SIGSEGV handler that runs on an alternate signal stack, recognises a fault at the
// end of the faulting thread's stack, reports "Stack overflow" on the standard error
// stream, and lets the process die with the default action (and its core dump). Any
// other SIGSEGV goes on to the handler that was installed before, or the default action.
#pragma once

namespace gatemoor {

// Installs the hook once per process and prepares the calling thread (the main thread
// at module start). Later calls do nothing.
void InstallStackOverflowHook();

// Gives the calling thread the alternate signal stack that the hook needs once the
// thread's own stack is used up, and notes where that stack lies. A worker thread
// without one still dies of its overflow, only without the report. Calling it again in
// the same thread does nothing.
void PrepareThreadForStackOverflow();

[[nodiscard]] bool StackOverflowHookInstalled();

}  // namespace gatemoor
