// The one seam between the program's logic and the operating system.
//
// Every service of Windows that the logic uses goes through `os::Current()`.
// Two backends implement it: os_win32.cc (the real calls) and os_posix.cc (a
// small stand-in so the same logic builds and runs natively). Tests replace
// the current backend with a `ForwardingOs` subclass that fakes or fails one
// call and passes the rest through; `ScopedOs` restores the original.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace os {

// A kernel object: a process or one end of a pipe. Owned through UniqueHandle.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// Win32 values the logic reports or compares against, the same on both builds.
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kStillActive = 259;
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
// ERROR_INSTALL_FAILURE: a failed install, as msiexec ends and as a custom
// action fails one; setup.exe gives it when msiexec's outcome is unknown.
inline constexpr uint32_t kErrorInstallFailure = 1603;
inline constexpr uint32_t kMaxPath = 32768;  // longest path the system gives back

// Windows Installer: message types (INSTALLMESSAGE_...), the answer of a
// user who cancels (IDCANCEL) and the run mode of a restart at the end.
inline constexpr uint32_t kMessageInfo = 0x04000000;
inline constexpr uint32_t kMessageActionStart = 0x08000000;
inline constexpr uint32_t kMessageActionData = 0x09000000;
inline constexpr uint32_t kMessageProgress = 0x0A000000;
inline constexpr uint32_t kMessageCommonData = 0x0B000000;
inline constexpr int kIdCancel = 2;
inline constexpr uint32_t kRunModeRebootAtEnd = 6;

// One field of an installer message record: text, or a number.
struct RecordField {
  RecordField(int value) : number(value) {}
  RecordField(const char* value) : text(value) {}
  const char* text = nullptr;  // null: the field is `number`
  int number = 0;
};

// A moment in UTC, as the system's clock gives it.
struct UtcTime {
  uint16_t year = 0;
  uint16_t month = 0;  // 1 for January
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
};

// One entry of a file's or folder's access rules (an ACE of its DACL), as
// the system keeps it.
struct AccessEntry {
  enum class Kind { kAllow, kDeny, kOther };  // kOther grants and denies nothing (an audit entry)
  Kind kind = Kind::kOther;
  bool inheritOnly = false;  // passes rights on to what is created inside, none on the object
  uint32_t mask = 0;         // as stored: generic rights not yet mapped
  std::string sid;           // "S-1-5-32-545"
};

// A file's or folder's owner and access rules, in the order the system reads them.
struct AccessRules {
  std::string owner;
  std::vector<AccessEntry> entries;
};

// Message box styles.
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;

// What one wait for a child's output ended with.
enum class ReadStatus {
  kData,          // a read completed; bytes_read may be 0 after an empty write
  kEndOfData,     // every writer has closed the pipe and it is empty
  kProcessEnded,  // the watched process ended before any byte came
  kTimeout,       // nothing happened within the time given
  // Waiting for the watched process failed and nothing was read; LastError()
  // tells why.
  kProcessWaitFailed,
  kFailed,  // the read or the wait for it failed; LastError() tells why
};

// Which file a path names, whatever the name: the volume and the file's index
// on it (GetFileInformationByHandle; natively st_dev and st_ino).
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& other) const {
    return volume == other.volume && index == other.index;
  }
};

class Os {
 public:
  virtual ~Os() = default;

  // --- The program's own module and environment.
  // Whether the program's own module handle is available.
  virtual bool HasModuleHandle() = 0;
  // Text from the system (these calls, FullPathName and SessionProperty)
  // comes whole, whatever its length, and exactly in the process's code page:
  // false, with ERROR_NO_UNICODE_TRANSLATION, when a character has no exact
  // form there, since a look-alike in a path names another file.
  // The program file's full path.
  virtual bool ModulePath(std::string* path) = 0;
  // The system directory, without a backslash at its end.
  virtual bool SystemDirectory(std::string* path) = 0;
  // An environment variable, its name matched without regard to case. False
  // when it does not exist or cannot be read.
  virtual bool EnvironmentValue(const char* name, std::string* value) = 0;
  // Whether the program is attached to a console, with a window or without
  // one (GetConsoleProcessList): a child started with creation flags 0 then
  // shares it rather than getting a console, and a window, of its own.
  virtual bool HasConsole() = 0;

  // --- Shell and user interface.
  // ShellExecuteExA of `file` with `parameters` and SEE_MASK_NOCLOSEPROCESS,
  // with SEE_MASK_FLAG_NO_UI too when `no_ui` (the shell shows no error box):
  // the started process, or kNoHandle when the shell started none.
  virtual Handle ShellExecuteProcess(const char* file, const char* parameters, bool no_ui) = 0;
  // The UTF-16 code units an 8-bit call such as ShellExecuteExA makes of
  // `text`, which is in the process's code page: what the system counts
  // against the length of a command line.
  virtual size_t Utf16Length(const std::string& text) = 0;
  // MessageBoxA without an owner window; returns the button pressed.
  virtual int ShowMessageBox(const char* text, const char* caption, uint32_t type) = 0;

  // --- Processes and pipes.
  // WaitForSingleObject: kWaitObject0, kWaitTimeout or kWaitFailed.
  virtual uint32_t WaitForProcess(Handle process, uint32_t timeout_ms) = 0;
  // GetExitCodeProcess: kStillActive while the process runs.
  virtual bool ExitCodeOfProcess(Handle process, uint32_t* exit_code) = 0;
  virtual bool Close(Handle handle) = 0;
  // GetLastError of the calling thread.
  virtual uint32_t LastError() = 0;
  // GetTickCount64: milliseconds from an arbitrary start, never going back.
  virtual uint64_t TickCount() = 0;
  // A pipe for a child's output: the read end stays with the caller and is not
  // inheritable; the write end is the only end a child may inherit.
  // `read_event` is what ReadOutput waits on for this pipe, owned by the caller
  // like the ends (kNoHandle where the backend needs none): one per pipe, so
  // that reads on other threads cannot end its reads.
  virtual bool MakePipe(Handle* read_end, Handle* write_end, Handle* read_event) = 0;
  // CreateProcessA of `command_line` (program taken from it when
  // `application` is null), standard input the null device, standard output
  // and standard error `output`, no other handle inherited. With
  // `console_window`, creation flags 0: the child shares this program's
  // console, or gets one of its own with a window when there is none; without
  // it, a console of its own with no window (CREATE_NO_WINDOW).
  // The child's thread handle is closed at once; `process` is its process.
  virtual bool StartProcess(const char* application, char* command_line, bool console_window,
                            Handle output, Handle* process) = 0;
  // Reads at most `size` bytes from `read_end` as soon as any are there,
  // waiting at most `timeout_ms`; `read_event` is the one MakePipe gave with
  // it. When `process` is not kNoHandle the wait also ends when that process
  // ends. Bytes already in the pipe always come before the news of the
  // process's end.
  virtual ReadStatus ReadOutput(Handle read_end, Handle read_event, Handle process, char* buffer,
                                uint32_t size, uint32_t timeout_ms, uint32_t* bytes_read) = 0;
  // TerminateProcess: ends `process` with `exit_code` without waiting for it.
  virtual bool TerminateProcess(Handle process, uint32_t exit_code) = 0;
  // `path` made full against the current folder; false when it cannot be.
  virtual bool FullPathName(const char* path, std::string* full) = 0;

  // --- Windows Installer.
  // MsiEnumRelatedProductsA(upgrade_code, 0, index, product_code): the buffer
  // holds 39 characters and a terminator.
  virtual uint32_t EnumRelatedProducts(const char* upgrade_code, uint32_t index,
                                       char* product_code) = 0;
  // MsiGetProductInfoA(product_code, property, value, size).
  virtual uint32_t GetProductInfo(const char* product_code, const char* property, char* value,
                                  uint32_t* size) = 0;

  // --- System DLLs loaded at run time.
  // The entry `name` of the system's DLL `library`, loaded from the system
  // directory only; null when either is not there.
  virtual void* SystemProcedure(const char* library, const char* name) = 0;

  // --- The installer session a custom action runs in (its MSIHANDLE).
  // MsiGetPropertyW, the whole value whatever its length ("" when not set),
  // in the process's code page without look-alikes (no best fit). Returns
  // kErrorSuccess; kErrorNoUnicodeTranslation when a character has no exact
  // form in the code page, `value` then holding the code page's default
  // character in its place; or the installer's error.
  virtual uint32_t SessionProperty(uint32_t session, const char* name, std::string* value) = 0;
  // MsiSetPropertyA; an empty value removes the property.
  virtual uint32_t SetSessionProperty(uint32_t session, const char* name, const char* value) = 0;
  // MsiProcessMessage(INSTALLMESSAGE_INFO) of a record whose field 0 is
  // `text`: the installer formats it as a template and writes it to its log.
  // Nothing to report back: Wine answers a handle that is no session as if
  // it had taken the message.
  virtual void SessionInfoMessage(uint32_t session, const char* text) = 0;
  // MsiProcessMessage(type) of a record whose fields 1, 2, ... are `fields`
  // and whose field 0 is empty: the installer's answer, kIdCancel when the
  // user asked to stop, -1 when the message could not be sent.
  virtual int SessionMessage(uint32_t session, uint32_t type,
                             std::initializer_list<RecordField> fields) = 0;
  // MsiSetMode; kErrorSuccess or the installer's error. Wine takes it on a
  // handle that is no session too.
  virtual uint32_t SetSessionMode(uint32_t session, uint32_t mode, bool state) = 0;

  // --- Global atoms: names that every process of the desktop sees, kept
  // until deleted as often as they were added.
  // GlobalAddAtomA: the atom, 0 on failure.
  virtual uint16_t AddGlobalAtom(const char* name) = 0;
  // GlobalFindAtomA: the atom, 0 when there is none.
  virtual uint16_t FindGlobalAtom(const char* name) = 0;
  // GlobalDeleteAtom: undoes one adding.
  virtual bool DeleteGlobalAtom(uint16_t atom) = 0;

  // --- The system's clock and registry. Keys are paths under
  // HKEY_LOCAL_MACHINE, in its 64-bit view; values are text (REG_SZ), in the
  // process's code page, written exactly. A value read back that the code
  // page cannot hold would come with look-alikes: the logic reads back ASCII
  // only.
  // GetSystemTime: now.
  virtual UtcTime UtcNow() = 0;
  // RegCreateKeyExA, then RegSetValueExA unless `name` is null: creates
  // `key` and every missing key above it, volatile ones (gone at the
  // system's next start) when `volatile_key` (a key that is there stays as it
  // is), and sets its value `name` to `value`. kErrorSuccess or the system's
  // error.
  virtual uint32_t WriteMachineKey(const char* key, bool volatile_key, const char* name,
                                   const char* value) = 0;
  // RegGetValueA of a value of at most 255 bytes: kErrorSuccess;
  // kErrorFileNotFound when the key or the value is not there; or the
  // system's error (ERROR_MORE_DATA for a longer value).
  virtual uint32_t MachineValue(const char* key, const char* name, std::string* value) = 0;

  // --- Who may change a file. Accounts are SIDs as text ("S-1-5-18").
  // The account of the process's own token and whether that token is
  // elevated or the system's (what a child started by CreateProcess gets,
  // even from a thread that impersonates). False when it cannot be read.
  virtual bool ProcessAccount(std::string* sid, bool* elevated) = 0;
  // The path the system opens for the existing file `path`, links and
  // junctions followed, as a plain path ("C:\..." or "\\server\share\...").
  // False, with LastError(), when it cannot be opened or followed.
  virtual bool FinalPath(const char* path, std::string* final) = 0;
  // The owner and access rules of `path` (GetNamedSecurityInfo): kErrorSuccess
  // or the system's error. No rules at all (a null DACL) come as one entry
  // that allows Everyone everything.
  virtual uint32_t ReadAccessRules(const char* path, AccessRules* rules) = 0;
  // "BUILTIN\Users" for "S-1-5-32-545"; the SID itself when it names no account.
  virtual std::string AccountName(const std::string& sid) = 0;

  // --- Files' identity (setup's debug log must never be the package).
  // The identity of the existing file or folder `path` (relative to the
  // current folder), opened without changing it and shared with everyone.
  // False when it is not there or cannot be opened.
  virtual bool FileIdentity(const char* path, FileId* id) = 0;
};

// The backend in use: the real one of this build unless a test replaced it.
Os& Current();
// The real backend of this build.
Os& Native();

// The first call of a program's entry: DLLs loaded later come from the system
// directory only, never from the program's folder or the current one.
void RestrictDllSearch();

// Makes `replacement` the current backend for this object's lifetime.
class ScopedOs {
 public:
  explicit ScopedOs(Os& replacement);
  ~ScopedOs();
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;

 private:
  Os* previous_;
};

// Passes every call on to the backend that was current when it was made.
// Tests derive from it and override only the calls they fake.
class ForwardingOs : public Os {
 public:
  ForwardingOs() : next_(Current()) {}

  bool HasModuleHandle() override { return next_.HasModuleHandle(); }
  bool ModulePath(std::string* path) override { return next_.ModulePath(path); }
  bool SystemDirectory(std::string* path) override { return next_.SystemDirectory(path); }
  bool EnvironmentValue(const char* name, std::string* value) override {
    return next_.EnvironmentValue(name, value);
  }
  bool HasConsole() override { return next_.HasConsole(); }
  Handle ShellExecuteProcess(const char* file, const char* parameters, bool no_ui) override {
    return next_.ShellExecuteProcess(file, parameters, no_ui);
  }
  size_t Utf16Length(const std::string& text) override { return next_.Utf16Length(text); }
  int ShowMessageBox(const char* text, const char* caption, uint32_t type) override {
    return next_.ShowMessageBox(text, caption, type);
  }
  uint32_t WaitForProcess(Handle process, uint32_t timeout_ms) override {
    return next_.WaitForProcess(process, timeout_ms);
  }
  bool ExitCodeOfProcess(Handle process, uint32_t* exit_code) override {
    return next_.ExitCodeOfProcess(process, exit_code);
  }
  bool Close(Handle handle) override { return next_.Close(handle); }
  uint32_t LastError() override { return next_.LastError(); }
  uint64_t TickCount() override { return next_.TickCount(); }
  bool MakePipe(Handle* read_end, Handle* write_end, Handle* read_event) override {
    return next_.MakePipe(read_end, write_end, read_event);
  }
  bool StartProcess(const char* application, char* command_line, bool console_window, Handle output,
                    Handle* process) override {
    return next_.StartProcess(application, command_line, console_window, output, process);
  }
  ReadStatus ReadOutput(Handle read_end, Handle read_event, Handle process, char* buffer,
                        uint32_t size, uint32_t timeout_ms, uint32_t* bytes_read) override {
    return next_.ReadOutput(read_end, read_event, process, buffer, size, timeout_ms, bytes_read);
  }
  bool TerminateProcess(Handle process, uint32_t exit_code) override {
    return next_.TerminateProcess(process, exit_code);
  }
  bool FullPathName(const char* path, std::string* full) override {
    return next_.FullPathName(path, full);
  }
  uint32_t EnumRelatedProducts(const char* upgrade_code, uint32_t index,
                               char* product_code) override {
    return next_.EnumRelatedProducts(upgrade_code, index, product_code);
  }
  uint32_t GetProductInfo(const char* product_code, const char* property, char* value,
                          uint32_t* size) override {
    return next_.GetProductInfo(product_code, property, value, size);
  }
  void* SystemProcedure(const char* library, const char* name) override {
    return next_.SystemProcedure(library, name);
  }
  uint32_t SessionProperty(uint32_t session, const char* name, std::string* value) override {
    return next_.SessionProperty(session, name, value);
  }
  uint32_t SetSessionProperty(uint32_t session, const char* name, const char* value) override {
    return next_.SetSessionProperty(session, name, value);
  }
  void SessionInfoMessage(uint32_t session, const char* text) override {
    next_.SessionInfoMessage(session, text);
  }
  int SessionMessage(uint32_t session, uint32_t type,
                     std::initializer_list<RecordField> fields) override {
    return next_.SessionMessage(session, type, fields);
  }
  uint32_t SetSessionMode(uint32_t session, uint32_t mode, bool state) override {
    return next_.SetSessionMode(session, mode, state);
  }
  uint16_t AddGlobalAtom(const char* name) override { return next_.AddGlobalAtom(name); }
  uint16_t FindGlobalAtom(const char* name) override { return next_.FindGlobalAtom(name); }
  bool DeleteGlobalAtom(uint16_t atom) override { return next_.DeleteGlobalAtom(atom); }
  UtcTime UtcNow() override { return next_.UtcNow(); }
  uint32_t WriteMachineKey(const char* key, bool volatile_key, const char* name,
                           const char* value) override {
    return next_.WriteMachineKey(key, volatile_key, name, value);
  }
  uint32_t MachineValue(const char* key, const char* name, std::string* value) override {
    return next_.MachineValue(key, name, value);
  }
  bool ProcessAccount(std::string* sid, bool* elevated) override {
    return next_.ProcessAccount(sid, elevated);
  }
  bool FinalPath(const char* path, std::string* final) override {
    return next_.FinalPath(path, final);
  }
  uint32_t ReadAccessRules(const char* path, AccessRules* rules) override {
    return next_.ReadAccessRules(path, rules);
  }
  std::string AccountName(const std::string& sid) override { return next_.AccountName(sid); }

  // --- Files' identity.
  bool FileIdentity(const char* path, FileId* id) override { return next_.FileIdentity(path, id); }

 private:
  Os& next_;
};

// Owns one handle and closes it exactly once, through the backend that was
// current when the handle came: a handle a test's fake made never reaches the
// real CloseHandle, even when it outlives the test's ScopedOs.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle), backend_(&Current()) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(other.release()), backend_(other.backend_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      backend_ = other.backend_;
      handle_ = other.release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != kNoHandle; }
  // For out parameters: closes what is held and hands out the slot.
  Handle* receive() {
    reset();
    backend_ = &Current();
    return &handle_;
  }
  Handle release() {
    Handle handle = handle_;
    handle_ = kNoHandle;
    return handle;
  }
  void reset() {
    if (valid()) backend_->Close(release());
  }

 private:
  Handle handle_ = kNoHandle;
  Os* backend_ = nullptr;
};

}  // namespace os
