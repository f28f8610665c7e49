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
#include <string.h>
#include <sys/stat.h>
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

// UTF-8 (or invalid bytes, as they may come from the file system) to CP932, with '?' for
// every character that CP932 cannot hold. One converter serves the whole run: opening one is
// dearer than converting a name.
static void ConvertToCp932(const char* utf8, char* out, size_t capacity)
{
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
    char* in = valid;
    size_t inLeft = strlen(valid);
    char* next = converted;
    size_t outLeft = sizeof converted - 1;
    iconv(g_toCp932, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        if (iconv(g_toCp932, &in, &inLeft, &next, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno != EILSEQ || outLeft == 0)
            break; // full: more than any field holds, so the rest would be cut anyway
        char* after = g_utf8_next_char(in);
        inLeft -= static_cast<size_t>(after - in);
        in = after;
        *next++ = '?';
        --outLeft;
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
    for (ShellType& known : g_shellTypes) {
        if (strcmp(known.contentType, contentType) == 0)
            return &known;
    }
    if (contentType[0] == '\0' || strlen(contentType) >= CONTENT_TYPE_SIZE)
        return nullptr;
    ShellType* slot = &g_shellTypes[g_nextShellType++ % SHELL_TYPE_SLOTS];
    if (slot->icon)
        g_object_unref(slot->icon); // whoever holds it keeps a reference of their own
    LookUpShellType(contentType, slot);
    strcpy(slot->contentType, contentType);
    return slot;
}

int QueryShellFileInfo(const char* path, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    struct stat status;
    if (stat(path, &status) != 0)
        return 0;
    gchar* contentType = GuessContentType(path, status.st_mode);
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

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow)
{
    struct stat status;
    if (stat(path, &status) != 0 && lstat(path, &status) != 0)
        return 0;
    // A backslash is an ordinary name character here, but a separator to the display-name
    // step: show it as the full-width reverse solidus so the name stays whole.
    gchar* name = g_path_get_basename(path);
    if (strchr(name, '\\')) {
        gchar** parts = g_strsplit(name, "\\", -1);
        g_free(name);
        name = g_strjoinv("\xEF\xBC\xBC", parts);
        g_strfreev(parts);
    }
    ConvertToCp932(name, foundName, PLATFORM_TEXT_SIZE);
    g_free(name);
    *sizeLow = static_cast<uint32_t>(static_cast<uint64_t>(status.st_size) & 0xFFFFFFFFu);
    return 1;
}

FILE* OpenHeaderStream(const char* path)
{
    // Only regular files are opened: opening a device can have side effects, and opening a FIFO
    // blocks. O_NONBLOCK and the second look cover a path replaced in between; on a regular file
    // the flag has no effect, so it can stay set.
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "rb");
    if (!stream)
        close(fd);
    return stream;
}
uint64_t SkipFileHole(FILE* stream, uint64_t offset)
{
    // The stream may hold bytes read ahead, so the descriptor's position is its own: the query
    // below puts it back before the stream itself is moved.
    int fd = fileno(stream);
    off_t position = lseek(fd, 0, SEEK_CUR);
    if (position == -1)
        return offset;
    off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    bool onlyHoleLeft = data == -1 && errno == ENXIO;
    struct stat status;
    if (onlyHoleLeft && fstat(fd, &status) == 0)
        data = status.st_size;
    if (lseek(fd, position, SEEK_SET) != position)
        return offset; // cannot happen for a regular file; the stream stays where it was
    if (data <= static_cast<off_t>(offset) || fseeko(stream, data, SEEK_SET) != 0)
        return offset;
    return static_cast<uint64_t>(data);
}

void ReleaseShellIcon(void* icon)
{
    if (icon)
        g_object_unref(static_cast<GIcon*>(icon));
}
