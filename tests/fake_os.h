// Fakes of single Windows services for the unit tests of both builds.
#pragma once

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"

namespace testing_support {

// A Windows Installer that answers from a table of installed products, and an
// environment whose LocalAppData the test sets. Everything else passes on.
class FakeSetupOs : public os::ForwardingOs {
 public:
  struct Product {
    std::string upgrade_code;
    std::string product_code;
    std::string package_code;
  };
  std::vector<Product> installed;
  // Index at which the enumeration fails with `enum_error`; -1: never.
  int enum_fails_at = -1;
  uint32_t enum_error = 1610;  // ERROR_BAD_CONFIGURATION
  bool product_info_fails = false;
  int enum_calls = 0;

  bool local_app_data_set = true;
  std::string local_app_data = "C:\\Users\\u\\AppData\\Local";

  std::string module_path = "C:\\pkg\\setup.exe";
  std::string system_directory = "C:\\windows\\system32";

  uint32_t EnumRelatedProducts(const char* upgrade_code, uint32_t index,
                               char* product_code) override {
    ++enum_calls;
    if (static_cast<int>(index) == enum_fails_at) return enum_error;
    uint32_t seen = 0;
    for (const Product& product : installed) {
      if (product.upgrade_code != upgrade_code) continue;
      if (seen++ == index) {
        std::strcpy(product_code, product.product_code.c_str());
        return os::kErrorSuccess;
      }
    }
    return os::kErrorNoMoreItems;
  }

  uint32_t GetProductInfo(const char* product_code, const char* property, char* value,
                          uint32_t* size) override {
    if (product_info_fails || std::strcmp(property, "PackageCode") != 0) return 1605;
    for (const Product& product : installed) {
      if (product.product_code == product_code && product.package_code.size() < *size) {
        std::strcpy(value, product.package_code.c_str());
        *size = static_cast<uint32_t>(product.package_code.size());
        return os::kErrorSuccess;
      }
    }
    return 1605;  // ERROR_UNKNOWN_PRODUCT
  }

  bool EnvironmentValue(const char* name, std::string* value) override {
    if (std::string(name) != "LocalAppData") return ForwardingOs::EnvironmentValue(name, value);
    if (!local_app_data_set) return false;
    *value = local_app_data;
    return true;
  }

  bool ModulePath(std::string* path) override {
    *path = module_path;
    return !module_path.empty();
  }

  bool SystemDirectory(std::string* path) override {
    *path = system_directory;
    return !system_directory.empty();
  }
};

// An installer session: properties in a table, the info messages it was
// sent in a list, the other messages in another, run modes and global atoms
// in tables of their own. Any other handle is no session. Everything else
// passes on.
class FakeInstallerSession : public os::ForwardingOs {
 public:
  static constexpr uint32_t kHandle = 0x4D5;
  static constexpr uint32_t kErrorInvalidHandle = 6;
  static constexpr uint32_t kErrorFunctionFailed = 1627;
  static constexpr uint16_t kFirstAtom = 0xC000;  // where the system's string atoms begin

  // A message other than an info message: its type and fields, numbers as text.
  struct Message {
    uint32_t type;
    std::vector<std::string> fields;
  };

  std::map<std::string, std::string> properties;
  std::vector<std::string> messages;  // each record's field 0, as sent to any handle
  std::string unreadable;             // reading this property fails
  std::string throwing;               // reading this property throws
  // This property's value holds a character the code page cannot hold: it
  // comes as the table has it, as with stand-ins, and with the error.
  std::string untranslatable;
  std::vector<Message> sent;                       // SessionMessage's, in order
  uint32_t cancel_type = 0;                        // messages of this type answer kIdCancel
  std::map<uint32_t, bool> modes;                  // SetSessionMode's
  std::vector<std::pair<std::string, int>> atoms;  // global atoms and their addings
  std::string current_folder;  // when set, relative paths are made full against it

  uint32_t SessionProperty(uint32_t session, const char* name, std::string* value) override {
    if (session != kHandle) return kErrorInvalidHandle;
    if (throwing == name) throw std::runtime_error("reading " + throwing + " threw");
    if (unreadable == name) return kErrorFunctionFailed;
    auto found = properties.find(name);
    *value = found == properties.end() ? "" : found->second;
    return untranslatable == name ? os::kErrorNoUnicodeTranslation : os::kErrorSuccess;
  }

  uint32_t SetSessionProperty(uint32_t session, const char* name, const char* value) override {
    if (session != kHandle) return kErrorInvalidHandle;
    if (*value == '\0') {
      properties.erase(name);
    } else {
      properties[name] = value;
    }
    return os::kErrorSuccess;
  }

  // Kept whatever the handle, so a message sent to no session shows.
  void SessionInfoMessage(uint32_t, const char* text) override { messages.push_back(text); }

  int SessionMessage(uint32_t session, uint32_t type,
                     std::initializer_list<os::RecordField> fields) override {
    if (session != kHandle) return -1;
    Message message{type, {}};
    for (const os::RecordField& field : fields) {
      message.fields.push_back(field.text != nullptr ? field.text : std::to_string(field.number));
    }
    sent.push_back(message);
    return type == cancel_type ? os::kIdCancel : 0;
  }

  uint32_t SetSessionMode(uint32_t session, uint32_t mode, bool state) override {
    if (session != kHandle) return kErrorInvalidHandle;
    modes[mode] = state;
    return os::kErrorSuccess;
  }

  bool FullPathName(const char* path, std::string* full) override {
    std::filesystem::path given(path);
    if (current_folder.empty() || given.is_absolute() || given.has_root_directory()) {
      return ForwardingOs::FullPathName(path, full);
    }
    *full = (std::filesystem::path(current_folder) / given).make_preferred().string();
    return true;
  }

  // An atom is its name's place in the table, past the system's numbers.
  uint16_t AddGlobalAtom(const char* name) override {
    size_t index = AtomIndex(name);
    if (index == atoms.size()) atoms.push_back({name, 0});
    ++atoms[index].second;
    return static_cast<uint16_t>(kFirstAtom + index);
  }
  uint16_t FindGlobalAtom(const char* name) override {
    size_t index = AtomIndex(name);
    return index < atoms.size() && atoms[index].second > 0
               ? static_cast<uint16_t>(kFirstAtom + index)
               : 0;
  }
  bool DeleteGlobalAtom(uint16_t atom) override {
    size_t index = static_cast<size_t>(atom - kFirstAtom);
    if (atom < kFirstAtom || index >= atoms.size() || atoms[index].second == 0) return false;
    --atoms[index].second;
    return true;
  }

  // How often `name` was added and not yet deleted.
  int AtomCount(const std::string& name) const {
    size_t index = AtomIndex(name);
    return index < atoms.size() ? atoms[index].second : 0;
  }

  // The fields of the messages of `type` sent, in order.
  std::vector<std::vector<std::string>> Sent(uint32_t type) const {
    std::vector<std::vector<std::string>> fields;
    for (const Message& message : sent) {
      if (message.type == type) fields.push_back(message.fields);
    }
    return fields;
  }

  // The place of `name` among the atoms; atoms.size() when it is not there.
  size_t AtomIndex(const std::string& name) const {
    size_t index = 0;
    while (index < atoms.size() && atoms[index].first != name) ++index;
    return index;
  }

  // A property's value, "" when it is not set.
  std::string Property(const std::string& name) const {
    auto found = properties.find(name);
    return found == properties.end() ? "" : found->second;
  }
};

}  // namespace testing_support
