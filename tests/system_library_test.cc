// Loading the system's DLLs at run time (Windows build only): shell32 and
// user32 failing to load count as the call failing, and a Windows without
// the search flags still restricts the search and finds the system's DLLs.
#include "platform/system_library_win32.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"

namespace {

// A system where no DLL loads; records what was asked for.
class NoSystemDllsOs : public os::ForwardingOs {
 public:
  std::vector<std::pair<std::string, std::string>> asked;
  void* SystemProcedure(const char* library, const char* name) override {
    asked.emplace_back(library, name);
    return nullptr;
  }
};

TEST(SystemLibraryTest, CallsFailWhenTheirDllDoesNotLoad) {
  struct Case {
    const char* name;
    int (*call)();
    int failed;
    std::pair<std::string, std::string> entry;
  };
  // clang-format off
  const Case cases[] = {
      {"shell", [] {
         return static_cast<int>(
             os::Current().ShellExecuteProcess("C:\\no\\such\\program.exe", "", true) == os::kNoHandle);
       },
       1, {"shell32.dll", "ShellExecuteExA"}},
      {"message box", [] { return os::Current().ShowMessageBox("text", "caption", 0); }, 0,
       {"user32.dll", "MessageBoxA"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    NoSystemDllsOs fake;
    os::ScopedOs scoped(fake);
    EXPECT_EQ(c.call(), c.failed) << c.name;
    ASSERT_EQ(fake.asked.size(), 1u) << c.name;
    EXPECT_EQ(fake.asked[0], c.entry) << c.name;
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The file `module` was loaded from, lower case; empty for no module.
std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = {};
  DWORD length = module == nullptr ? 0 : GetModuleFileNameA(module, path, MAX_PATH);
  return Lower(std::string(path, length));
}

std::string InSystemDirectory(const char* name) {
  char directory[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return Lower(std::string(directory, length) + "\\" + name);
}

TEST(SystemLibraryTest, LoadsFromTheSystemDirectoryWithOrWithoutTheSearchFlags) {
  for (auto load : {os::SystemLibrary, os::SystemLibraryByPath}) {
    EXPECT_EQ(ModulePath(load("shell32.dll")), InSystemDirectory("shell32.dll"));
    EXPECT_EQ(load("no_such_library.dll"), nullptr);
  }
  // A name that cannot fit beside the system directory loads nothing.
  EXPECT_EQ(os::SystemLibraryByPath(std::string(MAX_PATH, 'a').c_str()), nullptr);
}

DWORD g_default_directories = 0;
BOOL WINAPI RecordDefaultDirectories(DWORD flags) {
  g_default_directories = flags;
  return TRUE;
}

TEST(SystemLibraryTest, RestrictsTheSearchWithOrWithoutSetDefaultDllDirectories) {
  char directory[MAX_PATH];
  ASSERT_TRUE(SetDllDirectoryA("C:\\windows"));
  EXPECT_TRUE(os::RestrictDllSearchWith(&RecordDefaultDirectories));
  EXPECT_EQ(g_default_directories, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_EQ(GetDllDirectoryA(MAX_PATH, directory), 10u) << "left alone when the function is there";
  // Without the function (a Windows 7 without its update): the current
  // folder leaves the search, the directory set above with it.
  EXPECT_TRUE(os::RestrictDllSearchWith(nullptr));
  EXPECT_EQ(GetDllDirectoryA(MAX_PATH, directory), 0u);
  SetDllDirectoryA(nullptr);
}

}  // namespace
