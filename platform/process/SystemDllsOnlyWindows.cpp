// Every Windows program of the project links this file (CMake's
// quorl_make_windows_program adds it): before main, and before any other
// object's initialization that this file's priority outranks, DLLs that are
// loaded by name (hidapi's hid.dll and cfgmgr32.dll, through LoadLibraryW)
// come from System32 only. The programs run from download folders, where a
// DLL of such a name may lie beside them; Windows' default search would take
// that one first. The DLLs the programs import are Known DLLs, which always
// come from the system.
#include <windows.h>

namespace {

struct SystemDllsOnly {
    SystemDllsOnly() {
        // Present on every Windows 10 and 11 (and Windows 8); it only fails
        // for flags it does not know.
        SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
};

#ifdef _MSC_VER
#pragma init_seg(lib)
const SystemDllsOnly systemDllsOnly;
#else
const SystemDllsOnly systemDllsOnly __attribute__((init_priority(101)));
#endif

}  // namespace
