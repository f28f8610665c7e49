// Drives the program's dialogs from another process, as a user and the shell would: starts it with
// an exact command line, reads what its windows show and closes them. One command per line on
// stdin, one answer line on stdout; a command line travels as hex of its UTF-8 bytes, texts read
// back as hex of their code page 932 bytes. No command waits: the caller polls.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string g_exe, g_exeName, g_list;
std::map<DWORD, HANDLE> g_processes;  // held from before they end, for their exit status
std::map<std::string, HANDLE> g_held;  // files held open without sharing, by their hex path

std::string Hex(const char* bytes) {
  std::string out;
  for (const char* p = bytes; *p; ++p) out += {"0123456789abcdef"[(*p >> 4) & 15], "0123456789abcdef"[*p & 15]};
  return out;
}

// Every process of the program, windows or not: a further instance shows up here before its window.
std::set<DWORD> ProgramProcesses() {
  std::set<DWORD> pids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry))
    if (_stricmp(entry.szExeFile, g_exeName.c_str()) == 0) pids.insert(entry.th32ProcessID);
  CloseHandle(snap);
  return pids;
}

// " ; " and one visible dialog (in this Wine prefix, only the program shows any): its handles (the
// X window's from Wine's window property), whether it is in the foreground, the icon its icon
// control shows and where that control is on the screen, then its caption and its five fields.
BOOL CALLBACK ListDialog(HWND hwnd, LPARAM) {
  char cls[16] = "", text[4096];
  if (!IsWindowVisible(hwnd) || !GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, "#32770") != 0) return TRUE;
  HWND iconControl = GetDlgItem(hwnd, 1000);
  DWORD_PTR icon = 0;
  SendMessageTimeoutA(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
  RECT r = {};
  GetWindowRect(iconControl, &r);
  snprintf(text, sizeof text, " ; hwnd=%p xid=%p fg=%d icon=%p rect=%ldx%ld+%ld+%ld", static_cast<void*>(hwnd),
           GetPropA(hwnd, "__wine_x11_whole_window"), GetForegroundWindow() == hwnd, reinterpret_cast<void*>(icon),
           r.right - r.left, r.bottom - r.top, r.left, r.top);
  g_list += text;
  const int ids[] = {0, 1004, 1001, 1002, 1003, 1005};
  const char* names[] = {"caption", "name", "type", "size", "scale", "colors"};
  for (int i = 0; i < 6; ++i) {
    DWORD_PTR got = 0;
    text[0] = 0;
    SendMessageTimeoutA(ids[i] ? GetDlgItem(hwnd, ids[i]) : hwnd, WM_GETTEXT, sizeof text,
                        reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &got);
    g_list += std::string(" ") + names[i] + "=" + Hex(text);
  }
  return TRUE;
}

// Starts the program with exactly "<exe>" followed by the tail, given as hex of its UTF-8 bytes.
std::string Launch(const std::string& hex, const char* dir) {
  std::string utf8 = "\"" + g_exe + "\"";
  for (size_t i = 0; i + 1 < hex.size(); i += 2) utf8 += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::wstring cmd(utf8.size() + 1, L'\0'), wideDir(MAX_PATH, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &cmd[0], static_cast<int>(cmd.size()));
  MultiByteToWideChar(CP_ACP, 0, dir, -1, &wideDir[0], MAX_PATH);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, wideDir.c_str(), &si, &pi))
    return "err CreateProcessW " + std::to_string(GetLastError());
  CloseHandle(pi.hThread);
  g_processes[pi.dwProcessId] = pi.hProcess;
  return "pid " + std::to_string(pi.dwProcessId);
}

// Closes the window one of the user's ways ("x": the caller asks through X; the process is only
// held here). Its exit status is asked for later.
std::string Close(HWND hwnd, const std::string& way) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (!g_processes.count(pid)) g_processes[pid] = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, 0, pid);
  if (way == "ok")
    PostMessageA(GetDlgItem(hwnd, IDCANCEL), BM_CLICK, 0, 0);  // the OK button carries IDCANCEL
  else if (way == "escape" || way == "enter")  // the dialog's keyboard handling makes commands of them
    PostMessageA(hwnd, WM_KEYDOWN, way == "escape" ? VK_ESCAPE : VK_RETURN, 1);
  else if (way == "closebox")
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  else if (way == "notified")  // the OK command with a notification code in the high word
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
  else if (way != "x")
    return "err cannot close by " + way;
  return "pid " + std::to_string(pid);
}

// Opens the file (hex of its UTF-8 path) as another program may: for reading, sharing nothing, so
// that no one else can open it until it is released.
std::string Hold(const std::string& hex) {
  std::string utf8;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) utf8 += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::wstring path(utf8.size() + 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &path[0], static_cast<int>(path.size()));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "err CreateFileW " + std::to_string(GetLastError());
  g_held[hex] = file;
  return "held";
}

void KillAll() {
  for (DWORD pid : ProgramProcesses()) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (h && TerminateProcess(h, 99)) WaitForSingleObject(h, 5000);
    if (h) CloseHandle(h);
  }
  for (auto& p : g_processes) CloseHandle(p.second);
  g_processes.clear();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fputs("usage: dialog_driver PROGRAM.EXE WORKDIR (commands on stdin)\n", stderr), 2;
  g_exe = argv[1];
  g_exeName = g_exe.substr(g_exe.find_last_of("\\/") + 1);
  char line[65536];
  for (puts("ready"); fflush(stdout) == 0 && fgets(line, sizeof line, stdin);) {
    std::istringstream in(line);
    std::string cmd, arg, way, reply = "killed";
    in >> cmd >> arg >> way;
    DWORD code = 0, pid = strtoul(arg.c_str(), nullptr, 10);
    if (cmd == "list") {  // "N ; window ; window ...": the number of the program's processes, its dialogs
      g_list = std::to_string(ProgramProcesses().size());
      EnumWindows(ListDialog, 0);
      reply = g_list;
    } else if (cmd == "launch") {
      reply = Launch(arg, argv[2]);
    } else if (cmd == "close") {
      reply = Close(reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(arg.c_str(), nullptr, 16))), way);
    } else if (cmd == "exit") {  // of a process started or closed here; 259 while it runs
      bool known = g_processes.count(pid) && GetExitCodeProcess(g_processes[pid], &code);
      reply = known ? "exit " + std::to_string(code) : "err process unknown";
    } else if (cmd == "killall") {
      KillAll();
    } else if (cmd == "hold") {
      reply = Hold(arg);
    } else if (cmd == "release") {  // every held file
      for (auto& held : g_held) CloseHandle(held.second);
      g_held.clear();
      reply = "released";
    } else {
      reply = "err unknown command " + cmd;
    }
    printf("%s\n", reply.c_str());
  }
  KillAll();
  return 0;
}
