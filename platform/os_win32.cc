// The real Windows services behind the seam.
#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <msiquery.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/bounded_text.h"
#include "platform/code_page_win32.h"
#include "platform/os.h"
#include "platform/system_library_win32.h"

namespace os {
namespace {

HANDLE AsWin(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle FromWin(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE ? kNoHandle
                                                             : reinterpret_cast<Handle>(handle);
}

// The text of a call that fills a buffer of the size it is given or, when
// that is too small, answers the size it needs, terminator included: asked
// again while the text grows in between. In the code page exactly
// (AnsiText); false when the call fails or the text has `limit` characters
// or more.
template <typename Fill>
bool TextOf(Fill fill, std::string* text, DWORD limit = kMaxPath) {
  std::vector<wchar_t> wide(fill(nullptr, 0));
  while (!wide.empty()) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD length = fill(wide.data(), static_cast<DWORD>(wide.size()));
    if (length >= wide.size()) {
      wide.resize(length);
      continue;
    }
    // 0 is an empty text unless the call failed.
    if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return false;
    if (length >= limit) {
      ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    return AnsiText(wide.data(), static_cast<int>(length), text);
  }
  return false;
}

// `path`, in the process's code page, as UTF-16 with its terminator; false
// when it is not valid text of the code page.
bool WidePath(const char* path, std::vector<wchar_t>* wide) {
  int size = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (size == 0) return false;
  wide->resize(static_cast<size_t>(size));
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide->data(), size) != 0;
}

// `path` opened for its attributes only, shared with everyone, so that a
// running program and a file another process has open can be asked too and
// nothing is truncated; a folder opens as well (backup semantics).
// INVALID_HANDLE_VALUE when it cannot be.
HANDLE OpenForAttributes(const char* path) {
  std::vector<wchar_t> wide;
  if (!WidePath(path, &wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Closes a Win32 handle at scope end unless released; keeps the thread's last
// error, so a failure's cause survives the clean-up that follows it.
class ScopedWinHandle {
 public:
  explicit ScopedWinHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedWinHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      DWORD error = ::GetLastError();
      ::CloseHandle(handle_);
      ::SetLastError(error);
    }
  }
  ScopedWinHandle(const ScopedWinHandle&) = delete;
  ScopedWinHandle& operator=(const ScopedWinHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_;
};

// An entry of a system DLL, through the seam so that a test can make the load
// fail. The DLL stays loaded: what the shell starts may still run its code.
template <typename Fn>
Fn SystemEntry(const char* library, const char* name) {
  return reinterpret_cast<Fn>(Current().SystemProcedure(library, name));
}

// msi.dll, loaded on first use from the system directory only: a static import
// would be resolved before the program runs, possibly from its own folder.
class WindowsInstaller {
 public:
  using EnumRelatedProductsFn = UINT(WINAPI*)(LPCSTR, DWORD, DWORD, LPSTR);
  using GetProductInfoFn = UINT(WINAPI*)(LPCSTR, LPCSTR, LPSTR, LPDWORD);

  static WindowsInstaller& Get() {
    static WindowsInstaller instance;
    return instance;
  }
  EnumRelatedProductsFn enum_related_products = nullptr;
  GetProductInfoFn get_product_info = nullptr;
  DWORD load_error = ERROR_SUCCESS;

  // The session calls of a custom action; null each when not there.
  using GetPropertyFn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, LPWSTR, LPDWORD);
  using SetPropertyFn = UINT(WINAPI*)(MSIHANDLE, LPCSTR, LPCSTR);
  using CreateRecordFn = MSIHANDLE(WINAPI*)(UINT);
  using RecordSetStringFn = UINT(WINAPI*)(MSIHANDLE, UINT, LPCSTR);
  using ProcessMessageFn = int(WINAPI*)(MSIHANDLE, INSTALLMESSAGE, MSIHANDLE);
  using CloseHandleFn = UINT(WINAPI*)(MSIHANDLE);
  GetPropertyFn get_property = nullptr;
  SetPropertyFn set_property = nullptr;
  CreateRecordFn create_record = nullptr;
  RecordSetStringFn record_set_string = nullptr;
  ProcessMessageFn process_message = nullptr;
  CloseHandleFn close_handle = nullptr;
  using RecordSetIntegerFn = UINT(WINAPI*)(MSIHANDLE, UINT, int);
  using SetModeFn = UINT(WINAPI*)(MSIHANDLE, MSIRUNMODE, BOOL);
  RecordSetIntegerFn record_set_integer = nullptr;
  SetModeFn set_mode = nullptr;

  bool HasRecords() const {
    return create_record != nullptr && record_set_string != nullptr &&
           record_set_integer != nullptr && process_message != nullptr && close_handle != nullptr;
  }

 private:
  WindowsInstaller() {
    HMODULE msi = SystemLibrary("msi.dll");
    if (msi == nullptr) {
      load_error = ::GetLastError();
      return;
    }
    enum_related_products = ProcOf<EnumRelatedProductsFn>(msi, "MsiEnumRelatedProductsA");
    get_product_info = ProcOf<GetProductInfoFn>(msi, "MsiGetProductInfoA");
    if (enum_related_products == nullptr || get_product_info == nullptr) {
      load_error = ERROR_PROC_NOT_FOUND;
    }
    get_property = ProcOf<GetPropertyFn>(msi, "MsiGetPropertyW");
    set_property = ProcOf<SetPropertyFn>(msi, "MsiSetPropertyA");
    create_record = ProcOf<CreateRecordFn>(msi, "MsiCreateRecord");
    record_set_string = ProcOf<RecordSetStringFn>(msi, "MsiRecordSetStringA");
    process_message = ProcOf<ProcessMessageFn>(msi, "MsiProcessMessage");
    close_handle = ProcOf<CloseHandleFn>(msi, "MsiCloseHandle");
    record_set_integer = ProcOf<RecordSetIntegerFn>(msi, "MsiRecordSetInteger");
    set_mode = ProcOf<SetModeFn>(msi, "MsiSetMode");
  }
};

// advapi32's registry calls, by the 8-bit forms: what they write arrives
// exactly, since every text of the code page has a UTF-16 form.
using CreateKeyFn = LSTATUS(WINAPI*)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                     LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
using SetValueFn = LSTATUS(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
using GetValueFn = LSTATUS(WINAPI*)(HKEY, LPCSTR, LPCSTR, DWORD, LPDWORD, PVOID, LPDWORD);
using CloseKeyFn = LSTATUS(WINAPI*)(HKEY);

// An open registry key, closed at scope end.
class ScopedKey {
 public:
  explicit ScopedKey(CloseKeyFn close_key) : close_key_(close_key) {}
  ~ScopedKey() {
    if (key_ != nullptr) close_key_(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  CloseKeyFn close_key_;
  HKEY key_ = nullptr;
};

// advapi32's security calls.
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using TokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using SidToTextFn = BOOL(WINAPI*)(PSID, LPSTR*);
using TextToSidFn = BOOL(WINAPI*)(LPCSTR, PSID*);
using NamedSecurityInfoFn = DWORD(WINAPI*)(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*,
                                           PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);
using GetAceFn = BOOL(WINAPI*)(PACL, DWORD, LPVOID*);
using LookupAccountSidFn = BOOL(WINAPI*)(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD,
                                         PSID_NAME_USE);

// Memory the system gave with LocalAlloc, freed at scope end.
class LocalMemory {
 public:
  explicit LocalMemory(void* memory) : memory_(memory) {}
  ~LocalMemory() { ::LocalFree(memory_); }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

 private:
  void* memory_;
};

bool SidText(PSID sid, std::string* text) {
  auto to_text = SystemEntry<SidToTextFn>("advapi32.dll", "ConvertSidToStringSidA");
  LPSTR raw = nullptr;
  if (to_text == nullptr || !to_text(sid, &raw)) return false;
  LocalMemory held(raw);
  text->assign(raw);
  return true;
}

// One entry of a DACL. Allowed, denied and their callback forms share one
// layout; a callback deny holds only under its condition, so it counts as
// none. Object entries, which name their account elsewhere, are never on
// files: the rules are then taken as unreadable.
DWORD AccessEntryOf(const ACE_HEADER* header, AccessEntry* entry) {
  entry->inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      entry->kind = AccessEntry::Kind::kAllow;
      break;
    case ACCESS_DENIED_ACE_TYPE:
      entry->kind = AccessEntry::Kind::kDeny;
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      return ERROR_NOT_SUPPORTED;
    default:
      return ERROR_SUCCESS;
  }
  auto* known = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
  entry->mask = known->Mask;
  PSID sid = const_cast<DWORD*>(&known->SidStart);
  return SidText(sid, &entry->sid) ? ERROR_SUCCESS : ::GetLastError();
}

// The path GetFinalPathNameByHandle gives, without its "\\?\" prefix where
// a plain path says the same: \\?\C:\dir as C:\dir, \\?\UNC\srv\share as \\srv\share.
std::string PlainPath(const std::string& path) {
  if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + path.substr(7);
  if (path.compare(0, 4, "\\\\?\\") == 0 && path.size() > 6 && path[5] == ':')
    return path.substr(4);
  return path;
}

// A pipe name no other process can guess: a random part from the system, then
// the process id and a counter. A name taken first by another local process
// would make every check fail. Built in a fixed buffer: no allocation per check.
class PipeName {
 public:
  // False when the system gave no random bytes.
  bool Make() {
    using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static const GenRandomFn gen_random = [] {
      HMODULE advapi32 = SystemLibrary("advapi32.dll");
      return advapi32 != nullptr ? ProcOf<GenRandomFn>(advapi32, "SystemFunction036") : nullptr;
    }();
    static LONG counter = 0;
    unsigned char random[16];
    if (gen_random == nullptr || !gen_random(random, sizeof(random))) return false;
    char hex[2 * sizeof(random) + 1];
    for (size_t i = 0; i < sizeof(random); ++i) {
      hex[2 * i] = "0123456789abcdef"[random[i] >> 4];
      hex[2 * i + 1] = "0123456789abcdef"[random[i] & 0xF];
    }
    hex[sizeof(hex) - 1] = '\0';
    unsigned long process = ::GetCurrentProcessId();
    unsigned long call = static_cast<unsigned long>(::InterlockedIncrement(&counter));
    return text::FormatBounded(text_, sizeof(text_), "\\\\.\\pipe\\vntr_setup_output.%s.%lu.%lu",
                               hex, process, call) == text::kOk;
  }
  const char* c_str() const { return text_; }

 private:
  // Prefix 27, random part 32, two dots and two numbers of at most 10 digits.
  char text_[96];
};

// The pipe buffer: large enough that a busy child seldom blocks on it.
constexpr DWORD kPipeBufferSize = 64 * 1024;

class Win32Os final : public Os {
 public:
  bool HasModuleHandle() override { return ::GetModuleHandleA(nullptr) != nullptr; }

  // The wide call gives no size it needs; no path is longer than kMaxPath.
  bool ModulePath(std::string* path) override {
    std::vector<wchar_t> wide(kMaxPath);
    DWORD length = ::GetModuleFileNameW(nullptr, wide.data(), kMaxPath);
    return length != 0 && length < kMaxPath &&
           AnsiText(wide.data(), static_cast<int>(length), path);
  }

  bool SystemDirectory(std::string* path) override {
    return TextOf([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); },
                  path);
  }

  // By the wide call: the 8-bit one miscounts characters outside ASCII under
  // some code pages and cuts the value.
  bool EnvironmentValue(const char* name, std::string* value) override {
    wchar_t wide_name[256];
    if (::MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 256) == 0) return false;
    auto read = [&](wchar_t* buffer, DWORD size) {
      return ::GetEnvironmentVariableW(wide_name, buffer, size);
    };
    return TextOf(read, value);
  }

  bool HasConsole() override {
    DWORD process = 0;
    return ::GetConsoleProcessList(&process, 1) != 0;
  }

  Handle ShellExecuteProcess(const char* file, const char* parameters, bool no_ui) override {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | (no_ui ? SEE_MASK_FLAG_NO_UI : 0);
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    auto shell_execute =
        SystemEntry<BOOL(WINAPI*)(SHELLEXECUTEINFOA*)>("shell32.dll", "ShellExecuteExA");
    if (shell_execute == nullptr) return kNoHandle;
    shell_execute(&info);
    return FromWin(info.hProcess);
  }

  size_t Utf16Length(const std::string& text) override {
    if (text.empty()) return 0;
    return static_cast<size_t>(
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0));
  }

  int ShowMessageBox(const char* text, const char* caption, uint32_t type) override {
    auto message_box =
        SystemEntry<int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT)>("user32.dll", "MessageBoxA");
    return message_box == nullptr ? 0 : message_box(nullptr, text, caption, type);
  }

  uint32_t WaitForProcess(Handle process, uint32_t timeout_ms) override {
    return ::WaitForSingleObject(AsWin(process), timeout_ms);
  }

  bool ExitCodeOfProcess(Handle process, uint32_t* exit_code) override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(AsWin(process), &code)) return false;
    *exit_code = code;
    return true;
  }

  bool Close(Handle handle) override { return ::CloseHandle(AsWin(handle)) != FALSE; }

  uint32_t LastError() override { return ::GetLastError(); }

  uint64_t TickCount() override { return ::GetTickCount64(); }

  // A named pipe rather than an anonymous one: only it can be read with a
  // time limit (overlapped I/O), which lets the reader watch the child too.
  // Its reads wait on an event of its own: with one event shared by checks
  // on two threads, one's completion woke the other's read, which then
  // looked done with 0 bytes while still pending. One per pipe, not per
  // read: that would cost two more system calls a chunk; nor one per thread:
  // a thread_local one, in the custom action DLL, kept the installer's action
  // thread from ever ending under Wine.
  bool MakePipe(Handle* read_end, Handle* write_end, Handle* read_event) override {
    ScopedWinHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return false;
    PipeName name;
    if (!name.Make()) return false;
    ScopedWinHandle reader(::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        kPipeBufferSize, 0, nullptr));
    if (!reader.valid()) return false;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE writer = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) return false;
    *read_end = FromWin(reader.release());
    *write_end = FromWin(writer);
    *read_event = FromWin(event.release());
    return true;
  }

  bool StartProcess(const char* application, char* command_line, bool console_window, Handle output,
                    Handle* process) override {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    ScopedWinHandle null_input(::CreateFileA("NUL", GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!null_input.valid()) return false;

    // The child inherits the two handles named here and nothing else.
    HANDLE inherited[2] = {null_input.get(), AsWin(output)};
    alignas(16) unsigned char list_storage[256];
    SIZE_T list_size = sizeof(list_storage);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_storage);
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &list_size)) return false;
    bool started = false;
    if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    sizeof(inherited), nullptr, nullptr)) {
      STARTUPINFOEXA startup{};
      startup.StartupInfo.cb = sizeof(startup);
      startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
      startup.StartupInfo.hStdInput = null_input.get();
      startup.StartupInfo.hStdOutput = AsWin(output);
      startup.StartupInfo.hStdError = AsWin(output);
      startup.lpAttributeList = list;
      DWORD flags = EXTENDED_STARTUPINFO_PRESENT | (console_window ? 0 : CREATE_NO_WINDOW);
      PROCESS_INFORMATION info{};
      started = ::CreateProcessA(application, command_line, nullptr, nullptr, TRUE, flags, nullptr,
                                 nullptr, &startup.StartupInfo, &info) != FALSE;
      if (started) {
        ::CloseHandle(info.hThread);
        *process = FromWin(info.hProcess);
      }
    }
    DWORD error = ::GetLastError();
    ::DeleteProcThreadAttributeList(list);
    ::SetLastError(error);
    return started;
  }

  ReadStatus ReadOutput(Handle read_end, Handle read_event, Handle process, char* buffer,
                        uint32_t size, uint32_t timeout_ms, uint32_t* bytes_read) override {
    *bytes_read = 0;
    HANDLE event = AsWin(read_event);
    HANDLE pipe = AsWin(read_end);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;  // ReadFile clears it
    DWORD count = 0;
    if (::ReadFile(pipe, buffer, size, &count, &overlapped)) return Delivered(count, bytes_read);
    DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return Undelivered(error);

    HANDLE waits[2] = {event, AsWin(process)};
    DWORD wait_count = process == kNoHandle ? 1 : 2;
    DWORD waited = ::WaitForMultipleObjects(wait_count, waits, FALSE, timeout_ms);
    DWORD wait_error = ::GetLastError();
    if (waited != WAIT_OBJECT_0) ::CancelIoEx(pipe, &overlapped);
    // The buffer is the caller's: wait until the system is done with it. A
    // read that completed before the cancel still delivers its bytes.
    if (::GetOverlappedResult(pipe, &overlapped, &count, TRUE)) return Delivered(count, bytes_read);
    error = ::GetLastError();
    if (error != ERROR_OPERATION_ABORTED) return Undelivered(error);
    if (waited == WAIT_OBJECT_0 + 1) return ReadStatus::kProcessEnded;
    if (waited == WAIT_TIMEOUT) return ReadStatus::kTimeout;
    ::SetLastError(wait_error);
    return process == kNoHandle ? ReadStatus::kFailed : ReadStatus::kProcessWaitFailed;
  }

  bool TerminateProcess(Handle process, uint32_t exit_code) override {
    return ::TerminateProcess(AsWin(process), exit_code) != FALSE;
  }

  // By the wide call: the 8-bit one refuses a path longer than MAX_PATH
  // (error 206), and a folder named with ".." may be longer than the full
  // path it names. The full path stays within MAX_PATH, as a program is
  // started from no longer one.
  bool FullPathName(const char* path, std::string* full) override {
    std::vector<wchar_t> wide_path;
    if (!WidePath(path, &wide_path)) return false;
    auto make_full = [&](wchar_t* buffer, DWORD size) {
      return ::GetFullPathNameW(wide_path.data(), size, buffer, nullptr);
    };
    return TextOf(make_full, full, MAX_PATH);
  }

  uint32_t EnumRelatedProducts(const char* upgrade_code, uint32_t index,
                               char* product_code) override {
    WindowsInstaller& msi = WindowsInstaller::Get();
    if (msi.enum_related_products == nullptr) return msi.load_error;
    return msi.enum_related_products(upgrade_code, 0, index, product_code);
  }

  uint32_t GetProductInfo(const char* product_code, const char* property, char* value,
                          uint32_t* size) override {
    WindowsInstaller& msi = WindowsInstaller::Get();
    if (msi.get_product_info == nullptr) return msi.load_error;
    DWORD length = *size;
    UINT result = msi.get_product_info(product_code, property, value, &length);
    *size = length;
    return result;
  }

  void* SystemProcedure(const char* library, const char* name) override {
    HMODULE module = SystemLibrary(library);
    return module == nullptr ? nullptr : ProcOf<void*>(module, name);
  }

  uint32_t SessionProperty(uint32_t session, const char* name, std::string* value) override {
    WindowsInstaller& msi = WindowsInstaller::Get();
    value->clear();
    if (msi.get_property == nullptr) return ERROR_PROC_NOT_FOUND;
    // By the wide call: the 8-bit one gives a look-alike for a character
    // the installer's code page lacks ("ő" as "o"), another folder.
    wchar_t wide_name[256];
    if (::MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 256) == 0) return ::GetLastError();
    DWORD size = 256;
    while (true) {
      std::vector<wchar_t> wide(size);
      DWORD length = size;
      UINT result = msi.get_property(session, wide_name, wide.data(), &length);
      if (result == ERROR_MORE_DATA) {
        size = length + 1;  // `length` is now the value's, terminator left out
        continue;
      }
      if (result != ERROR_SUCCESS) return result;
      return AnsiText(wide.data(), static_cast<int>(length), value) ? ERROR_SUCCESS
                                                                    : ::GetLastError();
    }
  }

  uint32_t SetSessionProperty(uint32_t session, const char* name, const char* value) override {
    WindowsInstaller& msi = WindowsInstaller::Get();
    if (msi.set_property == nullptr) return ERROR_PROC_NOT_FOUND;
    return msi.set_property(session, name, value);
  }

  void SessionInfoMessage(uint32_t session, const char* text) override {
    ProcessRecord(session, INSTALLMESSAGE_INFO, text, {});
  }

  int SessionMessage(uint32_t session, uint32_t type,
                     std::initializer_list<RecordField> fields) override {
    return ProcessRecord(session, type, nullptr, fields);
  }

  uint32_t SetSessionMode(uint32_t session, uint32_t mode, bool state) override {
    WindowsInstaller& msi = WindowsInstaller::Get();
    if (msi.set_mode == nullptr) return ERROR_PROC_NOT_FOUND;
    return msi.set_mode(session, static_cast<MSIRUNMODE>(mode), state ? TRUE : FALSE);
  }

  uint16_t AddGlobalAtom(const char* name) override { return ::GlobalAddAtomA(name); }

  uint16_t FindGlobalAtom(const char* name) override { return ::GlobalFindAtomA(name); }

  bool DeleteGlobalAtom(uint16_t atom) override {
    ::SetLastError(ERROR_SUCCESS);
    return ::GlobalDeleteAtom(atom) == 0 && ::GetLastError() == ERROR_SUCCESS;
  }

  UtcTime UtcNow() override {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  }

  uint32_t WriteMachineKey(const char* key, bool volatile_key, const char* name,
                           const char* value) override {
    auto create_key = SystemEntry<CreateKeyFn>("advapi32.dll", "RegCreateKeyExA");
    auto set_value = SystemEntry<SetValueFn>("advapi32.dll", "RegSetValueExA");
    auto close_key = SystemEntry<CloseKeyFn>("advapi32.dll", "RegCloseKey");
    if (create_key == nullptr || set_value == nullptr || close_key == nullptr) {
      return ERROR_PROC_NOT_FOUND;
    }
    ScopedKey created(close_key);
    LSTATUS result =
        create_key(HKEY_LOCAL_MACHINE, key, 0, nullptr,
                   volatile_key ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                   KEY_WOW64_64KEY | KEY_SET_VALUE, nullptr, created.receive(), nullptr);
    if (result != ERROR_SUCCESS || name == nullptr) return result;
    return set_value(created.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(std::strlen(value) + 1));
  }

  bool ProcessAccount(std::string* sid, bool* elevated) override {
    auto open_token = SystemEntry<OpenProcessTokenFn>("advapi32.dll", "OpenProcessToken");
    auto token_information = SystemEntry<TokenInformationFn>("advapi32.dll", "GetTokenInformation");
    if (open_token == nullptr || token_information == nullptr) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    HANDLE raw = nullptr;
    if (!open_token(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    ScopedWinHandle token(raw);
    TOKEN_ELEVATION elevation{};
    union {
      TOKEN_USER user;
      BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } user;
    DWORD size = 0;
    if (!token_information(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) ||
        !token_information(token.get(), TokenUser, &user, sizeof(user), &size)) {
      return false;
    }
    *elevated = elevation.TokenIsElevated != 0;
    return SidText(user.user.User.Sid, sid);
  }

  bool FinalPath(const char* path, std::string* final) override {
    ScopedWinHandle file(OpenForAttributes(path));
    if (!file.valid()) return false;
    auto follow = [&](wchar_t* buffer, DWORD size) {
      return ::GetFinalPathNameByHandleW(file.get(), buffer, size,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    };
    std::string verbatim;
    if (!TextOf(follow, &verbatim)) return false;
    *final = PlainPath(verbatim);
    return true;
  }

  uint32_t ReadAccessRules(const char* path, AccessRules* rules) override {
    *rules = AccessRules{};
    auto security_info = SystemEntry<NamedSecurityInfoFn>("advapi32.dll", "GetNamedSecurityInfoW");
    auto get_ace = SystemEntry<GetAceFn>("advapi32.dll", "GetAce");
    if (security_info == nullptr || get_ace == nullptr) return ERROR_PROC_NOT_FOUND;
    std::vector<wchar_t> wide;
    if (!WidePath(path, &wide)) return ::GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = security_info(wide.data(), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                 nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) return result;
    LocalMemory held(descriptor);
    if (owner == nullptr || !SidText(owner, &rules->owner)) return ERROR_INVALID_SECURITY_DESCR;
    if (dacl == nullptr) {
      rules->entries.push_back({AccessEntry::Kind::kAllow, false, GENERIC_ALL, "S-1-1-0"});
      return ERROR_SUCCESS;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
      void* ace = nullptr;
      if (!get_ace(dacl, index, &ace)) return ::GetLastError();
      AccessEntry entry;
      DWORD read = AccessEntryOf(static_cast<const ACE_HEADER*>(ace), &entry);
      if (read != ERROR_SUCCESS) return read;
      rules->entries.push_back(entry);
    }
    return ERROR_SUCCESS;
  }

  std::string AccountName(const std::string& sid) override {
    auto text_to_sid = SystemEntry<TextToSidFn>("advapi32.dll", "ConvertStringSidToSidA");
    auto lookup = SystemEntry<LookupAccountSidFn>("advapi32.dll", "LookupAccountSidA");
    PSID raw = nullptr;
    if (text_to_sid == nullptr || lookup == nullptr || !text_to_sid(sid.c_str(), &raw)) return sid;
    LocalMemory held(raw);
    char name[256];
    char domain[256];
    DWORD name_size = sizeof(name);
    DWORD domain_size = sizeof(domain);
    SID_NAME_USE use;
    if (!lookup(nullptr, raw, name, &name_size, domain, &domain_size, &use)) return sid;
    return domain[0] == '\0' ? std::string(name) : std::string(domain) + "\\" + name;
  }

  uint32_t MachineValue(const char* key, const char* name, std::string* value) override {
    value->clear();
    auto get_value = SystemEntry<GetValueFn>("advapi32.dll", "RegGetValueA");
    if (get_value == nullptr) return ERROR_PROC_NOT_FOUND;
    char text[256];
    DWORD size = sizeof(text);
    // A 64-bit program's own view is the 64-bit one.
    LSTATUS result = get_value(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text, &size);
    if (result == ERROR_SUCCESS) value->assign(text);
    return result;
  }

  bool FileIdentity(const char* path, FileId* id) override {
    ScopedWinHandle file(OpenForAttributes(path));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) {
      return false;
    }
    *id = {info.dwVolumeSerialNumber,
           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
  }

 private:
  // MsiProcessMessage of a record with `field0` (null: empty) and `fields`
  // after it: the installer's answer, -1 when it could not be sent.
  static int ProcessRecord(uint32_t session, uint32_t type, const char* field0,
                           std::initializer_list<RecordField> fields) {
    WindowsInstaller& msi = WindowsInstaller::Get();
    if (!msi.HasRecords()) return -1;
    MSIHANDLE record = msi.create_record(static_cast<UINT>(fields.size()));
    if (record == 0) return -1;
    bool filled = field0 == nullptr || msi.record_set_string(record, 0, field0) == ERROR_SUCCESS;
    UINT index = 1;
    for (const RecordField& field : fields) {
      UINT set = field.text != nullptr ? msi.record_set_string(record, index, field.text)
                                       : msi.record_set_integer(record, index, field.number);
      filled = filled && set == ERROR_SUCCESS;
      ++index;
    }
    int answer =
        filled ? msi.process_message(session, static_cast<INSTALLMESSAGE>(type), record) : -1;
    msi.close_handle(record);
    return answer;
  }

  static ReadStatus Delivered(DWORD count, uint32_t* bytes_read) {
    // A writer's empty write completes a read with no bytes: not the end.
    *bytes_read = count;
    return ReadStatus::kData;
  }
  static ReadStatus Undelivered(DWORD error) {
    if (error == ERROR_BROKEN_PIPE) return ReadStatus::kEndOfData;
    ::SetLastError(error);
    return ReadStatus::kFailed;
  }
};

}  // namespace

Os& Native() {
  static Win32Os instance;
  return instance;
}

}  // namespace os
