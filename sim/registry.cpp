// The machine's registry. Keys are the paths of Machine::registry ("HKLM\\SOFTWARE\\...",
// "HKDD\\Config Manager\\Enum\\..."); a key also exists when a longer path runs through it, and
// its subkeys are the names one level below it. Names compare without regard to case, as on
// Windows. An open key is a handle value that stands for its full path.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "sim/machine.h"

namespace sim {

namespace {

constexpr DWORD kRegBinary = 3;

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// True when `path` lies below `key`; `rest` gets what follows "key\".
bool Below(const std::string& path, const std::string& key, std::string& rest) {
  if (path.size() <= key.size() + 1 || path[key.size()] != '\\') return false;
  if (strncasecmp(path.data(), key.data(), key.size()) != 0) return false;
  rest = path.substr(key.size() + 1);
  return true;
}

const char* RootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_DYN_DATA) return "HKDD";
  return nullptr;
}

template <typename Map>
auto FindPath(const Map& map, const std::string& path) {
  return std::find_if(map.begin(), map.end(),
                      [&](const auto& kv) { return SameName(kv.first, path); });
}

}  // namespace

bool Machine::RegPathOf(HKEY key, std::string& path) const {
  if (const char* root = RootName(key)) {
    path = root;
    return true;
  }
  auto it = regKeys_.find(reinterpret_cast<uintptr_t>(key));
  if (it == regKeys_.end()) return false;
  path = it->second;
  return true;
}

const RegKeyData* Machine::RegFind(const std::string& path) const {
  auto it = FindPath(registry, path);
  return it == registry.end() ? nullptr : &it->second;
}

bool Machine::RegKeyExists(const std::string& path) const {
  std::string rest;
  for (const auto& kv : registry)
    if (SameName(kv.first, path) || Below(kv.first, path, rest)) return true;
  return false;
}

std::vector<std::string> Machine::RegSubKeys(const std::string& path) const {
  std::vector<std::string> names;
  std::string rest;
  for (const auto& kv : registry) {
    if (!Below(kv.first, path, rest)) continue;
    std::string name = rest.substr(0, rest.find('\\'));
    bool known = std::any_of(names.begin(), names.end(),
                             [&](const std::string& n) { return SameName(n, name); });
    if (!known && !name.empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

LONG Machine::RegOpenKey(HKEY key, LPCSTR subKey, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string path;
  if (!RegPathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (subKey != nullptr && subKey[0] != '\0') path += std::string("\\") + subKey;
  auto fail = FindPath(regOpenFails, path);
  if (fail != regOpenFails.end()) return fail->second;
  if (!RegKeyExists(path)) return ERROR_FILE_NOT_FOUND;
  uintptr_t handle = nextRegKey_++;
  regKeys_[handle] = path;
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LONG Machine::RegSubKeyCount(HKEY key, LPDWORD subKeys) {
  std::string path;
  if (!RegPathOf(key, path)) return ERROR_INVALID_HANDLE;
  auto fail = FindPath(regInfoFails, path);
  if (fail != regInfoFails.end()) return fail->second;
  *subKeys = static_cast<DWORD>(RegSubKeys(path).size());
  return ERROR_SUCCESS;
}

LONG Machine::RegEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLen) {
  std::string path;
  if (!RegPathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (name == nullptr || nameLen == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> names = RegSubKeys(path);
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& n = names[index];
  if (n.size() + 1 > *nameLen) return ERROR_MORE_DATA;
  std::memcpy(name, n.c_str(), n.size() + 1);
  *nameLen = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

LONG Machine::RegQueryValue(HKEY key, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD dataLen) {
  std::string path;
  if (!RegPathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (data != nullptr && dataLen == nullptr) return ERROR_INVALID_PARAMETER;
  const RegKeyData* k = RegFind(path);
  if (k == nullptr) return ERROR_FILE_NOT_FOUND;
  std::string wanted = name != nullptr ? name : "";
  auto v = FindPath(k->values, wanted);
  if (v == k->values.end()) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = kRegBinary;
  DWORD size = static_cast<DWORD>(v->second.size());
  if (dataLen == nullptr) return ERROR_SUCCESS;
  if (data != nullptr && *dataLen < size) {
    *dataLen = size;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && size != 0) std::memcpy(data, v->second.data(), size);
  *dataLen = size;
  return ERROR_SUCCESS;
}

LONG Machine::RegCloseKey(HKEY key) {
  if (RootName(key) != nullptr) return ERROR_SUCCESS;
  return regKeys_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                               : ERROR_INVALID_HANDLE;
}

}  // namespace sim
