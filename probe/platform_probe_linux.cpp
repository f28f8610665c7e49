// The Linux stand-ins for the shell: GIO's MIME database for the type name and icon, the file
// system for name and size. Paths are passed through as the file system's bytes; only the text
// shown (type name, display name) is turned into code page 932. The program has one thread, so the
// remembered types below need no lock.
#include "platform_probe.h"

#include "cp932_text.h"

#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <iconv.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

enum {
    SHELL_TYPE_SLOTS = 16,    // distinct content types remembered; a run sees only a few
    CONTENT_TYPE_SIZE = 128,  // longer content types are looked up every time
};

// What the MIME database says about one content type. The database is read once per type: the
// description is already in code page 932 and the icon is shared by reference.
struct ShellType {
    char contentType[CONTENT_TYPE_SIZE];
    char typeName[PLATFORM_TEXT_SIZE];
    GIcon* icon;
};

static ShellType g_shellTypes[SHELL_TYPE_SLOTS];
static unsigned g_nextShellType;
static iconv_t g_toCp932 = reinterpret_cast<iconv_t>(-1);
static bool g_toCp932Opened;

// Converts `inLeft` bytes of valid UTF-8 at `in` on at `*next`, '?' for every character that
// CP932 cannot hold, as far as `*outLeft` bytes of room go.
static void ConvertPart(char* in, size_t inLeft, char** next, size_t* outLeft)
{
    while (inLeft > 0) {
        if (iconv(g_toCp932, &in, &inLeft, next, outLeft) != static_cast<size_t>(-1))
            break;
        if (errno != EILSEQ || *outLeft == 0)
            break; // full: more than any field holds, so the rest would be cut anyway
        char* after = g_utf8_next_char(in);
        inLeft -= static_cast<size_t>(after - in);
        in = after;
        *(*next)++ = '?';
        --*outLeft;
    }
}

// UTF-8 (or invalid bytes, as they may come from the file system) to CP932, with '?' for
// every character that CP932 cannot hold. ASCII is the same bytes in both and needs no
// converter; one converter serves the whole run, as opening one is dearer than converting.
static void ConvertToCp932(const char* utf8, char* out, size_t capacity)
{
    size_t ascii = 0;
    while (ascii + 1 < capacity && utf8[ascii] != '\0' && static_cast<unsigned char>(utf8[ascii]) < 0x80) {
        out[ascii] = utf8[ascii];
        ++ascii;
    }
    out[ascii] = '\0';
    if (ascii + 1 >= capacity || utf8[ascii] == '\0')
        return;
    if (!g_toCp932Opened) {
        g_toCp932 = iconv_open("CP932", "UTF-8");
        g_toCp932Opened = true;
    }
    if (g_toCp932 == reinterpret_cast<iconv_t>(-1)) {
        CopyTextFitted(out, capacity, "?");
        return;
    }
    gchar* valid = g_utf8_make_valid(utf8, -1);
    char converted[PLATFORM_TEXT_SIZE * 2];
    char* next = converted;
    size_t outLeft = sizeof converted - 1;
    iconv(g_toCp932, nullptr, nullptr, nullptr, nullptr);
    // The table turns ¥ and ‾ into the ASCII bytes 0x5C and 0x7E: they are shown full-width.
    for (char* part = valid;;) {
        char* standIn = part;
        while (*standIn != '\0' && !Cp932StandIn(g_utf8_get_char(standIn)))
            standIn = g_utf8_next_char(standIn);
        ConvertPart(part, static_cast<size_t>(standIn - part), &next, &outLeft);
        if (*standIn == '\0' || outLeft < 2)
            break;
        memcpy(next, Cp932StandIn(g_utf8_get_char(standIn)), 2);
        next += 2;
        outLeft -= 2;
        part = g_utf8_next_char(standIn);
    }
    *next = '\0';
    g_free(valid);
    CopyTextFitted(out, capacity, converted);
}

// The content type from the name alone, as the Windows shell goes by the extension: reading the
// content would open the file. Whatever is not a regular file gets its inode type from the mode.
static gchar* GuessContentType(const char* path, mode_t mode)
{
    const char* inodeType = S_ISDIR(mode)    ? "inode/directory"
                          : S_ISFIFO(mode)   ? "inode/fifo"
                          : S_ISCHR(mode)    ? "inode/chardevice"
                          : S_ISBLK(mode)    ? "inode/blockdevice"
                          : S_ISSOCK(mode)   ? "inode/socket"
                                             : nullptr;
    if (inodeType)
        return g_content_type_from_mime_type(inodeType);
    return g_content_type_guess(path, nullptr, 0, nullptr); // it goes by the base name
}

// Reads what the MIME database says about `contentType` into `entry`, which then owns an icon
// reference.
static void LookUpShellType(const char* contentType, ShellType* entry)
{
    gchar* description = g_content_type_get_description(contentType);
    ConvertToCp932(description ? description : "", entry->typeName, sizeof entry->typeName);
    g_free(description);
    entry->icon = g_content_type_get_icon(contentType);
}

// The remembered entry for `contentType`, looked up when it is new; null when the content type
// is too long to remember.
static ShellType* FindShellType(const char* contentType)
{
    static ShellType* s_last = &g_shellTypes[0]; // runs of one type are common
    if (contentType[0] == '\0' || strlen(contentType) >= CONTENT_TYPE_SIZE)
        return nullptr;
    if (strcmp(s_last->contentType, contentType) == 0)
        return s_last;
    for (ShellType& known : g_shellTypes) {
        if (strcmp(known.contentType, contentType) == 0)
            return s_last = &known;
    }
    ShellType* slot = &g_shellTypes[g_nextShellType++ % SHELL_TYPE_SLOTS];
    if (slot->icon)
        g_object_unref(slot->icon); // whoever holds it keeps a reference of their own
    LookUpShellType(contentType, slot);
    strcpy(slot->contentType, contentType);
    return s_last = slot;
}

// One look at a path: an O_PATH descriptor, which neither opens the file for reading nor has
// any effect on a FIFO or device, and what fstat says of that very inode.
struct FileLook {
    const char* path; // null: no look taken
    int fd;           // -1: the path could not be looked up
    struct stat status;
};

static FileLook g_probeLook = {nullptr, -1, {}};

static void TakeLook(const char* path, FileLook* look)
{
    look->path = path;
    look->fd = open(path, O_PATH | O_CLOEXEC);
    if (look->fd >= 0 && fstat(look->fd, &look->status) != 0) {
        close(look->fd);
        look->fd = -1;
    }
}

static void DropLook(FileLook* look)
{
    if (look->fd >= 0)
        close(look->fd);
    look->path = nullptr;
    look->fd = -1;
}

// The probe's look when it is of `path`, else a look of its own taken into `own`.
static const FileLook* LookAt(const char* path, FileLook* own)
{
    if (g_probeLook.path && strcmp(g_probeLook.path, path) == 0)
        return &g_probeLook;
    TakeLook(path, own);
    return own;
}

void BeginFileProbe(const char* path)
{
    DropLook(&g_probeLook);
    TakeLook(path, &g_probeLook);
}

void EndFileProbe()
{
    DropLook(&g_probeLook);
}

int QueryShellFileInfo(const char* path, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    FileLook own = {nullptr, -1, {}};
    const FileLook* look = LookAt(path, &own);
    if (look->fd < 0) {
        DropLook(&own);
        return 0;
    }
    gchar* contentType = GuessContentType(path, look->status.st_mode);
    DropLook(&own);
    if (const ShellType* known = FindShellType(contentType)) {
        memcpy(typeName, known->typeName, PLATFORM_TEXT_SIZE);
        *icon = known->icon ? g_object_ref(known->icon) : nullptr;
    } else {
        ShellType once;
        LookUpShellType(contentType, &once);
        memcpy(typeName, once.typeName, PLATFORM_TEXT_SIZE);
        *icon = once.icon;
    }
    g_free(contentType);
    return 1;
}

// The last component of `path`, as g_path_get_basename takes it ("/" for the root, trailing
// slashes ignored), cut at `capacity`. A backslash is an ordinary name character here, but a
// separator to the display-name step: it becomes the full-width reverse solidus, so the name
// stays whole.
static void ShownBaseName(const char* path, char* name, size_t capacity)
{
    size_t end = strlen(path);
    while (end > 1 && path[end - 1] == '/')
        --end;
    size_t start = end;
    while (start > 0 && path[start - 1] != '/')
        --start;
    if (start == end && end > 0)
        start = end - 1; // nothing but slashes: the root
    size_t length = 0;
    for (size_t i = start; i < end; ++i) {
        bool backslash = path[i] == '\\';
        const char* bytes = backslash ? "\xEF\xBC\xBC" : path + i;
        size_t count = backslash ? 3 : 1;
        if (length + count >= capacity)
            break;
        memcpy(name + length, bytes, count);
        length += count;
    }
    name[length] = '\0';
}

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size)
{
    FileLook own = {nullptr, -1, {}};
    const FileLook* look = LookAt(path, &own);
    struct stat status;
    bool found = look->fd >= 0;
    if (found)
        status = look->status;
    else
        found = lstat(path, &status) == 0; // a dangling symbolic link is still a directory entry
    DropLook(&own);
    if (!found)
        return 0;
    char name[PLATFORM_TEXT_SIZE * 3];
    ShownBaseName(path, name, sizeof name);
    ConvertToCp932(name, foundName, PLATFORM_TEXT_SIZE);
    *size = static_cast<uint64_t>(status.st_size);
    return 1;
}

// Kernel interfaces dressed as files, and objects reached through /proc/PID/fd links: reading
// one can have effects (/proc/kmsg consumes the kernel's messages, an eventfd its count) and
// none holds an image.
static bool IsPseudoFileSystem(unsigned long type)
{
    static const unsigned long pseudo[] = {
        PROC_SUPER_MAGIC, SYSFS_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC,
        CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, BPF_FS_MAGIC, PSTOREFS_MAGIC, EFIVARFS_MAGIC,
        SELINUX_MAGIC, SMACK_MAGIC, DEVPTS_SUPER_MAGIC, ANON_INODE_FS_MAGIC, NSFS_MAGIC,
        PIPEFS_MAGIC, SOCKFS_MAGIC, DMA_BUF_MAGIC, SECRETMEM_MAGIC, USBDEVICE_SUPER_MAGIC,
        0x62656570 /* configfs */, 0x65735543 /* fusectl */, 0x42494e4d /* binfmt_misc */,
        0x50494446 /* pidfs */, 0x19800202 /* mqueue */,
    };
    for (unsigned long known : pseudo) {
        if (type == known)
            return true;
    }
    return false;
}

// Whether the file system holding the looked-at descriptor is a pseudo-file system. The answer
// is remembered per device: a run meets only a few.
static bool OnPseudoFileSystem(const FileLook* look)
{
    enum { SLOTS = 8 };
    static struct { dev_t device; bool known, pseudo; } s_devices[SLOTS];
    static unsigned s_next;
    for (const auto& entry : s_devices) {
        if (entry.known && entry.device == look->status.st_dev)
            return entry.pseudo;
    }
    struct statfs fileSystem;
    if (fstatfs(look->fd, &fileSystem) != 0)
        return true; // cannot tell: do not read
    auto& slot = s_devices[s_next++ % SLOTS];
    slot.device = look->status.st_dev;
    slot.known = true;
    slot.pseudo = IsPseudoFileSystem(static_cast<unsigned long>(fileSystem.f_type));
    return slot.pseudo;
}

// Opens the looked-at inode for reading through its O_PATH descriptor, so that no other file
// can be swapped in under the path. Without /proc the path is opened again, and the result is
// kept only when it is the same inode; O_NONBLOCK and O_NOCTTY keep that open harmless should a
// FIFO or terminal be swapped in meanwhile.
static int ReopenForReading(const FileLook* look)
{
    // The process's descriptor folder in /proc, looked up once: a reopen then resolves one name
    // in it. (It stays this process's folder: the tools never fork.)
    static int s_descriptors = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    char name[12];
    size_t length = 0;
    for (unsigned fd = static_cast<unsigned>(look->fd); length == 0 || fd != 0; fd /= 10)
        name[length++] = static_cast<char>('0' + fd % 10);
    for (size_t i = 0; i < length / 2; ++i) {
        char digit = name[i];
        name[i] = name[length - 1 - i];
        name[length - 1 - i] = digit;
    }
    name[length] = '\0';
    if (s_descriptors >= 0)
        return openat(s_descriptors, name, flags);
    int fd = open(look->path, flags);
    struct stat status;
    if (fd >= 0 && (fstat(fd, &status) != 0 || status.st_dev != look->status.st_dev ||
                    status.st_ino != look->status.st_ino)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

int OpenHeaderFile(const char* path, HeaderFile* file)
{
    FileLook own = {nullptr, -1, {}};
    const FileLook* look = LookAt(path, &own);
    int fd = -1;
    if (look->fd >= 0 && S_ISREG(look->status.st_mode) && !OnPseudoFileSystem(look))
        fd = ReopenForReading(look);
    DropLook(&own);
    file->handle = fd;
    return fd >= 0;
}

size_t ReadHeaderBytes(const HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    // A regular file reads short only at its end.
    ssize_t got;
    do
        got = pread(static_cast<int>(file->handle), bytes, count, static_cast<off_t>(offset));
    while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

uint64_t SkipFileHole(const HeaderFile* file, uint64_t offset)
{
    int fd = static_cast<int>(file->handle);
    off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data == -1 && errno == ENXIO) {
        struct stat status; // only a hole is left: the end of the file
        if (fstat(fd, &status) == 0)
            data = status.st_size;
    }
    return data > static_cast<off_t>(offset) ? static_cast<uint64_t>(data) : offset;
}

void CloseHeaderFile(HeaderFile* file)
{
    close(static_cast<int>(file->handle));
    file->handle = -1;
}

void ReleaseShellIcon(void* icon)
{
    if (icon)
        g_object_unref(static_cast<GIcon*>(icon));
}
