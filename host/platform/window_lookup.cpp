// Top-level window lookup by title through X11 EWMH.
#include <mutex>

#include "host/platform/platform.h"

#ifdef NV_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace nv::platform {

namespace {

std::mutex& LookupMutex() {
  static std::mutex m;
  return m;
}
WindowLookup& Lookup() {
  static WindowLookup l;
  return l;
}

#ifdef NV_HAVE_X11
// Windows may vanish between listing and reading their names: ignore errors.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

// Property of a window as bytes; false when missing.
bool GetProperty(Display* d, Window w, Atom property, Atom type, std::string* out,
                 unsigned long* items, int* format) {
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, property, 0, 1 << 20, False, type, &actual_type, &actual_format, &n,
                         &after, &data) != Success ||
      data == nullptr) {
    return false;
  }
  size_t unit = actual_format == 32 ? sizeof(long) : size_t(actual_format / 8);
  out->assign(reinterpret_cast<const char*>(data), n * unit);
  *items = n;
  *format = actual_format;
  XFree(data);
  return actual_type != None;
}

std::string WindowTitle(Display* d, Window w, Atom net_wm_name, Atom utf8) {
  std::string bytes;
  unsigned long n = 0;
  int format = 0;
  if (GetProperty(d, w, net_wm_name, utf8, &bytes, &n, &format) && format == 8) return bytes;
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name != nullptr) {
    std::string t(name);
    XFree(name);
    return t;
  }
  return {};
}
#endif

}  // namespace

bool FindX11Window(std::string_view title, const char* display_name) {
#ifdef NV_HAVE_X11
  Display* d = XOpenDisplay(display_name);
  if (d == nullptr) return false;
  auto old = XSetErrorHandler(IgnoreXError);
  Atom client_list = XInternAtom(d, "_NET_CLIENT_LIST", True);
  Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  bool found = false;
  std::string bytes;
  unsigned long n = 0;
  int format = 0;
  if (client_list != None &&
      GetProperty(d, DefaultRootWindow(d), client_list, XA_WINDOW, &bytes, &n, &format) &&
      format == 32) {
    const long* windows = reinterpret_cast<const long*>(bytes.data());
    for (unsigned long i = 0; i < n && !found; ++i) {
      found = WindowTitle(d, Window(windows[i]), net_wm_name, utf8) == title;
    }
  }
  XSync(d, False);
  XSetErrorHandler(old);
  XCloseDisplay(d);
  return found;
#else
  (void)title;
  (void)display_name;
  return false;
#endif
}

bool FindTopLevelWindow(std::string_view title) {
  WindowLookup l;
  {
    std::lock_guard<std::mutex> g(LookupMutex());
    l = Lookup();
  }
  return l ? l(title) : FindX11Window(title);
}

void SetWindowLookup(WindowLookup lookup) {
  std::lock_guard<std::mutex> g(LookupMutex());
  Lookup() = std::move(lookup);
}

}  // namespace nv::platform
