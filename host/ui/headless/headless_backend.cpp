#include "host/ui/headless/headless_backend.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "host/ui/window.h"

namespace nv::ui {

class HeadlessBackend::Peer : public WindowPeer {
 public:
  Peer(HeadlessBackend* b, Window& w) : b_(b), w_(w) {}
  void Update(ControlId, Prop what) override {
    if (what == Prop::kTimer || what == Prop::kAll) b_->Reschedule(w_);
  }
  void Wait() override { b_->Idle(w_); }
  void Pump() override {
    // Only scripted input; no clock, no unattended close.
    Action act;
    {
      std::lock_guard<std::mutex> lock(b_->mu_);
      for (auto it = b_->scripts_.begin(); it != b_->scripts_.end(); ++it) {
        const bool caption_ok = it->caption == w_.def().caption || it->caption == w_.Caption();
        if (caption_ok && (!it->on_open || !b_->timing_[&w_].seen_idle)) {
          act = std::move(it->action);
          b_->scripts_.erase(it);
          break;
        }
      }
      b_->timing_[&w_].seen_idle = true;
    }
    if (act) act(w_);
  }

 private:
  HeadlessBackend* b_;
  Window& w_;
};

class HeadlessBackend::ClockEnv : public nv::EnvWrapper {
 public:
  explicit ClockEnv(HeadlessBackend* b) : nv::EnvWrapper(nv::DefaultEnv()), b_(b) {}
  int32_t Today() override {
    std::lock_guard<std::mutex> lock(b_->mu_);
    return b_->start_today_ + int32_t((b_->start_clock_ - 1 + b_->now_) / 8640000);
  }
  int32_t Clock() override {
    std::lock_guard<std::mutex> lock(b_->mu_);
    return int32_t((b_->start_clock_ - 1 + b_->now_) % 8640000) + 1;
  }
  int64_t TickCount() override { return b_->Now() * 10; }
  void Delay(int ms) override { b_->AdvanceClock(std::max(0, ms) / 10); }

 private:
  HeadlessBackend* b_;
};

HeadlessBackend::HeadlessBackend() : clock_env_(std::make_unique<ClockEnv>(this)) {
  SetBackend(this);
}

HeadlessBackend::~HeadlessBackend() {
  SetBackend(nullptr);
}

void HeadlessBackend::OnOpen(std::string caption, Action action) {
  std::lock_guard<std::mutex> lock(mu_);
  scripts_.push_back({std::move(caption), std::move(action), true});
}

void HeadlessBackend::OnIdle(std::string caption, Action action) {
  std::lock_guard<std::mutex> lock(mu_);
  scripts_.push_back({std::move(caption), std::move(action), false});
}

void HeadlessBackend::QueueAnswer(int button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

void HeadlessBackend::SetAutoTimers(bool on, int max_ticks) {
  std::lock_guard<std::mutex> lock(mu_);
  auto_timers_ = on;
  max_ticks_ = max_ticks;
}

int64_t HeadlessBackend::Now() const {
  std::lock_guard<std::mutex> lock(mu_);
  return now_;
}

void HeadlessBackend::SetClockStart(int32_t today, int32_t clock) {
  std::lock_guard<std::mutex> lock(mu_);
  start_today_ = today;
  start_clock_ = std::clamp(clock, 1, 8640000);
}

void HeadlessBackend::SetTickPace(int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  tick_pace_ms_ = std::max(0, ms);
}

void HeadlessBackend::AdvanceClock(int64_t hundredths) {
  std::vector<Window*> due;
  {
    std::lock_guard<std::mutex> lock(mu_);
    now_ += std::max<int64_t>(0, hundredths);
    FireDue(&due);
  }
  // Ticks missed while time jumped come as one (timer events coalesce).
  for (Window* w : due) w->Post(Event::kTimer);
}

void HeadlessBackend::FireDue(std::vector<Window*>* due) {
  for (auto& [w, t] : timing_) {
    if (t.due > 0 && t.due <= now_) {
      due->push_back(w);
      while (t.due <= now_) t.due += t.period;
    }
  }
}

void HeadlessBackend::Reschedule(Window& w) {
  std::lock_guard<std::mutex> lock(mu_);
  Timing& t = timing_[&w];
  const int period = w.Timer();
  if (period == t.period && t.due > 0) return;
  t.period = period;
  t.due = period > 0 ? now_ + period : 0;
}

void HeadlessBackend::Idle(Window& w) {
  Action act;
  enum { kScript, kTick, kUnattended, kEnd } what = kUnattended;
  int64_t step = 0;
  int pace_ms = 0;
  std::string caption;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Timing& t = timing_[&w];
    caption = w.Caption();
    auto matches = [&](const Script& s) {
      return s.caption == w.def().caption || s.caption == caption;
    };
    auto it = scripts_.end();
    if (!t.seen_idle) {
      it = std::find_if(scripts_.begin(), scripts_.end(),
                        [&](const Script& s) { return s.on_open && matches(s); });
    }
    if (it == scripts_.end()) {
      it = std::find_if(scripts_.begin(), scripts_.end(),
                        [&](const Script& s) { return !s.on_open && matches(s); });
    }
    t.seen_idle = true;
    if (it != scripts_.end()) {
      act = std::move(it->action);
      scripts_.erase(it);
      what = kScript;
    } else if (t.due > 0 && auto_timers_) {
      if (t.auto_ticks >= max_ticks_) {
        notes_.push_back("unattended: timer of " + caption);
        what = kEnd;
      } else {
        ++t.auto_ticks;
        step = t.due - now_;
        pace_ms = tick_pace_ms_;
        what = kTick;
      }
    } else {
      notes_.push_back("unattended: " + caption);
      what = ++t.unattended > 3 ? kEnd : kUnattended;
    }
  }
  switch (what) {
    case kScript:
      act(w);
      break;
    case kTick:
      if (pace_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms));
      AdvanceClock(step);
      break;
    case kUnattended:
      w.UserClose();
      break;
    case kEnd:
      w.ForceEnd();
      break;
  }
}

std::vector<HeadlessBackend::MessageRecord> HeadlessBackend::messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

std::vector<std::string> HeadlessBackend::notes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return notes_;
}

std::vector<std::string> HeadlessBackend::opened() const {
  std::lock_guard<std::mutex> lock(mu_);
  return opened_;
}

Window* HeadlessBackend::Find(std::string_view caption) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if ((*it)->def().caption == caption || (*it)->Caption() == caption) return *it;
  }
  return nullptr;
}

bool HeadlessBackend::busy() const {
  std::lock_guard<std::mutex> lock(mu_);
  return busy_;
}

int HeadlessBackend::busy_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return busy_count_;
}

std::unique_ptr<WindowPeer> HeadlessBackend::CreatePeer(Window& w, bool) {
  return std::make_unique<Peer>(this, w);
}

int HeadlessBackend::Message(const MessageSpec& m) {
  std::lock_guard<std::mutex> lock(mu_);
  MessageRecord r{m, m.default_button, false};
  if (!answers_.empty()) {
    r.answer = answers_.front();
    answers_.pop_front();
    r.from_queue = true;
  } else {
    notes_.push_back("unanswered: " + m.caption + ": " + m.text);
  }
  messages_.push_back(r);
  return r.answer;
}

int HeadlessBackend::beeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return beeps_;
}

void HeadlessBackend::Beep() {
  std::lock_guard<std::mutex> lock(mu_);
  ++beeps_;
}

void HeadlessBackend::SetBusy(bool busy) {
  std::lock_guard<std::mutex> lock(mu_);
  busy_ = busy;
  if (busy) ++busy_count_;
}

void HeadlessBackend::Opened(Window& w) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    opened_.push_back(w.def().caption);
    open_.push_back(&w);
  }
  Reschedule(w);
}

void HeadlessBackend::Closed(Window& w) {
  std::lock_guard<std::mutex> lock(mu_);
  open_.erase(std::remove(open_.begin(), open_.end(), &w), open_.end());
  timing_.erase(&w);
}

void Type(Window& w, ControlId entry, std::string_view text) {
  w.UserFocus(entry);
  w.UserSetText(entry, text);
  w.UserComplete(entry);
}

void Press(Window& w, ControlId button) {
  w.UserPress(button);
}

void Choose(Window& w, ControlId control, int value) {
  w.UserSetValue(control, value);
}

void ListKey(Window& w, ControlId list, int key) {
  w.UserListKey(list, key);
}

void TypeOnList(Window& w, ControlId list, std::string_view text) {
  w.UserFocus(list);
  for (char ch : text) w.UserListType(list, std::string(1, ch));
}

void ClickRow(Window& w, ControlId list, int row) {
  w.UserListClick(list, row);
}

void DoubleClickRow(Window& w, ControlId list, int row) {
  w.UserListClick(list, row);
  w.UserListActivate(list);
}

}  // namespace nv::ui
