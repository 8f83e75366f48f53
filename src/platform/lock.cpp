// Library-wide recursive lock and process attach/detach. On Windows these are
// a critical section and DllMain; elsewhere a recursive mutex and load/unload
// hooks that run the same steps.
#include "platform/lock.h"

#include "q32vex.h"

#if defined(_WIN32)
#include <windows.h>

namespace q32vex {
namespace {
CRITICAL_SECTION libraryLock;
}
void LockInit() { InitializeCriticalSection(&libraryLock); }
void LockEnter() { EnterCriticalSection(&libraryLock); }
void LockLeave() { LeaveCriticalSection(&libraryLock); }
void LockDestroy() { DeleteCriticalSection(&libraryLock); }
}  // namespace q32vex

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        q32vex::LockInit();
    } else if (reason == DLL_PROCESS_DETACH) {
        AppVexDeallocate();
        q32vex::LockDestroy();
    }
    return TRUE;
}

#else
#include <mutex>

namespace q32vex {
namespace {
// Constructed on first use so that the hooks below and static initialisers
// of other units agree on its lifetime.
std::recursive_mutex& LibraryLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}
}  // namespace
void LockInit() { (void)LibraryLock(); }
void LockEnter() { LibraryLock().lock(); }
void LockLeave() { LibraryLock().unlock(); }
void LockDestroy() {}
}  // namespace q32vex

__attribute__((constructor)) static void q32vexOnLoad() { q32vex::LockInit(); }
__attribute__((destructor)) static void q32vexOnUnload() {
    AppVexDeallocate();
    q32vex::LockDestroy();
}
#endif

extern "C" {
VEXEXPORT void VEXAPI AppVexEnterCriticalSection(void) { q32vex::LockEnter(); }
VEXEXPORT void VEXAPI AppVexLeaveCriticalSection(void) { q32vex::LockLeave(); }
}
