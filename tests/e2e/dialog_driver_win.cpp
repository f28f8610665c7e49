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
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The texts read from a dialog: its caption (id 0) and the five fields.
const struct {
  int id;
  const char* name;
} kTexts[] = {{0, "caption"}, {1004, "name"}, {1001, "type"}, {1002, "size"}, {1003, "scale"}, {1005, "colors"}};

std::string g_exePath;  // the program under test, as a Windows path
std::string g_exeName;  // and its file name, which tells its processes apart
std::string g_workDir;
std::map<DWORD, HANDLE> g_processes;  // processes started or closed here, kept open for their exit codes
HWND g_stealer;                       // a window of ours that can take the foreground
DWORD g_stealerThread;

std::string Hex(const std::string& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) out += (snprintf(pair, sizeof pair, "%02x", c), pair);
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

// Processes of the program, windows or not: a further instance shows up here before its window does.
std::set<DWORD> ProgramProcesses() {
  std::set<DWORD> pids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry))
    if (_stricmp(entry.szExeFile, g_exeName.c_str()) == 0) pids.insert(entry.th32ProcessID);
  if (snap != INVALID_HANDLE_VALUE) CloseHandle(snap);
  return pids;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

struct Search {
  std::set<DWORD> pids;
  std::vector<HWND> shown;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  char cls[64] = "";
  GetClassNameA(hwnd, cls, sizeof cls);
  if (strcmp(cls, "#32770") == 0 && search->pids.count(ProcessOf(hwnd)) && IsWindowVisible(hwnd))
    search->shown.push_back(hwnd);
  return TRUE;
}

// The program's dialogs that are up: visible and past their initialisation.
std::vector<HWND> ProgramWindows() {
  Search search = {ProgramProcesses(), {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.shown;
}

// Polls until the condition holds or the time is up; every wait of the driver is bounded by it.
template <typename Condition>
bool WaitUntil(DWORD timeoutMs, DWORD stepMs, Condition done) {
  for (DWORD start = GetTickCount();; Sleep(stepMs)) {
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
  }
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
  for (HWND w : ProgramWindows()) line += " " + HandleText(w) + ":" + std::to_string(ProcessOf(w));
  return line;
}

std::string ProcessesLine() {
  std::string line = "processes";
  for (DWORD pid : ProgramProcesses()) line += " " + std::to_string(pid);
  return line;
}

HWND ParseWindow(const std::string& text) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(text.c_str(), nullptr, 16)));
}

std::string InfoLine(HWND hwnd) {
  if (!IsWindow(hwnd)) return "err no such window " + HandleText(hwnd);
  std::string line = "info hwnd=" + HandleText(hwnd) + " pid=" + std::to_string(ProcessOf(hwnd));
  line += std::string(" visible=") + (IsWindowVisible(hwnd) ? "1" : "0") + " iconic=" + (IsIconic(hwnd) ? "1" : "0") +
          " fg=" + (GetForegroundWindow() == hwnd ? "1" : "0");
  DWORD_PTR icon = 0;
  HWND iconCtrl = GetDlgItem(hwnd, 1000);
  if (iconCtrl) SendMessageTimeoutA(iconCtrl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
  line += " icon=" + HandleText(reinterpret_cast<void*>(icon));
  for (const auto& t : kTexts) {
    HWND ctrl = t.id ? GetDlgItem(hwnd, t.id) : hwnd;
    std::string text;
    if (!ctrl || !ReadText(ctrl, &text)) return std::string("err the ") + t.name + " of the window is not readable";
    line += std::string(" ") + t.name + "=" + Hex(text);
  }
  return line;
}

// Starts the program with exactly "<exe>" followed by the given tail.
std::string Launch(const std::string& tail) {
  std::string cmd = "\"" + g_exePath + "\"" + tail;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                      g_workDir.empty() ? nullptr : g_workDir.c_str(), &si, &pi))
    return "err CreateProcessA failed " + std::to_string(GetLastError());
  CloseHandle(pi.hThread);
  g_processes[pi.dwProcessId] = pi.hProcess;
  return "pid " + std::to_string(pi.dwProcessId);
}

std::string WaitCount(size_t count, DWORD timeoutMs) {
  // Count again a moment later, so that a chain of instances still starting does not end the wait.
  bool up = WaitUntil(timeoutMs, 20, [&] {
    return ProgramWindows().size() == count && (Sleep(50), ProgramWindows().size() == count);
  });
  return (up ? "" : "timeout ") + ListLine();
}

// Waits until the name field of the window reads the given bytes.
std::string WaitName(HWND hwnd, const std::string& name, DWORD timeoutMs) {
  std::string text;
  bool shown = WaitUntil(timeoutMs, 5, [&] {
    HWND ctrl = GetDlgItem(hwnd, 1004);
    return !IsWindow(hwnd) || (ctrl && ReadText(ctrl, &text) && text == name);
  });
  if (!IsWindow(hwnd)) return "err window " + HandleText(hwnd) + " went away";
  return (shown ? "" : "timeout ") + InfoLine(hwnd);
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
  DWORD pid = ProcessOf(hwnd);
  if (!ProgramProcesses().count(pid)) return "err " + HandleText(hwnd) + " is not a window of the program";
  // Held from before the window closes, so that the exit status can still be read.
  if (!g_processes.count(pid)) g_processes[pid] = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, 0, pid);
  HWND button = GetDlgItem(hwnd, IDCANCEL);  // the OK button
  if (how == "ok" && button)
    PostMessageA(button, BM_CLICK, 0, 0);
  else if (how == "escape" || how == "enter")
    PostKey(hwnd, how == "escape" ? VK_ESCAPE : VK_RETURN);
  else if (how == "closebox")
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  else
    return "err cannot close by " + how;
  // The window leaves the screen at once, but Wine takes about two seconds to tear the process down,
  // so the exit status is collected later with waitexit and several processes can end together.
  if (!WaitUntil(10000, 5, [&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); }))
    return "timeout window still there";
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
  return WaitUntil(3000, 10, [] { return GetForegroundWindow() == g_stealer; }) ? "fg 1" : "fg 0";
}

std::string KillAll() {
  for (DWORD pid : ProgramProcesses()) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (h && TerminateProcess(h, 99)) WaitForSingleObject(h, 5000);
    if (h) CloseHandle(h);
  }
  for (auto& p : g_processes) CloseHandle(p.second);
  g_processes.clear();
  return "killed";
}

std::string Handle(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a1, a2, a3;
  in >> cmd >> a1 >> a2 >> a3;
  auto num = [](const std::string& s) { return static_cast<DWORD>(strtoul(s.c_str(), nullptr, 10)); };
  if (cmd == "launch") return Launch(Unhex(a1));
  if (cmd == "list") return ListLine();
  if (cmd == "processes") return ProcessesLine();
  if (cmd == "waitcount") return WaitCount(num(a1), num(a2));
  if (cmd == "info") return InfoLine(ParseWindow(a1));
  if (cmd == "waitname") return WaitName(ParseWindow(a1), Unhex(a2), num(a3));
  if (cmd == "close") return Close(ParseWindow(a1), a2);
  if (cmd == "waitexit") return WaitExit(num(a1), num(a2));
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
  g_exeName = g_exePath.substr(g_exePath.find_last_of("\\/") + 1);
  if (argc > 2) g_workDir = argv[2];
  puts("ready");
  fflush(stdout);
  char line[65536];
  while (fgets(line, sizeof line, stdin)) {
    std::string text = line;
    text.erase(text.find_last_not_of(" \r\n") + 1);
    if (text == "quit") break;
    if (!text.empty()) printf("%s\n", Handle(text).c_str());
    fflush(stdout);
  }
  KillAll();
  return 0;
}
