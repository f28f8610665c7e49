// Drives the program's dialogs as a user and the shell would: a command a line on stdin, an answer line on stdout;
// paths go as hex of UTF-8, texts come back as hex of code page 932. No command waits but "console".
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string g_exe, g_exeName, g_list;
const char* g_dir;
std::map<DWORD, HANDLE> g_processes;  // held from before they end, for their exit status
std::vector<HANDLE> g_held;  // files held open without sharing, until "killall"

std::string Hex(const std::string& bytes) {
  std::string out;
  for (char c : bytes) out += {"0123456789abcdef"[(c >> 4) & 15], "0123456789abcdef"[c & 15]};
  return out;
}

std::wstring Wide(const std::string& hex, UINT cp = CP_UTF8) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::wstring wide(bytes.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(cp, 0, bytes.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
  return wide;
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

// " ; " and a visible dialog (only the program's show here): handles, foreground, the icon shown and where, texts.
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

// Starts the command line in the work folder; its handles inherited when `si` names any.
bool Start(std::wstring cmd, STARTUPINFOW* si, PROCESS_INFORMATION* pi) {
  si->cb = sizeof *si;
  return CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, si->dwFlags != 0, 0, nullptr,
                        Wide(Hex(g_dir), CP_ACP).c_str(), si, pi);
}

// Starts the program with exactly "<exe>" followed by the tail.
std::string Launch(const std::string& hex) {
  STARTUPINFOW si = {};
  PROCESS_INFORMATION pi = {};
  if (!Start(Wide(Hex("\"" + g_exe + "\"")) + Wide(hex), &si, &pi))
    return "err CreateProcessW " + std::to_string(GetLastError());
  CloseHandle(pi.hThread);
  g_processes[pi.dwProcessId] = pi.hProcess;
  return "pid " + std::to_string(pi.dwProcessId);
}

// Closes the window one of the user's ways ("x": the caller asks through X). Its exit status is asked for later.
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

// The lines of the console's screen without the blanks that end them, the empty ones at the end left out.
std::wstring Screen(HANDLE out) {
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  GetConsoleScreenBufferInfo(out, &info);
  std::wstring screen, line(info.dwSize.X, L' ');
  for (SHORT y = 0; y < info.dwSize.Y; ++y) {
    DWORD got = 0;
    ReadConsoleOutputCharacterW(out, &line[0], info.dwSize.X, COORD{0, y}, &got);
    screen += line.substr(0, line.find_last_not_of(L' ', got ? got - 1 : 0) + 1) + L"\n";
  }
  return screen.substr(0, screen.find_last_not_of(L'\n') + 1);
}

// Runs the command line for at most 60 s on a console of code page `cp` (its standard output NUL for way "err").
// Answers "console STATUS SCREEN SEEN": the screen at the end and every line seen meanwhile, as hex of UTF-8.
std::string Console(const std::string& cp, const std::string& hex, const std::string& way) {
  FreeConsole();
  if (!AllocConsole()) return "err AllocConsole " + std::to_string(GetLastError());
  SetConsoleOutputCP(std::stoi(cp));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  SetConsoleScreenBufferSize(out, COORD{1000, 200});  // no line of the tests wraps
  STARTUPINFOW si = {};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = way == "err" ? nul : out;
  si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::string reply = "err CreateProcessW";
  if (Start(Wide(hex), &si, &pi)) {
    std::wstring seen, now;
    std::set<std::wstring> lines;
    DWORD code = STILL_ACTIVE;
    for (int i = 0; i < 3000 && WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT; ++i) {
      std::wistringstream screen(Screen(out));
      for (std::wstring line; std::getline(screen, line);)
        if (!line.empty() && lines.insert(line).second) seen += line + L"\n";
    }
    GetExitCodeProcess(pi.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(pi.hProcess, 99);
    reply = "console " + std::to_string(code);
    for (const std::wstring& text : {Screen(out), seen}) {
      std::string utf8(text.size() * 3 + 1, '\0');
      utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), 0, 0) - 1);
      reply += " " + Hex(utf8);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(nul);
  CloseHandle(out);
  FreeConsole();
  return reply;
}

// WM_DROPFILES with the paths (a line feed between them) untrimmed, as Wine's XDND does not; DragFinish cannot free
// the fixed block written into the program: a small leak.
std::string DropFiles(HWND hwnd, const std::string& hex) {
  std::wstring paths = Wide(hex) + L'\n';
  for (wchar_t& c : paths) c = c == L'\n' ? L'\0' : c;
  paths += L'\0';
  DROPFILES header = {sizeof header, {0, 0}, FALSE, TRUE};
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  char* remote = process ? static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof header + paths.size() * 2,
                                                              MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
                         : nullptr;
  bool written = remote && WriteProcessMemory(process, remote, &header, sizeof header, nullptr) &&
                 WriteProcessMemory(process, remote + sizeof header, paths.data(), paths.size() * 2, nullptr);
  if (process) CloseHandle(process);
  if (!written || !PostMessageW(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0))
    return "err cannot deliver the drop: " + std::to_string(GetLastError());
  return "dropped";
}

void KillAll() {
  for (DWORD pid : ProgramProcesses()) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (h && TerminateProcess(h, 99)) WaitForSingleObject(h, 5000);
    if (h) CloseHandle(h);
  }
  for (auto& p : g_processes) CloseHandle(p.second);
  for (HANDLE held : g_held) CloseHandle(held);
  g_processes.clear();
  g_held.clear();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fputs("usage: dialog_driver PROGRAM.EXE WORKDIR (commands on stdin)\n", stderr), 2;
  g_exe = argv[1], g_dir = argv[2];
  g_exeName = g_exe.substr(g_exe.find_last_of("\\/") + 1);
  char line[65536];
  for (puts("ready"); fflush(stdout) == 0 && fgets(line, sizeof line, stdin);) {
    std::istringstream in(line);
    std::string cmd, arg, way, hex, reply = "killed";
    in >> cmd >> arg >> way >> hex;
    DWORD code = 0, pid = strtoul(arg.c_str(), nullptr, 10);
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(arg.c_str(), nullptr, 16)));
    if (cmd == "list") {  // "N ; window ; window ...": the number of the program's processes, its dialogs
      g_list = std::to_string(ProgramProcesses().size());
      EnumWindows(ListDialog, 0);
      reply = g_list;
    } else if (cmd == "launch") {  // launch HEX
      reply = Launch(arg);
    } else if (cmd == "close") {  // close HWND WAY
      reply = Close(hwnd, way);
    } else if (cmd == "exit") {  // exit PID, of a process started or closed here; 259 while it runs
      bool known = g_processes.count(pid) && GetExitCodeProcess(g_processes[pid], &code);
      reply = known ? "exit " + std::to_string(code) : "err process unknown";
    } else if (cmd == "dropfiles") {  // dropfiles HWND HEX
      reply = DropFiles(hwnd, way);
    } else if (cmd == "console") {  // console CODEPAGE all|err HEX
      reply = Console(arg, hex, way);
    } else if (cmd == "killall") {  // and lets go of held files
      KillAll();
    } else if (cmd == "hold") {  // hold HEX: opened for reading, sharing nothing, as another program may
      HANDLE file = CreateFileW(Wide(arg).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      reply = file == INVALID_HANDLE_VALUE ? "err CreateFileW " + std::to_string(GetLastError()) : "held";
      if (file != INVALID_HANDLE_VALUE) g_held.push_back(file);
    } else {
      reply = "err unknown command " + cmd;
    }
    printf("%s\n", reply.c_str());
  }
  KillAll();
  return 0;
}
