#include "foundation/VornThread.h"

#include <cxxabi.h>
#include <sys/resource.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "foundation/StackOverflowHook.h"
#include "foundation/VornCriticalSections.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

constexpr std::uint32_t kKilledExitCode = 1;
constexpr int kIdleRequestPriority = 11;
constexpr auto kWaitStep = std::chrono::milliseconds(100);

// --- thread handles ------------------------------------------------------------------

struct HandleRecord {
    std::atomic<std::uint32_t> exitCode{kStillActive};
};

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<ThreadHandle, std::shared_ptr<HandleRecord>> records;
    ThreadHandle next = 0x100;  // handles are never reused within a run
};

// Never destroyed: an abandoned thread may still close its handle while the process
// exits.
HandleTable& Handles() {
    static auto* table = new HandleTable;
    return *table;
}

std::pair<ThreadHandle, std::shared_ptr<HandleRecord>> OpenHandle() {
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    auto record = std::make_shared<HandleRecord>();
    ThreadHandle handle = table.next;
    table.next += 4;
    table.records.emplace(handle, record);
    return {handle, record};
}

void CloseHandle(ThreadHandle handle) {
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    table.records.erase(handle);
}

int NiceValue(ThreadPriority priority) {
    switch (priority) {
        case ThreadPriority::Idle:
            return 19;
        case ThreadPriority::Lowest:
            return 10;
        case ThreadPriority::Lower:
            return 5;
        case ThreadPriority::Normal:
            return 0;
        case ThreadPriority::Higher:
            return -5;
        case ThreadPriority::Highest:
            return -10;
        case ThreadPriority::TimeCritical:
            return -20;
    }
    return 0;
}

std::string WithoutNamespaces(const char* mangled) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    std::size_t cut = name.rfind("::");
    return cut == std::string::npos ? name : name.substr(cut + 2);
}

// --- process-wide state ----------------------------------------------------------------

std::atomic<bool> gApplicationClosing{false};

struct Registry {
    TMutexCriticalSection lock{"ThreadList_CS"};
    std::vector<TThreadRec> list;
};

struct ModuleState {
    std::mutex mutex;
    std::shared_ptr<Registry> registry;
    TOnIdleObject* idleHook = nullptr;
    platform::IdleHandler previousIdleHandler;
};

// Never destroyed, for the same reason as the handle table.
ModuleState& Module() {
    static auto* state = new ModuleState;
    return *state;
}

std::shared_ptr<Registry> CurrentRegistry() {
    ModuleState& module = Module();
    std::lock_guard lock(module.mutex);
    return module.registry;
}

// Leaving the registry must not fail: a stale entry would point at freed memory.
void EnterPatiently(TMutexCriticalSection& lock) {
    for (;;) {
        try {
            lock.Enter();
            return;
        } catch (const ECriticalSectionException&) {
        }
    }
}

bool HandleAlive(ThreadHandle handle) {
    std::uint32_t code = 0;
    return GetThreadExitCode(handle, code);
}

bool HandleStillActive(ThreadHandle handle) {
    std::uint32_t code = 0;
    return GetThreadExitCode(handle, code) && code == kStillActive;
}

bool Matches(const ThreadClassFilter& filter, const TVornThread& thread) {
    return !filter || filter(thread);
}

// Removes every entry whose handle yields no exit code any more.
void DropDeadEntries(Registry& registry) {
    auto& list = registry.list;
    for (std::size_t i = list.size(); i-- > 0;)
        if (!HandleAlive(list[i].Handle)) list.erase(list.begin() + static_cast<long>(i));
}

// Index of the entry of `thread`, searching from the end; -1 when there is none.
long FindEntry(const Registry& registry, const TVornThread* thread) {
    for (std::size_t i = registry.list.size(); i-- > 0;)
        if (registry.list[i].Thread == thread) return static_cast<long>(i);
    return -1;
}

void RemoveEntry(Registry& registry, const TVornThread* thread) {
    long index = FindEntry(registry, thread);
    if (index >= 0) registry.list.erase(registry.list.begin() + index);
}

}  // namespace

// --- TThread -----------------------------------------------------------------------------

struct TThread::Control {
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
    std::thread::id osId;
    std::uint32_t tid = 0;
    bool tidKnown = false;
    bool released = false;      // the thread may leave its start gate
    bool destroying = false;    // the object is being deleted by another thread
    bool decided = false;       // Execute is over and the end has been settled
    bool selfDeleting = false;  // the thread deletes its own object
    bool abandoned = false;     // killed: nobody else may touch the object again
    std::uint32_t exitCode = kStillActive;
    std::shared_ptr<HandleRecord> handle;
};

// What the registry needs beyond the public face of a thread.
struct ThreadInternals {
    enum class Kill { AlreadyOver, Unstarted, Abandoned };

    static Kill ForceTerminate(TThread& thread) {
        auto control = thread.control_;
        std::lock_guard lock(control->mutex);
        if (control->decided) return Kill::AlreadyOver;
        thread.terminated_ = true;
        if (!control->released) return Kill::Unstarted;  // Free ends it cleanly
        control->abandoned = true;
        control->handle->exitCode = kKilledExitCode;
        if (control->thread.joinable()) control->thread.detach();
        return Kill::Abandoned;
    }
};

TThread::TThread(bool createSuspended)
    : control_(std::make_shared<Control>()), createdSuspended_(createSuspended) {
    suspended_ = createSuspended;
    auto [handle, record] = OpenHandle();
    control_->handle = record;
    try {
        control_->thread = std::thread(&TThread::ThreadMain, this, control_);
    } catch (...) {
        CloseHandle(handle);
        throw;
    }
    handle_ = handle;
    std::unique_lock lock(control_->mutex);
    control_->osId = control_->thread.get_id();
    // The id belongs to the thread, so it is known only once the thread runs.
    control_->changed.wait(lock, [&] { return control_->tidKnown; });
    threadId_ = control_->tid;
}

TThread::~TThread() {
    auto control = control_;
    if (std::this_thread::get_id() == control->osId) {
        // Deleted by its own thread after Execute: it cannot wait for itself.
        std::lock_guard lock(control->mutex);
        if (control->thread.joinable()) control->thread.detach();
    } else {
        {
            std::lock_guard lock(control->mutex);
            control->destroying = true;
            terminated_ = true;
            control->released = true;
            control->changed.notify_all();
        }
        if (control->thread.joinable()) control->thread.join();
    }
    CloseHandle(handle_);
}

void TThread::ThreadMain(TThread* self, std::shared_ptr<Control> control) {
    {
        std::unique_lock lock(control->mutex);
        control->tid = platform::CurrentThreadId();
        control->tidKnown = true;
        control->changed.notify_all();
        control->changed.wait(lock, [&] { return control->released; });
        if (control->destroying) {
            // Deleted before it ever started: the derived parts are gone already.
            control->decided = true;
            control->changed.notify_all();
            return;
        }
    }
    self->Run(control);
}

void TThread::Run(const std::shared_ptr<Control>& control) {
    // New threads do not inherit the alternate signal stack the overflow report needs.
    if (StackOverflowHookInstalled()) PrepareThreadForStackOverflow();
    if (!Terminated()) {
        try {
            Execute();
        } catch (...) {
            // An exception may not leave a thread; keep it for whoever looks.
            fatalException_ = std::current_exception();
        }
    }
    bool selfDelete = false;
    {
        std::lock_guard lock(control->mutex);
        finished_ = true;
        control->exitCode = returnValue_;
        selfDelete = (freeOnTerminate_ || control->abandoned) && !control->destroying;
        control->selfDeleting = selfDelete;
        if (!control->abandoned) control->handle->exitCode = control->exitCode;
        control->decided = true;
        control->changed.notify_all();
    }
    if (selfDelete) {
        BeforeDestruction();
        delete this;
    }
}

void TThread::AfterConstruction() {
    if (constructed_.exchange(true)) return;
    OnConstructed();
    if (!createdSuspended_) {
        std::lock_guard lock(control_->mutex);
        control_->released = true;
        control_->changed.notify_all();
    }
}

void TThread::Resume() {
    AfterConstruction();
    if (!suspended_.exchange(false)) return;
    std::lock_guard lock(control_->mutex);
    control_->released = true;
    control_->changed.notify_all();
}

void TThread::Terminate() {
    terminated_ = true;
}

void TThread::Free(TThread* thread) {
    if (!thread) return;
    auto control = thread->control_;
    if (std::this_thread::get_id() == control->osId) {
        thread->freeOnTerminate_ = true;
        thread->Terminate();
        return;
    }
    {
        std::unique_lock lock(control->mutex);
        if (control->abandoned || control->selfDeleting) return;
        // From here on only this call frees the object.
        thread->freeOnTerminate_ = false;
        thread->terminated_ = true;
        thread->suspended_ = false;
        control->released = true;
        control->changed.notify_all();
        control->changed.wait(lock, [&] { return control->decided; });
    }
    thread->BeforeDestruction();
    delete thread;
}

std::uint32_t TThread::WaitFor() {
    auto control = control_;
    if (std::this_thread::get_id() == control->osId)
        throw std::logic_error("A thread cannot wait for itself");
    AfterConstruction();
    std::unique_lock lock(control->mutex);
    if (control->abandoned) return kKilledExitCode;
    control->changed.wait(lock, [&] { return control->decided; });
    return control->exitCode;
}

void TThread::SetPriority(ThreadPriority priority) {
    priority_ = priority;
    std::lock_guard lock(control_->mutex);
    // Only while the thread exists: after its end the kernel may give its id to
    // another thread. Raising the priority needs privileges; it is best effort.
    if (control_->tidKnown && !control_->decided)
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(control_->tid), NiceValue(priority));
}

std::string TThread::ClassName() const {
    return WithoutNamespaces(typeid(*this).name());
}

bool GetThreadExitCode(ThreadHandle handle, std::uint32_t& exitCode) {
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    auto it = table.records.find(handle);
    if (it == table.records.end()) return false;
    exitCode = it->second->exitCode.load();
    return true;
}

// --- TVornThread -------------------------------------------------------------------------

TVornThread::TVornThread(bool createSuspended) : TThread(createSuspended) {
    lastAlive_ = Now();
    if (CurrentRegistry()) {
        startedAtCreation_ = createSuspended ? 0 : 1;
        idleHook_ = std::make_unique<TOnIdleObject>();
    }
}

TVornThread::~TVornThread() {
    idleHook_.reset();
    Unregister();
}

void TVornThread::OnConstructed() {
    auto registry = CurrentRegistry();
    if (!registry) return;
    CriticalSectionGuard guard(registry->lock);
    registry->list.push_back(TThreadRec{this, Handle(), ThreadId(), ClassName()});
}

void TVornThread::BeforeDestruction() {
    Unregister();
}

void TVornThread::Unregister() {
    auto registry = CurrentRegistry();
    if (!registry) return;
    EnterPatiently(registry->lock);
    RemoveEntry(*registry, this);
    registry->lock.Leave();
}

// --- single threads ------------------------------------------------------------------------

void SetApplicationClosing() {
    gApplicationClosing = true;
}

bool ApplicationClosing() {
    return gApplicationClosing.load();
}

bool CheckTerminated(TVornThread* thread) {
    if (!thread) return ApplicationClosing();
    thread->lastAlive_ = Now();
    return thread->Terminated() || ApplicationClosing();
}

bool IsFinished(const TThread* thread) {
    return !thread || !HandleStillActive(thread->Handle());
}

bool IsRunning(const TThread* thread) {
    return thread && !thread->Suspended() && !IsFinished(thread);
}

void ResumeThread(TThread* thread) {
    if (thread) thread->Resume();
}

bool IsThreadHandleValid(ThreadHandle handle) {
    return handle != 0 && HandleAlive(handle);
}

// --- registry ------------------------------------------------------------------------------

TVornThread* CurrentVornThread() {
    auto registry = CurrentRegistry();
    if (!registry) return nullptr;
    CriticalSectionGuard guard(registry->lock);
    const std::uint32_t id = platform::CurrentThreadId();
    for (std::size_t i = registry->list.size(); i-- > 0;) {
        const TThreadRec& rec = registry->list[i];
        // A finished thread's id may already belong to the caller.
        if (rec.ThreadId == id && HandleStillActive(rec.Handle)) return rec.Thread;
    }
    return nullptr;
}

TVornThread* FindThreadById(std::uint32_t id) {
    auto registry = CurrentRegistry();
    if (!registry) return nullptr;
    CriticalSectionGuard guard(registry->lock);
    TVornThread* found = nullptr;
    for (std::size_t i = registry->list.size(); i-- > 0;)
        if (registry->list[i].ThreadId == id) found = registry->list[i].Thread;
    return found;
}

TVornThread* FindThreadByHandle(ThreadHandle handle) {
    auto registry = CurrentRegistry();
    if (!registry) return nullptr;
    CriticalSectionGuard guard(registry->lock);
    DropDeadEntries(*registry);
    TVornThread* found = nullptr;
    for (std::size_t i = registry->list.size(); i-- > 0;)
        if (registry->list[i].Handle == handle) found = registry->list[i].Thread;
    return found;
}

void CollectThreads(const ThreadClassFilter& classFilter, std::vector<TVornThread*>& list) {
    auto registry = CurrentRegistry();
    if (!registry) return;
    CriticalSectionGuard guard(registry->lock);
    DropDeadEntries(*registry);
    for (std::size_t i = registry->list.size(); i-- > 0;) {
        TVornThread* thread = registry->list[i].Thread;
        if (Matches(classFilter, *thread)) list.push_back(thread);
    }
}

int CountRunningThreads(const ThreadClassFilter& classFilter) {
    auto registry = CurrentRegistry();
    if (!registry) return 0;
    CriticalSectionGuard guard(registry->lock);
    DropDeadEntries(*registry);
    int count = 0;
    for (std::size_t i = registry->list.size(); i-- > 0;) {
        const TVornThread& thread = *registry->list[i].Thread;
        if (!classFilter)
            ++count;
        else if (classFilter(thread) && !thread.Suspended() && !IsFinished(&thread))
            ++count;
    }
    return count;
}

bool StopThread(TVornThread* thread) {
    auto registry = CurrentRegistry();
    if (!registry) return false;
    CriticalSectionGuard guard(registry->lock);
    DropDeadEntries(*registry);
    if (!thread || FindEntry(*registry, thread) < 0 || IsFinished(thread)) return false;
    try {
        if (thread->Priority() < ThreadPriority::Normal)
            thread->SetPriority(ThreadPriority::Normal);
        thread->Terminate();
        if (thread->Suspended()) thread->Resume();
        return true;
    } catch (...) {
        RemoveEntry(*registry, thread);
        return false;
    }
}

int WaitForThreads(int timeoutMs, const ThreadClassFilter& classFilter) {
    auto registry = CurrentRegistry();
    if (!registry) return 0;
    // A steady clock: a test clock or a clock change must not stretch the wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        CriticalSectionGuard guard(registry->lock);
        std::vector<TVornThread*> threads;
        CollectThreads(classFilter, threads);
        for (TVornThread* thread : threads)
            StopThread(thread);
    }
    for (;;) {
        int count = CountRunningThreads(classFilter);
        if (count == 0 || std::chrono::steady_clock::now() >= deadline) return count;
        std::this_thread::sleep_for(kWaitStep);
    }
}

bool KillThread(TVornThread* thread) {
    auto registry = CurrentRegistry();
    if (!registry) return false;
    CriticalSectionGuard guard(registry->lock);
    DropDeadEntries(*registry);
    long index = thread ? FindEntry(*registry, thread) : -1;
    if (index < 0) return false;
    bool killed = false;
    auto outcome = ThreadInternals::Kill::AlreadyOver;
    if (IsThreadHandleValid(registry->list[static_cast<std::size_t>(index)].Handle) &&
        !IsFinished(thread)) {
        outcome = ThreadInternals::ForceTerminate(*thread);
        killed = outcome != ThreadInternals::Kill::AlreadyOver;
    }
    if (outcome == ThreadInternals::Kill::Abandoned) {
        // Its Execute may still be running on the object, so it cannot be freed here.
        RemoveEntry(*registry, thread);
        return killed;
    }
    try {
        TThread::Free(thread);  // removes the entry, or leaves a self-freeing thread alone
    } catch (...) {
    }
    RemoveEntry(*registry, thread);
    return killed;
}

bool KillThreadById(std::uint32_t id) {
    auto registry = CurrentRegistry();
    if (!registry) return false;
    CriticalSectionGuard guard(registry->lock);
    TVornThread* thread = FindThreadById(id);
    return thread && KillThread(thread);
}

int KillThreads(const ThreadClassFilter& classFilter) {
    auto registry = CurrentRegistry();
    if (!registry) return 0;
    // Held throughout, so that no collected object is freed (and its address reused)
    // before its turn.
    CriticalSectionGuard guard(registry->lock);
    std::vector<TVornThread*> threads;
    CollectThreads(classFilter, threads);
    int killed = 0;
    for (TVornThread* thread : threads)
        if (KillThread(thread)) ++killed;
    return killed;
}

bool StopThreadByHandle(ThreadHandle handle, int timeoutMs, bool freeWhenStopped) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!HandleAlive(handle)) return true;
    auto registry = CurrentRegistry();
    if (!registry) return false;
    TVornThread* thread = nullptr;
    bool freeOnTerminate = false;
    bool suspended = false;
    bool finished = false;
    {
        CriticalSectionGuard guard(registry->lock);
        thread = FindThreadByHandle(handle);
        if (!thread) return true;
        freeOnTerminate = thread->FreeOnTerminate();
        suspended = thread->Suspended();
        finished = IsFinished(thread);
        if (!thread->Terminated()) thread->Terminate();
    }
    // A thread that frees itself is never touched again: it may be gone any moment.
    if (finished && !freeOnTerminate) {
        try {
            TThread::Free(thread);
        } catch (...) {
        }
    } else if (suspended) {
        thread->Resume();
    }
    bool freed = finished && !freeOnTerminate;
    for (;;) {
        std::uint32_t code = 0;
        if (!GetThreadExitCode(handle, code)) return true;
        if (code != kStillActive && !freeOnTerminate && freeWhenStopped && !freed) {
            freed = true;
            try {
                TThread::Free(thread);
            } catch (...) {
            }
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kWaitStep);
    }
}

// --- idle hook ---------------------------------------------------------------------------

struct TOnIdleObject::Impl {
    struct Entry {
        Callback callback;
        void* data = nullptr;
        bool ownsData = false;
        std::function<void(void*)> freeData;
    };
    TMutexCriticalSection lock{"FOnIdleCriticalSection"};
    std::vector<Entry> entries;
};

TOnIdleObject::TOnIdleObject() : impl_(std::make_unique<Impl>()) {}

TOnIdleObject::~TOnIdleObject() {
    for (auto& entry : impl_->entries)
        if (entry.ownsData && entry.freeData) entry.freeData(entry.data);
}

void TOnIdleObject::Add(Callback callback, void* data, bool ownsData,
                        std::function<void(void*)> freeData) {
    CriticalSectionGuard guard(impl_->lock);
    impl_->entries.push_back(Impl::Entry{std::move(callback), data, ownsData, std::move(freeData)});
}

int TOnIdleObject::Poll(int threshold) {
    CriticalSectionGuard guard(impl_->lock);
    auto& entries = impl_->entries;
    if (entries.empty()) return 0;
    int best = INT_MIN + 1;
    Impl::Entry* chosen = nullptr;
    for (std::size_t i = entries.size(); i-- > 0;) {
        Impl::Entry& entry = entries[i];
        if (!entry.callback) continue;
        int priority = entry.callback(kIdleRequestPriority, entry.data);
        if (priority >= best) {  // walking backwards: the front wins ties
            best = priority;
            chosen = &entry;
        }
    }
    if (chosen && best >= threshold) chosen->callback(threshold, chosen->data);
    return best;
}

std::size_t TOnIdleObject::Count() const {
    CriticalSectionGuard guard(impl_->lock);
    return impl_->entries.size();
}

TOnIdleObject* ApplicationIdleHook() {
    ModuleState& module = Module();
    std::lock_guard lock(module.mutex);
    return module.idleHook;
}

// --- module ------------------------------------------------------------------------------

void VornThreadModuleStart() {
    ModuleState& module = Module();
    {
        std::lock_guard lock(module.mutex);
        if (module.registry) return;
        module.registry = std::make_shared<Registry>();
        module.idleHook = new TOnIdleObject;
    }
    module.previousIdleHandler = platform::SetApplicationIdleHandler([] {
        // Called from the event loop, which must never see an exception.
        try {
            if (TOnIdleObject* hook = ApplicationIdleHook()) (void)hook->Poll(1);
        } catch (...) {
        }
    });
    platform::ConnectIdleHandlerToEventLoop();
}

void VornThreadModuleEnd() {
    ModuleState& module = Module();
    if (!CurrentRegistry()) return;
    WaitForThreads(1000, {});
    KillThreads({});
    TOnIdleObject* idleHook = nullptr;
    {
        std::lock_guard lock(module.mutex);
        module.registry.reset();
        idleHook = module.idleHook;
        module.idleHook = nullptr;
    }
    platform::SetApplicationIdleHandler(std::move(module.previousIdleHandler));
    module.previousIdleHandler = nullptr;
    delete idleHook;
}

}  // namespace gatemoor
