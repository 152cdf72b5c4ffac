// The full-window dragging setting and the upgrade manager stand-in: both
// record what the programs ask of them.
#include <cctype>
#include <mutex>

#include "host/platform/platform.h"

namespace nv::platform {

namespace {

struct Records {
  std::mutex mutex;
  std::vector<DragRequest> drag;
  std::vector<UpgradeCall> upgrade;
};
Records& R() {
  static Records r;
  return r;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

int Record(const char* function, std::string_view name, long value) {
  std::lock_guard<std::mutex> g(R().mutex);
  R().upgrade.push_back({function, std::string(name), value});
  return 0;
}

}  // namespace

bool GetDragFullWindows() {
  return false;
}

bool SetDragFullWindows(bool on, bool update_profile, bool broadcast) {
  std::lock_guard<std::mutex> g(R().mutex);
  R().drag.push_back({on, update_profile, broadcast});
  return true;
}

std::vector<DragRequest> DragRequests() {
  std::lock_guard<std::mutex> g(R().mutex);
  return R().drag;
}

void ClearDragRequests() {
  std::lock_guard<std::mutex> g(R().mutex);
  R().drag.clear();
}

int ds_SetOption(std::string_view name, long value) {
  return Record("ds_SetOption", name, value);
}
int ds_AddDriver(std::string_view name) {
  return Record("ds_AddDriver", name, 0);
}
int ds_IgnoreDriver(std::string_view name, long flag) {
  return Record("ds_IgnoreDriver", name, flag);
}

std::vector<UpgradeCall> UpgradeCalls() {
  std::lock_guard<std::mutex> g(R().mutex);
  return R().upgrade;
}

long UpgradeOption(std::string_view name, long def) {
  std::lock_guard<std::mutex> g(R().mutex);
  for (auto it = R().upgrade.rbegin(); it != R().upgrade.rend(); ++it) {
    if (it->function == "ds_SetOption" && SameName(it->name, name)) return it->value;
  }
  return def;
}

void ClearUpgradeCalls() {
  std::lock_guard<std::mutex> g(R().mutex);
  R().upgrade.clear();
}

}  // namespace nv::platform
