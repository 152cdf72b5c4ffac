// The few operating-system roles the programs need: finding a top-level
// window by its title, the full-window dragging setting, and the stand-in of
// the file-structure upgrade manager that the programs configure at start-up.
//
// Window lookup: X11 EWMH (_NET_CLIENT_LIST on the root window, each client's
// _NET_WM_NAME, else WM_NAME) when a display can be opened; no display means
// no window. Tests install their own answer with SetWindowLookup.
//
// Full-window dragging: Linux desktops have no such switch, so it always
// reads off; requests to change it are recorded in order.
//
// Upgrade manager: the calls are recorded in order with their arguments;
// options keep their last value.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/export.h"

namespace nv::platform {

// --- window lookup
using WindowLookup = std::function<bool(std::string_view title)>;

// True when a top-level window with exactly this title (UTF-8) exists.
NV_API bool FindTopLevelWindow(std::string_view title);
// Replaces the lookup (tests); an empty function restores the X11 one.
NV_API void SetWindowLookup(WindowLookup lookup);
// The X11 lookup on a display (nullptr: $DISPLAY); false without display.
NV_API bool FindX11Window(std::string_view title, const char* display_name = nullptr);

// --- full-window dragging
struct DragRequest {
  bool on = false;
  bool update_profile = false;
  bool broadcast = false;
};
// Always false on Linux.
NV_API bool GetDragFullWindows();
// Records the request; changes nothing. Answers true (accepted).
NV_API bool SetDragFullWindows(bool on, bool update_profile, bool broadcast);
NV_API std::vector<DragRequest> DragRequests();
NV_API void ClearDragRequests();

// --- file-structure upgrade manager stand-in
struct UpgradeCall {
  std::string function;  // "ds_SetOption", "ds_AddDriver", "ds_IgnoreDriver"
  std::string name;
  long value = 0;  // option value or flag; 0 for ds_AddDriver
};
NV_API int ds_SetOption(std::string_view name, long value);
NV_API int ds_AddDriver(std::string_view name);
NV_API int ds_IgnoreDriver(std::string_view name, long flag);
NV_API std::vector<UpgradeCall> UpgradeCalls();
// Last value set for an option (names compare without regard to case).
NV_API long UpgradeOption(std::string_view name, long def);
NV_API void ClearUpgradeCalls();

}  // namespace nv::platform
