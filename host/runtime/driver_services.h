// Runtime services the drivers call beyond the file verbs: the logout
// (transaction) membership of files, the window-message and event hook that
// drives deferred builds, and the remote-file service that a file can be
// bound to.
//
// Thread-safety: the logout table and the hook are process-wide and guarded;
// the remote-file stand-in is guarded too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/runtime/driver_interface.h"
#include "host/runtime/export.h"

namespace nv {

// --- Logout membership (property 29441). Files join the logout of the
// process; a driver journals the files that are members while a transaction
// runs. The numbers answered are the runtime's logout numbers (1 for the one
// logout of a process), 0 when the file takes no part.
NV_API int AddLogoutFile(FileDescriptor* fd);     // answers the logout number
NV_API int DeleteLogoutFile(FileDescriptor* fd);  // answers 0
NV_API int LogoutNumberOf(const FileDescriptor* fd);

// --- Window messages and events. A driver posts message 0x2420 to the
// program's active window to ask for a deferred build, and raises events
// 5697 (progress) and 5698 (completion). The program installs the handlers;
// without them a posted message is dropped and every event answers 0.
inline constexpr uint32_t kMsgDeferredBuild = 0x2420;
inline constexpr int32_t kEventBuildProgress = 5697;
inline constexpr int32_t kEventBuildDone = 5698;
using MessageHandler = std::function<void(uint32_t message, intptr_t wparam, intptr_t lparam)>;
using EventHandler = std::function<int(int32_t event, intptr_t a, intptr_t b, intptr_t c)>;
NV_API void SetMessageHandler(MessageHandler h);
NV_API void SetEventHandler(EventHandler h);
// Posts a message to the active window (Wsl$GetActiveWindow + post).
NV_API void PostWindowMessage(uint32_t message, intptr_t wparam, intptr_t lparam);
// Raises an event (Wsl$DoEvent); answers the handler's answer.
NV_API int DoEvent(int32_t event, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0);

// --- The remote-file service. A file bound to a remote service has its
// operations forwarded there. The service is pluggable; the runtime brings a
// stand-in that forwards a bound file to another local file registered under
// a name (the binding text names it).
class NV_API RemoteService {
 public:
  virtual ~RemoteService();
  // Finds the remote driver for a registered driver name; 0 on success.
  virtual int FindRemoteDriver(std::string_view driver) = 0;
  // Binds `fd` to the remote file the text names; the handle identifies the
  // binding. 0 on success, else the error.
  virtual int FindRemoteFile(std::string_view driver, std::string_view text, FileDescriptor* fd,
                             intptr_t* handle) = 0;
  // One forwarded operation: texts are the popped texts, a text result is
  // answered in *text_out; answers the error and sets *result.
  virtual int CallRemoteFile(intptr_t handle, int32_t op, const intptr_t* words,
                             const std::string* texts, int text_count, intptr_t* result,
                             std::string* text_out, uint32_t* state) = 0;
  virtual void DestroyRemoteFile(intptr_t handle) = 0;
};
// The service in force (the stand-in unless a program installed another).
NV_API RemoteService* GetRemoteService();
NV_API void SetRemoteService(RemoteService* s);
// The stand-in's table: a binding text names a local file declared here.
class File;
NV_API void RegisterRemoteTarget(std::string_view name, File* target);
NV_API void UnregisterRemoteTarget(std::string_view name);

}  // namespace nv
