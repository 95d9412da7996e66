#include "foundation/StackOverflowHook.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "foundation/Application.h"

namespace gatemoor {
namespace {

// Room for the handler itself; the platform's own minimum is taken when it is larger.
constexpr std::size_t kAltStackSize = 64 * 1024;
// A fault this close to the interrupted stack pointer, or to the low end of the
// thread's stack, is the stack running out: a large frame may reach this far at once.
constexpr std::uintptr_t kStackReach = 64 * 1024;
constexpr std::size_t kReportSize = 256;

struct StackBounds {
    std::uintptr_t low = 0;  // lowest usable address
    std::uintptr_t guard = 0;
};

// Read inside the signal handler: initial-exec TLS needs no allocation on first access.
[[gnu::tls_model("initial-exec")]] thread_local StackBounds tBounds;

struct sigaction gPrevious {};
std::atomic<bool> gInstalled{false};
std::once_flag gInstallOnce;
// Made at installation, written by the handler without any allocation.
char gReport[kReportSize];
std::size_t gReportLength = 0;

// The thread's own alternate stack, released (after being switched off) when it ends.
class AltStack {
public:
    ~AltStack() {
        if (!base_) return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == usable_) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            ::sigaltstack(&off, nullptr);
        }
        ::munmap(base_, total_);
    }

    void Install() {
        if (base_) return;
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::size_t size = kAltStackSize;
#ifdef _SC_SIGSTKSZ
        if (const long platformSize = ::sysconf(_SC_SIGSTKSZ); platformSize > 0)
            size = std::max(size, static_cast<std::size_t>(platformSize));
#endif
        size = (size + page - 1) / page * page;
        total_ = size + page;  // a guard page below, so the handler cannot overrun silently
        void* memory = ::mmap(nullptr, total_, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED) return;
        ::mprotect(memory, page, PROT_NONE);
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(memory) + page;
        stack.ss_size = size;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(memory, total_);
            return;
        }
        base_ = memory;
        usable_ = stack.ss_sp;
    }

private:
    void* base_ = nullptr;
    void* usable_ = nullptr;
    std::size_t total_ = 0;
};

thread_local AltStack tAltStack;

void RecordStackBounds() {
    pthread_attr_t attributes;
    if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
    void* address = nullptr;
    std::size_t size = 0;
    std::size_t guard = 0;
    if (::pthread_attr_getstack(&attributes, &address, &size) == 0) {
        ::pthread_attr_getguardsize(&attributes, &guard);
        tBounds.low = reinterpret_cast<std::uintptr_t>(address);
        tBounds.guard = guard;
    }
    ::pthread_attr_destroy(&attributes);
}

std::uintptr_t InterruptedStackPointer(const void* context) {
    const auto* machine = &static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(machine->gregs[REG_RSP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(machine->gregs[REG_ESP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(machine->sp);
#else
    (void)machine;
    return 0;
#endif
}

bool Near(std::uintptr_t a, std::uintptr_t b, std::uintptr_t reach) {
    return (a > b ? a - b : b - a) <= reach;
}

bool LooksLikeStackOverflow(const siginfo_t* info, const void* context) {
    if (info->si_code <= 0) return false;  // sent by a process, not a fault
    const auto fault = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const StackBounds bounds = tBounds;
    if (bounds.low != 0 && Near(fault, bounds.low, std::max(kStackReach, bounds.guard)))
        return true;
    const std::uintptr_t stackPointer = context ? InterruptedStackPointer(context) : 0;
    return stackPointer != 0 && Near(fault, stackPointer, kStackReach);
}

// Async-signal-safe: write(2) of a text prepared in advance plus the thread id.
void WriteReport() {
    char line[kReportSize + 24];
    std::memcpy(line, gReport, gReportLength);
    std::size_t length = gReportLength;
    char digits[20];
    int count = 0;
    for (auto id = static_cast<unsigned long>(::syscall(SYS_gettid)); count == 0 || id != 0;
         id /= 10)
        digits[count++] = static_cast<char>('0' + id % 10);
    while (count > 0)
        line[length++] = digits[--count];
    line[length++] = '\n';
    for (std::size_t done = 0; done < length;) {
        const ssize_t put = ::write(STDERR_FILENO, line + done, length - done);
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
    }
}

void DieByDefault(int signal, const siginfo_t* info) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    // A fault recurs by itself once the handler returns; a sent signal must be sent again.
    if (info->si_code <= 0) ::raise(signal);
}

void OnSegmentationFault(int signal, siginfo_t* info, void* context) {
    if (LooksLikeStackOverflow(info, context)) {
        // The orderly shutdown that "Stack overflow" asks for cannot run on a used-up
        // stack; the report is all that can be done safely before the process ends.
        WriteReport();
        DieByDefault(signal, info);
        return;
    }
    if (gPrevious.sa_flags & SA_SIGINFO) {
        if (gPrevious.sa_sigaction) return gPrevious.sa_sigaction(signal, info, context);
    } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        return gPrevious.sa_handler(signal);
    }
    DieByDefault(signal, info);
}

void PrepareReport() {
    std::string text = ApplicationTitle() + ": Stack overflow in thread ";
    gReportLength = std::min(text.size(), kReportSize);
    std::memcpy(gReport, text.data(), gReportLength);
}

}  // namespace

void PrepareThreadForStackOverflow() {
    RecordStackBounds();
    stack_t current{};
    // A thread that has an alternate stack already (a sanitizer's, or ours) keeps it.
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    tAltStack.Install();
}

void InstallStackOverflowHook() {
    std::call_once(gInstallOnce, [] {
        PrepareReport();
        PrepareThreadForStackOverflow();
        struct sigaction action {};
        action.sa_sigaction = OnSegmentationFault;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        if (::sigaction(SIGSEGV, &action, &gPrevious) == 0) gInstalled = true;
    });
}

bool StackOverflowHookInstalled() {
    return gInstalled.load();
}

}  // namespace gatemoor
