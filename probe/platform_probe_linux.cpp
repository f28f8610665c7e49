// The Linux stand-ins for the shell: GIO's MIME database for the type name and icon, the file
// system for name and size. Paths are passed through as the file system's bytes; only the text
// shown (type name, display name) is turned into code page 932.
#include "platform_probe.h"

#include "cp932_text.h"

#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// UTF-8 (or invalid bytes, as they may come from the file system) to CP932, with '?' for
// every character that CP932 cannot hold.
static void ConvertToCp932(const char* utf8, char* out, size_t capacity)
{
    gchar* valid = g_utf8_make_valid(utf8, -1);
    gchar* converted = g_convert_with_fallback(valid, -1, "CP932", "UTF-8", "?", nullptr,
                                               nullptr, nullptr);
    CopyTextFitted(out, capacity, converted ? converted : "?");
    g_free(converted);
    g_free(valid);
}

int QueryShellFileInfo(const char* path, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    struct stat status;
    if (stat(path, &status) != 0)
        return 0;
    // Content sniffing would open the file: for anything but a regular file (a FIFO would
    // block) the name-based type is asked for instead.
    const char* attribute = S_ISREG(status.st_mode) ? G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE
                                                    : G_FILE_ATTRIBUTE_STANDARD_FAST_CONTENT_TYPE;
    GFile* file = g_file_new_for_path(path);
    GFileInfo* fileInfo =
        g_file_query_info(file, attribute, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    g_object_unref(file);
    if (!fileInfo)
        return 0;
    const char* contentType = g_file_info_get_attribute_string(fileInfo, attribute);
    int answered = 0;
    if (contentType) {
        gchar* description = g_content_type_get_description(contentType);
        ConvertToCp932(description ? description : "", typeName, PLATFORM_TEXT_SIZE);
        g_free(description);
        *icon = g_content_type_get_icon(contentType);
        answered = 1;
    }
    g_object_unref(fileInfo);
    return answered;
}

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow)
{
    struct stat status;
    if (stat(path, &status) != 0 && lstat(path, &status) != 0)
        return 0;
    // A backslash is an ordinary name character here, but a separator to the display-name
    // step: show it as the full-width reverse solidus so the name stays whole.
    gchar* base = g_path_get_basename(path);
    gchar** parts = g_strsplit(base, "\\", -1);
    gchar* joined = g_strjoinv("\xEF\xBC\xBC", parts);
    ConvertToCp932(joined, foundName, PLATFORM_TEXT_SIZE);
    g_free(joined);
    g_strfreev(parts);
    g_free(base);
    *sizeLow = static_cast<uint32_t>(static_cast<uint64_t>(status.st_size) & 0xFFFFFFFFu);
    return 1;
}

FILE* OpenHeaderStream(const char* path)
{
    // O_NONBLOCK so that opening a FIFO cannot hang; only regular files are read.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
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
