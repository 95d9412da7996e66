#include "platform/SystemServices.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <mutex>

namespace gatemoor::platform {
namespace {

std::mutex gHandlersMutex;
std::function<void()> gBeepHandler;
IdleHandler gIdleHandler;
bool gIdleConnected = false;

}  // namespace

std::uint32_t CurrentThreadId() {
    thread_local const std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool IsMainThread() { return CurrentThreadId() == CurrentProcessId(); }

std::uint64_t ThreadCpuTime100ns() {
    timespec ts{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
    return static_cast<std::uint64_t>(ts.tv_sec) * 10'000'000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

int LocalZoneOffsetMinutes(std::time_t at) {
    std::tm local{};
    if (!::localtime_r(&at, &local)) return 0;
    return static_cast<int>(local.tm_gmtoff / 60);
}

int LocalZoneOffsetMinutes() { return LocalZoneOffsetMinutes(std::time(nullptr)); }

void Beep() {
    std::function<void()> handler;
    {
        std::lock_guard lock(gHandlersMutex);
        handler = gBeepHandler;
    }
    if (handler) {
        handler();
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::beep();
    } else {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
}

void SetBeepHandler(std::function<void()> handler) {
    std::lock_guard lock(gHandlersMutex);
    gBeepHandler = std::move(handler);
}

void RequestApplicationQuit() {
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

IdleHandler SetApplicationIdleHandler(IdleHandler handler) {
    std::lock_guard lock(gHandlersMutex);
    IdleHandler previous = std::move(gIdleHandler);
    gIdleHandler = std::move(handler);
    return previous;
}

void ConnectIdleHandlerToEventLoop() {
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return;
    auto* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    std::lock_guard lock(gHandlersMutex);
    if (!dispatcher || gIdleConnected) return;
    gIdleConnected = true;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [] {
        IdleHandler handler;
        {
            std::lock_guard inner(gHandlersMutex);
            handler = gIdleHandler;
        }
        if (handler) handler();
    });
}

void RandomBytes(void* out, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (count > 0) {
        ssize_t got = ::getrandom(bytes, count, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {  // no kernel source: fall back rather than spin
            std::random_device device;
            while (count-- > 0) *bytes++ = static_cast<unsigned char>(device());
            return;
        }
        bytes += got;
        count -= static_cast<std::size_t>(got);
    }
}

}  // namespace gatemoor::platform
