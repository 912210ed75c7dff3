#include "firmware/tool_protection.h"

#include <cstdint>
#include <utility>

#include "common/number_text.h"
#include "platform/os.h"

namespace {

constexpr char kEveryone[] = "S-1-1-0";
constexpr char kSystem[] = "S-1-5-18";
constexpr const char* kTrustedAccounts[] = {
    kSystem,
    "S-1-5-32-544",                                                    // Administrators
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};

// Where an object stands, as bits, for the rights that matter there.
enum Place { kToolFile = 1, kToolFolder = 2, kFolderAbove = 4 };
constexpr int kEveryPlace = kToolFile | kToolFolder | kFolderAbove;

const char* PlaceName(Place place) {
  switch (place) {
    case kToolFile:
      return "the tool";
    case kToolFolder:
      return "the tool folder";
    default:
      return "a folder above the tool";
  }
}

// The rights that let another account change what runs, by place. Creating
// entries in a folder above is harmless (C:\ allows it) and not listed.
struct Right {
  uint32_t mask;
  int places;
  const char* words;
};
constexpr Right kDangerousRights[] = {
    {0x2, kToolFile, "write"},
    {0x2, kToolFolder, "add files"},
    {0x4, kToolFile, "append"},
    {0x4, kToolFolder, "add folders"},
    {0x40, kToolFolder | kFolderAbove, "delete what it holds"},
    {0x10000, kToolFile, "delete"},
    {0x10000, kToolFolder | kFolderAbove, "delete or rename it"},
    {0x40000, kEveryPlace, "change access rules"},
    {0x80000, kEveryPlace, "change owner"},
};

// Generic rights as the file rights they stand for.
uint32_t FileRights(uint32_t mask) {
  constexpr struct {
    uint32_t generic;
    uint32_t rights;
  } kGenericRights[] = {{0x80000000u, 0x120089},   // read
                        {0x40000000u, 0x120116},   // write
                        {0x20000000u, 0x1200A0},   // execute
                        {0x10000000u, 0x1F01FF}};  // all
  for (const auto& generic : kGenericRights) {
    if (mask & generic.generic) mask |= generic.rights;
  }
  return mask;
}

// What the entries for `sid` grant on the object, less what is denied to
// every member of it (to `sid` itself or to Everyone), read in order as the
// system reads them: an earlier deny keeps a later allow from granting, an
// earlier allow is not taken back. Entries that only pass rights on grant
// nothing here.
uint32_t GrantedTo(const os::AccessRules& rules, const std::string& sid) {
  uint32_t granted = 0;
  uint32_t denied = 0;
  for (const os::AccessEntry& entry : rules.entries) {
    if (entry.inheritOnly) continue;
    uint32_t mask = FileRights(entry.mask);
    if (entry.kind == os::AccessEntry::Kind::kAllow && entry.sid == sid) granted |= mask & ~denied;
    if (entry.kind == os::AccessEntry::Kind::kDeny &&
        (entry.sid == sid || entry.sid == kEveryone)) {
      denied |= mask & ~granted;
    }
  }
  return granted;
}

std::string RightWords(uint32_t rights, Place place) {
  std::string words;
  for (const Right& right : kDangerousRights) {
    if ((right.places & place) == 0 || (rights & right.mask) == 0) continue;
    if (!words.empty()) words += ", ";
    words += right.words;
  }
  return words;
}

class Judge {
 public:
  explicit Judge(std::string ownAccount) : own_(std::move(ownAccount)) {}

  // Who else can change the object and how ("BUILTIN\Users (add files)"),
  // or empty. An owner can always change the access rules.
  std::string ChangeableBy(const os::AccessRules& rules, Place place) const {
    if (!Trusted(rules.owner)) return os::Current().AccountName(rules.owner) + " (owner)";
    for (const os::AccessEntry& entry : rules.entries) {
      if (entry.kind != os::AccessEntry::Kind::kAllow || entry.inheritOnly || Trusted(entry.sid)) {
        continue;
      }
      std::string words = RightWords(GrantedTo(rules, entry.sid), place);
      if (!words.empty()) return os::Current().AccountName(entry.sid) + " (" + words + ")";
    }
    return "";
  }

 private:
  bool Trusted(const std::string& sid) const {
    if (sid == own_) return true;
    for (const char* trusted : kTrustedAccounts) {
      if (sid == trusted) return true;
    }
    return false;
  }
  std::string own_;
};

// Either separator: the system takes a slash for a backslash.
constexpr char kSeparators[] = "\\/";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// How long the root of `path` is: C:\, \\server\share\ (or \\?\Volume{…}\),
// or the separator of a path rooted without a drive; 0 when it has none.
size_t RootLength(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return 3;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t share = path.find_first_of(kSeparators, 2);
    size_t end = share == std::string::npos ? share : path.find_first_of(kSeparators, share + 1);
    return end == std::string::npos ? 0 : end + 1;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

ToolPathCheck Refused(std::string reason) {
  ToolPathCheck check;
  check.verdict = ToolPathCheck::Verdict::kRefused;
  check.reason = std::move(reason) + "; nothing was run";
  return check;
}

// The tool at `path` (links followed), its folder and every folder above it
// up to the root, judged in turn.
ToolPathCheck JudgePath(const std::string& path, const Judge& judge) {
  size_t root = RootLength(path);
  if (root == 0) return Refused("the tool's path has no root: " + path);
  std::string current = path;
  for (Place place = kToolFile;; place = place == kToolFile ? kToolFolder : kFolderAbove) {
    os::AccessRules rules;
    uint32_t read = os::Current().ReadAccessRules(current.c_str(), &rules);
    if (read != os::kErrorSuccess) {
      return Refused(std::string("the access rules of ") + PlaceName(place) +
                     " cannot be read (error " + NumberText(read) + "): " + current);
    }
    std::string who = judge.ChangeableBy(rules, place);
    if (!who.empty()) {
      return Refused(std::string(PlaceName(place)) + " can be changed by " + who + ": " + current);
    }
    if (current.size() <= root) break;
    size_t slash = current.find_last_of(kSeparators);
    current.resize(slash < root ? root : slash);
  }
  ToolPathCheck check;
  check.runPath = path;
  return check;
}

}  // namespace

ToolPathCheck CheckToolPath(const std::string& toolPath) {
  os::Os& system = os::Current();
  std::string own;
  bool elevated = false;
  // A token that cannot be read may be the system's: the check runs.
  if (!system.ProcessAccount(&own, &elevated)) elevated = true;
  if (!elevated && own != kSystem) {
    ToolPathCheck check;
    check.runPath = toolPath;
    return check;
  }
  std::string final;
  if (!system.FinalPath(toolPath.c_str(), &final)) {
    uint32_t error = system.LastError();
    if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
      ToolPathCheck check;
      check.verdict = ToolPathCheck::Verdict::kMissing;
      return check;
    }
    return Refused("the tool's path cannot be followed (error " + NumberText(error) +
                   "): " + toolPath);
  }
  return JudgePath(final, Judge(own));
}
