// The Linux stand-ins for the shell: GIO's MIME database for the type name and icon, the file
// system for name and size. Paths are passed through as the file system's bytes; only the text
// shown (type name, display name) is turned into code page 932. Probes may run on several threads
// at once: what one probe looked at travels in its ProbePath, and what probes share (remembered
// types and file systems, the converters) is kept under a lock each.
#include "platform_probe.h"

#include "cp932_text.h"
#include "open_beneath_linux.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <iconv.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
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
// The remembered types, and every call into GIO but the guess of a content type, under one lock.
// GIO's content-type calls are safe on several threads (GIO guards its MIME database itself); the
// guess, the one call every probe makes, runs outside the lock so that probes do not queue for it;
// what is left is held briefly, so a thread that finds it taken spins a little before it sleeps.
static pthread_mutex_t g_gioLock = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;

// GIO remembers a description it could not read (for want of a descriptor, say) as "<type> type"
// for the rest of the process, so it is asked only while this descriptor, kept in reserve, can
// be given up for the call. Under the GIO lock; -1 when it could not be taken.
static int g_spareDescriptor = -1;

// Converters hold a state, so one thread at a time uses them. They are opened by
// PrepareFileProbes; until then a conversion that needs them fails (`g_converterError`).
static iconv_t g_toCp932 = reinterpret_cast<iconv_t>(-1);
static iconv_t g_fromCp932 = reinterpret_cast<iconv_t>(-1);
static int g_converterError = EMFILE;
static pthread_mutex_t g_converterLock = PTHREAD_MUTEX_INITIALIZER;

static const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);

// True when both converters are open; else false with errno. With the converter lock held.
static bool OpenConverters()
{
    if (g_toCp932 == NO_CONVERTER)
        g_toCp932 = iconv_open("CP932", "UTF-8");
    if (g_toCp932 != NO_CONVERTER && g_fromCp932 == NO_CONVERTER)
        g_fromCp932 = iconv_open("UTF-8", "CP932");
    bool open = g_toCp932 != NO_CONVERTER && g_fromCp932 != NO_CONVERTER;
    if (!open)
        g_converterError = errno;
    return open;
}

// The code page 932 bytes of the one character `utf8` (`length` bytes of valid UTF-8), when the
// code page holds exactly that character: glibc's table also maps some characters one way only
// (〜 to the bytes of ～, ¢ to those of ￠), and such a character would show as another. Returns the
// number of bytes, 0 when there is no exact form. Called with the converter lock held.
static size_t EncodeExactly(const char* utf8, size_t length, char bytes[2])
{
    char* in = const_cast<char*>(utf8);
    size_t inLeft = length, outLeft = 2;
    char* out = bytes;
    iconv(g_toCp932, nullptr, nullptr, nullptr, nullptr);
    if (iconv(g_toCp932, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
        return 0;
    size_t count = 2 - outLeft;
    char back[8];
    char* cp932 = bytes;
    size_t backIn = count, backLeft = sizeof back;
    char* backOut = back;
    iconv(g_fromCp932, nullptr, nullptr, nullptr, nullptr);
    if (iconv(g_fromCp932, &cp932, &backIn, &backOut, &backLeft) == static_cast<size_t>(-1) ||
        sizeof back - backLeft != length || memcmp(back, utf8, length) != 0)
        return 0;
    return count;
}

// UTF-8 (or invalid bytes, as they may come from the file system) to CP932, character by
// character: a character the code page holds exactly keeps its bytes, ¥ and ‾ (which the table
// turns into the ASCII bytes 0x5C and 0x7E) take their full-width forms, every other one is '?'.
// ASCII is the same bytes in both and needs no converter. False, with errno, when the converters
// are needed and not open (PrepareFileProbes opens them): then `out` is not the text's form.
static bool ConvertToCp932(const char* utf8, char* out, size_t capacity)
{
    size_t ascii = 0;
    while (ascii + 1 < capacity && utf8[ascii] != '\0' && static_cast<unsigned char>(utf8[ascii]) < 0x80) {
        out[ascii] = utf8[ascii];
        ++ascii;
    }
    out[ascii] = '\0';
    if (ascii + 1 >= capacity || utf8[ascii] == '\0')
        return true;
    pthread_mutex_lock(&g_converterLock);
    if (g_toCp932 == NO_CONVERTER || g_fromCp932 == NO_CONVERTER) {
        int error = g_converterError;
        pthread_mutex_unlock(&g_converterLock);
        errno = error;
        return false;
    }
    gchar* valid = g_utf8_make_valid(utf8, -1);
    char converted[PLATFORM_TEXT_SIZE * 2];
    size_t length = 0;
    for (const char* next = valid; *next != '\0' && length + 2 < sizeof converted;) {
        const char* after = g_utf8_next_char(next);
        size_t count = 1;
        if (static_cast<unsigned char>(*next) < 0x80)
            converted[length] = *next;
        else if (const char* standIn = Cp932StandIn(g_utf8_get_char(next)))
            memcpy(converted + length, standIn, count = 2);
        else if ((count = EncodeExactly(next, static_cast<size_t>(after - next), converted + length)) == 0)
            converted[length] = '?', count = 1;
        length += count;
        next = after;
    }
    pthread_mutex_unlock(&g_converterLock);
    converted[length] = '\0';
    g_free(valid);
    CopyTextFitted(out, capacity, converted);
    return true;
}

// The content type from the name alone, as the Windows shell goes by the extension: reading the
// content would open the file. Whatever is not a regular file gets its inode type from the mode.
static gchar* GuessContentType(const char* path, uint32_t mode)
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

// Takes the spare descriptor when it is not held. With the GIO lock held.
static bool HoldSpareDescriptor()
{
    if (g_spareDescriptor < 0)
        g_spareDescriptor = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return g_spareDescriptor >= 0;
}

// Reads what the MIME database says about `contentType` into `entry`, which then owns an icon
// reference. False, with errno, when the description could not be had. With the GIO lock held.
static bool LookUpShellType(const char* contentType, ShellType* entry)
{
    if (!HoldSpareDescriptor())
        return false;
    close(g_spareDescriptor); // for GIO's reading of the description, which needs one
    g_spareDescriptor = -1;
    gchar* description = g_content_type_get_description(contentType);
    HoldSpareDescriptor();
    bool converted = ConvertToCp932(description ? description : "", entry->typeName, sizeof entry->typeName);
    int error = errno;
    g_free(description);
    if (!converted) {
        errno = error;
        return false;
    }
    entry->icon = g_content_type_get_icon(contentType);
    return true;
}

// The remembered entry for `contentType`, looked up when it is new; null when the content type
// is too long to remember, and when its lookup failed (errno): that is not remembered. With the
// GIO lock held: a slot may be reused at once.
static const ShellType* FindShellType(const char* contentType)
{
    static ShellType* s_last = &g_shellTypes[0]; // runs of one type are common
    if (contentType[0] == '\0' || strlen(contentType) >= CONTENT_TYPE_SIZE) {
        errno = 0;
        return nullptr;
    }
    if (strcmp(s_last->contentType, contentType) == 0)
        return s_last;
    for (ShellType& known : g_shellTypes) {
        if (strcmp(known.contentType, contentType) == 0)
            return s_last = &known;
    }
    ShellType found;
    if (!LookUpShellType(contentType, &found))
        return nullptr;
    ShellType* slot = &g_shellTypes[g_nextShellType++ % SHELL_TYPE_SLOTS];
    if (slot->icon)
        g_object_unref(slot->icon); // whoever holds it keeps a reference of their own
    *slot = found;
    strcpy(slot->contentType, contentType);
    return s_last = slot;
}

// The type name and a reference to the icon of `contentType`. False, with errno, when they could
// not be had. With the GIO lock held.
static bool GetShellType(const char* contentType, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    if (const ShellType* known = FindShellType(contentType)) {
        memcpy(typeName, known->typeName, PLATFORM_TEXT_SIZE);
        *icon = known->icon ? g_object_ref(known->icon) : nullptr;
        return true;
    }
    if (errno != 0)
        return false;
    ShellType once;
    if (!LookUpShellType(contentType, &once))
        return false;
    memcpy(typeName, once.typeName, PLATFORM_TEXT_SIZE);
    *icon = once.icon;
    return true;
}

// Whether the failure `error` means that nothing is there to look at: a name too long for the
// system names nothing it can reach, and a link that leads round in a loop is as one that leads
// nowhere (the link itself is still an entry).
static bool IsAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP;
}

// The process's descriptor folder in /proc, through which a looked-at file is reopened; -1 when
// it could not be opened (then the path is reopened instead, and the folder tried again later).
// It stays this process's folder: the tools never fork.
static std::atomic<int> g_descriptors{-1};

static int DescriptorFolder()
{
    int folder = g_descriptors.load(std::memory_order_acquire);
    if (folder >= 0)
        return folder;
    folder = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    int expected = -1;
    if (folder >= 0 && !g_descriptors.compare_exchange_strong(expected, folder)) {
        close(folder);
        folder = expected;
    }
    return folder;
}

static std::atomic<bool> g_prepared{false};
// GIO reads its MIME database at its first guess, and the C library the list of its converters
// at the first converter opened; each keeps what it could read for the rest of the process. So
// both are first asked with the spare descriptor given up, and GIO not at all before.
static std::atomic<bool> g_databaseRead{false};
static int g_databaseError = EMFILE; // why it was not read yet; under the GIO lock

void PrepareFileProbes()
{
    static pthread_mutex_t s_lock = PTHREAD_MUTEX_INITIALIZER;
    if (g_prepared.load(std::memory_order_acquire))
        return;
    pthread_mutex_lock(&s_lock);
    pthread_mutex_lock(&g_gioLock);
    bool spare = HoldSpareDescriptor();
    pthread_mutex_lock(&g_converterLock);
    bool converters = g_toCp932 != NO_CONVERTER && g_fromCp932 != NO_CONVERTER;
    if (spare && (!converters || !g_databaseRead.load(std::memory_order_relaxed))) {
        close(g_spareDescriptor); // for what needs descriptors only for a moment
        g_spareDescriptor = -1;
        converters = OpenConverters();
        if (!g_databaseRead.load(std::memory_order_relaxed)) {
            g_free(g_content_type_guess("x.png", nullptr, 0, nullptr));
            g_databaseRead.store(true, std::memory_order_release);
        }
        spare = HoldSpareDescriptor();
    }
    if (!g_databaseRead.load(std::memory_order_relaxed))
        g_databaseError = errno;
    pthread_mutex_unlock(&g_converterLock);
    pthread_mutex_unlock(&g_gioLock);
    DescriptorFolder(); // kept as well; without it a reopen goes by the path, and it is tried again
    g_prepared.store(converters && g_databaseRead && spare, std::memory_order_release);
    pthread_mutex_unlock(&s_lock);
}

// Without openat2 (before Linux 5.6, or where a sandbox refuses it): one part at a time, each
// opened below the one before without following a link.
static int OpenBeneathPartByPart(int folder, const char* path, int flags)
{
    int at = openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    while (at >= 0) {
        const char* slash = strchr(path, '/');
        if (!slash)
            break;
        char part[NAME_MAX + 1];
        size_t length = static_cast<size_t>(slash - path);
        if (length > NAME_MAX) {
            close(at);
            errno = ENAMETOOLONG;
            return -1;
        }
        memcpy(part, path, length);
        part[length] = '\0';
        int next = length == 0 ? at : openat(at, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next != at) {
            int error = errno;
            close(at);
            errno = error;
        }
        at = next;
        path = slash + 1;
    }
    if (at < 0)
        return -1;
    int fd = openat(at, path[0] != '\0' ? path : ".", flags);
    int error = errno;
    close(at);
    errno = error;
    return fd;
}

// Every part of the path but the last, without following a link; then the last with `flags`.
static int OpenBeneathNoLinks(int folder, const char* path, int flags)
{
    open_how how = {};
    how.flags = static_cast<uint64_t>(flags) | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const char* target = path[0] != '\0' ? path : ".";
    long fd = syscall(SYS_openat2, folder, target, &how, sizeof how);
    if (fd < 0 && errno == ENOSYS)
        return OpenBeneathPartByPart(folder, path, flags | O_CLOEXEC);
    return static_cast<int>(fd);
}

int OpenBeneath(int folder, const char* path, int flags)
{
    if (flags & O_NOFOLLOW)
        return OpenBeneathNoLinks(folder, path, flags);
    int fd = OpenBeneathNoLinks(folder, path, flags | O_NOFOLLOW);
    if (fd >= 0) {
        struct stat status; // an O_PATH open gives a link at the end itself
        if (!(flags & O_PATH) || (fstat(fd, &status) == 0 && !S_ISLNK(status.st_mode)))
            return fd;
        close(fd);
    } else if (errno != ELOOP) {
        return -1;
    }
    // A link at the end (or one where a folder was): followed from the folder that holds it.
    const char* slash = strrchr(path, '/');
    char parentPath[PATH_MAX];
    size_t length = slash ? static_cast<size_t>(slash - path) : 0;
    if (length >= sizeof parentPath) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(parentPath, path, length);
    parentPath[length] = '\0';
    int parent = OpenBeneathNoLinks(folder, parentPath, O_PATH | O_DIRECTORY);
    if (parent < 0)
        return -1;
    fd = openat(parent, slash ? slash + 1 : path, flags | O_CLOEXEC);
    int error = errno;
    close(parent);
    errno = error;
    return fd;
}

// One look at the path: an O_PATH descriptor, which neither opens the file for reading nor has
// any effect on a FIFO or device, and what fstat says of that very inode.
void BeginFileProbe(ProbePath* path)
{
    PrepareFileProbes();
    FileLook* look = &path->look;
    struct stat status;
    int fd = path->inFolder ? OpenBeneath(static_cast<int>(path->folder), path->text + path->beneath, O_PATH)
                            : open(path->text, O_PATH | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &status) != 0) {
        int error = errno;
        close(fd);
        fd = -1;
        errno = error;
    }
    look->handle = fd;
    look->error = fd < 0 && !IsAbsence(errno) ? static_cast<uint32_t>(errno) : 0;
    if (fd >= 0) {
        look->mode = status.st_mode;
        look->device = status.st_dev;
        look->inode = status.st_ino;
        look->size = static_cast<uint64_t>(status.st_size);
    }
}

void EndFileProbe(ProbePath* path)
{
    if (path->look.handle >= 0)
        close(static_cast<int>(path->look.handle));
    path->look.handle = -1;
}

int QueryShellFileInfo(const ProbePath* path, void** icon, char typeName[PLATFORM_TEXT_SIZE], uint32_t* error)
{
    if (path->look.handle < 0) {
        if (path->look.error)
            *error = path->look.error;
        return 0;
    }
    if (!g_databaseRead.load(std::memory_order_acquire)) {
        pthread_mutex_lock(&g_gioLock);
        *error = static_cast<uint32_t>(g_databaseError);
        pthread_mutex_unlock(&g_gioLock);
        return 0;
    }
    gchar* contentType = GuessContentType(path->text, path->look.mode);
    pthread_mutex_lock(&g_gioLock);
    bool answered = GetShellType(contentType, icon, typeName);
    int failure = errno;
    pthread_mutex_unlock(&g_gioLock);
    g_free(contentType);
    if (!answered)
        *error = static_cast<uint32_t>(failure);
    return answered;
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

int FindFileEntry(const ProbePath* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size, uint32_t* error)
{
    uint64_t found = path->look.size;
    if (path->look.handle < 0) {
        struct stat status; // a dangling symbolic link is still a directory entry
        int fd = path->inFolder ? OpenBeneath(static_cast<int>(path->folder), path->text + path->beneath, O_PATH | O_NOFOLLOW)
                                : -1;
        bool looked = path->inFolder ? fd >= 0 && fstat(fd, &status) == 0 : lstat(path->text, &status) == 0;
        int lookError = errno;
        if (fd >= 0)
            close(fd);
        if (!looked) {
            if (!IsAbsence(lookError))
                *error = static_cast<uint32_t>(lookError);
            return 0;
        }
        found = static_cast<uint64_t>(status.st_size);
    }
    char name[PLATFORM_TEXT_SIZE * 3];
    ShownBaseName(path->text, name, sizeof name);
    if (!ConvertToCp932(name, foundName, PLATFORM_TEXT_SIZE)) {
        *error = static_cast<uint32_t>(errno);
        return 0;
    }
    *size = found;
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

// Whether the file system holding the looked-at descriptor is a pseudo-file system: 1 or 0, -1
// with errno when it cannot be told. The answer is remembered per device: a run meets only a few.
static int OnPseudoFileSystem(const FileLook* look)
{
    enum { SLOTS = 8 };
    static struct { uint64_t device; bool known, pseudo; } s_devices[SLOTS];
    static unsigned s_next;
    static pthread_mutex_t s_lock = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
    pthread_mutex_lock(&s_lock);
    for (const auto& entry : s_devices) {
        if (entry.known && entry.device == look->device) {
            bool pseudo = entry.pseudo;
            pthread_mutex_unlock(&s_lock);
            return pseudo;
        }
    }
    pthread_mutex_unlock(&s_lock);
    struct statfs fileSystem;
    if (fstatfs(static_cast<int>(look->handle), &fileSystem) != 0)
        return -1; // cannot tell: do not read
    bool pseudo = IsPseudoFileSystem(static_cast<unsigned long>(fileSystem.f_type));
    pthread_mutex_lock(&s_lock);
    auto& slot = s_devices[s_next++ % SLOTS];
    slot = {look->device, true, pseudo};
    pthread_mutex_unlock(&s_lock);
    return pseudo;
}

// Opens the looked-at inode for reading through its O_PATH descriptor, so that no other file
// can be swapped in under the path. Without /proc the path is opened again, and the result is
// kept only when it is the same inode; O_NONBLOCK and O_NOCTTY keep that open harmless should a
// FIFO or terminal be swapped in meanwhile.
static int ReopenForReading(const ProbePath* path)
{
    // A reopen resolves one name in the descriptor folder.
    int descriptors = DescriptorFolder();
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    char name[12];
    size_t length = 0;
    for (unsigned fd = static_cast<unsigned>(path->look.handle); length == 0 || fd != 0; fd /= 10)
        name[length++] = static_cast<char>('0' + fd % 10);
    for (size_t i = 0; i < length / 2; ++i) {
        char digit = name[i];
        name[i] = name[length - 1 - i];
        name[length - 1 - i] = digit;
    }
    name[length] = '\0';
    if (descriptors >= 0)
        return openat(descriptors, name, flags);
    int fd = path->inFolder ? OpenBeneath(static_cast<int>(path->folder), path->text + path->beneath, flags)
                            : open(path->text, flags);
    struct stat status;
    if (fd >= 0 && (fstat(fd, &status) != 0 || status.st_dev != path->look.device ||
                    status.st_ino != path->look.inode)) {
        close(fd);
        fd = -1;
        errno = ENOENT; // another file now: the one looked at is not there any more
    }
    return fd;
}

int OpenHeaderFile(const ProbePath* path, HeaderFile* file)
{
    file->handle = -1;
    file->error = 0;
    file->size = 0;
    if (path->look.handle < 0) {
        file->error = path->look.error;
        return 0;
    }
    if (!S_ISREG(path->look.mode))
        return 0;
    int pseudo = OnPseudoFileSystem(&path->look);
    if (pseudo != 0) {
        if (pseudo < 0)
            file->error = static_cast<uint32_t>(errno);
        return 0;
    }
    int fd = ReopenForReading(path);
    if (fd < 0 && !IsAbsence(errno))
        file->error = static_cast<uint32_t>(errno);
    file->handle = fd;
    file->size = path->look.size;
    return fd >= 0;
}

size_t ReadHeaderBytes(HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    // A regular file reads short at its end, and before a failure (EIO): short of the size it had,
    // it is read on until one or the other is seen. (A read more costs a round trip on a share.)
    size_t total = 0;
    while (total < count && (total == 0 || offset + total < file->size)) {
        ssize_t got = pread(static_cast<int>(file->handle), bytes + total, count - total,
                            static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && !file->error)
            file->error = static_cast<uint32_t>(errno);
        if (got <= 0)
            break;
        total += static_cast<size_t>(got);
    }
    return total;
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

void FormatProbeError(uint32_t error, char* text, size_t capacity)
{
    // The C locale's words: ASCII, the same bytes in code page 932.
    char words[256];
    CopyTextFitted(text, capacity, strerror_r(static_cast<int>(error), words, sizeof words));
}

void ReleaseShellIcon(void* icon)
{
    if (!icon)
        return;
    pthread_mutex_lock(&g_gioLock);
    g_object_unref(static_cast<GIcon*>(icon));
    pthread_mutex_unlock(&g_gioLock);
}

#if defined(__SANITIZE_THREAD__)
// GIO guards its MIME database with locks of its own, built on futexes that ThreadSanitizer does
// not see: what GIO does inside itself is not ours to report.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libgio-2.0.so\n";
}
#endif
