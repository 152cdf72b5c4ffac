// Logout membership, window messages and events, and the remote-file
// service stand-in.
#include "host/runtime/driver_services.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace nv {
namespace {

std::mutex g_mu;
std::set<const FileDescriptor*> g_logout;
MessageHandler g_message;
EventHandler g_event;

}  // namespace

int AddLogoutFile(FileDescriptor* fd) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_logout.insert(fd);
  return 1;
}

int DeleteLogoutFile(FileDescriptor* fd) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_logout.erase(fd);
  return 0;
}

int LogoutNumberOf(const FileDescriptor* fd) {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_logout.count(fd) ? 1 : 0;
}

void SetMessageHandler(MessageHandler h) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_message = std::move(h);
}

void SetEventHandler(EventHandler h) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_event = std::move(h);
}

void PostWindowMessage(uint32_t message, intptr_t wparam, intptr_t lparam) {
  MessageHandler h;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    h = g_message;
  }
  if (h) h(message, wparam, lparam);
}

int DoEvent(int32_t event, intptr_t a, intptr_t b, intptr_t c) {
  EventHandler h;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    h = g_event;
  }
  return h ? h(event, a, b, c) : 0;
}

RemoteService::~RemoteService() = default;

namespace {

// The stand-in: a binding forwards to a local file registered by name.
class LocalRemoteService final : public RemoteService {
 public:
  int FindRemoteDriver(std::string_view) override { return 0; }

  int FindRemoteFile(std::string_view, std::string_view text, FileDescriptor* fd,
                     intptr_t* handle) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = targets_.find(std::string(text));
    if (it == targets_.end()) return kErrFileNotFound;
    auto* b = new Binding{it->second, fd};
    bindings_.insert(b);
    *handle = reinterpret_cast<intptr_t>(b);
    return 0;
  }

  int CallRemoteFile(intptr_t handle, int32_t op, const intptr_t* words, const std::string* texts,
                     int text_count, intptr_t* result, std::string* text_out,
                     uint32_t* state) override {
    Binding* b = nullptr;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto* cand = reinterpret_cast<Binding*>(handle);
      if (bindings_.count(cand)) b = cand;
    }
    if (b == nullptr) return kErrNotImplemented;
    const OpInfo info = GetOpInfo(op);
    KeyDecl* key = nullptr;
    if (info.key) {
      // The bound file's key maps to the target's key of the same place.
      auto* source_key = reinterpret_cast<KeyDecl*>(words[0]);
      for (int i = 0; i < b->source->key_count; ++i) {
        if (b->source->keys[i] == source_key && i < b->target->key_count()) key = b->target->key(i);
      }
      ++words;
    }
    std::string_view t0 = text_count > 0 ? std::string_view(texts[0]) : std::string_view();
    std::string_view t1 = text_count > 1 ? std::string_view(texts[1]) : std::string_view();
    std::initializer_list<std::string_view> none = {};
    std::string out;
    intptr_t r;
    if (text_count == 2) {
      r = b->target->Call(op, key, {words[0], words[1]}, {t0, t1}, &out);
    } else if (text_count == 1) {
      r = b->target->Call(op, key, {words[0], words[1]}, {t0}, &out);
    } else {
      r = b->target->Call(op, key, {words[0], words[1]}, none, &out);
    }
    // The target's record arrives in the bound file's buffer.
    const uint32_t source_length = b->source->record_length;  // packed: read by value
    uint32_t n = std::min(source_length, b->target->record_length());
    std::copy(b->target->record(), b->target->record() + n, b->source->record);
    if (result) *result = r;
    if (text_out) *text_out = std::move(out);
    if (state) {
      auto* fcb = static_cast<DrvFcbHead*>(b->target->descriptor()->drv_fcb);
      *state = fcb ? fcb->state : 0;
    }
    return ErrorCode();
  }

  void DestroyRemoteFile(intptr_t handle) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto* b = reinterpret_cast<Binding*>(handle);
    if (bindings_.erase(b)) delete b;
  }

  void Register(std::string_view name, File* f) {
    std::lock_guard<std::mutex> lock(mu_);
    targets_[std::string(name)] = f;
  }
  void Unregister(std::string_view name) {
    std::lock_guard<std::mutex> lock(mu_);
    targets_.erase(std::string(name));
  }

 private:
  struct Binding {
    File* target;
    FileDescriptor* source;
  };
  std::mutex mu_;
  std::map<std::string, File*> targets_;
  std::set<Binding*> bindings_;
};

LocalRemoteService& StandIn() {
  static LocalRemoteService* s = new LocalRemoteService;
  return *s;
}

std::atomic<RemoteService*> g_remote{nullptr};

}  // namespace

RemoteService* GetRemoteService() {
  RemoteService* s = g_remote.load();
  return s ? s : &StandIn();
}

void SetRemoteService(RemoteService* s) { g_remote.store(s); }

void RegisterRemoteTarget(std::string_view name, File* target) {
  target->descriptor()->flags |= kDescRemoteTarget;
  StandIn().Register(name, target);
}

void UnregisterRemoteTarget(std::string_view name) { StandIn().Unregister(name); }

}  // namespace nv
