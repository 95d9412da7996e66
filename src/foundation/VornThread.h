// Worker threads: a thread base class in the manner of the platform thread class, the
// global thread registry with its stop, wait and kill operations, the ApplicationClosing
// flag and the application idle hook.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "foundation/Time.h"

namespace gatemoor {

// A thread handle as the registry keeps it: a non-zero number that stays readable until
// the thread object is freed. 0 is never a valid handle.
using ThreadHandle = std::uint64_t;
inline constexpr std::uint32_t kStillActive = 259;

enum class ThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// The platform thread: Execute runs on its own thread, created running or suspended.
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();  // waits for Execute to return; Free() is the way to end one
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();
    void Terminate();  // asks Execute to stop; Terminated() then answers true
    // Terminate, resume, wait for the end, delete. The way to free any thread object.
    static void Free(TThread* thread);
    std::uint32_t WaitFor();  // the exit code

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

    // The class name the registry records; derived classes may name themselves.
    [[nodiscard]] virtual std::string ClassName() const;

protected:
    virtual void Execute() = 0;

private:
    friend struct ThreadInternals;
    void Run();

    struct Control;
    std::shared_ptr<Control> control_;
    ThreadHandle handle_ = 0;
    std::atomic<std::uint32_t> threadId_{0};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> suspended_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<ThreadPriority> priority_{ThreadPriority::Normal};
    std::atomic<std::uint32_t> returnValue_{0};
};

// Exit code of a handle: kStillActive while running; false when the handle is unknown.
[[nodiscard]] bool GetThreadExitCode(ThreadHandle handle, std::uint32_t& exitCode);

class TOnIdleObject;

class TVornThread : public TThread {
public:
    explicit TVornThread(bool createSuspended);
    ~TVornThread() override;

    [[nodiscard]] std::uint32_t StartedAtCreation() const { return startedAtCreation_; }
    [[nodiscard]] TDateTime LastAlive() const { return lastAlive_.load(); }
    [[nodiscard]] TOnIdleObject* IdleHook() const { return idleHook_.get(); }

private:
    friend bool CheckTerminated(TVornThread* thread);
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

// --- registry operations (all false or 0 after the module has ended) -------------------
bool CheckTerminated(TVornThread* thread);
[[nodiscard]] bool IsFinished(const TThread* thread);
[[nodiscard]] bool IsRunning(const TThread* thread);
void ResumeThread(TThread* thread);
[[nodiscard]] TVornThread* CurrentVornThread();
[[nodiscard]] TVornThread* FindThreadById(std::uint32_t id);
[[nodiscard]] TVornThread* FindThreadByHandle(ThreadHandle handle);
void CollectThreads(const ThreadClassFilter& classFilter, std::vector<TVornThread*>& list);
[[nodiscard]] int CountRunningThreads(const ThreadClassFilter& classFilter);
bool StopThread(TVornThread* thread);
int WaitForThreads(int timeoutMs, const ThreadClassFilter& classFilter);
bool KillThread(TVornThread* thread);
bool KillThreadById(std::uint32_t id);
int KillThreads(const ThreadClassFilter& classFilter);
bool StopThreadByHandle(ThreadHandle handle, int timeoutMs, bool freeWhenStopped);
[[nodiscard]] bool IsThreadHandleValid(ThreadHandle handle);

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
