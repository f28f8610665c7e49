// qvr run as a user runs it on files made here, and the text functions of both command-line tools on their own.
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli_batch.h"
#include "cli_platform.h"
#include "cli_text.h"
#include "platform_probe.h"
#include "run_qvr.h"
#include "test_files.h"

#include <cwctype>

namespace {

using json = nlohmann::ordered_json;
struct QvrRun { int status; std::string out, err; };

std::string ReadFile(const std::filesystem::path& path)
{
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// Runs `program` (qvr, or a command that runs it) in `dir`; the environment reads as a GIF header (257 x 257).
QvrRun Qvr(const TempDir& dir, const std::vector<std::string>& args, const std::string& program = Quoted(QVR_BINARY),
           const std::string& asan = "detect_leaks=0")
{
    std::string command = "exec timeout 60 env -i 'GIF89a\x01\x01\x01\x01\xF7=' G_SLICE=always-malloc ASAN_OPTIONS=" + asan +
                          " " + program;
    for (const std::string& arg : args)
        command += " " + Quoted(arg);
    auto [out, status] = Bash(command + " 2>.err", dir.path);
    return {status, out, ReadFile(dir.path / ".err")};
}

// As root, qvr copied into `dir` and run as another user from there, so that permissions hold it back too.
std::string AsNobody(const TempDir& dir)
{
    if (geteuid() != 0)
        return Quoted(QVR_BINARY);
    std::filesystem::permissions(dir.path, std::filesystem::perms(0755));
    std::filesystem::copy_file(QVR_BINARY, dir.path / ".qvr");
    return "setpriv --reuid=65534 --regid=65534 --clear-groups " + Quoted(dir.path / ".qvr");
}

// Code page 932 text of a record as UTF-8.
std::string FromCp932(const char* text)
{
    char bytes[1024];
    std::string utf8;
    TextOutput out = CliStringOutput(bytes, sizeof bytes, &utf8);
    PutJsonString(&out, text, TEXT_CP932);
    FlushOutput(&out);
    return json::parse(utf8).get<std::string>();
}

// JSON lines as an array; throws on invalid JSON or UTF-8, and on an object that is not a line of its own.
json JsonLines(const std::string& out) { return json::parse("[" + std::regex_replace(out, std::regex("\n(?!$)"), ",") + "]"); }

// A row per file: the script making $f (none: missing), a tag per type name, its JSON, name as shown, message.
TEST(Qvr, EachFileAsJsonAndAsText)
{
    const std::string controls(6000, '\x01'), pictures = std::regex_replace(controls, std::regex("\x01"), u8"\u2401");
    const char* unread = u8R"({"result":0,"texts":{"scale":"??? × ??? Pixel","colors":"??? 色"}})";
    const char* denied = ": cannot read the file: Permission denied";
    const struct { const char *name, *make, *tag, *expect, *shown = nullptr, *err = nullptr; } rows[] = {
        {"a.bmp", "convert -size 7x9 xc:blue -type TrueColor BMP3:$f && put 18 '\\371\\377\\377\\377\\367\\377\\377\\377'",
         "bmp", u8R"({"result":1,"width":-7,"height":-9,"depth":24,"caption":"a.bmp - QVR Version 1.0",
             "texts":{"name":"a.bmp","scale":"-7 × -9 Pixel","colors":"24 ビットカラー"}})"}, // as read (top-down: height < 0)
        {u8"表ソ能ｱ a\\b\u00A5\u203E caf\u00E9\U0001F600\u301C\u2016～\n\x1B[31m\x7F\u202E.jpg", "convert -size 5x6 xc:red JPEG:$f", "jpg",
         u8R"({"result":1,"name":"表ソ能ｱ a＼b￥￣ caf????～\n\u001b[31m\u007f?.jpg","width":5,"height":6,"depth":24})",
         u8"表ソ能ｱ a＼b￥￣ caf????～\u240A\u241B[31m\u2421?.jpg"},
        {"\x80.gif", "convert -size 2x3 xc:red GIF:$f", "gif",
         u8R"({"path":"\uFFFD.gif","pathBytes":"802e676966","name":"?.gif","width":2})"},
        // Missing: the message shows C0 controls and DEL as pictures, C1, bidirectional and separator controls as U+FFFD.
        {u8"ctl\n\x1B[31m\x7F\"\\\b\t\v\f\r\x1F\u0085\u202A\u202E\u2066\u2069\u200E\u200F\u061C\u2028\u2029\U0001F600.bmp",
         "", "-", u8R"({"result":0,"name":"ファイル名が不正です。","flags":11,"texts":{"scale":"??? × ??? Pixel"}})",
         u8"ctl\u240A\u241B[31m\u2421\"\\\u2408\u2409\u240B\u240C\u240D\u241F"
         u8"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\U0001F600.bmp"},
        {"\xFF\xC0\xAF\xED\xA0\x80\xE7\x94", "", "-", // a stray byte, an overlong form, a surrogate, a cut-off sequence
         R"({"path":"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD","pathBytes":"ffc0afeda080e794"})",
         u8"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {controls.c_str(), "", "-", "{}", pictures.c_str()}, // escaped, more than the output buffer holds
        {"big.png", "convert -size 2x3 xc:red PNG24:$f && truncate -s 8589934593 $f", "png", // the whole size in both
         u8R"j({"result":1,"width":2,"height":3,"texts":{"size":"8.19e+003 MByte ( 8,589,934,593 Byte )"}})j"},
        // Sparse JPEG files: holes are skipped, not read; the walk steps by 2 over zeros, so lands on 00 00 12 34 only.
        {"odd.jpg", "jfif \"$odd\" 4G; put 0xFFFF0001 '\\22\\64\\126\\170'; put 0xFFFF1235 \"$sof\\7\\0\\11\\1\"", "jpg",
         R"({"result":1,"width":9,"height":7,"depth":8})"},
        {"even.jpg", "jfif \"$odd\" 4G; put 0x100000 '\\22\\64'; put 0x101234 \"$sof\\7\\0\\11\\1\"", "jpg",
         R"({"result":1,"width":0,"height":0,"depth":0})"},
        // Known to the file system, never read: typed by what they are, whatever they are called.
        {"folder.png", "mkdir $f", "folder", u8R"({"result":0,"flags":48})"},
        {"pipe.jpg", "mkfifo $f", "fifo", u8R"({"result":0,"flags":48})"},
        {"null.bmp", "ln -s /dev/null $f", "device", u8R"({"result":0,"flags":48})"},
        {"env.gif", "ln -s /proc/self/environ $f", "gif", u8R"({"result":0,"flags":48,"texts":{"scale":"未サポート"}})"},
        {"open/denied.png", "cp x.png $f && chmod 0 $f", "png", unread, nullptr, denied},
        {"open/denied.jpg", "cp x.png $f && chmod 0 $f", "jpg", unread, nullptr, denied},
        {"open/denied.txt", "cp x.png $f && chmod 0 $f", "txt", u8R"({"texts":{"scale":"未サポート"}})"}, // never opened
        {"deny/x.png", "cp x.png $f", "-", R"({"result":0,"fileSize":0})", nullptr, denied}, // in a folder not searched
        {"deny/x.txt", "cp x.png $f", "-", R"({"result":0,"fileSize":0})", nullptr, denied}, // no detector opens it
        {"open/loop.png", "ln -s loop.png $f", "-", // a link to itself leads nowhere, as a dangling one: the link's size
         u8R"({"result":0,"fileSize":8,"texts":{"scale":"??? × ??? Pixel","colors":"??? 色"}})"},
        {"open/x.png/y.png", "", "-", unread},
    };
    TempDir dir;
    // put OFFSET BYTES: printf escapes into $f; jfif SEGMENT SIZE: a JFIF head, one more segment head, zeros to SIZE.
    std::string script = "set -e; cd " + Quoted(dir.path) + "; put() { printf \"$2\" | dd of=$f bs=1 seek=$(($1)) "
                         "conv=notrunc status=none; }; jfif() { convert -size 1x1 xc:red JPEG:- | head -c 20 >$f; "
                         "put 20 \"$1\"; truncate -s $2 $f; }; odd='\\377\\341\\0\\21' sof='\\377\\300\\0\\21\\10\\0'; "
                         "mkdir deny open; convert -size 4x3 xc:red PNG:x.png; cp x.png open/x.png";
    std::vector<std::string> paths{"--json", "-j1"};
    for (const auto& row : rows) {
        script += *row.make ? std::string("; f=.new; ") + row.make + "; mv .new " + Quoted(row.name) : "";
        paths.push_back(row.name);
    }
    ASSERT_EQ(std::system((script + "; chmod 600 deny").c_str()), 0) << script; // deny: listed, not searched
    std::string nobody = AsNobody(dir);
    uint64_t before = std::stoull(ReadFile("/proc/self/io").substr(7)); // rchar: read by us and our children
    QvrRun asJson = Qvr(dir, paths, nobody);
    EXPECT_LT(std::stoull(ReadFile("/proc/self/io").substr(7)) - before, 1u << 20) << "the holes of sparse files were read";
    paths[1] = "-j8";
    QvrRun asText = Qvr(dir, std::vector<std::string>(paths.begin() + 1, paths.end()), nobody);
    std::filesystem::permissions(dir.path / "deny", std::filesystem::perms::owner_all);
    json lines = JsonLines(asJson.out);
    ASSERT_EQ(lines.size(), std::size(rows));
    std::string text, err;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        json want = json::parse(row.expect), wanted = want.flatten(), got = lines[i].flatten();
        std::string keys;
        for (const auto& [key, value] : got.items())
            keys += key;
        EXPECT_EQ(keys, std::string("/path") + (want.contains("pathBytes") ? "/pathBytes" : "") + "/result/name/typeName"
                  "/fileSize/width/height/depth/flags/caption/texts/name/texts/type/texts/size/texts/scale/texts/colors");
        EXPECT_EQ(got["/path"], want.value("path", row.name));
        for (const auto& [key, value] : wanted.items())
            EXPECT_EQ(got[key], value) << row.name << " " << key;
        struct stat status;
        EXPECT_EQ(got["/fileSize"], want.value("fileSize", stat((dir.path / row.name).c_str(), &status) ? 0 : status.st_size))
            << row.name;
        for (size_t j = 0; j < i; ++j)
            EXPECT_EQ(std::string(row.tag) == rows[j].tag, got["/typeName"] == lines[j]["typeName"]) << row.name << ", " << j;
        const char* labels[][2] = {{"", "/caption"}, {"  ", "/texts/name"}, {"  ", "/texts/type"},
            {u8"  サイズ    ", "/texts/size"}, {u8"  スケール  ", "/texts/scale"}, {u8"  色数      ", "/texts/colors"}};
        text += i ? "\n" : "";
        for (const auto& [label, key] : labels) {
            std::string value = got[key], name = got["/texts/name"];
            size_t at = row.shown && *row.make ? value.find(name) : std::string::npos;
            text += label + (at == std::string::npos ? value : value.replace(at, name.size(), row.shown)) + "\n";
        }
        if (row.err || !*row.make)
            err += std::string("qvr: ") + (row.shown ? row.shown : row.name) + (row.err ? row.err : ": no such file") + "\n";
    }
    for (const QvrRun& run : {asJson, asText})
        EXPECT_EQ(std::make_pair(run.status, run.err), std::make_pair(1, err));
    EXPECT_EQ(asText.out, text);
}

TEST(Qvr, ExitStatusesAndOptions)
{
    TempDir dir;
    dir.Write("-x.bmp", {});
    const std::string full = "bash -c 'exec \"$0\" \"$@\" >/dev/full' " + Quoted(QVR_BINARY);
    const struct { std::vector<std::string> args; int status; const char *out, *err;
                   std::string program = Quoted(QVR_BINARY); } cases[] = {
        {{}, 2, "", "qvr: no file given\nTry 'qvr --help' for more information.\n"},
        {{"--help"}, 0, "Usage: qvr [--json] [-r] [-x] [-j N] [--] PATH...\n", ""},
        {{"--version"}, 0, "QVR Version 1.0\n", ""}, {{"--bogus", "--help"}, 0, "Usage: qvr", ""},
        {{"--version", "--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"-x.bmp", "a.png"}, 2, "", "qvr: unknown option '-x.bmp'\n"},
        // "-" is a path; after "--" every argument is one, "--json" too.
        {{"--json", "-", "--", "-x.bmp", "--json"}, 1, "{\"path\":\"-\",", "qvr: -: no such file\nqvr: --json: no such file\n"},
        // The number of jobs: 1 to 256, given after -j or --jobs, or joined to them.
        {{"-j", "0", "a.png"}, 2, "", "qvr: the number of jobs must be from 1 to 256, not '0'\n"},
        {{"--jobs=257", "a.png"}, 2, "", "not '257'"}, {{"-jx", "a.png"}, 2, "", "not 'x'"},
        {{"-j", "-r", "a.png"}, 2, "", "not '-r'"}, {{"-j"}, 2, "", "qvr: option '-j' needs a number of jobs\n"},
        {{"a.png", "--jobs"}, 2, "", "qvr: option '--jobs' needs a number of jobs\n"},
        {{"--json", "-j256", "-r", "--jobs", "1", "--recursive", "--jobs=7", "-x.bmp"}, 2, "", "unknown option '-x.bmp'"},
        // Output that cannot be written is an error, whatever was asked.
        {{"--help"}, 2, "", "qvr: cannot write the output: No space left on device\n", full},
        {{"--version"}, 2, "", "cannot write the output", full},
        {{"--json", "a.png"}, 2, "", "cannot write the output", full},
        // The smallest of stacks will do, where other tools run: no large buffer lives on it.
        {{"--version"}, 0, "QVR Version 1.0\n", "", "bash -c 'ulimit -s 128 && exec \"$0\" \"$@\"' " + Quoted(QVR_BINARY)},
    };
    for (const auto& c : cases) {
        QvrRun run = Qvr(dir, c.args, c.program);
        EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args) << c.program;
        EXPECT_TRUE(run.out.rfind(c.out, 0) == 0 && run.err.find(c.err) != std::string::npos) << run.out << run.err;
    }
}

// -r over odd names, a folder not read, links, a FIFO, a chain past a path's length: byte for byte at every -j.
TEST(Qvr, WalksATreeTheSameAtEveryJobCount)
{
    TempDir dir;
    dir.Write("x.png", Png(4, 3));
    ASSERT_EQ(Bash("mkdir -p t/a/b t/empty t/deny t/B && for f in t/a/b/x.png t/a/b.png $'t/a/line\\nfeed.png' "
                   "$'t/a/\\xFF.png' t/B/z.png t/deny/hidden.png; do cp x.png \"$f\"; done && ln -s .. t/a/loop && "
                   "ln -s b/x.png t/a/link.png && mkfifo t/a/pipe.png && chmod 0 t/deny", dir.path.string()).second, 0);
    // Folders "d" down to 2,100 levels (past 4,096 bytes), each with a file "f".
    int fd = open((dir.path / "t").c_str(), O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < 2100 && fd >= 0; ++level) {
        mkdirat(fd, "d", 0755);
        int next = openat(fd, "d", O_DIRECTORY | O_CLOEXEC);
        close(openat(next, "f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        close(fd);
        fd = next;
    }
    close(fd);
    std::string nobody = AsNobody(dir);
    std::vector<QvrRun> runs;
    for (const char* jobs : {"-j1", "-j3", "-j32"})
        runs.push_back(Qvr(dir, {"--json", "-r", jobs, "t"}, nobody));
    Bash("rm -rf t", dir.path.string()); // deeper than std::filesystem can remove
    for (size_t i = 1; i < runs.size(); ++i)
        EXPECT_EQ(std::tie(runs[i].status, runs[i].out, runs[i].err), std::tie(runs[0].status, runs[0].out, runs[0].err)) << i;
    json lines = JsonLines(runs[0].out);
    std::vector<std::string> paths;
    for (const json& line : lines)
        paths.push_back(line.value("pathBytes", "") != "" ? "(bytes)" : line["path"].get<std::string>());
    // ASCII letters in either case alike, 0xFF last; the chain from its first "f" short enough (4,095 bytes) up.
    std::vector<std::string> expected = {"t/a/b/x.png", "t/a/b.png", "t/a/line\nfeed.png", "t/a/link.png", "t/a/loop",
                                         "t/a/pipe.png", "(bytes)", "t/B/z.png"};
    ASSERT_EQ(paths.size(), expected.size() + 1 + 2046) << runs[0].err.substr(0, 500);
    EXPECT_EQ(std::vector<std::string>(paths.begin(), paths.begin() + 8), expected);
    EXPECT_EQ(std::make_tuple(paths[8].size(), lines[8]["flags"], paths[9].size(), lines[9]["result"], paths.back()),
              std::make_tuple(4097u, 11, 4095u, 0, "t/d/f"));
    EXPECT_EQ(lines[4]["flags"], 48) << "the link to its own folder is probed as an entry, not walked";
    EXPECT_EQ(std::make_pair(runs[0].status, std::regex_replace(runs[0].err, std::regex("t(/d)+\\b"), "t/d...")),
              std::make_pair(1, std::string("qvr: t/d...: cannot read the folder: the path is too long\n"
                                "qvr: t/d.../f: no such file (the path is too long)\n"
                                "qvr: t/deny: cannot read the folder: Permission denied\n")));
}

// Out of descriptors a probe fails with its message and no missed answer is taken for the next; a soft limit is raised.
// Unlimited: more paths than the buffer holds, more types than are remembered.
TEST(Qvr, OutOfDescriptorsTheSameAtEveryJobCount)
{
    TempDir dir;
    const char* types[] = {"png", "jpg", "txt", "gif", "pdf", "bmp", "odt", "svg", "mng",
                           "zip", "html", "mp3", "tar", "css", "c", "wav", "avi"};
    std::vector<std::string> args{"--json", "-j1"};
    for (size_t i = 0; i < 300; ++i) {
        args.push_back(std::to_string(i) + "." + types[i % 17]);
        dir.Write(args.back(), Png(i % 40 + 1, 2));
    }
    QvrRun free = Qvr(dir, args);
    ASSERT_EQ(free.status, 0) << free.err;
    json expected = JsonLines(free.out);
    ASSERT_EQ(expected.size(), 300u);
    for (size_t i = 0; i < 300; ++i)
        EXPECT_EQ(json({expected[i]["path"], expected[i]["typeName"]}), json({args[i + 2], expected[i % 17]["typeName"]}));
#if defined(__SANITIZE_ADDRESS__)
    // What GIO keeps for good is the same for 17 files as for 300: any growth is an icon not given back.
    auto leaked = [&](std::vector<std::string> paths) {
        std::string err = Qvr(dir, paths, Quoted(QVR_BINARY), "detect_leaks=1:exitcode=0").err;
        return err.substr(std::min(err.find("SUMMARY"), err.size()));
    };
    EXPECT_EQ(leaked(args), leaked(std::vector<std::string>(args.begin(), args.begin() + 19)));
#endif
    int failedSome = 0, failedNone = 0;
    for (std::string limit : {"4", "5", "6", "7", "8", "10", "14", "20", "5:1024", "64"}) {
        SCOPED_TRACE("--nofile=" + limit);
        // Only the standard streams are passed on.
        std::string limited = "bash -c 'for fd in /proc/$$/fd/*; do n=${fd##*/}; [ $n -gt 2 ] && eval \"exec $n>&-\"; "
                              "done; exec \"$0\" \"$@\"' prlimit --nofile=" + limit + " " + Quoted(QVR_BINARY);
        QvrRun one = Qvr(dir, args, limited);
        args[1] = "-j8";
        QvrRun eight = Qvr(dir, args, limited);
        args[1] = "-j1";
        EXPECT_EQ(std::tie(eight.status, eight.out, eight.err), std::tie(one.status, one.out, one.err));
        json lines = JsonLines(one.out);
        ASSERT_EQ(lines.size(), 300u) << one.err;
        std::string err;
        for (size_t i = 0; i < 300; ++i) {
            if (lines[i] == expected[i])
                continue;
            err += "qvr: " + args[i + 2] + ": cannot read the file: Too many open files\n";
            // What was read stays (name, size, the labels); the rest is not known, not "unsupported".
            json got = lines[i]["texts"], want = expected[i]["texts"];
            EXPECT_EQ(json({got["name"], got["size"], got["scale"], got["colors"]}),
                      json({want["name"], want["size"], u8"??? × ??? Pixel", u8"??? 色"}));
            EXPECT_TRUE(got["type"] == want["type"] || got["type"] == u8"ファイルタイプを取得できません。") << got["type"];
        }
        EXPECT_EQ(std::make_pair(one.status, one.err), std::make_pair(err.empty() ? 0 : 1, err));
        (err.empty() ? failedNone : failedSome)++;
        EXPECT_TRUE(one.out == free.out || (limit != "64" && limit != "5:1024"));
    }
    EXPECT_GT(failedSome, 0); // the limits reach both ends
    EXPECT_GT(failedNone, 2);
}

// Lookups that failed for want of a descriptor are made afresh once descriptors are free (ctest runs tests alone).
TEST(CliPlatform, ALookupThatFailedIsMadeAgain)
{
    TempDir dir;
    std::vector<std::string> names = {"--json", u8"表.odt", "a.png", u8"表.svg", "b.pdf", u8"ソ.jpg"};
    for (size_t i = 1; i < names.size(); ++i)
        dir.Write(names[i], names[i].back() == 'g' ? Png(7, 5) : Bytes{});
    json lines = JsonLines(Qvr(dir, names).out); // what each shows with descriptors to spare
    ASSERT_EQ(lines.size(), names.size() - 1);
    // The C library reads its list of converters at the first one opened and keeps it: qvr opens one at its start.
    iconv_close(iconv_open("UTF-16LE", "UTF-8"));
    int failed = 0;
    rlimit all;
    getrlimit(RLIMIT_NOFILE, &all);
    for (int spare = 0; spare < 5; ++spare) { // the last round with no limit: all is found again
        for (size_t i = 1; i < names.size(); ++i) {
            rlimit lower = {0, all.rlim_max}; // exactly `spare` descriptors free below it
            for (int free = 0; free <= spare; ++lower.rlim_cur)
                free += fcntl(int(lower.rlim_cur), F_GETFD) == -1;
            ASSERT_EQ(setrlimit(RLIMIT_NOFILE, spare < 4 ? (--lower.rlim_cur, &lower) : &all), 0);
            uint32_t decoded = DecodeCp932Pair(0x83, 0x54); // サ
            ImageInfo info{};
            ProbeImageFile(&info, (dir.path / names[i]).c_str());
            setrlimit(RLIMIT_NOFILE, &all);
            ReleaseShellIcon(info.icon);
            const json& want = lines[i - 1];
            bool shows = want["name"] == FromCp932(info.name) && want["typeName"] == FromCp932(info.typeName) &&
                         want["width"] == info.width && want["flags"] == info.flags;
            EXPECT_TRUE(decoded == 0x30B5 || (spare < 4 && decoded == CP932_INVALID)) << spare << " " << decoded;
            EXPECT_TRUE(shows || (spare < 4 && info.readError != 0 && !(info.flags & INFO_SCALE_UNSUPPORTED)))
                << spare << " " << names[i] << " " << info.readError << " " << FromCp932(info.typeName);
            failed += (decoded == CP932_INVALID) + (info.readError != 0);
        }
    }
    EXPECT_GT(failed, 0);
}

// qvrc.exe's console shows '?' for what it cannot print, ¥ and ‾ full-width; a lone surrogate stays invalid UTF-8.
TEST(CliText, ConsoleAndNames)
{
    // At the end bytes no character starts with, and a lead byte without its trail byte.
    const std::string text = "画像 × 表\xB1\x1B[0m\x7F" + std::string(100, '\t') + "\x80\xA0\xFD\x81\x20\x82";
    char written[512] = {}, bytes[64];
    FILE* stream = fmemopen(written, sizeof written, "w");
    TextOutput out = {bytes, sizeof bytes, 0, stream, false, 0, nullptr, nullptr};
    PutTerminalText(&out, text.c_str(), TEXT_CP932, TEXT_CP932);
    PutTerminalText(&out, u8"a¥b‾c表ｱé\U0001F600\u2028", TEXT_UTF8, TEXT_CP932);
    EXPECT_TRUE(FlushOutput(&out));
    fclose(stream);
    EXPECT_EQ(written, "画像 × 表\xB1?[0m?" + std::string(100, '?') + "???? ?" + "a￥b￣c表\xB1???");
    for (auto [units, utf8] : {std::pair{L"a.png", "a.png"}, {L"\x753B\x00E9", u8"画é"}, {L"\xD83D\xDE00", u8"\U0001F600"},
             {L"a\xD800" L".png", "a\xED\xA0\x80.png"}, {L"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD"}}) {
        char name[16]; // exactly the capacity given: the sanitizer sees a write beyond it
        ASSERT_TRUE(EncodeUtf16(units, name, sizeof name)) << utf8;
        EXPECT_EQ(std::string(name), utf8);
        EXPECT_EQ(IsValidText(name, TEXT_UTF8), std::strchr(utf8, '\xED') == nullptr) << utf8;
    }
    char small[8];
    EXPECT_TRUE(EncodeUtf16(L"abcdefg", small, 8));
    EXPECT_FALSE(EncodeUtf16(L"abcdefgh", small, 8));
    EXPECT_FALSE(EncodeUtf16(L"abcdef\x00E9", small, 8)); // a character is never cut
    for (auto [path, folder] : {std::pair{"dir\\sub/*.png", 8u}, {"C:*.png", 2u}, {u8"ā\\*", 3u}, {u8"画像\\表\\*", 11u}})
        EXPECT_EQ(FolderPartLength(path), folder) << path;
}

// Patterns matched as the system's search does: UTF-16 units folded one by one (C.UTF-8 stands in for its table).
TEST(CliText, PatternsMatchAsTheSystemSearchDoes)
{
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    uint32_t (*fold)(uint32_t) = [](uint32_t unit) { return static_cast<uint32_t>(towupper_l(wint_t(unit), locale)); };
    const char lone[] = "\xED\xA0\x80"; // a lone surrogate's bytes, as a found name carries them
    for (auto [name, pattern, matches] : {std::tuple{"P01.PNG", "p0?.png", true}, {"p0.png", "p0?.png", false},
             {"p000.png", "p0?.png", false}, {"photo 2024.jpeg", "*.jpe", false}, {"abcbd", "a*b*d", true},
             {"abxc", "a*b", false}, {"x", "x*", true}, {u8"画像.png", u8"?像.png", true}, {u8"画像.png", "?.png", false},
             {u8"画.png", u8"\xE7*", false},
             // Letters beyond ASCII fold; a character beyond the first plane is two units that never fold.
             {u8"é.png", u8"É*.png", true}, {u8"ñ.png", u8"Ñ*", true}, {u8"ÑANDÚ.PNG", u8"ñandú.png", true},
             {u8"Σ.png", u8"σ.png", true}, {u8"ß.png", "SS.png", false}, {u8"\U00010428.png", u8"\U00010400.png", false},
             {u8"\U0001F600.png", "??.png", true}, {u8"\U0001F600.png", "?.png", false}, {u8"\U0001F600.png", "???.png", false},
             {u8"\U0001F601", u8"\U0001F600", false}, {u8"a\U0001F600\U0001F601b", "a*?b", true},
             {u8"\U0001F600\U0001F601", u8"\U0001F600?", false}, {lone, "?", true}, {lone, "??", false},
             // Once the name is used up, dots and stars are left over: "*.*" is everything.
             {"README", "*.*", true}, {"a", "a.*", true}, {"a", "a.", true}, {"ab", "a.*", false}, {"a", "a?", false},
             {"a.b", "*.*", true}, {"a", "*.?", false}})
        EXPECT_EQ(MatchesPattern(name, pattern, fold), matches) << name << " " << pattern;
}

} // namespace
