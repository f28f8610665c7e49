// Drives the program's dialogs from another process, the way a user and the shell would:
// starts it with an exact command line, finds its windows, reads what they show and closes them.
// Reads one command per line on stdin and answers with one line on stdout; texts are printed as
// hex of their code page 932 bytes so that the test script sees them unchanged.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const int kDlgControls[] = {1004, 1001, 1002, 1003, 1005};
const char* const kDlgControlNames[] = {"name", "type", "size", "scale", "colors"};

std::string g_exePath;  // the program under test, as a Windows path
std::string g_workDir;
std::map<DWORD, HANDLE> g_processes;  // every program process seen, kept open for its exit code
std::map<DWORD, bool> g_isProgram;    // pid -> whether its image is the program under test
HWND g_stealer;                       // a window of ours that can take the foreground
DWORD g_stealerThread;

void Reply(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

bool IsProgramProcess(DWORD pid) {
  auto known = g_isProgram.find(pid);
  if (known != g_isProgram.end() && (!known->second || g_processes.count(pid))) return known->second;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
  if (!h) return false;
  char image[MAX_PATH * 2] = "";
  DWORD size = sizeof image;
  bool mine = QueryFullProcessImageNameA(h, 0, image, &size) && SameNameNoCase(BaseName(image), BaseName(g_exePath));
  g_isProgram[pid] = mine;
  if (mine && !g_processes.count(pid))
    g_processes[pid] = h;
  else
    CloseHandle(h);
  return mine;
}

struct Found {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  char cls[64] = "";
  GetClassNameA(hwnd, cls, sizeof cls);
  if (strcmp(cls, "#32770") != 0) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (IsProgramProcess(pid)) reinterpret_cast<Found*>(param)->windows.push_back(hwnd);
  return TRUE;
}

// The program's dialogs that are up: visible and past their initialisation.
std::vector<HWND> ProgramWindows() {
  Found found;
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  std::vector<HWND> shown;
  for (HWND w : found.windows)
    if (IsWindowVisible(w)) shown.push_back(w);
  return shown;
}

std::string HandleText(const void* h) {
  char buf[32];
  snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

bool ReadText(HWND hwnd, std::string* text) {
  char buf[4096] = "";
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &got))
    return false;
  *text = std::string(buf, strnlen(buf, sizeof buf));
  return true;
}

std::string ListLine() {
  std::string line = "windows";
  for (HWND w : ProgramWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    line += " " + HandleText(w) + ":" + std::to_string(pid);
  }
  return line;
}

// Processes of the program, windows or not: a further instance shows up here before its window does.
std::string ProcessesLine() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return "err no process snapshot";
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  std::string line = "processes";
  for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry))
    if (SameNameNoCase(entry.szExeFile, BaseName(g_exePath))) line += " " + std::to_string(entry.th32ProcessID);
  CloseHandle(snap);
  return line;
}

HWND ParseWindow(const char* text) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(text, nullptr, 16))); }

std::string InfoLine(HWND hwnd) {
  if (!IsWindow(hwnd)) return "err no such window " + HandleText(hwnd);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  std::string line = "info hwnd=" + HandleText(hwnd) + " pid=" + std::to_string(pid);
  line += " visible=" + std::to_string(IsWindowVisible(hwnd) ? 1 : 0);
  line += " iconic=" + std::to_string(IsIconic(hwnd) ? 1 : 0);
  line += " fg=" + std::to_string(GetForegroundWindow() == hwnd ? 1 : 0);
  DWORD_PTR icon = 0;
  HWND iconCtrl = GetDlgItem(hwnd, 1000);
  if (iconCtrl) SendMessageTimeoutA(iconCtrl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
  line += " icon=" + HandleText(reinterpret_cast<void*>(icon));
  std::string text;
  if (!ReadText(hwnd, &text)) return "err caption of " + HandleText(hwnd) + " not readable";
  line += " caption=" + Hex(text);
  for (int i = 0; i < 5; ++i) {
    HWND ctrl = GetDlgItem(hwnd, kDlgControls[i]);
    if (!ctrl) return "err control " + std::to_string(kDlgControls[i]) + " missing";
    if (!ReadText(ctrl, &text)) return "err control " + std::to_string(kDlgControls[i]) + " not readable";
    line += std::string(" ") + kDlgControlNames[i] + "=" + Hex(text);
  }
  return line;
}

// Starts the program with exactly "<exe>" followed by the given tail, optionally with a show command.
std::string Launch(const std::string& tail, int show) {
  std::string cmd = "\"" + g_exePath + "\"" + tail;
  std::vector<char> buf(cmd.begin(), cmd.end());
  buf.push_back(0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (show >= 0) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
  }
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      g_workDir.empty() ? nullptr : g_workDir.c_str(), &si, &pi))
    return "err CreateProcessA failed " + std::to_string(GetLastError());
  CloseHandle(pi.hThread);
  g_processes[pi.dwProcessId] = pi.hProcess;
  g_isProgram[pi.dwProcessId] = true;
  return "pid " + std::to_string(pi.dwProcessId);
}

std::string WaitCount(size_t count, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (ProgramWindows().size() == count) {
      // Count again a moment later, so that a chain of instances still starting does not end the wait.
      Sleep(50);
      if (ProgramWindows().size() == count) return ListLine();
    }
    if (GetTickCount() - start > timeoutMs) return "timeout " + ListLine();
    Sleep(20);
  }
}

// Waits until the name field of the window reads the given bytes.
std::string WaitName(HWND hwnd, const std::string& name, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND ctrl = GetDlgItem(hwnd, 1004);
    std::string text;
    if (ctrl && ReadText(ctrl, &text) && text == name) return InfoLine(hwnd);
    if (!IsWindow(hwnd)) return "err window " + HandleText(hwnd) + " went away";
    if (GetTickCount() - start > timeoutMs) return "timeout " + InfoLine(hwnd);
    Sleep(5);
  }
}

std::string WaitExit(DWORD pid, DWORD timeoutMs) {
  auto it = g_processes.find(pid);
  if (it == g_processes.end()) return "err process " + std::to_string(pid) + " unknown";
  if (WaitForSingleObject(it->second, timeoutMs) != WAIT_OBJECT_0) return "exit timeout";
  DWORD code = 0;
  GetExitCodeProcess(it->second, &code);
  CloseHandle(it->second);
  g_processes.erase(it);
  return "exit " + std::to_string(static_cast<long>(code));
}

void PostKey(HWND dlg, WPARAM key) {
  DWORD tid = GetWindowThreadProcessId(dlg, nullptr);
  GUITHREADINFO gti = {};
  gti.cbSize = sizeof gti;
  HWND target = dlg;
  if (GetGUIThreadInfo(tid, &gti) && gti.hwndFocus) target = gti.hwndFocus;
  UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
  PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

// Closes the window one of the user's ways and waits until it is gone.
std::string Close(HWND hwnd, const std::string& how) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (!pid || !IsProgramProcess(pid)) return "err " + HandleText(hwnd) + " is not a window of the program";
  if (how == "ok") {
    HWND button = GetDlgItem(hwnd, IDCANCEL);
    if (!button) return "err no OK button";
    PostMessageA(button, BM_CLICK, 0, 0);
  } else if (how == "escape") {
    PostKey(hwnd, VK_ESCAPE);
  } else if (how == "enter") {
    PostKey(hwnd, VK_RETURN);
  } else if (how == "closebox") {
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (how == "wmclose") {
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
  } else {
    return "err unknown way " + how;
  }
  // The window leaves the screen at once, but Wine takes about two seconds to tear the process down,
  // so the exit status is collected later with waitexit and several processes can end together.
  DWORD start = GetTickCount();
  while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
    if (GetTickCount() - start > 10000) return "timeout window still there";
    Sleep(5);
  }
  return "closed " + std::to_string(pid);
}

DWORD WINAPI StealerThread(LPVOID ready) {
  g_stealer = CreateWindowExA(0, "STATIC", "qvr-e2e-stealer", WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_APP) SetForegroundWindow(g_stealer);
    DispatchMessageA(&msg);
  }
  return 0;
}

// Puts a window of our own in the foreground, so that a later foreground check means something.
std::string Steal() {
  if (!g_stealer) {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, StealerThread, ready, 0, &g_stealerThread);
    WaitForSingleObject(ready, 5000);
    CloseHandle(ready);
  }
  PostThreadMessageA(g_stealerThread, WM_APP, 0, 0);
  DWORD start = GetTickCount();
  while (GetForegroundWindow() != g_stealer && GetTickCount() - start < 3000) Sleep(10);
  return std::string("fg ") + (GetForegroundWindow() == g_stealer ? "1" : "0");
}

std::string KillAll() {
  ProgramWindows();
  int killed = 0;
  for (auto& p : g_processes) {
    if (WaitForSingleObject(p.second, 0) == WAIT_TIMEOUT) {
      TerminateProcess(p.second, 99);
      WaitForSingleObject(p.second, 5000);
      ++killed;
    }
    CloseHandle(p.second);
  }
  g_processes.clear();
  g_isProgram.clear();
  return "killed " + std::to_string(killed);
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  return words;
}

std::string Handle(const std::vector<std::string>& w) {
  const std::string& cmd = w[0];
  auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string(); };
  if (cmd == "launch") return Launch(Unhex(arg(1)), w.size() > 2 ? atoi(w[2].c_str()) : -1);
  if (cmd == "list") return ListLine();
  if (cmd == "processes") return ProcessesLine();
  if (cmd == "waitcount") return WaitCount(strtoul(arg(1).c_str(), nullptr, 10), strtoul(arg(2).c_str(), nullptr, 10));
  if (cmd == "info") return InfoLine(ParseWindow(arg(1).c_str()));
  if (cmd == "waitname")
    return WaitName(ParseWindow(arg(1).c_str()), Unhex(arg(2)), strtoul(arg(3).c_str(), nullptr, 10));
  if (cmd == "close") return Close(ParseWindow(arg(1).c_str()), arg(2));
  if (cmd == "waitexit") return WaitExit(strtoul(arg(1).c_str(), nullptr, 10), strtoul(arg(2).c_str(), nullptr, 10));
  if (cmd == "steal") return Steal();
  if (cmd == "killall") return KillAll();
  return "err unknown command " + cmd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: dialog_driver PROGRAM.EXE [WORKDIR]  (commands on stdin)\n", stderr);
    return 2;
  }
  g_exePath = argv[1];
  if (argc > 2) g_workDir = argv[2];
  Reply("ready");
  char line[65536];
  while (fgets(line, sizeof line, stdin)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::vector<std::string> words = Split(text);
    if (words.empty()) continue;
    if (words[0] == "quit") break;
    Reply(Handle(words));
  }
  KillAll();
  return 0;
}
