/* Drops files onto an X window through the XDND protocol, the way a desktop's file manager does.
 *
 *   qvr_xdnd_drop [--timeout MS] --find NAME           prints the window whose title is NAME
 *   qvr_xdnd_drop [--timeout MS] --window ID PATH...   drops the files (absolute paths), in order
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

enum { kXdndVersion = 5 };
enum { aAware, aProxy, aEnter, aPosition, aStatus, aLeave, aDrop, aFinished, aSelection, aActionCopy, aUriList,
       aTargets, aNetWmName, aUtf8, aWmProtocols, aDeleteWindow, kAtomCount };
static char *atomNames[kAtomCount] = {
    "XdndAware",      "XdndProxy",     "XdndEnter",   "XdndPosition", "XdndStatus",   "XdndLeave",
    "XdndDrop",       "XdndFinished",  "XdndSelection", "XdndActionCopy", "text/uri-list", "TARGETS",
    "_NET_WM_NAME",   "UTF8_STRING",   "WM_PROTOCOLS", "WM_DELETE_WINDOW"};
static Atom atoms[kAtomCount];

static Display *dpy;
static Window root, source;
static long timeoutMs = 5000;
static char *uriList;
static size_t uriListLength;

static long NowMs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
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

/* Whether the window's title, from _NET_WM_NAME (UTF-8) or else WM_NAME, is NAME. */
static int HasTitle(Window w, const char *name) {
  Atom actual;
  int format, same = 0;
  unsigned long count, after;
  unsigned char *data = NULL;
  char *plain = NULL;
  if (XGetWindowProperty(dpy, w, atoms[aNetWmName], 0, 4096, False, atoms[aUtf8], &actual, &format, &count, &after,
                         &data) == Success && data && actual == atoms[aUtf8])
    same = strlen(name) == count && memcmp(data, name, count) == 0;
  else if (XFetchName(dpy, w, &plain) && plain)
    same = strcmp(plain, name) == 0;
  if (data) XFree(data);
  if (plain) XFree(plain);
  return same;
}

/* The one viewable top-level window titled NAME; 0 when there is none, -1 when several. */
static long FindByTitle(const char *name) {
  Window parent, *children = NULL;
  unsigned int n = 0;
  long found = 0;
  if (!XQueryTree(dpy, root, &root, &parent, &children, &n)) return 0;
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes attr;
    if (XGetWindowAttributes(dpy, children[i], &attr) && attr.map_state == IsViewable && HasTitle(children[i], name))
      found = found ? -1 : (long)children[i];
  }
  if (children) XFree(children);
  return found;
}

static int Find(const char *name) {
  long deadline = NowMs() + timeoutMs, w;
  while (!(w = FindByTitle(name)) && NowMs() < deadline) poll(NULL, 0, 20);
  if (w > 0) printf("window 0x%lx\n", (unsigned long)w);
  else if (w < 0) fprintf(stderr, "xdnd: several windows are titled \"%s\"\n", name);
  else fprintf(stderr, "xdnd: no window titled \"%s\" within %ld ms\n", name, timeoutMs);
  return w > 0 ? 0 : 1;
}

/* Adds file://PATH, percent-encoded, to the uri list. */
static void AppendUri(const char *path) {
  uriList = realloc(uriList, uriListLength + 7 + 3 * strlen(path) + 3);
  uriListLength += (size_t)sprintf(uriList + uriListLength, "file://");
  for (const unsigned char *p = (const unsigned char *)path; *p; ++p) {
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || strchr("/-._~", *p))
      uriList[uriListLength++] = (char)*p;
    else
      uriListLength += (size_t)sprintf(uriList + uriListLength, "%%%02X", *p);
  }
  uriListLength += (size_t)sprintf(uriList + uriListLength, "\r\n");
}

static void ServeSelection(const XSelectionRequestEvent *req) {
  XSelectionEvent reply = {.type = SelectionNotify, .display = req->display, .requestor = req->requestor,
                           .selection = req->selection, .target = req->target, .time = req->time,
                           .property = req->property ? req->property : req->target};
  Atom targets[2] = {atoms[aTargets], atoms[aUriList]};
  if (req->target == atoms[aUriList])
    XChangeProperty(dpy, req->requestor, reply.property, atoms[aUriList], 8, PropModeReplace,
                    (unsigned char *)uriList, (int)uriListLength);
  else if (req->target == atoms[aTargets])
    XChangeProperty(dpy, req->requestor, reply.property, XA_ATOM, 32, PropModeReplace, (unsigned char *)targets, 2);
  else
    reply.property = None;
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
  for (long deadline = NowMs() + timeoutMs; NowMs() < deadline; poll(NULL, 0, 1))
    if (XCheckTypedWindowEvent(dpy, source, PropertyNotify, &ev)) return ev.xproperty.time;
  return CurrentTime;
}

/* Sends a 32-bit client message about `window` to `dest` (the window itself or its XDND proxy). */
static void SendClient(Window dest, Window window, int type, long l0, long l1, long l2, long l3, long l4) {
  XEvent ev = {.xclient = {.type = ClientMessage, .window = window, .message_type = atoms[type], .format = 32,
                           .data.l = {l0, l1, l2, l3, l4}}};
  XSendEvent(dpy, dest, False, NoEventMask, &ev);
  XSync(dpy, False);
}

static int Fail(const char *message, Window dest, Window target) {
  fprintf(stderr, "xdnd: %s\n", message);
  if (dest) SendClient(dest, target, aLeave, (long)source, 0, 0, 0, 0);
  return 1;
}

static int Drop(Window target) {
  unsigned long version = ReadCardinal(target, atoms[aAware], XA_ATOM);
  if (!version) return Fail("the window does not accept drops (no XdndAware)", 0, 0);
  if (version > kXdndVersion) version = kXdndVersion;
  Window dest = target;
  Window proxy = (Window)ReadCardinal(target, atoms[aProxy], XA_WINDOW);
  if (proxy && (Window)ReadCardinal(proxy, atoms[aProxy], XA_WINDOW) == proxy) dest = proxy;

  int x = 0, y = 0;
  Window child;
  XWindowAttributes attr;
  XGetWindowAttributes(dpy, target, &attr);
  XTranslateCoordinates(dpy, target, root, attr.width / 2, attr.height / 2, &x, &y, &child);

  Time now = ServerTime();
  XSetSelectionOwner(dpy, atoms[aSelection], source, now);
  if (XGetSelectionOwner(dpy, atoms[aSelection]) != source) return Fail("could not own XdndSelection", 0, 0);
  long me = (long)source;
  SendClient(dest, target, aEnter, me, (long)(version << 24), (long)atoms[aUriList], None, None);
  SendClient(dest, target, aPosition, me, 0, (x << 16) | (y & 0xFFFF), (long)now, (long)atoms[aActionCopy]);
  XClientMessageEvent reply;
  if (!WaitForMessage(atoms[aStatus], &reply)) return Fail("no XdndStatus in time", dest, target);
  if (!(reply.data.l[1] & 1)) return Fail("the target refused the drop", dest, target);
  SendClient(dest, target, aDrop, me, 0, (long)now, 0, 0);
  if (!WaitForMessage(atoms[aFinished], &reply)) return Fail("no XdndFinished in time", 0, 0);
  return (reply.data.l[1] & 1) ? 0 : Fail("the target did not accept the drop", 0, 0);
}

int main(int argc, char **argv) {
  const char *findName = NULL;
  Window target = 0, closeTarget = 0;
  int i = 1;
  for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (!strcmp(argv[i], "--find")) findName = argv[i + 1];
    else if (!strcmp(argv[i], "--window")) target = (Window)strtoul(argv[i + 1], NULL, 0);
    else if (!strcmp(argv[i], "--close")) closeTarget = (Window)strtoul(argv[i + 1], NULL, 0);
    else if (!strcmp(argv[i], "--timeout")) timeoutMs = strtol(argv[i + 1], NULL, 10);
    else break;
  }
  if (!findName && !closeTarget && (!target || i >= argc)) {
    fprintf(stderr, "usage: %s [--timeout MS] (--find NAME | --close ID | --window ID PATH...)\n", argv[0]);
    return 2;
  }
  if (!(dpy = XOpenDisplay(NULL))) return Fail("cannot open display", 0, 0);
  root = DefaultRootWindow(dpy);
  XInternAtoms(dpy, atomNames, kAtomCount, False, atoms);
  if (closeTarget) {
    /* What a window manager's close box sends; destroying Wine's X window would leave the process hanging. */
    SendClient(closeTarget, closeTarget, aWmProtocols, (long)atoms[aDeleteWindow], CurrentTime, 0, 0, 0);
    return 0;
  }
  if (findName) return Find(findName);
  for (; i < argc; ++i) AppendUri(argv[i]);
  source = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(dpy, source, PropertyChangeMask);
  int rc = Drop(target);
  XDestroyWindow(dpy, source);
  XCloseDisplay(dpy);
  free(uriList);
  return rc;
}
