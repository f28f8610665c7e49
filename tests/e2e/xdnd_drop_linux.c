/* qvr_xdnd_drop WINDOW PATH... drops the files (absolute paths) onto the X window through XDND, as a file manager
 * does; qvr_xdnd_drop WINDOW asks it to close (WM_DELETE_WINDOW), as a close box does. Every wait is bounded. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { aEnter, aPosition, aStatus, aDrop, aFinished, aSelection, aCopy, aUriList, aProtocols, aDelete, kAtoms };
static char *atomNames[kAtoms] = {"XdndEnter",     "XdndPosition",   "XdndStatus",    "XdndDrop",
                                  "XdndFinished",  "XdndSelection",  "XdndActionCopy", "text/uri-list",
                                  "WM_PROTOCOLS",  "WM_DELETE_WINDOW"};
static Atom atoms[kAtoms];
static Display *dpy;
static char *uris;
static size_t urisLength;

/* Adds the file:// URI of the path, percent-encoded, as one line of the list. */
static void AppendUri(const char *path) {
  uris = realloc(uris, urisLength + 3 * strlen(path) + 10);
  urisLength += (size_t)sprintf(uris + urisLength, "file://");
  for (const unsigned char *p = (const unsigned char *)path; *p; ++p)
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || strchr("/-._~", *p))
      uris[urisLength++] = (char)*p;
    else
      urisLength += (size_t)sprintf(uris + urisLength, "%%%02X", *p);
  urisLength += (size_t)sprintf(uris + urisLength, "\r\n");
}

/* Hands the URI list (the only target offered) to whoever asks for the drop's selection. */
static void ServeSelection(const XSelectionRequestEvent *req) {
  XSelectionEvent reply = {.type = SelectionNotify, .requestor = req->requestor, .selection = req->selection,
                           .target = req->target, .time = req->time, .property = None};
  if (req->target == atoms[aUriList]) {
    reply.property = req->property ? req->property : req->target;
    XChangeProperty(dpy, req->requestor, reply.property, atoms[aUriList], 8, PropModeReplace, (unsigned char *)uris,
                    (int)urisLength);
  }
  XSendEvent(dpy, req->requestor, False, NoEventMask, (XEvent *)&reply);
}

/* Serves the selection for up to 5 s until a client message of the type arrives; returns its
 * second word with bit 8 set, or 0 when none came. */
static long WaitFor(int type) {
  for (int step = 0; step < 250; ++step) {
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == SelectionRequest) ServeSelection(&ev.xselectionrequest);
      if (ev.type == ClientMessage && ev.xclient.message_type == atoms[type]) return ev.xclient.data.l[1] | 0x100;
    }
    XFlush(dpy);
    struct pollfd pfd = {ConnectionNumber(dpy), POLLIN, 0};
    poll(&pfd, 1, 20);
  }
  return 0;
}

static void Send(Window target, int type, long l0, long l1, long l2, long l3, long l4) {
  XEvent ev = {.xclient = {.type = ClientMessage, .window = target, .message_type = atoms[type], .format = 32,
                           .data.l = {l0, l1, l2, l3, l4}}};
  XSendEvent(dpy, target, False, NoEventMask, &ev);
  XSync(dpy, False);
}

/* Enters the window's middle with the URI list, offering a copy, and drops once it is accepted. */
static const char *Drop(Window target) {
  XWindowAttributes attr;
  Window source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0), child;
  int x, y;
  XGetWindowAttributes(dpy, target, &attr);
  XTranslateCoordinates(dpy, target, DefaultRootWindow(dpy), attr.width / 2, attr.height / 2, &x, &y, &child);
  XSetSelectionOwner(dpy, atoms[aSelection], source, CurrentTime);
  Send(target, aEnter, (long)source, 5L << 24, (long)atoms[aUriList], None, None);
  Send(target, aPosition, (long)source, 0, (x << 16) | (y & 0xFFFF), CurrentTime, (long)atoms[aCopy]);
  long status = WaitFor(aStatus);
  if (!(status & 1)) return status ? "the target refused the drop" : "no XdndStatus in time";
  Send(target, aDrop, (long)source, 0, CurrentTime, 0, 0);
  long finished = WaitFor(aFinished);
  return (finished & 1) ? NULL : finished ? "the target did not accept the drop" : "no XdndFinished in time";
}

int main(int argc, char **argv) {
  if (argc < 2) return fprintf(stderr, "usage: %s WINDOW [PATH...]\n", argv[0]), 2;
  if (!(dpy = XOpenDisplay(NULL))) return fprintf(stderr, "xdnd: cannot open the display\n"), 1;
  XInternAtoms(dpy, atomNames, kAtoms, False, atoms);
  Window target = (Window)strtoul(argv[1], NULL, 0);
  for (int i = 2; i < argc; ++i) AppendUri(argv[i]);
  /* Destroying Wine's X window instead of asking would leave the process hanging. */
  const char *error = NULL;
  if (argc == 2)
    Send(target, aProtocols, (long)atoms[aDelete], CurrentTime, 0, 0, 0);
  else
    error = Drop(target);
  if (error) fprintf(stderr, "xdnd: %s\n", error);
  XCloseDisplay(dpy);
  free(uris);
  return error != NULL;
}
