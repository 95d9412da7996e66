// Worker threads: a thread base class in the manner of the platform thread class, the
// global thread registry with its stop, wait and kill operations, the ApplicationClosing
// flag and the application idle hook.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "foundation/Time.h"

namespace gatemoor {

// A thread handle as the registry keeps it: a non-zero number that stays readable until
// the thread object is freed. 0 is never a valid handle.
using ThreadHandle = std::uint64_t;
inline constexpr std::uint32_t kStillActive = 259;

enum class ThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// The platform thread: Execute runs on its own thread, created running or suspended.
// The thread exists (id and handle) from construction, but Execute cannot begin before
// the most derived constructor has finished: a thread created running starts in
// AfterConstruction(), which its creator calls right after `new` (NewThread does both).
// Resume() and WaitFor() also complete the construction.
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();  // waits for Execute to return; Free() is the way to end one
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Ends construction: calls OnConstructed and starts a thread created running.
    // Calling it again does nothing.
    void AfterConstruction();
    void Resume();     // starts a thread created suspended; nothing otherwise
    void Terminate();  // asks Execute to stop; Terminated() then answers true
    // Terminate, resume, wait for the end, delete. The way to free any thread object.
    // From the thread itself it only asks for the end and frees the object afterwards;
    // a thread that is freeing itself, or was killed, is left alone.
    static void Free(TThread* thread);
    // The exit code. Throws std::logic_error when called from the thread itself.
    std::uint32_t WaitFor();

    [[nodiscard]] bool Terminated() const { return terminated_.load(); }
    [[nodiscard]] bool Suspended() const { return suspended_.load(); }
    [[nodiscard]] bool Finished() const { return finished_.load(); }
    [[nodiscard]] bool FreeOnTerminate() const { return freeOnTerminate_.load(); }
    void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
    [[nodiscard]] ThreadHandle Handle() const { return handle_; }
    [[nodiscard]] std::uint32_t ThreadId() const { return threadId_.load(); }
    [[nodiscard]] ThreadPriority Priority() const { return priority_.load(); }
    void SetPriority(ThreadPriority priority);
    void SetReturnValue(std::uint32_t value) { returnValue_ = value; }

    // The exception that ended Execute, if one did; read it after the thread finished.
    [[nodiscard]] std::exception_ptr FatalException() const { return fatalException_; }

    // The class name the registry records: the object's own class without namespaces.
    // Derived classes may name themselves.
    [[nodiscard]] virtual std::string ClassName() const;

protected:
    virtual void Execute() = 0;
    // Called once from AfterConstruction, on the creating thread.
    virtual void OnConstructed() {}
    // Called before the object is deleted by Free or by its own thread.
    virtual void BeforeDestruction() {}

private:
    friend struct ThreadInternals;
    struct Control;
    static void ThreadMain(TThread* self, std::shared_ptr<Control> control);
    void Run(const std::shared_ptr<Control>& control);

    std::shared_ptr<Control> control_;
    const bool createdSuspended_;
    std::atomic<bool> constructed_{false};
    std::exception_ptr fatalException_;
    ThreadHandle handle_ = 0;
    std::atomic<std::uint32_t> threadId_{0};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> suspended_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<ThreadPriority> priority_{ThreadPriority::Normal};
    std::atomic<std::uint32_t> returnValue_{0};
};

// Creates a thread object and ends its construction (which starts a thread created
// running). A thread that frees itself on terminate may be gone when this returns.
template <class T, class... Args>
T* NewThread(Args&&... args) {
    T* thread = new T(std::forward<Args>(args)...);
    try {
        thread->AfterConstruction();
    } catch (...) {
        TThread::Free(thread);
        throw;
    }
    return thread;
}

// Exit code of a handle: kStillActive while running; false when the handle is unknown.
[[nodiscard]] bool GetThreadExitCode(ThreadHandle handle, std::uint32_t& exitCode);

class TOnIdleObject;

// A worker thread of the program. It joins the thread registry when its construction
// ends (AfterConstruction), so registry scans never meet a half-built object, and
// leaves it before it is destroyed.
class TVornThread : public TThread {
public:
    explicit TVornThread(bool createSuspended);
    ~TVornThread() override;

    [[nodiscard]] std::uint32_t StartedAtCreation() const { return startedAtCreation_; }
    [[nodiscard]] TDateTime LastAlive() const { return lastAlive_.load(); }
    [[nodiscard]] TOnIdleObject* IdleHook() const { return idleHook_.get(); }

protected:
    void OnConstructed() override;
    void BeforeDestruction() override;

private:
    friend bool CheckTerminated(TVornThread* thread);
    void Unregister();

    std::uint32_t startedAtCreation_ = 0;
    std::unique_ptr<TOnIdleObject> idleHook_;
    std::atomic<TDateTime> lastAlive_{0};
};

struct TThreadRec {
    TVornThread* Thread = nullptr;
    ThreadHandle Handle = 0;
    std::uint32_t ThreadId = 0;
    std::string ClassName;
};

// Class filter of the registry scans: true when a thread is of that class or derives
// from it. An empty filter matches every thread.
using ThreadClassFilter = std::function<bool(const TVornThread&)>;
template <class T>
ThreadClassFilter ThreadsOfClass() {
    return [](const TVornThread& thread) { return dynamic_cast<const T*>(&thread) != nullptr; };
}

// --- process-wide flag ---------------------------------------------------------------
void SetApplicationClosing();  // never cleared
[[nodiscard]] bool ApplicationClosing();

// --- single threads (need no registry) -------------------------------------------------
// LastAlive := now; true once the thread was asked to terminate or the application closes.
bool CheckTerminated(TVornThread* thread);
// True when the thread's handle yields no exit code or one other than kStillActive.
[[nodiscard]] bool IsFinished(const TThread* thread);
[[nodiscard]] bool IsRunning(const TThread* thread);  // not suspended and not finished
void ResumeThread(TThread* thread);
// Not 0 and its exit code can be read.
[[nodiscard]] bool IsThreadHandleValid(ThreadHandle handle);

// --- registry operations (all false, 0 or none after the module has ended) -------------
// Scans walk the registry from its last entry to its first under "ThreadList_CS".
[[nodiscard]] TVornThread* CurrentVornThread();
[[nodiscard]] TVornThread* FindThreadById(std::uint32_t id);
[[nodiscard]] TVornThread* FindThreadByHandle(ThreadHandle handle);
void CollectThreads(const ThreadClassFilter& classFilter, std::vector<TVornThread*>& list);
[[nodiscard]] int CountRunningThreads(const ThreadClassFilter& classFilter);
bool StopThread(TVornThread* thread);
// Stops the matching threads, then counts them every 100 ms until none runs or
// timeoutMs passed; answers the last count.
int WaitForThreads(int timeoutMs, const ThreadClassFilter& classFilter);
// Forced termination. A thread that has not started is ended and freed; one whose
// Execute runs cannot be stopped safely here, so it is abandoned: its handle reports
// exit code 1, it leaves the registry, counts as killed, and its object frees itself
// if Execute ever returns. A thread that already finished is freed and not counted.
bool KillThread(TVornThread* thread);
bool KillThreadById(std::uint32_t id);
int KillThreads(const ThreadClassFilter& classFilter);
bool StopThreadByHandle(ThreadHandle handle, int timeoutMs, bool freeWhenStopped);

// --- idle hook -----------------------------------------------------------------------
class TOnIdleObject {
public:
    // Called with a request code and the entry's data; answers a priority.
    using Callback = std::function<int(int requestCode, void* data)>;
    TOnIdleObject();
    ~TOnIdleObject();
    TOnIdleObject(const TOnIdleObject&) = delete;
    TOnIdleObject& operator=(const TOnIdleObject&) = delete;

    // ownsData: the entry frees data with `freeData` when it goes.
    void Add(Callback callback, void* data, bool ownsData,
             std::function<void(void*)> freeData = {});
    [[nodiscard]] int Poll(int threshold);
    [[nodiscard]] std::size_t Count() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

[[nodiscard]] TOnIdleObject* ApplicationIdleHook();

// Module start and end, in the program's start order and its reverse.
void VornThreadModuleStart();
void VornThreadModuleEnd();

}  // namespace gatemoor
