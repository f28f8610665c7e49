/* Drops files onto an X window through the XDND protocol, the way a desktop's file manager does.
 *
 *   qvr_xdnd_drop --find NAME [--timeout MS]           prints the window whose title is NAME
 *   qvr_xdnd_drop --window ID|--name NAME [--timeout MS] PATH...   drops the files, in order
 *   qvr_xdnd_drop --close ID                           asks the window to close (WM_DELETE_WINDOW)
 *
 * Every wait is bounded. Exit status 0 when the target accepted and finished the drop. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kXdndVersion = 5 };

static Display *dpy;
static Window root, source;
static Atom aAware, aProxy, aEnter, aPosition, aStatus, aLeave, aDrop, aFinished, aSelection, aActionCopy, aUriList,
    aTargets, aNetWmName, aUtf8, aWmProtocols, aDeleteWindow;
static long timeoutMs = 5000;
static char *uriList;
static size_t uriListLength;

static long NowMs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

static void SleepMs(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}

static void InternAtoms(void) {
  aAware = XInternAtom(dpy, "XdndAware", False);
  aProxy = XInternAtom(dpy, "XdndProxy", False);
  aEnter = XInternAtom(dpy, "XdndEnter", False);
  aPosition = XInternAtom(dpy, "XdndPosition", False);
  aStatus = XInternAtom(dpy, "XdndStatus", False);
  aLeave = XInternAtom(dpy, "XdndLeave", False);
  aDrop = XInternAtom(dpy, "XdndDrop", False);
  aFinished = XInternAtom(dpy, "XdndFinished", False);
  aSelection = XInternAtom(dpy, "XdndSelection", False);
  aActionCopy = XInternAtom(dpy, "XdndActionCopy", False);
  aUriList = XInternAtom(dpy, "text/uri-list", False);
  aTargets = XInternAtom(dpy, "TARGETS", False);
  aNetWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
  aUtf8 = XInternAtom(dpy, "UTF8_STRING", False);
  aWmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
  aDeleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
}

/* Reads a 32-bit property of one item; 0 when absent. */
static unsigned long ReadCardinal(Window w, Atom property, Atom type) {
  Atom actual;
  int format;
  unsigned long count, after, value = 0;
  unsigned char *data = NULL;
  if (XGetWindowProperty(dpy, w, property, 0, 1, False, type, &actual, &format, &count, &after, &data) == Success &&
      data && actual == type && format == 32 && count == 1)
    value = ((unsigned long *)data)[0];
  if (data) XFree(data);
  return value;
}

/* The window's title as UTF-8 (caller frees), from _NET_WM_NAME or else WM_NAME. */
static char *WindowTitle(Window w) {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  if (XGetWindowProperty(dpy, w, aNetWmName, 0, 4096, False, aUtf8, &actual, &format, &count, &after, &data) ==
          Success &&
      data && actual == aUtf8) {
    char *title = strndup((char *)data, count);
    XFree(data);
    return title;
  }
  if (data) XFree(data);
  char *name = NULL;
  if (XFetchName(dpy, w, &name) && name) {
    char *title = strdup(name);
    XFree(name);
    return title;
  }
  return NULL;
}

/* The one viewable top-level window titled NAME; 0 when there is none, -1 when several. */
static long FindByTitle(const char *name) {
  Window parent, *children = NULL;
  unsigned int n = 0;
  long found = 0;
  if (!XQueryTree(dpy, root, &root, &parent, &children, &n)) return 0;
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes attr;
    if (!XGetWindowAttributes(dpy, children[i], &attr) || attr.map_state != IsViewable) continue;
    char *title = WindowTitle(children[i]);
    if (title && strcmp(title, name) == 0) found = found ? -1 : (long)children[i];
    free(title);
  }
  if (children) XFree(children);
  return found;
}

static Window WaitForTitle(const char *name) {
  long deadline = NowMs() + timeoutMs;
  for (;;) {
    long w = FindByTitle(name);
    if (w == -1) {
      fprintf(stderr, "xdnd: several windows are titled \"%s\"\n", name);
      return 0;
    }
    if (w) return (Window)w;
    if (NowMs() > deadline) {
      fprintf(stderr, "xdnd: no window titled \"%s\" within %ld ms\n", name, timeoutMs);
      return 0;
    }
    SleepMs(20);
  }
}

static void AppendUri(const char *path) {
  static const char hex[] = "0123456789ABCDEF";
  char cwd[4096] = "";
  if (path[0] != '/' && !getcwd(cwd, sizeof cwd)) cwd[0] = 0;
  size_t need = uriListLength + 8 + 3 * (strlen(cwd) + 1 + strlen(path)) + 3;
  uriList = realloc(uriList, need);
  uriListLength += (size_t)sprintf(uriList + uriListLength, "file://");
  for (int part = 0; part < 2; ++part) {
    const unsigned char *p = (const unsigned char *)(part == 0 ? cwd : path);
    if (part == 1 && cwd[0]) uriList[uriListLength++] = '/';
    for (; *p; ++p) {
      if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || strchr("/-._~", *p)) {
        uriList[uriListLength++] = (char)*p;
      } else {
        uriList[uriListLength++] = '%';
        uriList[uriListLength++] = hex[*p >> 4];
        uriList[uriListLength++] = hex[*p & 15];
      }
    }
  }
  uriList[uriListLength++] = '\r';
  uriList[uriListLength++] = '\n';
  uriList[uriListLength] = 0;
}

static void ServeSelection(const XSelectionRequestEvent *req) {
  XSelectionEvent reply;
  memset(&reply, 0, sizeof reply);
  reply.type = SelectionNotify;
  reply.display = req->display;
  reply.requestor = req->requestor;
  reply.selection = req->selection;
  reply.target = req->target;
  reply.time = req->time;
  reply.property = req->property ? req->property : req->target;
  if (req->target == aUriList) {
    XChangeProperty(dpy, req->requestor, reply.property, aUriList, 8, PropModeReplace, (unsigned char *)uriList,
                    (int)uriListLength);
  } else if (req->target == aTargets) {
    Atom targets[2] = {aTargets, aUriList};
    XChangeProperty(dpy, req->requestor, reply.property, XA_ATOM, 32, PropModeReplace, (unsigned char *)targets, 2);
  } else {
    reply.property = None;
  }
  XSendEvent(dpy, req->requestor, False, NoEventMask, (XEvent *)&reply);
  XFlush(dpy);
}

/* Handles events until a client message of the given type arrives; serves the data meanwhile. */
static int WaitForMessage(Atom type, XClientMessageEvent *out) {
  long deadline = NowMs() + timeoutMs;
  for (;;) {
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == SelectionRequest) ServeSelection(&ev.xselectionrequest);
      if (ev.type == ClientMessage && ev.xclient.message_type == type) {
        *out = ev.xclient;
        return 1;
      }
    }
    long left = deadline - NowMs();
    if (left <= 0) return 0;
    struct pollfd pfd = {ConnectionNumber(dpy), POLLIN, 0};
    poll(&pfd, 1, (int)left);
  }
}

static Time ServerTime(void) {
  XEvent ev;
  XChangeProperty(dpy, source, XA_WM_NAME, XA_STRING, 8, PropModeAppend, (unsigned char *)"", 0);
  XFlush(dpy);
  long deadline = NowMs() + timeoutMs;
  while (NowMs() < deadline) {
    if (XCheckTypedWindowEvent(dpy, source, PropertyNotify, &ev)) return ev.xproperty.time;
    SleepMs(1);
  }
  return CurrentTime;
}

static void SendXdnd(Window dest, Window target, Atom type, long l1, long l2, long l3, long l4) {
  XEvent ev;
  memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = target;
  ev.xclient.message_type = type;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)source;
  ev.xclient.data.l[1] = l1;
  ev.xclient.data.l[2] = l2;
  ev.xclient.data.l[3] = l3;
  ev.xclient.data.l[4] = l4;
  XSendEvent(dpy, dest, False, NoEventMask, &ev);
  XFlush(dpy);
}

static int Drop(Window target) {
  unsigned long version = ReadCardinal(target, aAware, XA_ATOM);
  if (!version) {
    fprintf(stderr, "xdnd: window 0x%lx does not accept drops (no XdndAware)\n", (unsigned long)target);
    return 1;
  }
  if (version > kXdndVersion) version = kXdndVersion;
  Window dest = target;
  Window proxy = (Window)ReadCardinal(target, aProxy, XA_WINDOW);
  if (proxy && (Window)ReadCardinal(proxy, aProxy, XA_WINDOW) == proxy) dest = proxy;

  int x = 0, y = 0;
  Window child;
  XWindowAttributes attr;
  XGetWindowAttributes(dpy, target, &attr);
  XTranslateCoordinates(dpy, target, root, attr.width / 2, attr.height / 2, &x, &y, &child);

  long started = NowMs();
  Time now = ServerTime();
  XSetSelectionOwner(dpy, aSelection, source, now);
  if (XGetSelectionOwner(dpy, aSelection) != source) {
    fprintf(stderr, "xdnd: could not own XdndSelection\n");
    return 1;
  }
  SendXdnd(dest, target, aEnter, (long)(version << 24), (long)aUriList, None, None);
  SendXdnd(dest, target, aPosition, 0, (x << 16) | (y & 0xFFFF), (long)now, (long)aActionCopy);
  XClientMessageEvent status;
  if (!WaitForMessage(aStatus, &status)) {
    fprintf(stderr, "xdnd: no XdndStatus within %ld ms\n", timeoutMs);
    SendXdnd(dest, target, aLeave, 0, 0, 0, 0);
    return 1;
  }
  if (!(status.data.l[1] & 1)) {
    fprintf(stderr, "xdnd: the target refused the drop\n");
    SendXdnd(dest, target, aLeave, 0, 0, 0, 0);
    return 1;
  }
  SendXdnd(dest, target, aDrop, 0, (long)now, 0, 0);
  XClientMessageEvent finished;
  if (!WaitForMessage(aFinished, &finished)) {
    fprintf(stderr, "xdnd: no XdndFinished within %ld ms\n", timeoutMs);
    return 1;
  }
  char *action = finished.data.l[2] ? XGetAtomName(dpy, (Atom)finished.data.l[2]) : NULL;
  printf("dropped window=0x%lx accepted=%ld action=%s ms=%ld\n", (unsigned long)target, finished.data.l[1] & 1,
         action ? action : "None", NowMs() - started);
  if (action) XFree(action);
  return (finished.data.l[1] & 1) ? 0 : 1;
}

static int CloseWindow(Window w) {
  XEvent ev;
  memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = aWmProtocols;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)aDeleteWindow;
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XSync(dpy, False);
  return 0;
}

int main(int argc, char **argv) {
  const char *findName = NULL, *targetName = NULL;
  Window target = 0, closeTarget = 0;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    if (i + 1 >= argc) break;
    if (!strcmp(argv[i], "--find")) findName = argv[++i];
    else if (!strcmp(argv[i], "--name")) targetName = argv[++i];
    else if (!strcmp(argv[i], "--window")) target = (Window)strtoul(argv[++i], NULL, 0);
    else if (!strcmp(argv[i], "--close")) closeTarget = (Window)strtoul(argv[++i], NULL, 0);
    else if (!strcmp(argv[i], "--timeout")) timeoutMs = strtol(argv[++i], NULL, 10);
    else break;
  }
  if (!findName && !closeTarget && ((!target && !targetName) || i >= argc)) {
    fprintf(stderr, "usage: %s --find NAME | --close ID | (--window ID | --name NAME) [--timeout MS] PATH...\n",
            argv[0]);
    return 2;
  }
  dpy = XOpenDisplay(NULL);
  if (!dpy) {
    fprintf(stderr, "xdnd: cannot open display\n");
    return 1;
  }
  root = DefaultRootWindow(dpy);
  InternAtoms();
  if (closeTarget) return CloseWindow(closeTarget);
  if (findName) {
    Window w = WaitForTitle(findName);
    if (w) printf("window 0x%lx\n", (unsigned long)w);
    return w ? 0 : 1;
  }
  if (!target && !(target = WaitForTitle(targetName))) return 1;
  for (; i < argc; ++i) AppendUri(argv[i]);
  source = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(dpy, source, PropertyChangeMask);
  int rc = Drop(target);
  XDestroyWindow(dpy, source);
  XCloseDisplay(dpy);
  free(uriList);
  return rc;
}
