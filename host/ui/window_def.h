// Window definitions: a declarative description of a window that a window
// procedure builds once and hands to nv::ui::Window. Texts are Windows-1252,
// like every text inside the runtime; the backends convert at their edge.
//
//   enum : nv::ui::ControlId { kNombre = 1, kClave, kAceptar, kCancelar };
//   const nv::ui::WindowDef kLogin =
//       nv::ui::WindowDef("Seguridad",
//                         {Prompt("&Nombre:"), Entry(kNombre, "@s30"),
//                          Prompt("&Contraseña:"), Entry(kClave, "@s8").Password(),
//                          Button(kAceptar, "&Aceptar").Default().Closing(),
//                          Button(kCancelar, "&Cancelar")})
//           .Timer(2000);
//
// Control ids are the procedure's own constants; 0 means "no control". Ids
// must be unique within a window (prompts and other passive controls may
// share 0). Containers (sheet -> tabs, tab, group, option group) hold their
// controls as children.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/runtime/export.h"
#include "host/runtime/picture.h"

namespace nv::ui {

using ControlId = int;
inline constexpr ControlId kNoControl = 0;

// Window results (the framework's responses).
inline constexpr int kCompleted = 1;
inline constexpr int kCancelled = 2;

enum class ControlKind {
  kPrompt,  // label
  kEntry,   // one-line entry with a picture
  kText,    // multi-line text box
  kButton,
  kCheck,     // check box: value 0/1
  kOption,    // option group: value = 1-based number of the chosen radio
  kDropList,  // drop list: fixed items, or a list over a file (attached Browse)
  kList,      // list (browse) over a file, or fixed items
  kSheet,     // tab sheet: children are kTab
  kTab,       // one tab page
  kGroup,     // frame grouping controls
  kProgress,  // progress bar (thermometer)
  kImage,
  kAnimation,  // cycles through a set of pictures
};

// A list column: header, display picture, and where the value comes from
// (a record field by label, or a callback evaluated with the row's record in
// the file's buffer).
struct Column {
  std::string header;
  std::string picture;
  std::string field;             // "MA11:NOMBRE"
  std::function<Value()> value;  // used when field is empty
  bool right = false;            // right-aligned
};

struct ControlDef {
  ControlKind kind = ControlKind::kPrompt;
  ControlId id = kNoControl;
  std::string text;     // prompt/button/check/tab text, entry initial text
  std::string picture;  // entry and drop-list picture
  std::string tip;
  std::string field;                 // record field bound by update forms ("TA02:CODRUB")
  std::vector<std::string> items;    // drop list, fixed list, option radios
  std::vector<Column> columns;       // list
  std::vector<ControlDef> children;  // sheet, tab, group, option
  std::vector<std::string> frames;   // animation: picture names
  int frame_period = 0;              // animation: hundredths per frame
  bool password = false;
  bool read_only = false;
  bool default_button = false;  // Enter presses it
  bool closing = false;         // after its event is handled the window closes
  bool required = false;
  int grid_columns = 0;                     // group: children laid out n to a row, no frame
  int x = 0, y = 0, width = 0, height = 0;  // 0: placed by the backend

  // Chainable modifiers (copies, so they work on the temporaries below).
  ControlDef Tip(std::string t) const {
    return With([&](ControlDef& c) { c.tip = std::move(t); });
  }
  ControlDef Password() const {
    return With([](ControlDef& c) { c.password = true; });
  }
  ControlDef ReadOnly() const {
    return With([](ControlDef& c) { c.read_only = true; });
  }
  ControlDef Default() const {
    return With([](ControlDef& c) { c.default_button = true; });
  }
  ControlDef Closing() const {
    return With([](ControlDef& c) { c.closing = true; });
  }
  ControlDef Required() const {
    return With([](ControlDef& c) { c.required = true; });
  }
  ControlDef Bind(std::string f) const {
    return With([&](ControlDef& c) { c.field = std::move(f); });
  }
  ControlDef At(int px, int py, int w, int h) const {
    return With([&](ControlDef& c) { c.x = px, c.y = py, c.width = w, c.height = h; });
  }

 private:
  template <class F>
  ControlDef With(F f) const {
    ControlDef c = *this;
    f(c);
    return c;
  }
};

// A menu: a top-level entry with items; an item with an id posts Accepted
// for that id when chosen, an item with items is a sub-menu.
struct MenuDef {
  std::string text;
  ControlId id = kNoControl;
  std::vector<MenuDef> items;
};

struct WindowDef {
  WindowDef() = default;
  WindowDef(std::string c, std::vector<ControlDef> cs)
      : caption(std::move(c)), controls(std::move(cs)) {}

  std::string caption;
  int width = 0, height = 0;  // 0: sized by the backend
  int timer = 0;              // hundredths of a second; 0 none
  std::vector<ControlDef> controls;
  std::vector<MenuDef> menus;
  std::string icon;
  // Where the window's size and place are remembered (the profile entry);
  // empty: its caption. Windows that share a caption but not a layout
  // (the report choosers) each keep their own.
  std::string place;

  WindowDef Size(int w, int h) const {
    WindowDef d = *this;
    d.width = w;
    d.height = h;
    return d;
  }
  WindowDef Timer(int hundredths) const {
    WindowDef d = *this;
    d.timer = hundredths;
    return d;
  }
  WindowDef Place(std::string entry) const {
    WindowDef d = *this;
    d.place = std::move(entry);
    return d;
  }
  WindowDef Menus(std::vector<MenuDef> m) const {
    WindowDef d = *this;
    d.menus = std::move(m);
    return d;
  }
};

// --- Builders that read like the window's description.
namespace internal {
inline ControlDef Make(ControlKind kind, ControlId id, std::string text = {}) {
  ControlDef c;
  c.kind = kind;
  c.id = id;
  c.text = std::move(text);
  return c;
}
}  // namespace internal

inline ControlDef Prompt(std::string text, ControlId id = kNoControl) {
  return internal::Make(ControlKind::kPrompt, id, std::move(text));
}
inline ControlDef Entry(ControlId id, std::string picture, std::string text = {}) {
  ControlDef c = internal::Make(ControlKind::kEntry, id, std::move(text));
  c.picture = std::move(picture);
  return c;
}
inline ControlDef TextBox(ControlId id, std::string text = {}) {
  return internal::Make(ControlKind::kText, id, std::move(text));
}
inline ControlDef Button(ControlId id, std::string text) {
  return internal::Make(ControlKind::kButton, id, std::move(text));
}
inline ControlDef Check(ControlId id, std::string text) {
  return internal::Make(ControlKind::kCheck, id, std::move(text));
}
// Option group: radios numbered 1.. in the order given.
inline ControlDef Option(ControlId id, std::string text, std::vector<std::string> radios) {
  ControlDef c = internal::Make(ControlKind::kOption, id, std::move(text));
  c.items = std::move(radios);
  return c;
}
// Drop list of fixed items (choice 1..), or over a file when a Browse is
// attached to it.
inline ControlDef DropList(ControlId id, std::vector<std::string> items, std::string picture = {}) {
  ControlDef c = internal::Make(ControlKind::kDropList, id);
  c.items = std::move(items);
  c.picture = std::move(picture);
  return c;
}
// Combination box over a file (attach a Browse): an entry with a picture
// whose drop-down lists the file in columns; choosing a row stores the
// row's first column into the entry.
inline ControlDef Combo(ControlId id, std::string picture, std::vector<Column> columns) {
  ControlDef c = DropList(id, {}, std::move(picture));
  c.columns = std::move(columns);
  return c;
}
inline ControlDef List(ControlId id, std::vector<Column> columns, std::string text = {}) {
  ControlDef c = internal::Make(ControlKind::kList, id, std::move(text));
  c.columns = std::move(columns);
  return c;
}
inline ControlDef Sheet(ControlId id, std::vector<ControlDef> tabs) {
  ControlDef c = internal::Make(ControlKind::kSheet, id);
  c.children = std::move(tabs);
  return c;
}
inline ControlDef Tab(std::string text, std::vector<ControlDef> controls,
                      ControlId id = kNoControl) {
  ControlDef c = internal::Make(ControlKind::kTab, id, std::move(text));
  c.children = std::move(controls);
  return c;
}
inline ControlDef Group(std::string text, std::vector<ControlDef> controls,
                        ControlId id = kNoControl) {
  ControlDef c = internal::Make(ControlKind::kGroup, id, std::move(text));
  c.children = std::move(controls);
  return c;
}
// A frameless block whose children are laid out `columns` to a row, in
// reading order (a calendar's days).
inline ControlDef Grid(int columns, std::vector<ControlDef> controls, ControlId id = kNoControl) {
  ControlDef c = Group({}, std::move(controls), id);
  c.grid_columns = columns;
  return c;
}
inline ControlDef Progress(ControlId id) {
  return internal::Make(ControlKind::kProgress, id);
}
inline ControlDef Image(ControlId id, std::string picture) {
  return internal::Make(ControlKind::kImage, id, std::move(picture));
}
inline ControlDef Animation(ControlId id, std::vector<std::string> frames, int period) {
  ControlDef c = internal::Make(ControlKind::kAnimation, id);
  c.frames = std::move(frames);
  c.frame_period = period;
  return c;
}
inline Column Col(std::string header, std::string picture, std::string field) {
  Column c;
  c.header = std::move(header);
  c.picture = std::move(picture);
  c.field = std::move(field);
  return c;
}
inline MenuDef Menu(std::string text, std::vector<MenuDef> items) {
  MenuDef m;
  m.text = std::move(text);
  m.items = std::move(items);
  return m;
}
inline MenuDef Item(ControlId id, std::string text) {
  MenuDef m;
  m.text = std::move(text);
  m.id = id;
  return m;
}

// Splits "Sí|No|Cancelar" at '|'.
NV_API std::vector<std::string> SplitBar(std::string_view text);

}  // namespace nv::ui
