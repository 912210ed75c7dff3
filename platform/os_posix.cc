// A small POSIX stand-in for the Windows services, so that the logic builds,
// runs and is tested natively. Paths it hands out use backslashes, as the
// logic expects of Windows; paths it is given have them turned back into
// slashes. It knows no installed products: the Windows Installer part answers
// "nothing related is installed", and tests fake other answers through the seam.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/os.h"

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace os {
namespace {

thread_local uint32_t t_last_error = 0;

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorUnknownProduct = 1605;
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorCallNotImplemented = 120;

uint32_t Win32ErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EPIPE:
      return kErrorBrokenPipe;
    default:
      return kErrorGenFailure;
  }
}

// Records `error` as the last error and gives back `result`.
template <typename T>
T Fail(int error, T result) {
  t_last_error = Win32ErrorOf(error);
  return result;
}
bool Fail(int error) { return Fail(error, false); }

std::string WithSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// A user as Wine shows one: a local account whose last part is the uid.
std::string AccountOfUser(uid_t uid) { return "S-1-5-21-0-0-0-" + std::to_string(uid); }

// What others (Everyone) may do with a file or folder of `mode`, in the
// rights of Windows, as Wine reads them from the mode. In a sticky folder
// others may add entries but not delete or rename those of others.
uint32_t OthersRights(mode_t mode) {
  uint32_t rights = 0x00120000;         // READ_CONTROL | SYNCHRONIZE
  if (mode & S_IROTH) rights |= 0x89;   // read data, attributes and extended attributes
  if (mode & S_IXOTH) rights |= 0xA0;   // execute, read attributes
  if (mode & S_IWOTH) rights |= 0x116;  // write and append data, write (extended) attributes
  if ((mode & S_IWOTH) && S_ISDIR(mode) && !(mode & S_ISVTX))
    rights |= 0x10040;  // delete it, delete what it holds
  return rights;
}

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Ends and reaps a child that cannot be watched, so it neither runs on unseen
// nor stays a zombie.
void EndUnwatchedChild(pid_t pid) {
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Reaps the child of `pidfd` once it has ended: at once when it already has,
// otherwise on a detached thread that waits for it and then closes the pidfd.
// The child is never ended for this: a caller that stops watching a child
// (the runner after a failed read) lets it run to its end.
// Returns false when `pidfd` is not a process handle.
bool ReapWhenEnded(int pidfd) {
  siginfo_t info{};
  if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) !=
      0) {
    return false;
  }
  if (info.si_pid != 0) return false;  // reaped now: close the pidfd as any other
  try {
    std::thread([pidfd] {
      siginfo_t ended{};
      while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &ended, WEXITED) !=
                 0 &&
             errno == EINTR) {
      }
      close(pidfd);
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;  // no thread: the child stays a zombie until this program ends
  }
}

// Starts `argv` with the given standard handles (-1: the null device) and
// gives back a pidfd for it.
bool Spawn(const std::vector<std::string>& argv, int output, Handle* process) {
  if (argv.empty()) return Fail(ENOENT);
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  std::string program = WithSlashes(argv[0]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
  }
  // Like a Windows handle list: the child gets its three standard handles only.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = 0;
  int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return Fail(error);
  int pidfd = PidfdOpen(pid);
  if (pidfd < 0) {
    int error = errno;
    EndUnwatchedChild(pid);
    return Fail(error);
  }
  *process = pidfd;
  return true;
}

// Waits until one of `fds` is readable, retrying after signals. Returns the
// poll result: 0 on timeout, -1 on failure.
int PollReadable(pollfd* fds, nfds_t count, uint32_t timeout_ms) {
  int timeout = timeout_ms > 0x7FFFFFFFu ? -1 : static_cast<int>(timeout_ms);
  for (;;) {
    int ready = poll(fds, count, timeout);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

bool Readable(const pollfd& fd) { return (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0; }

class PosixOs final : public Os {
 public:
  bool HasModuleHandle() override { return true; }

  bool ModulePath(std::string* path) override {
    char link[kMaxPath];
    ssize_t length = readlink("/proc/self/exe", link, sizeof(link));
    if (length <= 0) return Fail(errno);
    path->assign(link, static_cast<size_t>(length));
    for (char& c : *path) {
      if (c == '/') c = '\\';
    }
    return true;
  }

  bool SystemDirectory(std::string* path) override {
    *path = "\\usr\\bin";
    return true;
  }

  bool EnvironmentValue(const char* name, std::string* value) override {
    size_t name_length = std::strlen(name);
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (strncasecmp(*entry, name, name_length) == 0 && (*entry)[name_length] == '=') {
        value->assign(*entry + name_length + 1);
        return true;
      }
    }
    t_last_error = 203;  // ERROR_ENVVAR_NOT_FOUND
    return false;
  }

  // The stand-in starts every program alike: there is no console to share.
  bool HasConsole() override { return false; }

  // The stand-in's shell shows no error box, so `no_ui` changes nothing.
  Handle ShellExecuteProcess(const char* file, const char* parameters, bool) override {
    std::string line = std::string("program ") + (parameters ? parameters : "");
    std::vector<std::string> argv = SplitCommandLine(line.c_str());
    argv[0] = file;
    Handle process = kNoHandle;
    return Spawn(argv, -1, &process) ? process : kNoHandle;
  }

  // The stand-in's code page is UTF-8: one unit a character, two beyond the
  // first plane, and one U+FFFD for a byte of no whole character.
  size_t Utf16Length(const std::string& text) override {
    size_t units = 0;
    for (size_t at = 0; at < text.size(); ++units) {
      auto lead = static_cast<unsigned char>(text[at]);
      size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
      bool whole = lead <= 0xF4 && text.size() - at >= length;
      for (size_t i = 1; whole && i < length; ++i) whole = (text[at + i] & 0xC0) == 0x80;
      if (!whole) length = 1;
      if (length == 4) ++units;
      at += length;
    }
    return units;
  }

  int ShowMessageBox(const char* text, const char* caption, uint32_t type) override {
    std::fprintf(stderr, "[%s] (style 0x%x)\n%s\n", caption, static_cast<unsigned>(type), text);
    return 1;  // IDOK
  }

  uint32_t WaitForProcess(Handle process, uint32_t timeout_ms) override {
    pollfd fd{static_cast<int>(process), POLLIN, 0};
    int ready = PollReadable(&fd, 1, timeout_ms);
    if (ready < 0) return Fail(errno, kWaitFailed);
    if (ready == 0) return kWaitTimeout;
    if ((fd.revents & POLLNVAL) != 0) return Fail(EBADF, kWaitFailed);
    return kWaitObject0;
  }

  bool ExitCodeOfProcess(Handle process, uint32_t* exit_code) override {
    siginfo_t info{};
    if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(process), &info,
               WEXITED | WNOHANG | WNOWAIT) != 0) {
      return Fail(errno);
    }
    if (info.si_pid == 0) {
      *exit_code = kStillActive;
    } else if (info.si_code == CLD_EXITED) {
      *exit_code = static_cast<uint32_t>(info.si_status);
    } else {
      *exit_code = 0xC0000000u | static_cast<uint32_t>(info.si_status);  // ended by a signal
    }
    return true;
  }

  bool Close(Handle handle) override {
    int fd = static_cast<int>(handle);
    // A process handle also releases its child, now or once it has ended.
    if (ReapWhenEnded(fd)) return true;
    return close(fd) == 0 || Fail(errno);
  }

  uint32_t LastError() override { return t_last_error; }

  uint64_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  }

  // poll needs no event: every read waits on its own pipe.
  bool MakePipe(Handle* read_end, Handle* write_end, Handle* read_event) override {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return Fail(errno);
    *read_end = fds[0];
    *write_end = fds[1];
    *read_event = kNoHandle;
    return true;
  }

  bool StartProcess(const char* application, char* command_line, bool /*console_window*/,
                    Handle output, Handle* process) override {
    std::vector<std::string> argv = SplitCommandLine(command_line);
    if (application != nullptr && !argv.empty()) argv[0] = application;
    return Spawn(argv, static_cast<int>(output), process);
  }

  ReadStatus ReadOutput(Handle read_end, Handle /*read_event*/, Handle process, char* buffer,
                        uint32_t size, uint32_t timeout_ms, uint32_t* bytes_read) override {
    *bytes_read = 0;
    pollfd fds[2] = {{static_cast<int>(read_end), POLLIN, 0},
                     {static_cast<int>(process), POLLIN, 0}};
    int ready = PollReadable(fds, process == kNoHandle ? 1 : 2, timeout_ms);
    if (ready < 0) return Fail(errno, ReadStatus::kFailed);
    if (ready == 0) return ReadStatus::kTimeout;
    if ((fds[0].revents & POLLNVAL) != 0) return Fail(EBADF, ReadStatus::kFailed);
    if (Readable(fds[0])) {
      ssize_t count;
      do {
        count = read(fds[0].fd, buffer, size);
      } while (count < 0 && errno == EINTR);
      if (count < 0) return Fail(errno, ReadStatus::kFailed);
      if (count == 0) return ReadStatus::kEndOfData;
      *bytes_read = static_cast<uint32_t>(count);
      return ReadStatus::kData;
    }
    if ((fds[1].revents & POLLNVAL) != 0) return Fail(EBADF, ReadStatus::kProcessWaitFailed);
    return ReadStatus::kProcessEnded;
  }

  bool TerminateProcess(Handle process, uint32_t /*exit_code*/) override {
    if (syscall(SYS_pidfd_send_signal, static_cast<int>(process), SIGKILL, nullptr, 0) != 0) {
      return Fail(errno);
    }
    return true;
  }

  bool FullPathName(const char* path, std::string* full) override {
    if (*path == '\0') return Fail(ENOENT);
    *full = path;
    if (path[0] != '/' && path[0] != '\\') {
      char current[kMaxPath];
      if (getcwd(current, sizeof(current)) == nullptr) return Fail(errno);
      *full = std::string(current) + "/" + path;
    }
    return true;
  }

  uint32_t EnumRelatedProducts(const char*, uint32_t, char*) override { return kErrorNoMoreItems; }

  uint32_t GetProductInfo(const char*, const char*, char*, uint32_t*) override {
    return kErrorUnknownProduct;
  }

  // The stand-in's shell and message box need no DLL: there are none to load.
  void* SystemProcedure(const char*, const char*) override {
    t_last_error = kErrorModNotFound;
    return nullptr;
  }

  // No installer runs here: every handle is no session.
  uint32_t SessionProperty(uint32_t, const char*, std::string*) override {
    return kErrorInvalidHandle;
  }
  uint32_t SetSessionProperty(uint32_t, const char*, const char*) override {
    return kErrorInvalidHandle;
  }
  void SessionInfoMessage(uint32_t, const char*) override {}
  int SessionMessage(uint32_t, uint32_t, std::initializer_list<RecordField>) override { return -1; }
  uint32_t SetSessionMode(uint32_t, uint32_t, bool) override { return kErrorInvalidHandle; }

  // No global atoms here: no other process would see them. Tests fake them.
  uint16_t AddGlobalAtom(const char*) override { return Fail(ENOSYS, uint16_t{0}); }
  uint16_t FindGlobalAtom(const char*) override { return Fail(ENOENT, uint16_t{0}); }
  bool DeleteGlobalAtom(uint16_t) override { return Fail(EINVAL); }

  UtcTime UtcNow() override {
    time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    auto field = [](int value) { return static_cast<uint16_t>(value); };
    return {field(utc.tm_year + 1900), field(utc.tm_mon + 1), field(utc.tm_mday),
            field(utc.tm_hour),        field(utc.tm_min),     field(utc.tm_sec)};
  }

  // No registry here: no key is there and none can be made. Tests fake it.
  uint32_t WriteMachineKey(const char*, bool, const char*, const char*) override {
    return kErrorCallNotImplemented;
  }
  uint32_t MachineValue(const char*, const char*, std::string* value) override {
    value->clear();
    return kErrorFileNotFound;
  }

  // Root stands for the elevated administrator.
  bool ProcessAccount(std::string* sid, bool* elevated) override {
    *sid = AccountOfUser(geteuid());
    *elevated = geteuid() == 0;
    return true;
  }
  bool FinalPath(const char* path, std::string* final) override {
    char resolved[PATH_MAX];
    if (realpath(WithSlashes(path).c_str(), resolved) == nullptr) return Fail(errno);
    *final = resolved;
    return true;
  }
  // The owner may do everything, others what the mode allows; the group is
  // not read, as Wine does not read it.
  uint32_t ReadAccessRules(const char* path, AccessRules* rules) override {
    struct stat status;
    if (stat(WithSlashes(path).c_str(), &status) != 0) return Win32ErrorOf(errno);
    rules->owner = AccountOfUser(status.st_uid);
    rules->entries = {{AccessEntry::Kind::kAllow, false, 0x1F01FF, rules->owner},
                      {AccessEntry::Kind::kAllow, false, OthersRights(status.st_mode), "S-1-1-0"}};
    return kErrorSuccess;
  }
  std::string AccountName(const std::string& sid) override {
    return sid == "S-1-1-0" ? "Everyone" : sid;
  }

  bool FileIdentity(const char* path, FileId* id) override {
    struct stat status {};
    if (stat(WithSlashes(path).c_str(), &status) != 0) return Fail(errno);
    *id = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    return true;
  }
};

}  // namespace

Os& Native() {
  static PosixOs instance;
  return instance;
}

// Natively the loader never looks in the current folder: nothing to restrict.
void RestrictDllSearch() {}

}  // namespace os
