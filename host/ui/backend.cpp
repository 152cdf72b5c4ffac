#include "host/ui/backend.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "host/runtime/codepage.h"

namespace nv::ui {

WindowPeer::~WindowPeer() = default;
Backend::~Backend() = default;

std::vector<std::string> SplitBar(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    out.emplace_back(text.substr(start, bar == std::string_view::npos ? bar : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return out;
}

namespace {

// Without a backend nothing can be shown: windows close as soon as they
// open and message boxes take their default button; both leave a note.
class NullPeer : public WindowPeer {
 public:
  explicit NullPeer(Window& w) : w_(w) {}
  void Update(ControlId, Prop) override {}
  void Wait() override {
    if (++waits_ > 3) {
      w_.ForceEnd();
      return;
    }
    std::fprintf(stderr, "nvui: no backend; window \"%s\" closed\n",
                 nv::Utf8FromAnsi(w_.Caption()).c_str());
    w_.Post(Event::kCloseWindow);
  }

 private:
  Window& w_;
  int waits_ = 0;
};

class NullBackend : public Backend {
 public:
  std::unique_ptr<WindowPeer> CreatePeer(Window& w, bool) override {
    return std::make_unique<NullPeer>(w);
  }
  int Message(const MessageSpec& m) override {
    std::fprintf(stderr, "nvui: no backend; message \"%s\" answered %d\n",
                 nv::Utf8FromAnsi(m.text).c_str(), m.default_button);
    return m.default_button;
  }
  void SetBusy(bool) override {}
};

std::atomic<Backend*> g_backend{nullptr};
std::mutex g_open_mu;
std::vector<Window*>& Open() {
  static std::vector<Window*> v;
  return v;
}

// Tracks open windows around the backend in force.
class Tracker {
 public:
  static void Add(Window* w) {
    std::lock_guard<std::mutex> lock(g_open_mu);
    Open().push_back(w);
  }
  static void Remove(Window* w) {
    std::lock_guard<std::mutex> lock(g_open_mu);
    auto& v = Open();
    v.erase(std::remove(v.begin(), v.end(), w), v.end());
  }
};

class TrackingBackend : public Backend {
 public:
  std::unique_ptr<WindowPeer> CreatePeer(Window& w, bool modal) override {
    return Target()->CreatePeer(w, modal);
  }
  int Message(const MessageSpec& m) override { return Target()->Message(m); }
  void SetBusy(bool b) override { Target()->SetBusy(b); }
  void Beep() override { Target()->Beep(); }
  void Opened(Window& w) override {
    Tracker::Add(&w);
    Target()->Opened(w);
  }
  void Closed(Window& w) override {
    Target()->Closed(w);
    Tracker::Remove(&w);
  }

 private:
  static Backend* Target() {
    static NullBackend null_backend;
    Backend* b = g_backend.load();
    return b ? b : &null_backend;
  }
};

}  // namespace

Backend* GetBackend() {
  static TrackingBackend tracking;
  return &tracking;
}

void SetBackend(Backend* backend) {
  g_backend.store(backend);
}

std::vector<Window*> OpenWindows() {
  std::lock_guard<std::mutex> lock(g_open_mu);
  return Open();
}

int Message(std::string_view text, std::string_view caption, Icon icon, std::string_view buttons,
            int default_button) {
  MessageSpec m;
  m.text = std::string(text);
  m.caption = std::string(caption);
  m.icon = icon;
  m.buttons = SplitBar(buttons.empty() ? std::string_view("&Aceptar") : buttons);
  m.default_button = std::clamp(default_button, 1, int(m.buttons.size()));
  int answer = GetBackend()->Message(m);
  // A box closed without a button answers 0, which no question takes as
  // agreement (nor as "retry").
  if (answer < 1 || answer > int(m.buttons.size())) answer = 0;
  return answer;
}

void Beep() {
  GetBackend()->Beep();
}

namespace {
std::atomic<int> g_busy{0};
}

BusyCursor::BusyCursor() {
  if (g_busy.fetch_add(1) == 0) GetBackend()->SetBusy(true);
}
BusyCursor::~BusyCursor() {
  if (g_busy.fetch_sub(1) == 1) GetBackend()->SetBusy(false);
}

}  // namespace nv::ui
