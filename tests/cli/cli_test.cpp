#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli_text.h"
#include "test_files.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

struct QvrRun { int status; std::string out, err; };

std::string ReadFile(const std::string& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

class CliTest : public ::testing::Test {
protected:
    std::string Fixture(const std::string& name, const Bytes& bytes) { return temp_.Write(name, bytes); }

    // Runs qvr with `args`, its output and errors captured in files of the fixture folder.
    // Output to `outPath` instead (/dev/full) is not read back.
    QvrRun Qvr(const std::vector<std::string>& args, const char* asanOptions = "detect_leaks=0",
               const std::string& outTo = "")
    {
        std::string outPath = outTo.empty() ? dir_ + "/.stdout" : outTo, errPath = dir_ + "/.stderr";
        pid_t child = fork();
        if (child == 0) {
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            setenv("ASAN_OPTIONS", asanOptions, 1);
            setenv("G_SLICE", "always-malloc", 1); // objects GLib keeps in slices stay visible to LSan
            std::vector<char*> argv{const_cast<char*>(QVR_BINARY)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(QVR_BINARY, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, outTo.empty() ? ReadFile(outPath) : "", ReadFile(errPath)};
    }

    static std::vector<json> JsonLines(const std::string& out)
    {
        std::vector<json> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(json::parse(line)); // throws, failing the test, on invalid JSON
        return lines;
    }

    TempDir temp_;
    const std::string dir_ = temp_.path.string();
};

TEST_F(CliTest, TextShowsWhatTheDialogShows)
{
    std::string bmp = Fixture("cat.bmp", Bmp(640, uint32_t(-480), 8));
    QvrRun run = Qvr({bmp});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::string expected = u8"cat.bmp - QVR Version 1.0\n"
                           u8"  cat.bmp\n";
    ASSERT_EQ(run.out.substr(0, expected.size()), expected);
    // The type line comes from the system's MIME database; the rest is fixed.
    EXPECT_NE(run.out.find(u8"\n  サイズ    54 Byte\n"
                           u8"  スケール  640 × -480 Pixel\n"
                           u8"  色数      256 色\n"),
              std::string::npos)
        << run.out;
}

// Whole objects compared as parsed, in order, so the keys and their order are checked too. The
// type texts come from the system's MIME database: only their presence is checked.
json Fixed(json line)
{
    EXPECT_TRUE(line["typeName"].is_string() && line["texts"]["type"].is_string()) << line;
    line["typeName"] = line["texts"]["type"] = "*";
    return line;
}

json Expected(const std::string& path, int result, const std::string& name, uint64_t size, int width,
              int height, int depth, int flags, const std::string& caption, const std::string& sizeText,
              const std::string& scale, const std::string& colors)
{
    return {{"path", path}, {"result", result}, {"name", name}, {"typeName", "*"}, {"fileSize", size},
            {"width", width}, {"height", height}, {"depth", depth}, {"flags", flags}, {"caption", caption},
            {"texts", {{"name", name}, {"type", "*"}, {"size", sizeText}, {"scale", scale}, {"colors", colors}}}};
}

TEST_F(CliTest, JsonHasExactlyTheListedKeys)
{
    std::string png = Fixture("a.png", Png(1234567, 1));
    std::string gif = Fixture("b.GIF", Gif(320, 200));
    std::string text = Fixture("notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    std::string missing = dir_ + "/gone.bmp";
    std::string huge = Fixture("huge.png", Png(7, 9)); // sparse: the whole size in JSON, the low 32 bits shown
    std::filesystem::resize_file(huge, uint64_t(5) << 30);
    QvrRun run = Qvr({"--json", png, gif, text, missing, huge});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("gone.bmp"), std::string::npos) << run.err;
    std::vector<json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Fixed(lines[0]), Expected(png, 1, "a.png", 33, 1234567, 1, 24, 0, "a.png - QVR Version 1.0",
                                        "33 Byte", u8"1,234,567 × 1 Pixel", u8"24 ビットカラー"));
    EXPECT_EQ(Fixed(lines[1]), Expected(gif, 1, "b.GIF", 13, 320, 200, 8, 0, "b.GIF - QVR Version 1.0",
                                        "13 Byte", u8"320 × 200 Pixel", u8"256 色"));
    EXPECT_EQ(Fixed(lines[2]), Expected(text, 0, "notes.txt", 6, 0, 0, 0, 0x30, "notes.txt - QVR Version 1.0",
                                        "6 Byte", u8"未サポート", u8"未サポート"));
    json gone = Expected(missing, 0, u8"ファイル名が不正です。", 0, 0, 0, 0, 0x01 | 0x02 | 0x08, "QVR Version 1.0",
                         "??? Byte", u8"??? × ??? Pixel", u8"??? 色");
    gone["typeName"] = gone["texts"]["type"] = u8"ファイルタイプを取得できません。";
    EXPECT_EQ(lines[3], gone);
    EXPECT_EQ(Fixed(lines[4]), Expected(huge, 1, "huge.png", uint64_t(5) << 30, 7, 9, 24, 0, "huge.png - QVR Version 1.0",
                                        "1.02e+003 MByte ( 1,073,741,824 Byte )", u8"7 × 9 Pixel", u8"24 ビットカラー"));
}

// JSON stays strict UTF-8 and still names every file: "pathBytes" holds what UTF-8 cannot. Text
// and messages show no control character, bidirectional control or separator raw.
TEST_F(CliTest, NamesThatAreNotUtf8OrHoldControlCharacters)
{
    std::string invalid1 = Fixture("\x80.png", Png(2, 3)), invalid2 = Fixture("\x81.png", Png(2, 3));
    std::string control = Fixture(u8"ctl\n\x1B[31m\x7F\u202Egnp.gif", Gif(4, 5));
    QvrRun asJson = Qvr({"--json", invalid1, invalid2, control});
    EXPECT_EQ(asJson.status, 0);
    std::vector<json> lines = JsonLines(asJson.out); // throws on invalid JSON or UTF-8
    ASSERT_EQ(lines.size(), 3u);
    std::string hexDir;
    for (unsigned char c : dir_)
        hexDir += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    EXPECT_EQ(lines[0]["path"], dir_ + u8"/\uFFFD.png");
    EXPECT_EQ(lines[0]["pathBytes"], hexDir + "2f802e706e67");
    EXPECT_EQ(lines[1]["pathBytes"], hexDir + "2f812e706e67");
    EXPECT_EQ(lines[1]["texts"]["scale"], u8"2 × 3 Pixel");
    EXPECT_EQ(lines[2]["path"], control);
    EXPECT_FALSE(lines[2].contains("pathBytes"));
    EXPECT_EQ(lines[2]["texts"]["scale"], u8"4 × 5 Pixel");

    QvrRun text = Qvr({invalid1, control, control + ".gone"});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find(u8"  ctl\u240A\u241B[31m\u2421?gnp.gif\n"), std::string::npos) << text.out; // ? in CP932
    EXPECT_NE(text.err.find(u8"ctl\u240A\u241B[31m\u2421\uFFFDgnp.gif.gone: no such file"), std::string::npos) << text.err;
    for (const std::string& out : {text.out, text.err}) {
        for (char c : out)
            EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
        EXPECT_EQ(out.find('\x7F'), std::string::npos);
        EXPECT_EQ(out.find(u8"\u202E"), std::string::npos);
        EXPECT_TRUE(nlohmann::json::accept("\"" + std::regex_replace(out, std::regex("\n"), " ") + "\""))
            << "not valid UTF-8";
    }
}

TEST_F(CliTest, ExitStatuses)
{
    std::string found = Fixture("here.bmp", Bmp(1, 1, 24));
    std::string missing = dir_ + "/gone.bmp";
    Fixture("-x.bmp", Bmp(7, 9, 1));
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    // `out`: the start of standard output; `err`: a part of standard error.
    const struct { std::vector<std::string> args; int status; const char *out, *err; } cases[] = {
        {{}, 2, "", "no file given"},
        {{"--json"}, 2, "", "no file given"},
        {{"--frobnicate", found}, 2, "", "unknown option '--frobnicate'"},
        {{"--help"}, 0, "Usage: qvr", ""},
        {{"--version"}, 0, "QVR Version 1.0\n", ""},
        {{"--version", "--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--bogus", "--help"}, 0, "Usage: qvr", ""},
        {{found}, 0, "here.bmp - QVR Version 1.0\n", ""},
        {{missing}, 1, "QVR Version 1.0\n", "no such file"},
        {{"-x.bmp"}, 2, "", "unknown option '-x.bmp'"},
        // After "--" every argument is a path, "--json" too.
        {{"--json", "--", "-x.bmp", "--json"}, 1, "{\"path\":\"-x.bmp\",\"result\":1,", "--json: no such file"},
    };
    for (const auto& c : cases) {
        QvrRun r = Qvr(c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(Qvr({"--version"}).out, "QVR Version 1.0\n");
    // Output that cannot be written is an error, whatever was asked.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"--version"}, {found}, {"--json", found}}) {
        QvrRun r = Qvr(args, "detect_leaks=0", "/dev/full");
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << r.err;
    }
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(CliTest, ManyPathsInOrder)
{
    std::vector<std::string> args{"--json"};
    for (int i = 0; i < 300; ++i) {
        std::string name = "f" + std::to_string(i) + (i % 3 == 0 ? ".bmp" : i % 3 == 1 ? ".png" : ".gif");
        unsigned width = static_cast<unsigned>(i + 1);
        args.push_back(Fixture(name, i % 3 == 0 ? Bmp(width, 2, 32) : i % 3 == 1 ? Png(width, 2) : Gif(width, 2)));
    }
    QvrRun run = Qvr(args);
    EXPECT_EQ(run.status, 0);
    std::vector<json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(lines[i]["path"], args[i + 1]);
        EXPECT_EQ(lines[i]["width"], i + 1);
    }
    // Text output: one block per file, a blank line between blocks, none at the end.
    QvrRun text = Qvr(std::vector<std::string>(args.begin() + 1, args.begin() + 4));
    EXPECT_EQ(std::regex_replace(text.out, std::regex("[^\n]"), "").size(), 3u * 6 + 2);
    EXPECT_EQ(text.out.find("\n\n\n"), std::string::npos);
    EXPECT_NE(text.out.substr(text.out.size() - 2), "\n\n");
}

// The text functions on their own, through an output buffer small enough to be flushed midway.
std::string Written(void (*put)(TextOutput*, const char*, int, int), const char* text, int encoding, int terminal)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    char bytes[64];
    TextOutput out = {bytes, sizeof bytes, 0, stream, false};
    put(&out, text, encoding, terminal);
    EXPECT_TRUE(FlushOutput(&out));
    fclose(stream);
    std::string written(data, size);
    free(data);
    return written;
}

void Json(TextOutput* out, const char* text, int encoding, int) { PutJsonString(out, text, encoding); }

TEST(CliText, JsonStringsAndTerminalText)
{
    const std::string longControls(300, '\x01');
    std::string longEscaped, longPictures;
    for (int i = 0; i < 300; ++i)
        longEscaped += "\\u0001", longPictures += u8"\u2401";
    // Narrow literals are code page 932; u8 literals UTF-8.
    const struct { const char* text; int encoding; std::string json, utf8Terminal, cp932Terminal; } cases[] = {
        {"a\"b\\c/", TEXT_UTF8, "\"a\\\"b\\\\c/\"", "a\"b\\c/", "a\"b\\c/"},
        {"\b\t\n\v\f\r\x1F\x7F", TEXT_UTF8, "\"\\b\\t\\n\\u000b\\f\\r\\u001f\x7F\"",
         u8"\u2408\u2409\u240A\u240B\u240C\u240D\u241F\u2421", "????????"},
        {longControls.c_str(), TEXT_UTF8, "\"" + longEscaped + "\"", longPictures, std::string(300, '?')},
        // Not UTF-8: a stray byte, an overlong form, a surrogate, a cut-off sequence.
        {"\xFF\xC0\xAF\xED\xA0\x80\xE7\x94", TEXT_UTF8, u8"\"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\"",
         u8"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "????????"},
        {u8"\U0001F600\u00E9", TEXT_UTF8, u8"\"\U0001F600\u00E9\"", u8"\U0001F600\u00E9", "??"},
        // C1 controls, bidirectional controls and separators.
        {u8"a\u0085\u202Ab\u202Ec\u2066\u2069\u200E\u200F\u061C\u2028\u2029d", TEXT_UTF8,
         u8"\"a\u0085\u202Ab\u202Ec\u2066\u2069\u200E\u200F\u061C\u2028\u2029d\"",
         u8"a\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDd", "a??b?c???????d"},
        {"画像 × 表\xB1", TEXT_CP932, u8"\"画像 × 表\uFF71\"", u8"画像 × 表\uFF71", "画像 × 表\xB1"},
        // Not code page 932: bytes no character starts with, a lead byte without its trail byte.
        {"\x80\xA0\xFD\x81\x20\x82", TEXT_CP932, u8"\"\uFFFD\uFFFD\uFFFD\uFFFD \uFFFD\"",
         u8"\uFFFD\uFFFD\uFFFD\uFFFD \uFFFD", "???? ?"},
        {"色\x1B[0m", TEXT_CP932, "\"" + std::string(u8"色") + "\\u001b[0m\"", u8"色\u241B[0m", "色?[0m"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Written(Json, c.text, c.encoding, 0), c.json) << c.text;
        EXPECT_EQ(Written(PutTerminalText, c.text, c.encoding, TEXT_UTF8), c.utf8Terminal) << c.text;
        EXPECT_EQ(Written(PutTerminalText, c.text, c.encoding, TEXT_CP932), c.cp932Terminal) << c.text;
        EXPECT_EQ(IsValidText(c.text, c.encoding), c.json.find(u8"\uFFFD") == std::string::npos) << c.text;
    }
}

// Names and patterns are code page 932: one double-byte character is one character, and a 0x5C
// that trails a lead byte is no separator.
TEST(CliText, PatternsAndFolders)
{
    const struct { const char* name; const char* pattern; bool matches; } patterns[] = {
        {"p00.png", "p0?.png", true}, {"P01.PNG", "p0?.png", true}, {"p0.png", "p0?.png", false},
        {"p000.png", "p0?.png", false}, {"photo 2024.jpeg", "*.jpe", false}, {"photo 2024.jpeg", "*.JPEG", true},
        {"a.b.c", "*.c", true}, {"abcbd", "a*b*d", true}, {"abxc", "a*b", false}, {"x", "*", true},
        {"x", "", false}, {"画像.png", "?像.png", true}, {"画像.png", "??.png", true}, {"画像.png", "?.png", false},
        {"表.png", "表*", true}, {"表.png", "\x95*", false},
    };
    for (const auto& p : patterns)
        EXPECT_EQ(MatchesPattern(p.name, p.pattern), p.matches) << p.name << " " << p.pattern;
    const struct { const char* path; size_t folder; } folders[] = {
        {"*.png", 0}, {"dir\\sub/*.png", 8}, {"C:*.png", 2}, {"表*.png", 0}, {"画像\\表\\*", 8},
    };
    for (const auto& f : folders)
        EXPECT_EQ(FolderPartLength(f.path), f.folder) << f.path;
}

#if defined(__SANITIZE_ADDRESS__)
// Every probe hands over an icon; the tool gives each one back. What GIO keeps for the life of
// the process is the same for one file as for many, so any growth is a leak per file.
TEST_F(CliTest, ReleasesEveryIcon)
{
    auto leaked = [](const std::string& err) {
        std::smatch match;
        return std::regex_search(err, match, std::regex("SUMMARY: AddressSanitizer: (\\d+) byte"))
                   ? std::stol(match[1])
                   : 0L;
    };
    std::vector<std::string> one{Fixture("x.png", Png(1, 1)), Fixture("y.txt", {'t'})};
    std::vector<std::string> many;
    for (int i = 0; i < 25; ++i)
        many.insert(many.end(), one.begin(), one.end());
    long base = leaked(Qvr(one, "detect_leaks=1:exitcode=0").err);
    EXPECT_EQ(leaked(Qvr(many, "detect_leaks=1:exitcode=0").err), base);
}
#endif

} // namespace
