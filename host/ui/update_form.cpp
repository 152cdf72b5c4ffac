#include "host/ui/update_form.h"

#include "host/runtime/codepage.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/ui/backend.h"
#include "host/ui/field_access.h"
#include "host/ui/framework.h"

namespace nv::ui {

UpdateForm::UpdateForm(Window& window, nv::File& file, Request request)
    : window_(window), file_(file), request_(request) {
  for (const ControlState& c : window_.controls()) {
    if (!c.def.field.empty() && c.def.id != kNoControl)
      bindings_.push_back({c.def.id, c.def.field});
  }
  window_.SetResult(kCancelled);
}

void UpdateForm::Bind(ControlId control, std::string field_label) {
  bindings_.push_back({control, std::move(field_label)});
}

void UpdateForm::SetCaptions(std::string insert, std::string change, std::string remove,
                             std::string view) {
  captions_[int(Request::kInsert)] = std::move(insert);
  captions_[int(Request::kChange)] = std::move(change);
  captions_[int(Request::kDelete)] = std::move(remove);
  captions_[int(Request::kView)] = std::move(view);
}

void UpdateForm::SetButtons(ControlId ok, ControlId cancel) {
  ok_ = ok;
  cancel_ = cancel;
}

void UpdateForm::Display() {
  for (const Binding& b : bindings_) {
    const FieldDesc* f = FindField(file_, b.field);
    if (!f) continue;
    nv::Value v = ReadField(*f, file_.record());
    const ControlState& c = window_.control(b.control);
    if (c.def.kind == ControlKind::kCheck || c.def.kind == ControlKind::kOption) {
      window_.SetValue(b.control, int(v.AsInteger()));
    } else if (c.def.picture.empty() && !f->picture.empty()) {
      window_.SetText(b.control, nv::Format(f->picture, v));
    } else {
      window_.SetContents(b.control, v);
    }
  }
}

void UpdateForm::Take() {
  for (const Binding& b : bindings_) {
    const FieldDesc* f = FindField(file_, b.field);
    if (!f) continue;
    const ControlState& c = window_.control(b.control);
    nv::Value v;
    if (c.def.kind == ControlKind::kCheck || c.def.kind == ControlKind::kOption) {
      v = nv::Value(window_.Value(b.control));
    } else if (c.def.picture.empty() && !f->picture.empty()) {
      v = nv::Deformat(f->picture, c.text);
    } else {
      v = window_.Contents(b.control);
    }
    WriteField(*f, file_.record(), v);
  }
}

bool UpdateForm::Save() {
  if (request_ == Request::kView) {
    window_.Close(kCompleted);
    return true;
  }
  if (request_ != Request::kDelete) Take();
  if (check_ && !check_()) return false;
  int err = 0;
  switch (request_) {
    case Request::kInsert:
      err = file_.Add();
      break;
    case Request::kChange:
      err = file_.Put();
      break;
    case Request::kDelete:
      if (Message(nv::AnsiFromUtf8(kDeleteQuestion), nv::AnsiFromUtf8(kDeleteCaption),
                  Icon::kQuestion, nv::AnsiFromUtf8(kDeleteButtons), 2) != 1)
        return false;
      err = file_.Delete();
      break;
    case Request::kView:
      break;
  }
  if (err != 0) {
    CurrentErrorReporter().ShowError();
    return false;
  }
  window_.Close(kCompleted);
  return true;
}

bool UpdateForm::TakeEvent() {
  switch (window_.Event()) {
    case Event::kOpenWindow: {
      const std::string& caption = captions_[int(request_)];
      if (!caption.empty()) window_.SetCaption(caption);
      Display();
      if (request_ == Request::kDelete || request_ == Request::kView) {
        for (const Binding& b : bindings_) window_.Disable(b.control);
      }
      return true;
    }
    case Event::kAccepted:
      if (window_.Field() == ok_ && ok_ != kNoControl) {
        Save();
        return true;
      }
      if (window_.Field() == cancel_ && cancel_ != kNoControl) {
        window_.Close(kCancelled);
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace nv::ui
