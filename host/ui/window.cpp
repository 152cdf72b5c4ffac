#include "host/ui/window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/browse.h"

namespace nv::ui {

const char* EventName(ui::Event e) {
  switch (e) {
    case ui::Event::kNone:
      return "None";
    case ui::Event::kOpenWindow:
      return "OpenWindow";
    case ui::Event::kCloseWindow:
      return "CloseWindow";
    case ui::Event::kTimer:
      return "Timer";
    case ui::Event::kAccepted:
      return "Accepted";
    case ui::Event::kSelected:
      return "Selected";
    case ui::Event::kNewSelection:
      return "NewSelection";
    case ui::Event::kAlertKey:
      return "AlertKey";
  }
  return "?";
}

Window::Window(WindowDef def) : def_(std::move(def)), caption_(def_.caption), timer_(def_.timer) {
  Flatten(def_.controls, -1);
}

Window::~Window() {
  if (state_ == State::kOpen) Finish();
}

void Window::Flatten(const std::vector<ControlDef>& defs, int parent) {
  for (const ControlDef& d : defs) {
    ControlState s;
    s.def = d;
    s.def.children.clear();
    s.parent = parent;
    s.text = d.text;
    s.tip = d.tip;
    s.items = d.items;
    s.position = {d.x, d.y, d.width, d.height};
    if (d.kind == ControlKind::kOption && !d.items.empty()) s.value = 1;
    if (d.kind == ControlKind::kEntry && !d.picture.empty() && d.text.empty()) {
      // An entry shows its picture's empty value (blanks for strings, 0 for
      // numbers) until something is put into it.
      nv::Picture pic;
      if (nv::ParsePicture(d.picture, &pic) && pic.kind == nv::Picture::Kind::kNumber)
        s.text = nv::Format(pic, nv::Value(0));
    }
    controls_.push_back(std::move(s));
    const int me = int(controls_.size()) - 1;
    if (d.id != kNoControl) index_[d.id] = size_t(me);
    Flatten(d.children, me);
  }
}

const ControlState& Window::control(ControlId id) const {
  auto it = index_.find(id);
  if (it == index_.end()) {
    static const ControlState kMissing;
    return kMissing;
  }
  return controls_[it->second];
}

ControlState& Window::Mut(ControlId id) {
  auto it = index_.find(id);
  if (it == index_.end()) {
    // Setting a property of a control the window lacks is a programmer
    // error; it goes to a scratch state so that nothing else changes.
    static thread_local ControlState scratch;
    scratch = ControlState{};
    return scratch;
  }
  return controls_[it->second];
}

void Window::Changed(ControlId id, Prop p) {
  if (peer_ && (id == kNoControl || Has(id))) peer_->Update(id, p);
}

// --- life

void Window::Open() {
  if (state_ != State::kCreated) return;
  Backend* b = GetBackend();
  const bool modal = !OpenWindows().empty();
  state_ = State::kOpen;
  for (ControlState& c : controls_) {
    if (c.browse) {
      if (c.browse->columns().empty()) c.browse->SetColumns(c.def.columns);
      c.browse->Reset();
    }
  }
  peer_ = b->CreatePeer(*this, modal);
  b->Opened(*this);
  Post(ui::Event::kOpenWindow);
}

void Window::Finish() {
  state_ = State::kClosed;
  SetWakeHook(nullptr);
  if (peer_) {
    GetBackend()->Closed(*this);
    peer_.reset();
  }
}

bool Window::Accept() {
  if (state_ != State::kOpen) return false;
  if (force_end_ || closing_) {
    Finish();
    return false;
  }
  if (close_after_) {
    close_after_ = false;
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_front({ui::Event::kCloseWindow, kNoControl, 0});
  }
  for (;;) {
    std::function<void(Window&)> action;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!actions_.empty()) {
        action = std::move(actions_.front());
        actions_.pop_front();
      } else if (!events_.empty()) {
        current_ = events_.front();
        events_.pop_front();
        break;
      }
    }
    if (action) {
      action(*this);
      continue;
    }
    if (force_end_) {
      Finish();
      return false;
    }
    if (peer_) peer_->Wait();
    if (force_end_) {
      Finish();
      return false;
    }
  }
  if (current_.event == ui::Event::kCloseWindow) closing_ = true;
  if (current_.event == ui::Event::kAccepted && Has(current_.control) &&
      control(current_.control).def.closing)
    close_after_ = true;
  return true;
}

void Window::Close(int result) {
  result_ = result;
  Post(ui::Event::kCloseWindow);
}

void Window::KeepOpen() {
  closing_ = false;
  close_after_ = false;
  // A close posted and not yet taken is withdrawn too.
  std::lock_guard<std::mutex> lock(mu_);
  events_.erase(std::remove_if(events_.begin(), events_.end(),
                               [](const Ev& e) { return e.event == ui::Event::kCloseWindow; }),
                events_.end());
}

void Window::ForceEnd() {
  force_end_ = true;
}

void Window::Post(ui::Event e, ControlId c, int key) {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Timer ticks coalesce: one pending tick stands for any number.
    if (e == ui::Event::kTimer && std::any_of(events_.begin(), events_.end(), [](const Ev& q) {
          return q.event == ui::Event::kTimer;
        }))
      return;
    events_.push_back({e, c, key});
    wake = wake_;
  }
  cv_.notify_all();
  if (wake) wake();
}

void Window::Deliver(std::function<void(Window&)> action) {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    actions_.push_back(std::move(action));
    wake = wake_;
  }
  cv_.notify_all();
  if (wake) wake();
}

void Window::SetWakeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mu_);
  wake_ = std::move(hook);
}

bool Window::HasPending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !events_.empty() || !actions_.empty();
}

void Window::WaitPending(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
               [this] { return !events_.empty() || !actions_.empty(); });
}

bool Window::Poll() {
  if (state_ != State::kOpen) return false;
  if (peer_) peer_->Pump();
  for (;;) {
    std::function<void(Window&)> action;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!actions_.empty()) {
        action = std::move(actions_.front());
        actions_.pop_front();
      } else if (!events_.empty()) {
        current_ = events_.front();
        events_.pop_front();
        return true;
      } else {
        return false;
      }
    }
    action(*this);
  }
}

// --- properties

std::string Window::Text(ControlId id) const {
  return control(id).text;
}

void Window::SetText(ControlId id, std::string_view text) {
  Mut(id).text = std::string(text);
  Changed(id, Prop::kText);
}

nv::Value Window::Contents(ControlId id) const {
  const ControlState& c = control(id);
  if (c.def.picture.empty()) return nv::Value(c.text);
  return nv::Deformat(c.def.picture, c.text);
}

namespace {
// A value through an entry's picture. A pattern without any digit to show
// (a blank tax number) stays blank instead of showing zeros.
std::string ThroughPicture(const std::string& picture, const nv::Value& v) {
  if (picture.empty()) return v.AsText();
  nv::Picture pic;
  if (nv::ParsePicture(picture, &pic) && pic.kind == nv::Picture::Kind::kPattern &&
      nv::DeformatPattern(picture, v.AsText()).empty())
    return "";
  return nv::Format(picture, v);
}
}  // namespace

void Window::SetContents(ControlId id, const nv::Value& v) {
  SetText(id, ThroughPicture(control(id).def.picture, v));
}

int Window::Value(ControlId id) const {
  return control(id).value;
}

void Window::SetValue(ControlId id, int v) {
  ControlState& c = Mut(id);
  c.value = v;
  if (c.def.kind == ControlKind::kDropList && !c.browse) {
    c.text = (v >= 1 && v <= int(c.items.size())) ? c.items[size_t(v - 1)] : std::string();
  }
  Changed(id, Prop::kValue);
}

bool Window::Enabled(ControlId id) const {
  // A control inside a disabled container is disabled too.
  auto it = index_.find(id);
  if (it == index_.end()) return false;
  for (int i = int(it->second); i >= 0; i = controls_[size_t(i)].parent) {
    if (!controls_[size_t(i)].enabled) return false;
  }
  return true;
}
void Window::Enable(ControlId id) {
  Mut(id).enabled = true;
  Changed(id, Prop::kEnabled);
}
void Window::Disable(ControlId id) {
  Mut(id).enabled = false;
  Changed(id, Prop::kEnabled);
}
bool Window::Hidden(ControlId id) const {
  auto it = index_.find(id);
  if (it == index_.end()) return true;
  for (int i = int(it->second); i >= 0; i = controls_[size_t(i)].parent) {
    if (controls_[size_t(i)].hidden) return true;
  }
  return false;
}
void Window::Hide(ControlId id) {
  Mut(id).hidden = true;
  Changed(id, Prop::kHidden);
}
void Window::Unhide(ControlId id) {
  Mut(id).hidden = false;
  Changed(id, Prop::kHidden);
}
void Window::Select(ControlId id) {
  if (!Has(id)) return;
  const ControlKind kind = control(id).def.kind;
  if (current_.event == ui::Event::kAccepted && current_.control == id &&
      (kind == ControlKind::kEntry || kind == ControlKind::kDropList)) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.erase(std::remove_if(events_.begin(), events_.end(),
                                 [this](const Ev& e) {
                                   return e.event == ui::Event::kAccepted && Has(e.control) &&
                                          control(e.control).def.kind == ControlKind::kButton;
                                 }),
                  events_.end());
  }
  focus_ = id;
  Changed(id, Prop::kFocus);
}
void Window::Display(ControlId id) {
  if (id != kNoControl) {
    Changed(id, Prop::kAll);
    return;
  }
  if (peer_) peer_->Update(kNoControl, Prop::kAll);
}

std::vector<std::string> Window::Items(ControlId id) const {
  return control(id).items;
}
void Window::SetItems(ControlId id, std::vector<std::string> items) {
  ControlState& c = Mut(id);
  c.items = std::move(items);
  if (c.value > int(c.items.size())) {
    c.value = 0;
    if (c.def.kind == ControlKind::kDropList && !c.browse) c.text.clear();
  }
  Changed(id, Prop::kItems);
}
void Window::SetProgressRange(ControlId id, int low, int high) {
  ControlState& c = Mut(id);
  c.progress_low = low;
  c.progress_high = std::max(low, high);
  c.progress_value = std::clamp(c.progress_value, c.progress_low, c.progress_high);
  Changed(id, Prop::kProgress);
}
void Window::SetProgress(ControlId id, int value) {
  ControlState& c = Mut(id);
  c.progress_value = std::clamp(value, c.progress_low, c.progress_high);
  Changed(id, Prop::kProgress);
}
int Window::ProgressValue(ControlId id) const {
  return control(id).progress_value;
}
std::string Window::Caption() const {
  std::lock_guard<std::mutex> lock(mu_);
  return caption_;
}
void Window::SetCaption(std::string_view caption) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    caption_ = std::string(caption);
  }
  if (peer_) peer_->Update(kNoControl, Prop::kCaption);
}
void Window::SetFont(ControlId id, uint32_t colour, int style) {
  ControlState& c = Mut(id);
  c.colour = colour;
  c.style = style;
  Changed(id, Prop::kFont);
}
std::string Window::Tip(ControlId id) const {
  return control(id).tip;
}
void Window::SetTip(ControlId id, std::string_view tip) {
  Mut(id).tip = std::string(tip);
  Changed(id, Prop::kTip);
}
Rect Window::Position(ControlId id) const {
  return control(id).position;
}
void Window::SetPosition(ControlId id, Rect r) {
  Mut(id).position = r;
  Changed(id, Prop::kPosition);
}
void Window::SetTimer(int hundredths) {
  timer_ = std::max(0, hundredths);
  if (peer_) peer_->Update(kNoControl, Prop::kTimer);
}

// --- lists

void Window::AttachBrowse(ControlId list, Browse* browse) {
  ControlState& c = Mut(list);
  c.browse = browse;
  if (browse && browse->columns().empty()) browse->SetColumns(c.def.columns);
  if (state_ == State::kOpen && browse) {
    browse->Reset();
    Changed(list, Prop::kRows);
  }
}

Browse* Window::browse(ControlId list) const {
  return control(list).browse;
}

std::vector<std::vector<std::string>> Window::Rows(ControlId list) const {
  const ControlState& c = control(list);
  if (c.browse) return c.browse->Page();
  std::vector<std::vector<std::string>> out;
  for (const std::string& s : c.items) out.push_back({s});
  return out;
}

int Window::Highlight(ControlId list) const {
  const ControlState& c = control(list);
  if (c.browse) return c.browse->highlight();
  return c.value - 1;
}

bool Window::SetHighlight(ControlId list, int row) {
  ControlState& c = Mut(list);
  bool ok = false;
  if (c.browse) {
    ok = c.browse->SetHighlight(row);
  } else if (row >= 0 && row < int(c.items.size())) {
    c.value = row + 1;
    ok = true;
  }
  if (ok) Changed(list, Prop::kRows);
  return ok;
}

void Window::SetLocator(ControlId entry, ControlId list) {
  Mut(entry).locator_list = list;
}

bool Window::SelectHighlighted(ControlId list) {
  Browse* b = browse(list);
  if (!b || b->empty() || !b->LoadHighlighted()) return false;
  Close(kCompleted);
  return true;
}

bool Window::IsAlert(int key) const {
  return std::find(alerts_.begin(), alerts_.end(), key) != alerts_.end();
}

void Window::ListMoved(ControlId list, bool moved) {
  Changed(list, Prop::kRows);
  if (moved) Post(ui::Event::kNewSelection, list);
}

// --- user input

void Window::UserSetText(ControlId id, std::string_view text) {
  if (!Has(id) || !Enabled(id)) return;
  ControlState& c = Mut(id);
  c.text = std::string(text);
  if (c.locator_list != kNoControl) {
    if (Browse* b = browse(c.locator_list)) {
      b->Locate(Clip(c.text));
      ListMoved(c.locator_list, true);
    }
  }
}

void Window::UserComplete(ControlId id) {
  if (!Has(id) || !Enabled(id)) return;
  ControlState& c = Mut(id);
  if (!c.def.picture.empty() && c.def.kind == ControlKind::kEntry) {
    // What was typed is shown back through the picture.
    c.text = ThroughPicture(c.def.picture, nv::Deformat(c.def.picture, c.text));
    Changed(id, Prop::kText);
  }
  Post(ui::Event::kAccepted, id);
  if (c.locator_list != kNoControl) Select(c.locator_list);
}

void Window::UserPress(ControlId id) {
  if (Has(id) && !Enabled(id)) return;
  Post(ui::Event::kAccepted, id);
}

void Window::UserSetValue(ControlId id, int v) {
  if (!Has(id) || !Enabled(id)) return;
  ControlState& c = Mut(id);
  if (c.browse && c.def.kind == ControlKind::kDropList) {
    // A drop list over a file: choosing a row loads its record and shows
    // the row's first column.
    if (!c.browse->SetHighlight(v - 1)) return;
    c.browse->LoadHighlighted();
    c.value = v;
    c.text = std::string(Clip(c.browse->Cells(v - 1).empty() ? "" : c.browse->Cells(v - 1)[0]));
    Changed(id, Prop::kValue);
    Post(ui::Event::kNewSelection, id);
    return;
  }
  SetValue(id, v);
  Post(c.def.kind == ControlKind::kCheck ? ui::Event::kAccepted : ui::Event::kNewSelection, id);
}

void Window::UserFocus(ControlId id) {
  if (!Has(id) || focus_ == id) return;
  focus_ = id;
  Post(ui::Event::kSelected, id);
}

void Window::UserListKey(ControlId id, int key) {
  Mut(id).typed.clear();
  Browse* b = browse(id);
  if (!b) {
    ControlState& c = Mut(id);
    int n = int(c.items.size());
    int v = c.value;
    if (key == kKeyDown) v = std::min(n, v + 1);
    if (key == kKeyUp) v = std::max(n ? 1 : 0, v - 1);
    if (key == kKeyHome) v = n ? 1 : 0;
    if (key == kKeyEnd) v = n;
    if (v != c.value) {
      c.value = v;
      ListMoved(id, true);
    }
    return;
  }
  if (key == kKeyEnter) {
    UserListActivate(id);
    return;
  }
  const std::string before = b->RowPosition(b->highlight());
  b->Key(key);
  ListMoved(id, b->RowPosition(b->highlight()) != before);
}

void Window::UserListType(ControlId id, std::string_view text, bool restart) {
  Browse* b = browse(id);
  if (!b || text.empty()) return;
  ControlState& c = Mut(id);
  if (restart) c.typed.clear();
  c.typed += text;
  const std::string before = b->RowPosition(b->highlight());
  b->Locate(c.typed);
  if (c.def.kind == ControlKind::kDropList) {
    // A drop list over a file takes the record located as its choice.
    if (b->empty()) return;
    UserSetValue(id, b->highlight() + 1);
    return;
  }
  ListMoved(id, b->RowPosition(b->highlight()) != before);
}

void Window::UserListClick(ControlId id, int row) {
  Mut(id).typed.clear();
  Browse* b = browse(id);
  if (!b) {
    ControlState& c = Mut(id);
    if (row >= 0 && row < int(c.items.size()) && row + 1 != c.value) {
      c.value = row + 1;
      ListMoved(id, true);
    }
    return;
  }
  const int before = b->highlight();
  if (b->SetHighlight(row)) ListMoved(id, row != before);
}

void Window::UserListActivate(ControlId id) {
  if (select_mode_ && browse(id)) {
    SelectHighlighted(id);
    return;
  }
  Post(ui::Event::kAccepted, id);
}

namespace {
// A button's text without its mnemonic mark.
std::string Plain(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
    out.push_back(text[i]);
  }
  return std::string(Clip(out));
}
}  // namespace

ControlId Window::DefaultButton() const {
  ControlId named = kNoControl;
  for (const ControlState& c : controls_) {
    if (c.def.kind != ControlKind::kButton || c.def.id == kNoControl) continue;
    if (c.def.default_button) return c.def.id;
    if (named == kNoControl && Plain(c.def.text) == "Aceptar") named = c.def.id;
  }
  return named;
}

ControlId Window::CancelButton() const {
  for (const ControlState& c : controls_) {
    if (c.def.kind == ControlKind::kButton && c.def.id != kNoControl &&
        Plain(c.def.text) == "Cancelar")
      return c.def.id;
  }
  return kNoControl;
}

void Window::UserKey(int key) {
  if (IsAlert(key)) {
    Post(ui::Event::kAlertKey, focus_, key);
    return;
  }
  if (key == kKeyEnter) {
    if (ControlId b = DefaultButton(); b != kNoControl) UserPress(b);
  } else if (key == kKeyEsc) {
    if (ControlId b = CancelButton(); b != kNoControl) {
      UserPress(b);
    } else if (def_.menus.empty()) {
      UserClose();
    }
  }
}

void Window::UserClose() {
  if (result_ == 0) result_ = kCancelled;
  Post(ui::Event::kCloseWindow);
}

}  // namespace nv::ui
