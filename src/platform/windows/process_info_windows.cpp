// What the running process can tell about itself, from the Tool Help
// snapshots of the Windows kernel.
#include <windows.h>
// Must follow windows.h.
#include <tlhelp32.h>

#include "platform/process_info.h"

namespace tessaly::platform {

std::vector<ThreadInfo> ListThreads() {
  std::vector<ThreadInfo> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  const DWORD process = GetCurrentProcessId();
  const DWORD current = GetCurrentThreadId();
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    threads.push_back({entry.th32ThreadID, {}, entry.th32ThreadID == current});
  }
  CloseHandle(snapshot);
  return threads;
}

std::vector<ModuleInfo> ListModules() {
  std::vector<ModuleInfo> modules;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snapshot == INVALID_HANDLE_VALUE) return modules;
  MODULEENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
    modules.push_back({reinterpret_cast<std::uintptr_t>(entry.modBaseAddr), entry.szExePath});
  }
  CloseHandle(snapshot);
  return modules;
}

std::string OsDescription() {
  // GetVersionEx reports what the manifest allows; RtlGetVersion the truth.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto get_version = ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "RtlGetVersion")))
                                      : nullptr;
  if (get_version == nullptr || get_version(&info) != 0) return "Windows";
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + " (build " + std::to_string(info.dwBuildNumber) +
         ") x86_64";
}

}  // namespace tessaly::platform
